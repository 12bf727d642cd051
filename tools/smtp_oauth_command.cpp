// `tallyctl smtp oauth ...` (see the header): provider presets, the token test and the device
// login, over the same token code Postvane uses.
#include "tools/smtp_oauth_command.h"

#include <ctime>
#include <map>

#include "common/control_bytes.h"
#include "common/layout.h"
#include "common/registry_value.h"
#include "mailer/oauth/device_login.h"
#include "mailer/oauth/oauth_tokens.h"
#include "mailer/smtp/smtp_exception.h"
#include "mailer/smtp/smtp_failures.h"
#include "mailer/smtp/smtp_settings.h"
#include "platform/clock.h"
#include "platform/pacer.h"
#include "platform/secrets.h"

namespace {

namespace setting = layout::setting;

constexpr char kMicrosoftBase[] = "https://login.microsoftonline.com/";
constexpr char kMicrosoftAppScope[] = "https://outlook.office365.com/.default";
constexpr char kMicrosoftUserScope[] = "https://outlook.office.com/SMTP.Send offline_access";
constexpr char kGoogleTokenUrl[] = "https://oauth2.googleapis.com/token";
constexpr char kGoogleDeviceUrl[] = "https://oauth2.googleapis.com/device/code";
constexpr char kGoogleScope[] = "https://mail.google.com/";

struct Flag {
    const char* flag;
    const char* name;  // the value it writes, null for the ones that only steer
    bool secret;
};

const Flag kFlags[] = {
    {"--provider", nullptr, false},
    {"--account", nullptr, false},
    {"--tenant", setting::kSmtpOAuthTenant, false},
    {"--client-id", setting::kSmtpOAuthClientId, false},
    {"--client-secret", setting::kSmtpOAuthClientSecret, true},
    {"--scope", setting::kSmtpOAuthScope, false},
    {"--token-url", setting::kSmtpOAuthTokenUrl, false},
    {"--device-url", setting::kSmtpOAuthDeviceUrl, false},
};

int Usage() {
    std::fprintf(
        stderr,
        "usage: tallyctl smtp oauth set [--provider microsoft|google|custom] [--tenant T]\n"
        "                               [--account app|user] [--client-id ID]\n"
        "                               [--client-secret S] [--scope S]\n"
        "                               [--token-url URL] [--device-url URL]\n"
        "       tallyctl smtp oauth test\n"
        "       tallyctl smtp oauth login\n");
    return 2;
}

int Refuse(const std::string& why) {
    std::fprintf(stderr, "tallyctl smtp oauth: %s\n", why.c_str());
    return 2;
}

const Flag* FindFlag(const std::string& text) {
    for (const Flag& flag : kFlags) {
        if (text == flag.flag) {
            return &flag;
        }
    }
    return nullptr;
}

// Tenant names and ids go into a URL path: letters, digits, '-', '.' only.
bool IsTenant(const std::string& text) {
    return !text.empty() && text.size() <= 256 &&
           text.find_first_not_of(
               "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
               "0123456789-.") == std::string::npos;
}

// Fills in a provider's URLs and scope where the command line left them out.
int ApplyProvider(std::map<std::string, std::string>& values) {
    const std::string provider = values.count("--provider") ? values["--provider"] : "custom";
    std::string account = values.count("--account") ? values["--account"] : "";
    if (account.empty()) {
        account = values.count("--client-secret") ? "app" : "user";
    }
    if (account != "app" && account != "user") {
        return Refuse("--account wants app or user, not '" + EscapeControlBytes(account) + "'");
    }
    std::string token, device, scope;
    if (provider == "microsoft") {
        std::string tenant = values.count("--tenant") ? values["--tenant"]
                                                      : ReadPlainSetting(setting::kSmtpOAuthTenant);
        if (!IsTenant(tenant)) {
            return Refuse("--provider microsoft wants --tenant with the directory's name or id");
        }
        const std::string base = kMicrosoftBase + tenant + "/oauth2/v2.0/";
        token = base + "token";
        device = base + "devicecode";
        scope = account == "app" ? kMicrosoftAppScope : kMicrosoftUserScope;
    } else if (provider == "google") {
        token = kGoogleTokenUrl;
        device = kGoogleDeviceUrl;
        scope = kGoogleScope;
    } else if (provider != "custom") {
        return Refuse("--provider wants microsoft, google or custom, not '" +
                      EscapeControlBytes(provider) + "'");
    }
    for (const auto& [flag, preset] : {std::pair<const char*, std::string>{"--token-url", token},
                                       {"--device-url", device},
                                       {"--scope", scope}}) {
        if (!preset.empty() && !values.count(flag)) {
            values[flag] = preset;
        }
    }
    return 0;
}

int RunSet(const std::vector<std::string>& args) {
    std::map<std::string, std::string> values;
    for (std::size_t i = 1; i < args.size(); i += 2) {
        if (!FindFlag(args[i]) || i + 1 >= args.size()) {
            std::fprintf(stderr, "tallyctl smtp oauth: %s '%s'\n",
                         FindFlag(args[i]) ? "missing value after" : "unknown option",
                         EscapeControlBytes(args[i]).c_str());
            return Usage();
        }
        values[args[i]] = args[i + 1];
    }
    if (values.empty()) {
        return Usage();
    }
    if (int status = ApplyProvider(values)) {
        return status;
    }
    // Check everything before writing anything.
    for (const auto& [flag, value] : values) {
        if (value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
            return Refuse(flag + " takes no line break or zero byte");
        }
        if ((flag == "--token-url" || flag == "--device-url") && !value.empty() &&
            value.rfind("https://", 0) != 0) {
            return Refuse(flag + " wants an https URL, not '" + EscapeControlBytes(value) + "'");
        }
    }
    for (const auto& [flag, value] : values) {
        const Flag* known = FindFlag(flag);
        if (!known->name) {
            continue;
        }
        if (known->secret) {
            if (platform::WriteSecret(layout::kSettingsKey, known->name, value) != 0) {
                return Refuse(std::string(known->name) + " cannot be stored");
            }
        } else {
            RegistryString(layout::SettingPath(known->name), std::string()).Set(value);
        }
    }
    ForgetCachedToken();  // it was granted for the settings of before
    return 0;
}

// Local time, as the administrator's clock shows it.
std::string When(std::time_t when) {
    const platform::LocalDate date = platform::BreakDown(when);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", date.year, date.month,
                  date.day, date.hour, date.minute, date.second);
    return text;
}

