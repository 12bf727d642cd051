// Sleeps and pauses take the time asked of them on every target, and a stop ends a pause at
// once. A 32-bit Windows build whose waits were handed a mis-laid time structure returned
// from a 300 ms sleep at once; these run there too.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>

#include "platform/pacer.h"
#include "platform/thread.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Lower bounds only (a loaded machine may take longer), with a little slack for the coarse
// timers of some systems.
constexpr long long kSlackMs = 20;

TEST(Waits, SleepsAndPausesLastAsLongAsAsked) {
    struct Case {
        const char* name;
        std::uint32_t ms;
    };
    for (const Case& c : {Case{"short", 120}, Case{"over a second", 1300}}) {
        SCOPED_TRACE(c.name);
        auto start = Clock::now();
        platform::SleepMilliseconds(c.ms);
        EXPECT_GE(MsSince(start), c.ms - kSlackMs);

        platform::StoppablePacer pacer;
        start = Clock::now();
        EXPECT_TRUE(pacer.Pause(c.ms));
        EXPECT_GE(MsSince(start), c.ms - kSlackMs);

        platform::WakeSignal signal;
        start = Clock::now();
        EXPECT_FALSE(signal.Wait(c.ms));
        EXPECT_GE(MsSince(start), c.ms - kSlackMs);
    }
}

TEST(Waits, AStopEndsThePauseUnderWayAndEveryLaterOne) {
    platform::StoppablePacer pacer;
    std::thread stopper([&] {
        platform::SleepMilliseconds(100);
        pacer.RequestStop();
    });
    // Hang guards: a missed stop would hold a pause its 60 s; a stop ends it in milliseconds
    // when idle.
    auto start = Clock::now();
    EXPECT_FALSE(pacer.Pause(60000));
    EXPECT_LT(MsSince(start), 20000);
    stopper.join();

    start = Clock::now();
    EXPECT_FALSE(pacer.Pause(60000));
    EXPECT_LT(MsSince(start), 20000);

    // After a reset pauses sleep again.
    pacer.Reset();
    start = Clock::now();
    EXPECT_TRUE(pacer.Pause(100));
    EXPECT_GE(MsSince(start), 100 - kSlackMs);
}

TEST(Waits, ARaisedSignalStaysRaisedUntilCleared) {
    platform::WakeSignal signal;
    signal.Raise();
    EXPECT_TRUE(signal.Wait(60000));
    EXPECT_TRUE(signal.Wait(0));
    signal.Clear();
    EXPECT_FALSE(signal.Wait(0));
}

TEST(Waits, ASleepingPacerOffNeverWaits) {
    platform::StoppablePacer pacer(false);
    const auto start = Clock::now();
    for (int i = 0; i < 100; ++i) {
        EXPECT_TRUE(pacer.Pause(60000));
    }
    // A hang guard: one real pause would take 60 s; a hundred skipped ones take microseconds.
    EXPECT_LT(MsSince(start), 20000);
}

}  // namespace
