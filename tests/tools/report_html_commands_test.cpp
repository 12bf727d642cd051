// `tallyctl report set|show` (argument checks, which values are written, nothing written when
// one option is bad) and `tallyctl html` (the page of an installation, of an empty one, and
// its exit statuses).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/reports/encoded_lines.h"
#include "tests/reports/xml_check.h"
#include "tests/support/test_env.h"
#include "tools/cycle_command.h"
#include "tools/html_command.h"
#include "tools/report_command.h"

namespace {

using encoded_lines::Encoded;

using testing_support::GetRegDword;
using testing_support::GetRegString;
using testing_support::ReadAll;
using testing_support::WriteAll;

class CommandTest : public testing_support::RegistryTest {
  protected:
    int Run(int (*command)(const std::vector<std::string>&), const std::vector<std::string>& args,
            std::string* out = nullptr) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int status = command(args);
        std::string text = testing::internal::GetCapturedStdout();
        text += testing::internal::GetCapturedStderr();
        if (out != nullptr) {
            *out = text;
        }
        return status;
    }
    std::string Stored(const char* name) {
        std::string v;
        return GetRegString(name, &v) ? v : "<absent>";
    }
};

TEST_F(CommandTest, ReportSetChecksEverythingBeforeWritingAnything) {
    const struct {
        std::vector<std::string> args;
        int status;
    } refused[] = {
        {{"set"}, 2},
        {{"set", "--format"}, 2},
        {{"set", "--format", "html"}, 2},
        {{"set", "--dashboard", "yes"}, 2},
        {{"set", "--style-url", "ftp://x"}, 2},
        {{"set", "--style-url", "http://x/'"}, 2},
        {{"set", "--format", "xml+html", "--dashboard", "2"}, 2},
        {{"set", "--colour", "blue"}, 2},
        {{"show", "extra"}, 2},
        {{}, 2},
    };
    for (const auto& r : refused) {
        EXPECT_EQ(Run(RunReportCommand, r.args), r.status) << r.args.size();
        EXPECT_EQ(Stored("ReportFormat"), "<absent>");
        std::uint32_t dashboard = 0;
        EXPECT_FALSE(GetRegDword("Dashboard", &dashboard));
        EXPECT_EQ(Stored("ReportStyleURL"), "<absent>");
    }
}

TEST_F(CommandTest, ReportSetWritesOnlyTheGivenValuesAndShowReadsThemBack) {
    std::string out;
    ASSERT_EQ(Run(RunReportCommand, {"show"}, &out), 0);
    EXPECT_NE(out.find("format:     xml (not set)"), std::string::npos) << out;
    EXPECT_NE(out.find("dashboard:  0 (off)"), std::string::npos) << out;
    EXPECT_NE(out.find("style URL:  http://reports.example.com (default)"), std::string::npos);

    ASSERT_EQ(Run(RunReportCommand, {"set", "--format", "XML+HTML", "--dashboard", "1"}), 0);
    EXPECT_EQ(Stored("ReportFormat"), "xml+html");
    std::uint32_t dashboard = 0;
    ASSERT_TRUE(GetRegDword("Dashboard", &dashboard));
    EXPECT_EQ(dashboard, 1u);
    EXPECT_EQ(Stored("ReportStyleURL"), "<absent>");

    ASSERT_EQ(Run(RunReportCommand, {"set", "--style-url", "https://intra.example/css/"}), 0);
    EXPECT_EQ(Stored("ReportFormat"), "xml+html");
    ASSERT_EQ(Run(RunReportCommand, {"show"}, &out), 0);
    EXPECT_NE(out.find("format:     xml+html\n"), std::string::npos) << out;
    EXPECT_NE(out.find("dashboard:  1 (Logs\\summary.html written every cycle)"),
              std::string::npos);
    EXPECT_NE(out.find("style URL:  https://intra.example/css\n"), std::string::npos) << out;

    // An empty URL returns to the default.
    ASSERT_EQ(Run(RunReportCommand, {"set", "--style-url", ""}), 0);
    ASSERT_EQ(Run(RunReportCommand, {"show"}, &out), 0);
    EXPECT_NE(out.find("style URL:  http://reports.example.com (default)"), std::string::npos);
}

TEST_F(CommandTest, HtmlRendersTheSummaryFilesOfAnInstallation) {
    const std::string app = scratch_.Path() + "/app/";
    platform::CreateDirectories(app + "Logs");
    testing_support::SetRegString("apppath", app);
    const std::string page = scratch_ / "page.html";

    // Before the first cycle: the page that says there is nothing yet.
    ASSERT_EQ(Run(RunHtmlCommand, {app, "--out", page}), 0);
    EXPECT_NE(ReadAll(page).find("Nothing to show yet"), std::string::npos);

    WriteAll(app + "Logs/logip.log", Encoded({"pc1|10.0.0.5"}));
    WriteAll(app + "Logs/10_03_2026_10.0.0.5", Encoded({"1572864*GET /a Time:09:00:00"}));
    WriteAll(app + "Logs/Filter_10_03_2026.log",
             Encoded({"10/03/2026 10.0.0.5 ann 09:00:00 http://g/ Games_Online "}));
    ASSERT_EQ(Run(RunCycleCommand, {"--at", "2026-03-11 10:00:00", "--no-pause", "--quiet"}), 0);

    // From the registry, from the installation and from its Logs folder: the same figures.
    std::string out;
    ASSERT_EQ(Run(RunHtmlCommand, {}, &out), 0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{app, "--out", page}, {app + "Logs", "--out", page}}) {
        ASSERT_EQ(Run(RunHtmlCommand, args), 0);
        const std::string written = ReadAll(page);
        EXPECT_EQ(xml_check::WellFormednessError(written), "");
        EXPECT_NE(written.find("<h3>Current week: 1.50 MB</h3>"), std::string::npos);
        EXPECT_NE(written.find("<td class=\"wrap\">10.0.0.5</td><td class=\"n\">1.50</td>"),
                  std::string::npos);
        EXPECT_NE(written.find("<td class=\"wrap\">Games Online</td><td class=\"n\">1</td>"),
                  std::string::npos);
    }
    EXPECT_NE(out.find("<h3>Current week: 1.50 MB</h3>"), std::string::npos);
}

TEST_F(CommandTest, HtmlExitStatuses) {
    EXPECT_EQ(Run(RunHtmlCommand, {}), 1);  // no installation path
    EXPECT_EQ(Run(RunHtmlCommand, {scratch_ / "nowhere"}), 1);
    EXPECT_EQ(Run(RunHtmlCommand, {scratch_.Path(), "--out", scratch_ / "no/such/dir/p.html"}), 1);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--out"}, {"a", "b"}, {"--bogus"}, {"a", "--out", ""}}) {
        EXPECT_EQ(Run(RunHtmlCommand, args), 2);
    }
}

}  // namespace
