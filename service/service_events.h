// Tallyvane's entries of the message table (the message file compiled into the programs):
// each message the service logs, with its ID and type. The texts are the ones the programs
// write; the message file holds the same texts under the same IDs, so Event Viewer can show
// them. Nothing here fails.
#pragma once

#include <string_view>

#include "aggregator/aggregator_worker.h"
#include "platform/messages.h"

struct ServiceEvent {
    const char* text;
    platform::EventId id;
};

namespace service_event {
using platform::EventType;
inline constexpr ServiceEvent kStarted{"Service started", {1, EventType::Information}};
inline constexpr ServiceEvent kStopped{"Service stopped", {2, EventType::Information}};
inline constexpr ServiceEvent kHandlerNotInstalled{"Handler not installed", {3, EventType::Error}};
inline constexpr ServiceEvent kBadRequest{"Bad service request", {4, EventType::Warning}};
inline constexpr ServiceEvent kMissingPath{AggregatorWorker::kMissingPathMessage,
                                           {5, EventType::Error}};
// The verbose log's notes, whose texts vary: the table's text is the note itself.
inline constexpr platform::EventId kVerboseNote{6, EventType::Warning};
// An alert that fired, and a problem of the alerts (its text begins with the prefix).
inline constexpr platform::EventId kAlert{20, EventType::Error};
inline constexpr platform::EventId kAlertProblem{21, EventType::Error};

inline constexpr const ServiceEvent* kFixed[] = {&kStarted, &kStopped, &kHandlerNotInstalled,
                                                 &kBadRequest, &kMissingPath};
}  // namespace service_event

// The entry of a message the service logs: its fixed message, or a verbose note.
platform::EventId ServiceEventFor(std::string_view text);
