// Postvane's entries of the message table: one per exit status, so the event of a run tells
// its outcome by ID and type alone (a failure is an error, a mail left in the outbox for
// later a warning, the mail sent information).
// The message file holds a description of each with the run's line inserted. Nothing here
// fails: a status the table lacks is logged as the unexpected failure.
#pragma once

#include "mailer/sender_app.h"
#include "platform/messages.h"

struct SenderEvent {
    int exitStatus;
    platform::EventId id;
};

inline constexpr platform::EventId kSenderUnexpectedEvent{101, platform::EventType::Error};

inline constexpr SenderEvent kSenderEvents[] = {
    {kSenderSent, {100, platform::EventType::Information}},
    {kSenderUnexpected, kSenderUnexpectedEvent},
    {kSenderSocketStartup, {102, platform::EventType::Error}},
    {kSenderBuild, {103, platform::EventType::Error}},
    {kSenderConnect, {104, platform::EventType::Error}},
    {kSenderGreeting, {105, platform::EventType::Error}},
    {kSenderAuthentication, {106, platform::EventType::Error}},
    {kSenderTransfer, {107, platform::EventType::Error}},
    {kSenderTls, {108, platform::EventType::Error}},
    {kSenderCertificate, {109, platform::EventType::Error}},
    {kSenderTokenEndpoint, {110, platform::EventType::Error}},
    {kSenderTokenGrant, {111, platform::EventType::Error}},
    {kSenderTokenLogin, {112, platform::EventType::Error}},
    {kSenderKept, {113, platform::EventType::Warning}},
    {kSenderBusy, {114, platform::EventType::Warning}},
    {kSenderOutboxUnusable, {115, platform::EventType::Error}},
    {kSenderArguments, {116, platform::EventType::Error}},
};

platform::EventId SenderEventFor(int exitStatus);
