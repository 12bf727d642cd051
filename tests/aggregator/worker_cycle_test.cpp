// The worker cycle: construction, step order and pauses, dates, summary files, stopping.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "aggregator/aggregator_worker.h"
#include "platform/files.h"
#include "platform/thread.h"
#include "stats/base64.h"
#include "tests/support/test_env.h"

using stats::Kind;
using stats::Period;
using testing_support::ReadAll;
using testing_support::WriteAll;

namespace {

// Records pauses and steps in one sequence; optionally moves the clock on each pause.
class TracingPacer final : public platform::Pacer {
  public:
    explicit TracingPacer(std::vector<std::string>* trace) : trace_(trace) {}
    bool Pause(std::uint32_t ms) override {
        if (stopped_) {
            return false;
        }
        trace_->push_back("pause " + std::to_string(ms));
        if (clock != nullptr) {
            clock->Set(clock->Now() + advancePerPause);
        }
        if (stopAfter >= 0 && --stopAfter < 0) {
            stopped_ = true;
        }
        return true;
    }
    bool StopRequested() const override { return stopped_; }
    void RequestStop() override { stopped_ = true; }
    platform::FixedClock* clock = nullptr;
    std::time_t advancePerPause = 0;
    int stopAfter = -1;  // pauses still granted before a stop

  private:
    std::vector<std::string>* trace_;
    bool stopped_ = false;
};

std::string Describe(const CycleStep& step) {
    std::string s = std::string("step ") + step.name;
    for (int i = 0; i < step.argCount; ++i) {
        s += " " + std::to_string(step.args[i]);
    }
    return s;
}

class WorkerCycleTest : public testing_support::RegistryTest {
  protected:
    void SetUp() override {
        app_ = scratch_.Path() + "/app/";
        platform::CreateDirectories(app_ + "Logs");
        testing_support::SetRegString("apppath", app_);
    }
    std::string Logs(const std::string& name) const { return app_ + "Logs/" + name; }

    // The steps of a whole cycle at the given local time, each with the pause before it.
    std::vector<std::string> TraceCycle(std::time_t at, std::time_t advancePerPause = 0) {
        std::vector<std::string> trace;
        platform::FixedClock clock(at);
        TracingPacer pacer(&trace);
        pacer.clock = &clock;
        pacer.advancePerPause = advancePerPause;
        AggregatorWorker worker(clock, pacer, {});
        worker.SetStepObserver([&](const CycleStep& s) { trace.push_back(Describe(s)); });
        worker.RunCycle();
        // Keep each step with the pause right before it; pauses inside a task are its own.
        std::vector<std::string> steps;
        for (std::size_t i = 0; i < trace.size(); ++i) {
            if (trace[i].rfind("step ", 0) == 0) {
                steps.push_back(
                    (i > 0 && trace[i - 1].rfind("pause", 0) == 0 ? trace[i - 1] : "no pause") +
                    " / " + trace[i]);
            }
        }
        return steps;
    }

    std::string app_;
};

TEST_F(WorkerCycleTest, MissingPathIsReportedAndAsksToQuit) {
    testing_support::SetRegString("apppath", "");
    platform::FixedClock clock(0);
    testing_support::RecordingPacer pacer;
    std::vector<std::string> messages;
    int quits = 0;
    AggregatorWorker worker(
        clock, pacer, {[&](const std::string& m) { messages.push_back(m); }, [&] { ++quits; }});
    EXPECT_FALSE(worker.HasAppPath());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0],
              "Unable to get the Brisko Web Proxy path from registry. Please reinstall the "
              "application in order to fix this problem");
    EXPECT_EQ(quits, 1);
}

TEST_F(WorkerCycleTest, StepsRunInOrderWithTheirPausesOnASunday) {
    // 6 December 2026 is a Sunday: weekday 1.
    auto steps = TraceCycle(platform::LocalTimeOf(2026, 12, 6, 10, 0, 0));
    std::vector<std::string> expected = {
        "pause 5000 / step DispatchReports",
        "pause 5000 / step BuildTrafficWeek 1",
        "pause 3000 / step BuildClientWeek 1",
        "pause 3000 / step CollectFilterWeek 1",
        "pause 3000 / step BuildTrafficTwoWeeks",
        "pause 3000 / step BuildClientTwoWeeks",
        "pause 3000 / step CollectFilterTwoWeeks",
        "pause 3000 / step BuildTrafficMonth 12 2026",
        "pause 3000 / step BuildClientMonth 12 2026",
        "pause 3000 / step CollectFilterMonth 12 2026",
        "pause 3000 / step BuildTrafficThreeMonths 12 2026",
        "pause 3000 / step BuildClientThreeMonths 12 2026",
        "pause 3000 / step CollectFilterThreeMonths 12 2026",
        "pause 3000 / step BuildTrafficSixMonths 12 2026",
        "pause 3000 / step BuildClientSixMonths 12 2026",
        "pause 3000 / step CollectFilterSixMonths 12 2026",
        "pause 3000 / step BuildTrafficYear 2026",
        "pause 3000 / step BuildClientYear 2026",
        "pause 3000 / step CollectFilterYear 2026",
        "pause 3000 / step brisko.trf",
    };
    for (const char* name :
         {"001", "002", "003", "004", "005", "006", "011", "012", "013", "014", "015", "016"}) {
        expected.push_back(std::string("pause 5000 / step brisko.") + name);
    }
    expected.push_back("no pause / step PurgeOldLogs 6 12 2026");
    EXPECT_EQ(steps, expected);
}

