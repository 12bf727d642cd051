// One operating-system thread with a bounded wait and, as a last resort, termination.
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

}  // namespace platform
