// A whole cycle over an installation where FIFOs stand in for the files it reads and writes:
// the cycle must complete (each such file treated as one that cannot be opened), not wait
// forever for a writer that never comes.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "aggregator/aggregator_worker.h"
#include "platform/files.h"
#include "stats/base64.h"
#include "tests/support/test_env.h"

namespace {

class HostileFilesCycleTest : public testing_support::RegistryTest {
  protected:
    void SetUp() override {
        app_ = scratch_.Path() + "/app/";
        platform::CreateDirectories(app_ + "Logs");
        testing_support::SetRegString("apppath", app_);
    }
    std::string Logs(const std::string& name) const { return app_ + "Logs/" + name; }
    std::string app_;
};

TEST_F(HostileFilesCycleTest, ACycleCompletesWithFifosAsLogsClientListAndSummaryFile) {
    testing_support::WriteAll(Logs("07_12_2026_10.0.0.5"),
                              stats::Base64Encode("100*GET /x Time:09:00:00") + "\r\n");
    const std::vector<std::string> fifos = {"logip.log", "08_12_2026_10.0.0.6",
                                            "Filter_08_12_2026.log", "brisko.005"};
    for (const std::string& name : fifos) {
        ASSERT_EQ(mkfifo(Logs(name).c_str(), 0644), 0) << name;
    }
    // A hang would otherwise pass unnoticed until the whole run's time-out.
    alarm(60);
    platform::FixedClock clock(platform::LocalTimeOf(2026, 12, 8, 10, 0, 0));
    testing_support::RecordingPacer pacer;
    AggregatorWorker worker(clock, pacer, {});
    std::string last;
    worker.SetStepObserver([&](const CycleStep& s) { last = s.name; });
    worker.RunCycle();
    alarm(0);
    EXPECT_EQ(last, "PurgeOldLogs");
    for (const char* written : {"brisko.trf", "brisko.001", "brisko.016"}) {
        EXPECT_TRUE(testing_support::Exists(Logs(written))) << written;
    }
    for (const std::string& name : fifos) {
        struct stat st {};
        ASSERT_EQ(lstat(Logs(name).c_str(), &st), 0) << name;
        EXPECT_TRUE(S_ISFIFO(st.st_mode)) << name;
    }
}

}  // namespace
