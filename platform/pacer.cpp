// The stoppable pacer: a timed wait on a condition that a stop request signals.
#include "platform/pacer.h"

#include <chrono>

namespace platform {

bool StoppablePacer::Pause(std::uint32_t ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (stop_.load()) {
        return false;
    }
    if (!sleeps_ || ms == 0) {
        return true;
    }
    wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_.load(); });
    return !stop_.load();
}

void StoppablePacer::RequestStop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_.store(true);
    }
    wake_.notify_all();
}

void StoppablePacer::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_.store(false);
}

}  // namespace platform
