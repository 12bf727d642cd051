// `tallyctl smtp set --server HOST --port N --auth METHOD --user U --password P --to LIST
// [--from ADDR] [--tls none|starttls|tls] [--ca-file PEM] [--retry-hours N]` and `tallyctl smtp
// show`. Only the options given are written; `--ca-file ""` clears the roots file. Errors (an
// unknown option, a method that is not one of the method texts, a TLS mode that is not one of
// the three, a port or retry window out of range, a value with a line break, a text that the shift
// would cut short) go to standard error with exit status 2. `show` warns on standard error when the
// settings hold a password in a file that other users can read.
#include "tools/smtp_command.h"

#include <cstdio>
#include <cstdlib>
#include <map>

#include "common/control_bytes.h"
#include "common/registry_value.h"
#include "mailer/sender_app.h"
#include "mailer/smtp/smtp_settings.h"
#include "platform/registry.h"
#include "tools/smtp_oauth_command.h"

namespace {

struct Option {
    const char* flag;
    const char* name;  // registry value name
    bool shifted;
};

const Option kOptions[] = {
    {"--server", layout::setting::kSmtpServer, true},
    {"--auth", layout::setting::kSmtpAuth, true},
    {"--user", layout::setting::kSmtpUser, true},
    {"--password", layout::setting::kSmtpPassword, true},
    {"--to", layout::setting::kEmailAddress, true},
    {"--from", layout::setting::kSmtpFrom, false},
    {"--port", layout::setting::kSmtpPort, false},
    {"--tls", layout::setting::kSmtpTls, false},
    {"--ca-file", layout::setting::kSmtpCaFile, false},
    {"--retry-hours", layout::setting::kSmtpRetryHours, false},
};

// The options stored as numbers, with their ranges.
struct NumberOption {
    const char* flag;
    std::uint32_t low;
    std::uint32_t high;
    const char* words;
};

const NumberOption kNumbers[] = {
    {"--port", 1, 65535, "1 to 65535"},
    {"--retry-hours", 0, 8760, "0 (no outbox) to 8760 (a year)"},
};

const NumberOption* FindNumber(const std::string& flag) {
    for (const NumberOption& n : kNumbers) {
        if (flag == n.flag) {
            return &n;
        }
    }
    return nullptr;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: tallyctl smtp set [--server HOST] [--port N] [--auth None|\"AUTH "
                 "LOGIN\"|\"AUTH PLAIN\"|\"CRAM MD5\"|NTLM|XOAUTH2|OAUTHBEARER]\n"
                 "                         [--user U] [--password P] [--to LIST] [--from ADDR]\n"
                 "                         [--tls none|starttls|tls] [--ca-file PEM|\"\"]\n"
                 "                         [--retry-hours N]\n"
                 "       tallyctl smtp show\n"
                 "       tallyctl smtp oauth set|test|login ...\n");
    return 2;
}

const Option* FindOption(const std::string& flag) {
    for (const Option& o : kOptions) {
        if (flag == o.flag) {
            return &o;
        }
    }
    return nullptr;
}

bool ParseNumber(const NumberOption& option, const std::string& text, std::uint32_t* number) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != text.npos) {
        return false;
    }
    unsigned long value = std::strtoul(text.c_str(), nullptr, 10);
    if (value < option.low || value > option.high) {
        return false;
    }
    *number = static_cast<std::uint32_t>(value);
    return true;
}

int RunSet(const std::vector<std::string>& args) {
    std::map<const Option*, std::string> values;
    for (std::size_t i = 1; i < args.size(); i += 2) {
        const Option* option = FindOption(args[i]);
        if (!option || i + 1 >= args.size()) {
            std::fprintf(stderr, "tallyctl smtp: %s '%s'\n",
                         option ? "missing value after" : "unknown option", args[i].c_str());
            return Usage();
        }
        values[option] = args[i + 1];
    }
    if (values.empty()) {
        return Usage();
    }
    // Check everything before writing anything.
    for (const auto& [option, value] : values) {
        std::string flag = option->flag;
        // Every value ends up in a protocol line or a mail header, where a line break would
        // start a line of its own.
        if (value.find_first_of("\r\n") != std::string::npos) {
            std::fprintf(stderr, "tallyctl smtp: %s takes no line break (CR or LF)\n",
                         option->flag);
            return 2;
        }
        if (const NumberOption* number = FindNumber(flag)) {
            std::uint32_t parsed = 0;
            if (!ParseNumber(*number, value, &parsed)) {
                std::fprintf(stderr, "tallyctl smtp: %s wants %s, not '%s'\n", number->flag,
                             number->words, value.c_str());
                return 2;
            }
        } else if (TlsMode mode; flag == "--tls" && !TlsModeFromSetting(value, &mode)) {
            std::fprintf(stderr, "tallyctl smtp: --tls wants none, starttls or tls, not '%s'\n",
                         value.c_str());
            return 2;
        } else if (flag == "--auth" && !IsAuthSettingText(value)) {
            std::fprintf(stderr,
                         "tallyctl smtp: --auth wants None, \"AUTH LOGIN\", \"AUTH PLAIN\", "
                         "\"CRAM MD5\", NTLM, XOAUTH2 or OAUTHBEARER, not '%s'\n",
                         value.c_str());
            return 2;
        }
        std::string stored = option->shifted ? ShiftSetting(value) : value;
        if (stored.find('\0') != std::string::npos) {
            std::fprintf(stderr, "tallyctl smtp: %s holds a byte that cannot be stored\n",
                         option->flag);
            return 2;
        }
    }
    for (const auto& [option, value] : values) {
        if (const NumberOption* number = FindNumber(option->flag)) {
            std::uint32_t parsed = 0;
            ParseNumber(*number, value, &parsed);
            RegistryDword setting(layout::SettingPath(option->name), 0);
            setting.Set(parsed);
        } else if (std::string(option->flag) == "--tls") {
            TlsMode mode = TlsMode::None;
            TlsModeFromSetting(value, &mode);
            RegistryString setting(layout::SettingPath(option->name), std::string());
            setting.Set(TlsSettingText(mode));
        } else {
            RegistryString setting(layout::SettingPath(option->name), std::string());
            setting.Set(option->shifted ? ShiftSetting(value) : value);
        }
    }
    return 0;
}

