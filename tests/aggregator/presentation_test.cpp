// What people see from the cycle: the dashboard step (off unless asked for, then right after
// the summary files without a pause of its own), the HTML twins listed in ToSendFile, and
// retention deleting the twins with their documents.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "aggregator/aggregator_worker.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "tests/reports/encoded_lines.h"
#include "tests/reports/xml_check.h"
#include "tests/support/test_env.h"

namespace {

using encoded_lines::Encoded;

using testing_support::Exists;
using testing_support::GetRegString;
using testing_support::ReadAll;
using testing_support::SetRegDword;
using testing_support::SetRegString;
using testing_support::WriteAll;

// Records pauses and step names in one sequence.
class TracingPacer final : public platform::Pacer {
  public:
    explicit TracingPacer(std::vector<std::string>* trace) : trace_(trace) {}
    bool Pause(std::uint32_t ms) override {
        trace_->push_back("pause " + std::to_string(ms));
        return true;
    }
    bool StopRequested() const override { return false; }
    void RequestStop() override {}

  private:
    std::vector<std::string>* trace_;
};

class PresentationTest : public testing_support::RegistryTest {
  protected:
    void SetUp() override {
        app_ = scratch_.Path() + "/app/";
        platform::CreateDirectories(app_ + "Logs");
        SetRegString("apppath", app_);
        WriteAll(Logs("logip.log"), Encoded({"pc1|10.0.0.5"}));
        WriteAll(Logs("30_07_2026_10.0.0.5"), Encoded({"1048576*GET /a Time:09:00:00"}));
        WriteAll(Logs("Filter_30_07_2026.log"),
                 Encoded({"30/07/2026 10.0.0.5 ann 09:00:00 http://g/<x> Games_Online "}));
        WriteAll(Logs("Filter_31_07_2026.log"),
                 Encoded({"31/07/2026 10.0.0.5 ann 08:00:00 http://h/ Gambling "}));
    }
    std::string Logs(const std::string& name) const { return app_ + "Logs/" + name; }

    // Pauses and steps of one whole cycle on Friday 31 July 2026 at the given hour.
    std::vector<std::string> TraceCycle(int hour) {
        std::vector<std::string> trace;
        platform::FixedClock clock(platform::LocalTimeOf(2026, 7, 31, hour, 0, 5));
        TracingPacer pacer(&trace);
        AggregatorWorker worker(clock, pacer, {});
        worker.SetStepObserver(
            [&](const CycleStep& s) { trace.push_back(std::string("step ") + s.name); });
        worker.RunCycle();
        return trace;
    }

    std::string app_;
};

TEST_F(PresentationTest, TheDashboardStepFollowsTheSummaryFilesOnlyWhenAsked) {
    const std::vector<std::string> without = TraceCycle(10);
    EXPECT_FALSE(Exists(Logs("summary.html")));
    SetRegDword("Dashboard", 2);  // only 1 means on
    EXPECT_EQ(TraceCycle(10), without);
    EXPECT_FALSE(Exists(Logs("summary.html")));

    SetRegDword("Dashboard", 1);
    const std::vector<std::string> with = TraceCycle(10);
    std::vector<std::string> expected = without;
    const auto purge = std::find(expected.begin(), expected.end(), "step PurgeOldLogs");
    ASSERT_NE(purge, expected.end());
    ASSERT_EQ(*(purge - 1), "step brisko.016");
    expected.insert(purge, "step summary.html");
    EXPECT_EQ(with, expected);

    const std::string page = ReadAll(Logs("summary.html"));
    EXPECT_EQ(page.find('\n'), page.find("\r\n") + 1);  // text mode, like the summary files
    EXPECT_EQ(xml_check::WellFormednessError(page), "");
    EXPECT_NE(page.find("<h3>Current week: 1.00 MB</h3>"), std::string::npos);
    EXPECT_NE(page.find("<td class=\"wrap\">Games Online</td>"), std::string::npos);
}

TEST_F(PresentationTest, AnEmptyInstallationGetsAPageThatSaysSo) {
    SetRegDword("Dashboard", 1);
    platform::FixedClock clock(platform::LocalTimeOf(2026, 7, 31, 10));
    testing_support::RecordingPacer pacer;
    AggregatorWorker worker(clock, pacer, {});
    // Before any statistic ran, and after a cycle that found no log: nothing yet, no error.
    ASSERT_TRUE(worker.WriteDashboard());
    EXPECT_NE(ReadAll(Logs("summary.html")).find("Nothing to show yet"), std::string::npos);
    for (const char* log :
         {"logip.log", "30_07_2026_10.0.0.5", "Filter_30_07_2026.log", "Filter_31_07_2026.log"}) {
        platform::DeleteFileAt(Logs(log));
    }
    TraceCycle(10);
    const std::string page = ReadAll(Logs("summary.html"));
    EXPECT_EQ(xml_check::WellFormednessError(page), "");
    EXPECT_NE(page.find("Nothing to show yet"), std::string::npos);
}

TEST_F(PresentationTest, TwinsAreListedAfterTheirDocumentsAndDeletedWithThem) {
    SetRegString("ReportTime", "18");
    SetRegString("ReportFormat", "xml+html");
    SetRegDword("RegDayFilter", 1);
    SetRegDword("RegDaily", 1);
    TraceCycle(18);
    std::string stored;
    ASSERT_TRUE(GetRegString("ToSendFile", &stored));
    const auto entry = [&](const std::string& name) {
        return platform::AppendPath(app_, "Logs\\" + name);
    };
    EXPECT_EQ(stored, entry("filterday_31_07_2026.xml") + "," + entry("filterday_31_07_2026.html") +
                          "," + entry("day_07_31_2026.xml") + "," + entry("day_07_31_2026.html"));
    const std::string twin = ReadAll(Logs("filterday_31_07_2026.html"));
    EXPECT_EQ(xml_check::WellFormednessError(twin), "");

    // Retention of the period that holds 31 July takes the twins with the documents, and
    // with the weekly and monthly ones.
    WriteAll(Logs("week.html"), "x");
    WriteAll(Logs("filtermonth.html"), "x");
    SetRegString("dellogdate", "31/7/2026");
    platform::FixedClock clock(platform::LocalTimeOf(2026, 8, 30, 9));
    testing_support::RecordingPacer pacer;
    AggregatorWorker worker(clock, pacer, {});
    worker.PurgeOldLogs(30, 8, 2026);
    for (const char* name :
         {"filterday_31_07_2026.xml", "filterday_31_07_2026.html", "day_07_31_2026.xml",
          "day_07_31_2026.html", "week.html", "filtermonth.html"}) {
        EXPECT_FALSE(Exists(Logs(name))) << name;
    }
    EXPECT_TRUE(Exists(Logs("logip.log")));
}

}  // namespace
