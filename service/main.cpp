// Tallyvane's entry: builds the one worker and runs it until the process is stopped.
#include <condition_variable>
#include <mutex>

#include "aggregator/aggregator_worker.h"
#include "platform/messages.h"

namespace {

std::mutex quitMutex;
std::condition_variable quitSignal;
bool quitRequested = false;

void LogMessage(const std::string& text) { platform::WriteConsoleMessage(text); }

void RequestQuit() {
    std::lock_guard<std::mutex> lock(quitMutex);
    quitRequested = true;
    quitSignal.notify_all();
}

}  // namespace

int main() {
    platform::SystemClock clock;
    platform::StoppablePacer pacer;
    AggregatorWorker worker(clock, pacer, ServiceHooks{&LogMessage, &RequestQuit});
    LogMessage("Service started");
    worker.Start(0);
    {
        std::unique_lock<std::mutex> lock(quitMutex);
        quitSignal.wait(lock, [] { return quitRequested; });
    }
    worker.Stop(true);
    return 0;
}