// The sender Postvane will use, and where it comes from when SMTPFrom is not set.
std::string SenderLine(const std::string& from, const std::string& user, const std::string& to) {
    if (!from.empty()) {
        return from;
    }
    CSMTPMessage recipients;
    CSenderApp::BuildMessage(recipients, to, "");
    const std::string chosen = CSenderApp::ChooseSender(from, user, recipients).address;
    if (chosen == kPlaceholderFrom) {
        return chosen +
               " (placeholder: neither SMTPFrom, a user name that is a mail address nor a "
               "recipient is set)";
    }
    return chosen + (chosen == user ? " (SMTPFrom not set: the user name)"
                                    : " (SMTPFrom not set: the first recipient)");
}

// The shift hides nothing: a settings file holding a secret must be its owner's alone.
void WarnOfReadableSecrets() {
    bool holdsSecret = false;
    for (const char* name : layout::setting::kSecretSettings) {
        holdsSecret = holdsSecret || !ReadPlainSetting(name).empty();
    }
    std::string path;
    unsigned mode = 0;
    if (holdsSecret && platform::RegistryFileReadableByOthers(&path, &mode)) {
        std::fprintf(stderr,
                     "tallyctl smtp: warning: %s holds a password and other users can read it "
                     "(mode %04o); make it readable by its owner only: chmod 600 %s\n",
                     path.c_str(), mode, path.c_str());
    }
}

int RunShow() {
    // What was stored is shown with its control bytes escaped: a value written by other
    // means than `set` could otherwise act on the terminal.
    std::string server = EscapeControlBytes(ReadShiftedSetting(layout::setting::kSmtpServer));
    std::uint32_t port = ReadDwordSetting(layout::setting::kSmtpPort);
    std::string auth = ReadShiftedSetting(layout::setting::kSmtpAuth);
    std::string user = ReadShiftedSetting(layout::setting::kSmtpUser);
    std::string password = ReadShiftedSetting(layout::setting::kSmtpPassword);
    std::string to = ReadShiftedSetting(layout::setting::kEmailAddress);
    std::string from = ReadPlainSetting(layout::setting::kSmtpFrom);
    std::string files = EscapeControlBytes(ReadPlainSetting(layout::setting::kToSendFile));
    std::string tlsText = ReadPlainSetting(layout::setting::kSmtpTls);
    std::string caFile = EscapeControlBytes(ReadPlainSetting(layout::setting::kSmtpCaFile));

    std::string method = AuthSettingText(AuthMethodFromSetting(auth));
    if (auth != method) {
        method += auth.empty() ? " (not set)"
                               : " ('" + EscapeControlBytes(auth) + "' is not a method name)";
    }
    std::printf("server:   %s\n", server.c_str());
    std::printf("port:     %u\n", static_cast<unsigned>(port));
    std::printf("auth:     %s\n", method.c_str());
    std::printf("user:     %s\n", EscapeControlBytes(user).c_str());
    std::printf("password: %s\n", password.empty() ? "(not set)" : "********");
    std::printf("to:       %s\n", EscapeControlBytes(to).c_str());
    std::printf("from:     %s\n", EscapeControlBytes(SenderLine(from, user, to)).c_str());
    std::printf("files:    %s\n", files.c_str());
    TlsMode mode = TlsMode::None;
    std::string tls =
        TlsModeFromSetting(tlsText, &mode)
            ? std::string(TlsSettingText(mode)) + (tlsText.empty() ? " (not set)" : "")
            : "'" + EscapeControlBytes(tlsText) +
                  "' (not none, starttls or tls: Postvane refuses to send)";
    std::printf("tls:      %s\n", tls.c_str());
    std::printf("ca file:  %s\n",
                caFile.empty() ? "(not set: the system's roots only)" : caFile.c_str());
    RegistryDword retry(layout::SettingPath(layout::setting::kSmtpRetryHours),
                        layout::setting::kDefaultSmtpRetryHours);
    const std::uint32_t retryHours = retry.Get();
    const bool retrySet = retry.Loaded();
    std::printf("retry:    %s\n", retryHours == 0
                                      ? "off (a mail that cannot be sent is not kept)"
                                      : (std::to_string(retryHours) + " hours in the outbox" +
                                         (retrySet ? "" : " (not set)"))
                                            .c_str());
    if (IsOAuthMethod(AuthMethodFromSetting(auth))) {
        PrintOAuthSettings(stdout);
    }
    WarnOfReadableSecrets();
    return 0;
}

}  // namespace

int RunSmtpCommand(const std::vector<std::string>& args) {
    if (args.empty()) {
        return Usage();
    }
    if (args[0] == "set") {
        return RunSet(args);
    }
    if (args[0] == "show" && args.size() == 1) {
        return RunShow();
    }
    if (args[0] == "oauth") {
        return RunSmtpOAuthCommand(std::vector<std::string>(args.begin() + 1, args.end()));
    }
    return Usage();
}
