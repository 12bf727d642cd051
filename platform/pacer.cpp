// The stoppable pacer: a timed wait on a signal that a stop request raises. The signal stays
// raised, so a stop that comes between the check and the wait still ends the wait at once.
#include "platform/pacer.h"

namespace platform {

bool StoppablePacer::Pause(std::uint32_t ms) {
    if (stop_.load()) {
        return false;
    }
    if (!sleeps_ || ms == 0) {
        return true;
    }
    wake_.Wait(ms);
    return !stop_.load();
}

void StoppablePacer::RequestStop() {
    stop_.store(true);
    wake_.Raise();
}

void StoppablePacer::Reset() {
    stop_.store(false);
    wake_.Clear();
}

}  // namespace platform
