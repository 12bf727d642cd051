// `tallyctl smtp oauth set`: the provider presets as documented, the explicit values over
// them, refusals before anything is written, and the cached token forgotten on a change.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mailer/oauth/oauth_tokens.h"
#include "mailer/smtp/smtp_settings.h"
#include "tests/support/test_env.h"
#include "tools/smtp_command.h"
#include "tools/smtp_oauth_command.h"

namespace {

class SmtpOAuthCommandTest : public testing_support::RegistryTest {};

TEST_F(SmtpOAuthCommandTest, ProvidersFillInTheirUrlsAndScope) {
    const std::string ms = "https://login.microsoftonline.com/contoso.example/oauth2/v2.0/";
    const struct {
        std::vector<std::string> args;
        int status;
        const char* token;  // SMTPOAuthTokenURL afterwards ("" when nothing was written)
        const char* device;
        const char* scope;
    } cases[] = {
        {{"set", "--provider", "microsoft", "--tenant", "contoso.example", "--client-id", "c",
          "--client-secret", "s"},
         0,
         "token",
         "devicecode",
         "https://outlook.office365.com/.default"},
        {{"set", "--provider", "microsoft", "--tenant", "contoso.example", "--client-id", "c"},
         0,
         "token",
         "devicecode",
         "https://outlook.office.com/SMTP.Send offline_access"},
        {{"set", "--provider", "google", "--client-id", "c", "--scope", "x"},
         0,
         "https://oauth2.googleapis.com/token",
         "https://oauth2.googleapis.com/device/code",
         "x"},
        {{"set", "--token-url", "https://id.example/token"}, 0, "https://id.example/token", "", ""},
        {{"set", "--provider", "microsoft"}, 2, "", "", ""},
        {{"set", "--provider", "microsoft", "--tenant", "a/../b"}, 2, "", "", ""},
        {{"set", "--provider", "yahoo"}, 2, "", "", ""},
        {{"set", "--token-url", "http://id.example/token"}, 2, "", "", ""},
        {{"set", "--client-id", "a\r\nb"}, 2, "", "", ""},
        {{"set", "--account", "robot", "--client-id", "c"}, 2, "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.size() > 2 ? c.args[2] : c.args[1]);
        testing_support::ScratchDir fresh;
        const std::string file = fresh / "registry.reg";
        setenv("BRISKO_REGISTRY", file.c_str(), 1);
        StoreCachedToken("old-token", 4'000'000'000);
        EXPECT_EQ(RunSmtpOAuthCommand(c.args), c.status);
        const std::string prefix = c.args.size() > 2 && c.args[2] == "microsoft" ? ms : "";
        const std::string token = ReadPlainSetting("SMTPOAuthTokenURL");
        EXPECT_EQ(token, *c.token && c.status == 0 ? prefix + c.token : "");
        const std::string device = ReadPlainSetting("SMTPOAuthDeviceURL");
        EXPECT_EQ(device, *c.device ? prefix + c.device : "");
        EXPECT_EQ(ReadPlainSetting("SMTPOAuthScope"), c.scope);
        std::time_t expiresAt = 0;
        // A change forgets the token granted for the settings of before; a refusal keeps it.
        EXPECT_EQ(CachedToken(&expiresAt), c.status == 0 ? "" : "old-token");
    }
    setenv("BRISKO_REGISTRY", registryFile_.c_str(), 1);
}

TEST_F(SmtpOAuthCommandTest, ShowSaysWhatIsStoredButNoSecret) {
    ASSERT_EQ(RunSmtpCommand({"set", "--auth", "XOAUTH2", "--tls", "starttls"}), 0);
    ASSERT_EQ(RunSmtpOAuthCommand({"set", "--token-url", "https://id.example/token", "--client-id",
                                   "c-1", "--client-secret", "SECRET-s"}),
              0);
    StoreRefreshToken("REFRESH-r");
    StoreCachedToken("ACCESS-a", 4'000'000'000);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunSmtpCommand({"show"}), 0);
    const std::string shown =
        testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
    for (const char* line : {"auth:     XOAUTH2\n", "oauth token:    https://id.example/token\n",
                             "oauth client:   c-1\n", "oauth secret:   ********\n",
                             "oauth refresh:  stored\n", "oauth cache:    a token until "}) {
        EXPECT_NE(shown.find(line), std::string::npos) << line << shown;
    }
    for (const char* secret : {"SECRET-s", "REFRESH-r", "ACCESS-a"}) {
        EXPECT_EQ(shown.find(secret), std::string::npos) << shown;
    }
}

}  // namespace