TEST_F(WorkerCycleTest, WeekdayRunsFromSundayOneToSaturdaySeven) {
    const struct {
        int day;
        int weekday;
    } cases[] = {{6, 1}, {7, 2}, {11, 6}, {12, 7}};
    for (const auto& c : cases) {
        auto steps = TraceCycle(platform::LocalTimeOf(2026, 12, c.day, 12, 0, 0));
        EXPECT_EQ(steps[1], "pause 5000 / step BuildTrafficWeek " + std::to_string(c.weekday))
            << "day " << c.day;
    }
}

TEST_F(WorkerCycleTest, ACycleStartingAt2359KeepsItsStartDate) {
    // Every pause moves the clock ten minutes on: the cycle ends well into the new year.
    auto steps = TraceCycle(platform::LocalTimeOf(2026, 12, 31, 23, 59, 0), 600);
    EXPECT_EQ(steps[1], "pause 5000 / step BuildTrafficWeek 5");
    EXPECT_EQ(steps[16], "pause 3000 / step BuildTrafficYear 2026");
    EXPECT_EQ(steps.back(), "no pause / step PurgeOldLogs 31 12 2026");
}

TEST_F(WorkerCycleTest, SummaryFilesHoldTheirSlotsWithCrLf) {
    platform::FixedClock clock(0);
    testing_support::RecordingPacer pacer;
    AggregatorWorker worker(clock, pacer, {});
    worker.SetResult(Kind::Traffic, Period::Week, "V2Vlaw==\n");
    worker.SetResult(Kind::Traffic, Period::TwoWeeks, "");  // failed: the others follow directly
    worker.SetResult(Kind::Traffic, Period::Month, "TW9udGg=\n");
    worker.SetResult(Kind::Traffic, Period::Year, "WWVhcg==\n");
    worker.SetResult(Kind::Filter, Period::Month, "bGluZTE=\nbGluZTI=\n");
    worker.SetResult(Kind::Client, Period::Year, "Y2xpZW50\n");
    WriteAll(Logs("brisko.002"), "old content that must go\r\n");
    ASSERT_TRUE(worker.WriteSummaryFiles());

    EXPECT_EQ(ReadAll(Logs("brisko.trf")), "V2Vlaw==\r\nTW9udGg=\r\nWWVhcg==\r\n");
    EXPECT_EQ(ReadAll(Logs("brisko.003")), "bGluZTE=\r\nbGluZTI=\r\n");
    EXPECT_EQ(ReadAll(Logs("brisko.016")), "Y2xpZW50\r\n");
    for (const char* empty : {"brisko.001", "brisko.002", "brisko.006", "brisko.011"}) {
        EXPECT_TRUE(testing_support::Exists(Logs(empty))) << empty;
        EXPECT_EQ(ReadAll(Logs(empty)), "") << empty;
    }
    std::vector<std::uint32_t> expectedPauses(1, 3000);
    expectedPauses.resize(13, 5000);
    EXPECT_EQ(pacer.pauses, expectedPauses);
}

TEST_F(WorkerCycleTest, ALockedSummaryFileKeepsItsContentAndTheOthersAreWritten) {
    WriteAll(Logs("brisko.003"), "previous\r\n");
    auto holder = platform::File::Open(Logs("brisko.003"), platform::OpenMode::Read,
                                       platform::ShareMode::None);
    ASSERT_NE(holder, nullptr);
    platform::FixedClock clock(0);
    testing_support::RecordingPacer pacer;
    AggregatorWorker worker(clock, pacer, {});
    worker.SetResult(Kind::Filter, Period::Month, "bmV3\n");
    worker.SetResult(Kind::Filter, Period::ThreeMonths, "dGhyZWU=\n");
    ASSERT_TRUE(worker.WriteSummaryFiles());
    holder.reset();  // Windows would refuse the test's own read while it is held
    EXPECT_EQ(ReadAll(Logs("brisko.003")), "previous\r\n");
    EXPECT_EQ(ReadAll(Logs("brisko.004")), "dGhyZWU=\r\n");
}

