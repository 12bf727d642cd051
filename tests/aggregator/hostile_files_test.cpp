// A whole cycle over an installation where FIFOs stand in for the files it reads and writes:
// the cycle must complete (each such file treated as one that cannot be opened), not wait
// forever for a writer that never comes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "aggregator/aggregator_worker.h"
#include "platform/files.h"
#include "stats/base64.h"
#include "tests/support/test_env.h"

namespace {

using HostileFilesCycleTest = testing_support::RegistryTest;

TEST_F(HostileFilesCycleTest, ACycleCompletesWithFifosAsLogsClientListAndSummaryFile) {
    const std::string logs = scratch_.Path() + "/app/Logs/";
    platform::CreateDirectories(logs);
    testing_support::SetRegString("apppath", scratch_.Path() + "/app/");
    auto Logs = [&](const std::string& name) { return logs + name; };
    testing_support::WriteAll(Logs("07_12_2026_10.0.0.5"),
                              stats::Base64Encode("100*GET /x Time:09:00:00") + "\r\n");
    const std::vector<std::string> fifos = {"logip.log", "08_12_2026_10.0.0.6",
                                            "Filter_08_12_2026.log", "brisko.005"};
    for (const std::string& name : fifos) {
        if (platform::kPathSeparator != '/' ||
            std::system(("mkfifo '" + Logs(name) + "'").c_str()) != 0) {
            GTEST_SKIP() << "no FIFOs here";
        }
    }
    platform::FixedClock clock(platform::LocalTimeOf(2026, 12, 8, 10, 0, 0));
    testing_support::RecordingPacer pacer;
    AggregatorWorker worker(clock, pacer, {});
    std::string last;
    worker.SetStepObserver([&](const CycleStep& s) { last = s.name; });
    auto cycle = std::async(std::launch::async, [&] { worker.RunCycle(); });
    if (cycle.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        // The cycle is stuck on a FIFO and cannot be joined: end the program loudly.
        ADD_FAILURE() << "the cycle hangs at step " << last;
        std::abort();
    }
    EXPECT_EQ(last, "PurgeOldLogs");
    for (const char* written : {"brisko.trf", "brisko.001", "brisko.016"}) {
        EXPECT_TRUE(testing_support::Exists(Logs(written))) << written;
    }
    for (const std::string& name : fifos) {
        EXPECT_TRUE(std::filesystem::is_fifo(std::filesystem::symlink_status(Logs(name)))) << name;
    }
}

}  // namespace
