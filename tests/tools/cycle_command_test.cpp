// `tallyctl cycle`: reading the --at time, refusing bad arguments, and a cycle run at a chosen
// time as the service would run it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "stats/base64.h"
#include "stats/summary_lines.h"
#include "tests/support/test_env.h"
#include "tools/cycle_command.h"

namespace {

TEST(CycleTime, ReadsADateWithOrWithoutItsTime) {
    const struct {
        const char* text;
        int year, month, day, hour, minute, second;
    } accepted[] = {
        {"2026-07-31 18:00:05", 2026, 7, 31, 18, 0, 5},
        {"2026-07-31", 2026, 7, 31, 0, 0, 0},
        {"2026-7-1 8:0:0", 2026, 7, 1, 8, 0, 0},
        {"2028-02-29 23:59:59", 2028, 2, 29, 23, 59, 59},
        {"2026-12-31 00:00:00", 2026, 12, 31, 0, 0, 0},
    };
    for (const auto& a : accepted) {
        std::time_t t = 0;
        ASSERT_TRUE(ParseCycleTime(a.text, &t)) << a.text;
        EXPECT_EQ(t, platform::LocalTimeOf(a.year, a.month, a.day, a.hour, a.minute, a.second))
            << a.text;
    }
    const char* refused[] = {
        "",
        "tomorrow",
        "2026-07-31x",       // trailing text after a date
        "2026-07-31 18:00",  // a time without its seconds
        "2026-07-31 18:00:05x",
        "2026-02-30",           // not in the calendar: would become 2 March
        "2027-02-29 10:00:00",  // not a leap year
        "2026-04-31",
        "2026-13-01",
        "2026-00-10",
        "1969-12-31",
        "2026-07-31 24:00:00",
        "2026-07-31 12:60:00",
    };
    for (const char* text : refused) {
        std::time_t t = 1234;
        EXPECT_FALSE(ParseCycleTime(text, &t)) << text;
        EXPECT_EQ(t, 1234) << text;
    }
}

class CycleCommandTest : public testing_support::RegistryTest {
  protected:
    int Cycle(const std::vector<std::string>& args, std::string* out = nullptr) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int status = RunCycleCommand(args);
        const std::string printed = testing::internal::GetCapturedStdout();
        const std::string errors = testing::internal::GetCapturedStderr();
        if (out != nullptr) {
            *out = printed + errors;
        }
        return status;
    }
};

TEST_F(CycleCommandTest, RefusesBadArgumentsBeforeLookingForTheInstallation) {
    const std::vector<std::vector<std::string>> bad = {
        {"--at"},    {"--at", "2026-02-30 10:00:00"}, {"--cycles", "0"}, {"--cycles", "two"},
        {"--pause"},
    };
    for (const auto& args : bad) {
        EXPECT_EQ(Cycle(args), 2) << args[0];
    }
    std::string out;
    EXPECT_EQ(Cycle({"--no-pause"}, &out), 1);  // no installation path in the registry
    EXPECT_NE(out.find("Unable to get the Brisko Web Proxy path"), std::string::npos) << out;
}

TEST_F(CycleCommandTest, RunsOneCycleAtTheGivenTime) {
    const std::string app = scratch_.Path() + "/app/";
    platform::CreateDirectories(app + "Logs");
    testing_support::SetRegString("apppath", app);
    // Wednesday 11 March 2026: the week's traffic runs from Sunday the 8th.
    testing_support::WriteAll(app + "Logs/10_03_2026_10.0.0.5",
                              stats::Base64Encode("2048*GET /x Time:09:00:00") + "\r\n");
    std::string out;
    ASSERT_EQ(Cycle({"--at", "2026-03-11 10:00:00", "--no-pause"}, &out), 0);
    EXPECT_NE(out.find("  BuildTrafficWeek (4)\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  BuildClientMonth (3, 2026)\n"), std::string::npos) << out;
    EXPECT_NE(out.find("cycle 1 done in"), std::string::npos) << out;
    const std::vector<std::string> lines =
        stats::DecodeSummaryLines(testing_support::ReadAll(app + "Logs/brisko.trf"));
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "Last 1 Week: |0|0|2048|0|0|0|0|");
}

TEST_F(CycleCommandTest, ShowsTheVerboseLogWhenAskedOrSet) {
    const std::string app = scratch_.Path() + "/app/";
    platform::CreateDirectories(app + "Logs");
    testing_support::SetRegString("apppath", app);
    testing_support::WriteAll(app + "Logs/logip.log", stats::Base64Encode("x|../a") + "\r\n");
    const std::string note =
        "    BuildClientWeek: client key \"../a\" could name a file outside the log folder: no "
        "log searched, its line is all zeros\n";
    std::string out;
    ASSERT_EQ(Cycle({"--at", "2026-03-11 10:00:00", "--no-pause"}, &out), 0);
    EXPECT_EQ(out.find("client key"), std::string::npos) << out;
    ASSERT_EQ(Cycle({"--at", "2026-03-11 10:00:00", "--no-pause", "--verbose"}, &out), 0);
    EXPECT_NE(out.find("  BuildClientWeek (4)\n" + note), std::string::npos) << out;
    testing_support::SetRegDword("VerboseLog", 1);
    ASSERT_EQ(Cycle({"--at", "2026-03-11 10:00:00", "--no-pause", "--quiet"}, &out), 0);
    EXPECT_NE(out.find(note), std::string::npos) << out;
}

}  // namespace
