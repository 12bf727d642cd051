// Pauses that a stop interrupts at once. The cycle's fixed sleeps all go through a Pacer, so
// tests can record the exact sequence without waiting and a service stop never waits for a
// pause to run out.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/thread.h"

namespace platform {

class Pacer {
  public:
    virtual ~Pacer() = default;
    // Waits ms milliseconds; returns false (at once) when a stop has been requested.
    virtual bool Pause(std::uint32_t ms) = 0;
    virtual bool StopRequested() const = 0;
    // Ends the pause under way and every later one.
    virtual void RequestStop() = 0;
};

// Sleeps for real unless constructed with sleeping off (`--no-pause`); either way a stop
// request ends every pause at once.
class StoppablePacer final : public Pacer {
  public:
    explicit StoppablePacer(bool sleeps = true) : sleeps_(sleeps) {}
    bool Pause(std::uint32_t ms) override;
    bool StopRequested() const override { return stop_.load(); }
    void RequestStop() override;
    void Reset();

  private:
    bool sleeps_;
    std::atomic<bool> stop_{false};
    WakeSignal wake_;
};

}  // namespace platform
