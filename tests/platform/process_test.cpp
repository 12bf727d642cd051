// Waiting for a helper program: its exit status, and a bound that holds when it never ends.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/process.h"
#include "tests/support/test_env.h"

namespace {

TEST(RunProgram, GivesTheExitStatusOrMinusOneWithinTheBound) {
    testing_support::ScratchDir dir;
    const std::string script = dir / "helper";
    testing_support::WriteAll(script,
                              "#!/bin/sh\n[ \"$1\" = hang ] && exec sleep 60\nexit \"$1\"\n");
    ASSERT_EQ(chmod(script.c_str(), 0755), 0);
    const struct {
        std::vector<std::string> argv;
        int status;
    } cases[] = {
        {{script, "0"}, 0},      {{script, "3"}, 3}, {{script, "hang"}, -1},  // killed at the bound
        {{dir / "missing"}, -1}, {{}, -1},
    };
    for (const auto& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(platform::RunProgram(c.argv, 300), c.status)
            << (c.argv.empty() ? "" : c.argv.back());
        // A hang guard: the hanging helper sleeps 60 s and is killed at 300 ms when idle.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    }
}

// What the benchmark reads: a peak that covers memory touched since the reset, and never
// below what is held.
TEST(ProcessMemory, PeakCoversMemoryTouchedSince) {
    constexpr std::size_t kBlock = std::size_t{64} << 20;
    const std::uint64_t before = platform::ResidentBytes();
    ASSERT_GT(before, 0u);
    platform::ResetPeakResident();
    {
        std::vector<char> block(kBlock);
        for (std::size_t i = 0; i < block.size(); i += 4096) {
            block[i] = static_cast<char>(i);
        }
        EXPECT_GE(platform::ResidentBytes(), before + kBlock * 3 / 4);
        EXPECT_NE(block[4096], 1);  // keeps the block in use
    }
    EXPECT_GE(platform::PeakResidentBytes(), before + kBlock * 3 / 4);
    EXPECT_GE(platform::PeakResidentBytes(), platform::ResidentBytes());
}

}  // namespace
