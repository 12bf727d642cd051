// A whole cycle over an installation where FIFOs stand in for the files it reads and writes:
// the cycle must complete (each such file treated as one that cannot be opened), not wait
// forever for a writer that never comes. Logs that are links to files elsewhere are not read:
// nothing of what they point to reaches the summary files, which everyone may read.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "aggregator/aggregator_worker.h"
#include "common/layout.h"
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

TEST_F(HostileFilesCycleTest, LinkedLogsAreNotRead) {
    const std::string logs = scratch_.Path() + "/app/Logs/";
    const std::string secret = scratch_.Path() + "/secret/";
    platform::CreateDirectories(logs);
    platform::CreateDirectories(secret);
    testing_support::SetRegString("apppath", scratch_.Path() + "/app/");
    auto line = [](const std::string& text) { return stats::Base64Encode(text) + "\r\n"; };
    testing_support::WriteAll(logs + "logip.log", line("pc5|10.0.0.5") + line("pc6|10.0.0.6"));
    testing_support::WriteAll(logs + "08_12_2026_10.0.0.5", line("100*GET /x Time:09:00:00"));
    testing_support::WriteAll(logs + "Filter_07_12_2026.log",
                              line("07/12/2026 10.0.0.5 ann 09:00:00 http://g/ Gambling "));
    // What the links point to: a file only the service's account may read.
    testing_support::WriteAll(secret + "traffic", line("987654321*GET /hidden Time:09:00:00"));
    testing_support::WriteAll(secret + "filter",
                              line("08/12/2026 10.0.0.6 root 09:00:00 http://hidden/ Secret "));
    namespace fs = std::filesystem;
    std::error_code failed;
    fs::create_symlink(secret + "traffic", logs + "08_12_2026_10.0.0.6", failed);
    if (!failed) {
        fs::create_symlink(secret + "filter", logs + "Filter_08_12_2026.log", failed);
    }
    if (failed) {
        GTEST_SKIP() << "no symbolic links here: " << failed.message();
    }
    platform::FixedClock clock(platform::LocalTimeOf(2026, 12, 8, 10, 0, 0));
    testing_support::RecordingPacer pacer;
    AggregatorWorker worker(clock, pacer, {});
    worker.RunCycle();

    bool sawRealTraffic = false;
    for (const char* name : layout::kSummaryFiles) {
        SCOPED_TRACE(name);
        const std::string text = testing_support::ReadAll(logs + name);
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find("\r\n", start);
            end = end == std::string::npos ? text.size() : end;
            const std::string decoded = stats::Base64DecodeText(text.substr(start, end - start));
            EXPECT_EQ(decoded.find("98765"), std::string::npos) << decoded;
            EXPECT_EQ(decoded.find("hidden"), std::string::npos) << decoded;
            sawRealTraffic = sawRealTraffic || decoded.find("100") != std::string::npos;
            start = end + 2;
        }
    }
    EXPECT_TRUE(sawRealTraffic) << "the cycle read none of the logs";
}

}  // namespace
