// The worker thread wrapper. A stop is cooperative first and forced only after a bounded
// wait, so the worker normally leaves between two steps and never in the middle of a write.
#include "aggregator/worker_thread.h"

WorkerThread::~WorkerThread() {
    StopBeforeDestruction();
}

void WorkerThread::StopBeforeDestruction() {
    if (thread_.Started()) {
        Stop(true);
    }
}

void WorkerThread::Start(int argument) {
    startArgument_ = argument;
    runResult_ = kStillActive;
    thread_.Start([this] { runResult_ = static_cast<std::uint32_t>(Run(startArgument_)); });
    exitCode_ = 0xFFFFFFFFu;
}

std::uint32_t WorkerThread::Stop(bool force) {
    if (!thread_.Started()) {
        return exitCode_;
    }
    if (!force) {
        if (!thread_.Join(0)) {
            exitCode_ = kStillActive;
            return exitCode_;
        }
        exitCode_ = runResult_;
        return exitCode_;
    }
    RequestStop();
    if (thread_.Join(kStopWaitMs)) {
        exitCode_ = runResult_;
    } else {
        thread_.Terminate();
        exitCode_ = 0xFFFFFFFFu;
    }
    return exitCode_;
}
