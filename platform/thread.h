// One operating-system thread with a bounded wait and, as a last resort, termination; a
// signal to wait for with a bound, and a plain sleep.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

class NativeThread {
  public:
    NativeThread() = default;
    ~NativeThread();
    NativeThread(const NativeThread&) = delete;
    NativeThread& operator=(const NativeThread&) = delete;

    // False when the thread cannot be created.
    bool Start(std::function<void()> body);
    // Waits up to timeoutMs for the thread to end; true when it has ended (and is reaped).
    bool Join(std::uint32_t timeoutMs);
    // Ends a thread that did not leave in time. Nothing of its state may be relied on after.
    void Terminate();
    bool Started() const { return handle_ != 0; }
    std::uint32_t Id() const { return id_; }

  private:
    std::uintptr_t handle_ = 0;
    std::uint32_t id_ = 0;
    // Shared with the running thread, so a thread left behind by Terminate never runs a body
    // that went away with this object.
    std::shared_ptr<std::function<void()>> body_;
};

// A flag that one thread raises and others wait for with a bound (a manual-reset event), on
// each system's own primitive: on 32-bit Windows the C++ library's timed waits hand the
// threads library a time structure laid out for a 32-bit time_t, which these builds do not
// use, so its sleeps return at once and its timed waits spin.
class WakeSignal {
  public:
    WakeSignal();
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    void Raise();
    void Clear();
    // Waits up to ms milliseconds for the signal; true when it is raised.
    bool Wait(std::uint32_t ms);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// Sleeps ms milliseconds (instead of std::this_thread::sleep_for, for the reason above).
void SleepMilliseconds(std::uint32_t ms);

}  // namespace platform
