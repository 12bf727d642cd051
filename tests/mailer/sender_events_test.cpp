// Postvane's outcomes in the message table: every exit status has an event of its own, and a
// failure is never filed as information.
#include "mailer/sender_events.h"

#include <gtest/gtest.h>

#include <set>

#include "service/service_events.h"

namespace {

// No default: a status added to SenderExit without a line here fails the build (-Wswitch),
// so the test below cannot miss it.
const char* ExitName(SenderExit status) {
    switch (status) {
        case kSenderSent:
            return "sent";
        case kSenderUnexpected:
            return "unexpected";
        case kSenderSocketStartup:
            return "socket start-up";
        case kSenderBuild:
            return "build";
        case kSenderConnect:
            return "connect";
        case kSenderGreeting:
            return "greeting";
        case kSenderAuthentication:
            return "authentication";
        case kSenderTransfer:
            return "transfer";
        case kSenderTls:
            return "TLS";
        case kSenderCertificate:
            return "certificate";
        case kSenderTokenEndpoint:
            return "token endpoint";
        case kSenderTokenGrant:
            return "token grant";
        case kSenderTokenLogin:
            return "token login";
        case kSenderKept:
            return "kept";
        case kSenderBusy:
            return "busy";
        case kSenderOutboxUnusable:
            return "outbox unusable";
        case kSenderArguments:
            return "arguments";
    }
    return nullptr;
}

TEST(SenderEvents, EveryExitStatusHasAnEventOfItsOwn) {
    std::set<std::uint16_t> numbers;
    int statuses = 0;
    for (int status = 0; status < 256; ++status) {
        const char* name = ExitName(static_cast<SenderExit>(status));
        if (name == nullptr) {
            continue;
        }
        ++statuses;
        int entries = 0;
        for (const SenderEvent& event : kSenderEvents) {
            entries += event.exitStatus == status ? 1 : 0;
        }
        EXPECT_EQ(entries, 1) << name;
        const platform::EventId id = SenderEventFor(status);
        EXPECT_NE(id.number, 0) << name;
        EXPECT_TRUE(numbers.insert(id.number).second) << name << " shares number " << id.number;
        if (status == kSenderSent) {
            EXPECT_EQ(id.type, platform::EventType::Information);
        } else {
            EXPECT_NE(id.type, platform::EventType::Information) << name;
        }
    }
    EXPECT_EQ(statuses, static_cast<int>(std::size(kSenderEvents)));
    // One message table holds both programs' messages.
    for (const ServiceEvent* event : service_event::kFixed) {
        EXPECT_EQ(numbers.count(event->id.number), 0u) << event->text;
    }
    EXPECT_EQ(numbers.count(service_event::kVerboseNote.number), 0u);
}

TEST(SenderEvents, AStatusTheTableLacksIsLoggedAsTheUnexpectedFailure) {
    EXPECT_EQ(SenderEventFor(-1).number, SenderEventFor(kSenderUnexpected).number);
    EXPECT_EQ(SenderEventFor(200).type, platform::EventType::Error);
}

}  // namespace