int Fail(const CSMTPException& failure) {
    const SenderVerdict verdict = JudgeFailure(failure, SenderPhase::TokenEndpoint);
    std::fprintf(stderr, "tallyctl smtp oauth: %s\n", verdict.line.c_str());
    return 1;
}

int RunTest() {
    platform::SystemClock clock;
    try {
        OAuthTokens tokens(ReadOAuthSettings(), clock, platform::HttpPostForm);
        tokens.Fresh();
        const TokenGrant& grant = tokens.LastGrant();
        std::printf("token granted, expires %s (in %lld s)\n", When(grant.expiresAt).c_str(),
                    static_cast<long long>(grant.expiresAt - clock.Now()));
        std::printf("scope: %s\n", grant.scope.empty() ? "(not said)" : grant.scope.c_str());
    } catch (const CSMTPException& failure) {
        return Fail(failure);
    }
    return 0;
}

int RunLogin() {
    platform::SystemClock clock;
    platform::StoppablePacer pacer;
    try {
        TokenEndpoint endpoint(ReadOAuthSettings(), platform::HttpPostForm);
        const TokenGrant grant =
            RunDeviceLogin(endpoint, pacer, clock.Now(), [](const DevicePrompt& prompt) {
                std::printf("To sign in, open %s and enter the code %s (within %ld minutes).\n",
                            prompt.verificationUrl.c_str(), prompt.userCode.c_str(),
                            (prompt.expiresIn + 59) / 60);
                std::printf("Waiting for the sign-in...\n");
                std::fflush(stdout);
            });
        if (grant.refreshToken.empty()) {
            std::fprintf(stderr,
                         "tallyctl smtp oauth: the sign-in gave no refresh token (does the scope "
                         "ask for offline access?)\n");
            return 1;
        }
        StoreRefreshToken(grant.refreshToken);
        StoreCachedToken(grant.accessToken, grant.expiresAt);
        std::printf("Signed in: the refresh token is stored; Postvane will use it.\n");
    } catch (const CSMTPException& failure) {
        return Fail(failure);
    }
    return 0;
}

bool HasSecret(const char* name) {
    std::string value;
    return platform::ReadSecret(layout::kSettingsKey, name, &value) == 0 && !value.empty();
}

}  // namespace

void PrintOAuthSettings(std::FILE* out) {
    auto line = [out](const char* label, const char* name) {
        const std::string value = EscapeControlBytes(ReadPlainSetting(name));
        std::fprintf(out, "%-15s %s\n", label, value.empty() ? "(not set)" : value.c_str());
    };
    line("oauth token:", setting::kSmtpOAuthTokenUrl);
    line("oauth device:", setting::kSmtpOAuthDeviceUrl);
    line("oauth client:", setting::kSmtpOAuthClientId);
    line("oauth scope:", setting::kSmtpOAuthScope);
    line("oauth tenant:", setting::kSmtpOAuthTenant);
    std::fprintf(out, "%-15s %s\n", "oauth secret:",
                 HasSecret(setting::kSmtpOAuthClientSecret) ? "********" : "(not set)");
    std::fprintf(out, "%-15s %s\n", "oauth refresh:",
                 HasSecret(setting::kSmtpOAuthRefreshToken) ? "stored" : "(none)");
    std::time_t expiresAt = 0;
    const bool cached = !CachedToken(&expiresAt).empty();
    std::fprintf(out, "%-15s %s\n",
                 "oauth cache:", cached ? ("a token until " + When(expiresAt)).c_str() : "(none)");
}

int RunSmtpOAuthCommand(const std::vector<std::string>& args) {
    if (args.empty()) {
        return Usage();
    }
    if (args[0] == "set") {
        return RunSet(args);
    }
    if (args[0] == "test" && args.size() == 1) {
        return RunTest();
    }
    if (args[0] == "login" && args.size() == 1) {
        return RunLogin();
    }
    return Usage();
}
