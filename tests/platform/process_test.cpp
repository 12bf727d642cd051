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

}  // namespace
