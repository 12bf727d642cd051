// `tallyctl alerts`: set writes only when every option is usable, show lists the day's alerts
// from the state file with hostile keys escaped, and test refuses without an installation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "aggregator/alert_state.h"
#include "common/layout.h"
#include "platform/files.h"
#include "tests/support/test_env.h"
#include "tools/alerts_command.h"

namespace {

class AlertsCommandTest : public testing_support::RegistryTest {
  protected:
    int Run(const std::vector<std::string>& args, std::string* out = nullptr) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int status = RunAlertsCommand(args);
        std::string text = testing::internal::GetCapturedStdout();
        text += testing::internal::GetCapturedStderr();
        if (out != nullptr) {
            *out = text;
        }
        return status;
    }
};

TEST_F(AlertsCommandTest, SetWritesOnlyWhenEverythingIsUsable) {
    struct Case {
        std::vector<std::string> args;
        int status;
    } refused[] = {
        {{"set"}, 2},
        {{"set", "--daily-mb"}, 2},
        {{"set", "--daily-mb", "500", "--spike-factor", "-3"}, 2},
        {{"set", "--daily-mb", "500", "--max-per-hour", "99999999"}, 2},
        {{"set", "--daily-mb", "500", "--filters", "a\r\nb"}, 2},
        {{"set", "--daily-mb", "500", "--colour", "red"}, 2},
        {{"frobnicate"}, 2},
    };
    std::uint32_t dword = 0;
    for (const Case& c : refused) {
        EXPECT_EQ(Run(c.args), c.status) << c.args.size();
        EXPECT_FALSE(testing_support::GetRegDword(layout::setting::kAlertDailyMb, &dword));
    }
    EXPECT_EQ(Run({"set", "--daily-mb", "500", "--filters", "Malware Sites", "--metrics-file",
                   "/var/lib/prom/tallyvane.prom"}),
              0);
    ASSERT_TRUE(testing_support::GetRegDword(layout::setting::kAlertDailyMb, &dword));
    EXPECT_EQ(dword, 500u);
    std::string text;
    ASSERT_TRUE(testing_support::GetRegString(layout::setting::kAlertFilters, &text));
    EXPECT_EQ(text, "Malware Sites");
}

TEST_F(AlertsCommandTest, ShowListsTheDaysAlertsEscaped) {
    const std::string app = scratch_.Path() + "/app/";
    platform::CreateDirectories(app + "Logs");
    testing_support::SetRegString("apppath", app);
    AlertState state;
    state.fired = {
        {"2026-07-30", 9, 0, AlertRule::Spike, 1 << 20, 1, false, "old"},
        {"2026-07-31", 10, 5, AlertRule::DailyLimit, 600 << 20, 500 << 20, false, "10.0.0.2"},
        {"2026-07-31", 10, 6, AlertRule::Filters, 3, 2, true, "x\x1b[2J"},
    };
    ASSERT_TRUE(SaveAlertState(app + "Logs/" + layout::kAlertStateFile, state));
    std::string out;
    ASSERT_EQ(Run({"set", "--daily-mb", "500"}), 0);
    ASSERT_EQ(Run({"show"}, &out), 0);
    EXPECT_NE(out.find("daily limit:    500 MB"), std::string::npos) << out;
    EXPECT_NE(out.find("traffic spike:  off"), std::string::npos) << out;
    EXPECT_NE(out.find("alerts of 2026-07-31:"), std::string::npos) << out;
    EXPECT_NE(out.find("10:05  10.0.0.2"), std::string::npos) << out;
    EXPECT_NE(out.find("600.00 MB (limit 500.00 MB)"), std::string::npos) << out;
    EXPECT_NE(out.find("x\\x1B[2J"), std::string::npos) << out;
    EXPECT_EQ(out.find('\x1b'), std::string::npos);
    EXPECT_EQ(out.find("old"), std::string::npos);
}

TEST_F(AlertsCommandTest, TestWantsAnInstallationAndASender) {
    EXPECT_EQ(Run({"test", "--sender", "/nonexistent/postvane"}), 2);
}

}  // namespace
