// The service's messages find their entries of the message table by their text.
#include "service/service_events.h"

#include <gtest/gtest.h>

namespace {

TEST(ServiceEvents, EachMessageIsLoggedWithItsEntry) {
    using platform::EventType;
    const struct {
        std::string text;
        std::uint16_t number;
        EventType type;
    } cases[] = {
        {"Service started", 1, EventType::Information},
        {"Service stopped", 2, EventType::Information},
        {"Handler not installed", 3, EventType::Error},
        {"Bad service request", 4, EventType::Warning},
        {AggregatorWorker::kMissingPathMessage, 5, EventType::Error},
        // An alert, and a problem of the alerts, are errors an event collector picks up.
        {"Alert: 10.0.0.1 traffic spike: 200.00 MB (median day 10.00 MB), user a", 20,
         EventType::Error},
        {"Alerts: the alert state file could not be replaced; alerts may repeat", 21,
         EventType::Error},
        {"Alert 10.0.0.1", 6, EventType::Warning},
        // Anything else is a verbose note, a fixed text with more or less to it included.
        {"brisko.001 not written: access denied", 6, EventType::Warning},
        {"Service started ", 6, EventType::Warning},
        {"", 6, EventType::Warning},
    };
    for (const auto& c : cases) {
        const platform::EventId id = ServiceEventFor(c.text);
        EXPECT_EQ(id.number, c.number) << c.text;
        EXPECT_EQ(id.type, c.type) << c.text;
    }
}

}  // namespace
