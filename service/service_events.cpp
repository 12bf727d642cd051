// The service's messages looked up by their text, as the worker hands its messages over as
// text alone.
#include "service/service_events.h"

platform::EventId ServiceEventFor(std::string_view text) {
    for (const ServiceEvent* event : service_event::kFixed) {
        if (text == event->text) {
            return event->id;
        }
    }
    if (text.substr(0, std::string_view(AggregatorWorker::kAlertPrefix).size()) ==
        AggregatorWorker::kAlertPrefix) {
        return service_event::kAlert;
    }
    if (text.substr(0, std::string_view(AggregatorWorker::kAlertProblemPrefix).size()) ==
        AggregatorWorker::kAlertProblemPrefix) {
        return service_event::kAlertProblem;
    }
    return service_event::kVerboseNote;
}
