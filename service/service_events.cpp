// The service's messages looked up by their text, as the worker hands its messages over as
// text alone.
#include "service/service_events.h"

platform::EventId ServiceEventFor(std::string_view text) {
    for (const ServiceEvent* event : service_event::kFixed) {
        if (text == event->text) {
            return event->id;
        }
    }
    return service_event::kVerboseNote;
}
