// `tallyctl show` on the summary files a cycle wrote: every file under its heading, the
// figures of a small known installation, missing and empty files, and the exit statuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "stats/base64.h"
#include "tests/support/test_env.h"
#include "tools/cycle_command.h"
#include "tools/show_command.h"

namespace {

using testing_support::WriteAll;

std::string Encoded(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) {
        out += stats::Base64Encode(line) + "\r\n";
    }
    return out;
}

class ShowCommandTest : public testing_support::RegistryTest {
  protected:
    ShowCommandTest() : app_(scratch_.Path() + "/app/") {}

    // Two clients and one filter log around Wednesday 11 March 2026, then one cycle then.
    void InstallAndRunACycle() {
        platform::CreateDirectories(app_ + "Logs");
        testing_support::SetRegString("apppath", app_);
        WriteAll(Logs("logip.log"), Encoded({"pc1|10.0.0.5", "pc2|10.0.0.6"}));
        WriteAll(Logs("10_03_2026_10.0.0.5"), Encoded({"1048576*GET /a Time:09:00:00"}));
        WriteAll(Logs("11_03_2026_10.0.0.6"),
                 Encoded({"1572864*GET /b Time:10:00:00", "524288*GET /c Time:11:00:00"}));
        WriteAll(Logs("Filter_10_03_2026.log"),
                 Encoded({"10/03/2026 10.0.0.5 ann 09:00:00 http://g/ Games_Online ",
                          "10/03/2026 10.0.0.6 bob 09:05:00 http://h/ Games_Online ",
                          "10/03/2026 10.0.0.6 bob 09:09:00 http://c/ Gambling "}));
        testing::internal::CaptureStdout();
        const int status =
            RunCycleCommand({"--at", "2026-03-11 10:00:00", "--no-pause", "--quiet"});
        testing::internal::GetCapturedStdout();
        ASSERT_EQ(status, 0);
    }

    int Show(const std::vector<std::string>& args, std::string* out) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int status = RunShowCommand(args);
        *out = testing::internal::GetCapturedStdout();
        *out += testing::internal::GetCapturedStderr();
        return status;
    }

    std::string Logs(const std::string& name) const { return app_ + "Logs/" + name; }

    std::string app_;
};

// The lines of text, each without its line end.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t lf = text.find('\n', start);
        lines.push_back(text.substr(start, lf - start));
        start = lf == std::string::npos ? text.size() : lf + 1;
    }
    return lines;
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
    for (const std::string& l : lines) {
        if (l == line) {
            return true;
        }
    }
    return false;
}

TEST_F(ShowCommandTest, ShowsEverySummaryFileOfACycleUnderItsHeading) {
    InstallAndRunACycle();
    std::string out;
    ASSERT_EQ(Show({app_}, &out), 0);
    const std::vector<std::string> lines = Lines(out);

    // The thirteen files in the order the proxy's interface groups them.
    const char* headings[] = {
        "Traffic of the proxy, MB (brisko.trf)",
        "Traffic per client, Current week, MB (brisko.011)",
        "Traffic per client, Last two weeks, MB (brisko.012)",
        "Traffic per client, Previous month, MB (brisko.013)",
        "Traffic per client, Last three months, MB (brisko.014)",
        "Traffic per client, Last six months, MB (brisko.015)",
        "Traffic per client, Current year, MB (brisko.016)",
        "Filter events, Current week (brisko.001)",
        "Filter events, Last fifteen days (brisko.002)",
        "Filter events, Previous month (brisko.003)",
        "Filter events, Last three months (brisko.004)",
        "Filter events, Last six months (brisko.005)",
        "Filter events, Current year (brisko.006)",
    };
    std::size_t at = 0;
    for (const char* heading : headings) {
        const std::size_t found = out.find(std::string(heading) + "\n", at);
        ASSERT_NE(found, std::string::npos) << heading << "\n" << out;
        at = found;
    }

    // The week of the whole proxy: 1 MB on Tuesday, 2 MB on Wednesday; columns by weekday.
    EXPECT_TRUE(Has(lines,
                    "    period            total       Sun       Mon       Tue       Wed"
                    "       Thu       Fri       Sat"))
        << out;
    EXPECT_TRUE(Has(lines,
                    "    Last 1 Week:       3.00      0.00      0.00      1.00      2.00"
                    "      0.00      0.00      0.00"))
        << out;
    // The year's line is headed by months, the two weeks' by days back.
    EXPECT_NE(out.find("Jan       Feb       Mar"), std::string::npos) << out;
    EXPECT_NE(out.find("-1d  this day"), std::string::npos) << out;
    // Per client, the week.
    EXPECT_TRUE(Has(lines,
                    "    10.0.0.5       1.00      0.00      0.00      1.00      0.00"
                    "      0.00      0.00      0.00"))
        << out;
    EXPECT_TRUE(Has(lines,
                    "    10.0.0.6       2.00      0.00      0.00      0.00      2.00"
                    "      0.00      0.00      0.00"))
        << out;
    // Filter events per filter, the week: the blank of a filter name is shown as one.
    EXPECT_TRUE(Has(lines, "    Gambling                                1")) << out;
    EXPECT_TRUE(Has(lines, "    Games Online                            2")) << out;
    EXPECT_TRUE(Has(lines, "    all filters                             3")) << out;
    // February had no filter log: the previous month's extract is empty.
    EXPECT_TRUE(Has(lines, "  brisko.003: empty")) << out;
}

TEST_F(ShowCommandTest, AMissingFileIsShownAsSuchAndTheRestStillShown) {
    InstallAndRunACycle();
    platform::DeleteFileAt(Logs("brisko.013"));
    std::string out;
    ASSERT_EQ(Show({app_ + "Logs"}, &out), 0);  // the Logs folder itself also does
    EXPECT_NE(out.find("  brisko.013: missing or unreadable\n"), std::string::npos) << out;
    EXPECT_NE(out.find("(brisko.014)"), std::string::npos) << out;
}

TEST_F(ShowCommandTest, ExitStatuses) {
    std::string out;
    EXPECT_EQ(Show({"a", "b"}, &out), 2);
    EXPECT_EQ(Show({"--help"}, &out), 2);
    EXPECT_EQ(Show({}, &out), 1);  // no installation path in the registry
    EXPECT_NE(out.find("installation path not set"), std::string::npos) << out;
    EXPECT_EQ(Show({scratch_.Path()}, &out), 1);  // no summary file there
    testing_support::SetRegString("apppath", app_);
    InstallAndRunACycle();
    EXPECT_EQ(Show({}, &out), 0);  // from the registry
}

}  // namespace
