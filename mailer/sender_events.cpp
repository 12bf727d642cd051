// The event of a run's exit status, from the one table.
#include "mailer/sender_events.h"

platform::EventId SenderEventFor(int exitStatus) {
    for (const SenderEvent& event : kSenderEvents) {
        if (event.exitStatus == exitStatus) {
            return event.id;
        }
    }
    return kSenderUnexpectedEvent;
}