// With VerboseLog 1 each abandoned task, skipped log and failed write is named once, with its
// reason; without it nothing is said. The steps and pauses are the same either way.
TEST_F(WorkerCycleTest, TheVerboseLogNamesWhatIsMissingAndWhy) {
    const auto encoded = [](const std::string& record) {
        return stats::Base64Encode(record) + "\r\n";
    };
    // Thursday 10 December 2026; no client list.
    WriteAll(Logs("09_12_2026_a"), encoded("100*GET /x Time:09:00:00"));  // skipped by the week
    WriteAll(Logs("10_11_2026_a"), encoded("200*GET /y Time:10:00:00"));  // ends the month
    WriteAll(Logs("brisko.004"), "previous\r\n");
    auto week = platform::File::Open(Logs("09_12_2026_a"), platform::OpenMode::Read,
                                     platform::ShareMode::None);
    auto month = platform::File::Open(Logs("10_11_2026_a"), platform::OpenMode::Read,
                                      platform::ShareMode::None);
    auto summary = platform::File::Open(Logs("brisko.004"), platform::OpenMode::Read,
                                        platform::ShareMode::None);
    ASSERT_TRUE(week && month && summary);

    const auto run = [this](std::vector<std::string>* messages) {
        std::vector<std::string> trace;
        platform::FixedClock clock(platform::LocalTimeOf(2026, 12, 10, 9, 0, 0));
        TracingPacer pacer(&trace);
        AggregatorWorker worker(clock, pacer,
                                {[messages](const std::string& m) { messages->push_back(m); }, {}});
        worker.SetStepObserver([&](const CycleStep& s) { trace.push_back(Describe(s)); });
        worker.RunCycle();
        return trace;
    };
    std::vector<std::string> quiet;
    const std::vector<std::string> quietTrace = run(&quiet);
    EXPECT_EQ(quiet, std::vector<std::string>{});

    testing_support::SetRegDword("VerboseLog", 1);
    std::vector<std::string> said;
    EXPECT_EQ(run(&said), quietTrace);
    const std::string unreadable =
        ": it cannot be opened or read (held open by another program, no access, or a read "
        "error)";
    const std::string noList =
        "logip.log cannot be opened (missing, or no access): no client lines";
    const std::vector<std::string> expected = {
        "BuildTrafficWeek: skipped 09_12_2026_a" + unreadable,
        "BuildClientWeek: " + noList,
        "BuildTrafficTwoWeeks: skipped 09_12_2026_a" + unreadable,
        "BuildClientTwoWeeks: " + noList,
        "BuildTrafficMonth: abandoned at 10_11_2026_a" + unreadable,
        "BuildClientMonth: " + noList,
        "BuildTrafficThreeMonths: skipped 10_11_2026_a" + unreadable,
        "BuildTrafficThreeMonths: skipped 09_12_2026_a" + unreadable,
        "BuildClientThreeMonths: " + noList,
        "BuildTrafficSixMonths: skipped 10_11_2026_a" + unreadable,
        "BuildTrafficSixMonths: skipped 09_12_2026_a" + unreadable,
        "BuildClientSixMonths: " + noList,
        "BuildTrafficYear: abandoned at 10_11_2026_a" + unreadable,
        "BuildClientYear: " + noList,
        "brisko.004 not written: it cannot be replaced (held open by another program, no "
        "access, a missing folder or a full disk) and keeps its previous content",
    };
    EXPECT_EQ(said, expected);

    // Any value but 1 is off.
    testing_support::SetRegDword("VerboseLog", 2);
    said.clear();
    run(&said);
    EXPECT_EQ(said, std::vector<std::string>{});
}

TEST_F(WorkerCycleTest, AMissingLogsDirectoryDoesNotStopTheCycle) {
    testing_support::SetRegString("apppath", scratch_.Path() + "/nowhere/");
    auto steps = TraceCycle(platform::LocalTimeOf(2026, 12, 8, 9, 0, 0));
    EXPECT_EQ(steps.back(), "no pause / step PurgeOldLogs 8 12 2026");
}

TEST_F(WorkerCycleTest, AStopDuringAPauseEndsTheCycleBeforeTheNextStep) {
    std::vector<std::string> trace;
    platform::FixedClock clock(platform::LocalTimeOf(2026, 12, 8, 9, 0, 0));
    TracingPacer pacer(&trace);
    pacer.stopAfter = 2;  // the third pause is refused
    AggregatorWorker worker(clock, pacer, {});
    worker.SetStepObserver([&](const CycleStep& s) { trace.push_back(Describe(s)); });
    worker.RunCycle();
    std::vector<std::string> steps;
    for (const auto& t : trace) {
        if (t.rfind("step ", 0) == 0) {
            steps.push_back(t);
        }
    }
    EXPECT_EQ(steps, (std::vector<std::string>{"step DispatchReports", "step BuildTrafficWeek 3"}));
    EXPECT_FALSE(testing_support::Exists(Logs("brisko.trf")));
}

TEST_F(WorkerCycleTest, StoppingTheThreadInsideTheLongPauseIsImmediate) {
    platform::SystemClock clock;
    platform::StoppablePacer pacer(true);
    AggregatorWorker worker(clock, pacer, {});
    worker.Start(0);
    ASSERT_TRUE(worker.Running());
    platform::SleepMilliseconds(50);  // now in the first 5 s pause
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(worker.Stop(true), 0u);  // left by itself, not terminated
    // A hang guard: a pause the stop did not end would hold it nearly 5 s; it takes
    // milliseconds when idle.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4000));
    EXPECT_FALSE(worker.Running());
}

}  // namespace
