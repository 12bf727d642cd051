// A small base class that runs Run() on a thread of its own. Stop asks the body to leave
// (RequestStop), waits a bounded time, and terminates the thread only when it did not.
#pragma once

#include <cstdint>

#include "platform/thread.h"

class WorkerThread {
  public:
    static constexpr std::uint32_t kStillActive = 259;
    static constexpr std::uint32_t kStopWaitMs = 5000;

    WorkerThread() = default;
    virtual ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    void Start(int argument);
    // Returns the exit code; with force, a thread that does not leave within kStopWaitMs of
    // the stop request is terminated and gets exit code -1.
    std::uint32_t Stop(bool force);
    bool Running() const { return thread_.Started(); }

  protected:
    virtual int Run(int argument) {
        (void)argument;
        return static_cast<int>(exitCode_);
    }
    // Asks Run to return soon; the base has nothing to ask.
    virtual void RequestStop() {}
    // Must be called by a derived destructor, while its overrides still exist.
    void StopBeforeDestruction();

  private:
    platform::NativeThread thread_;
    int startArgument_ = 0;
    std::uint32_t exitCode_ = 0;
    volatile std::uint32_t runResult_ = kStillActive;
};
