// `tallyctl smtp`: set stores the five secret values shifted and the others plain, refuses a
// bad argument before anything is written, and show prints the sender Postvane will use and
// warns of a password that other users can read.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "mailer/smtp/smtp_settings.h"
#include "tests/support/test_env.h"
#include "tools/report_command.h"
#include "tools/smtp_command.h"

namespace {

class SmtpCommandTest : public testing_support::RegistryTest {};

TEST_F(SmtpCommandTest, StoresModesAndRefusesOthers) {
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* tls;     // SMTPTLS afterwards, null: absent
        const char* caFile;  // SMTPCAFile afterwards, null: absent
    };
    const Case cases[] = {
        {{"set", "--tls", " StartTLS "}, 0, "starttls", nullptr},
        {{"set", "--tls", "TLS", "--ca-file", "/etc/company-ca.pem"},
         0,
         "tls",
         "/etc/company-ca.pem"},
        {{"set", "--ca-file", ""}, 0, "tls", ""},
        {{"set", "--tls", "none"}, 0, "none", ""},
        // Nothing is written when one value is wrong, not even the good ones.
        {{"set", "--tls", "ssl", "--ca-file", "/x.pem"}, 2, "none", ""},
        {{"set", "--tls"}, 2, "none", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.size() > 2 ? c.args[2] : c.args[1]);
        EXPECT_EQ(RunSmtpCommand(c.args), c.status);
        std::string value;
        EXPECT_EQ(testing_support::GetRegString("SMTPTLS", &value), c.tls != nullptr);
        if (c.tls) {
            EXPECT_EQ(value, c.tls);
        }
        EXPECT_EQ(testing_support::GetRegString("SMTPCAFile", &value), c.caFile != nullptr);
        if (c.caFile) {
            EXPECT_EQ(value, c.caFile);
        }
    }
}

TEST_F(SmtpCommandTest, ShiftsTheSecretValuesOnly) {
    ASSERT_EQ(RunSmtpCommand({"set", "--server", "mail.example.com", "--auth", "AUTH LOGIN",
                              "--user", "reporter", "--password", "p\xFD", "--to", "a@example.com",
                              "--from", "Reports <r@example.com>", "--port", "587"}),
              0);
    const struct {
        const char* name;
        std::string stored;
    } expected[] = {
        {"SMTPSRV", ShiftSetting("mail.example.com")},
        {"SMTPAUTH", "FZYM%QTLNS"},  // "AUTH LOGIN" raised by 5
        {"SMTPEmailAddress4Server", ShiftSetting("reporter")},
        {"SMTPPass4MailServer", std::string("u\x02")},  // 0xFD wraps round to 0x02
        {"EmailAddress", ShiftSetting("a@example.com")},
        {"SMTPFrom", "Reports <r@example.com>"},
    };
    for (const auto& e : expected) {
        SCOPED_TRACE(e.name);
        std::string value;
        ASSERT_TRUE(testing_support::GetRegString(e.name, &value));
        EXPECT_EQ(value, e.stored);
    }
    std::uint32_t port = 0;
    ASSERT_TRUE(testing_support::GetRegDword("SMTPPORT", &port));
    EXPECT_EQ(port, 587u);
}

TEST_F(SmtpCommandTest, RefusesBadArgumentsBeforeWritingAnything) {
    const std::vector<std::vector<std::string>> refused = {
        {"set"},
        {"set", "--server"},
        {"set", "--colour", "red"},
        {"set", "--server", "a", "--port", "0"},
        {"set", "--server", "a", "--port", "65536"},
        {"set", "--server", "a", "--port", "25x"},
        {"set", "--server", "a", "--retry-hours", "8761"},
        {"set", "--server", "a", "--retry-hours", "-1"},
        {"set", "--server", "a", "--auth", "AUTH XOAUTH2"},
        {"set", "--server", "a", "--auth", "auth login"},         // method texts are exact
        {"set", "--server", "a", "--user", std::string("\xFB")},  // would be stored as NUL
        // A line break would start a protocol line or a header of its own.
        {"set", "--server", "a", "--from", "r@example.com\r\nRCPT TO:<x@evil.test>"},
        {"set", "--server", "a", "--password", "p\nq"},
        {"set", "--server", "a", "--to", "a@example.com\r"},
        {"frobnicate"},
    };
    for (const auto& args : refused) {
        SCOPED_TRACE(args.back());
        EXPECT_EQ(RunSmtpCommand(args), 2);
        std::string value;
        EXPECT_FALSE(testing_support::GetRegString("SMTPSRV", &value));
    }
}

TEST_F(SmtpCommandTest, ShowPrintsWhatPostvaneWillUse) {
    // Each set adds to the ones before it.
    const struct {
        std::vector<std::string> args;
        const char* line;
    } cases[] = {
        {{"set", "--server", "a"},
         "from:     reports@postvane.invalid (placeholder: neither SMTPFrom, a user name that is "
         "a mail address nor a recipient is set)"},
        {{"set", "--server", "a"}, "retry:    24 hours in the outbox (not set)"},
        {{"set", "--to", "admin@example.com,ops@example.com"},
         "from:     admin@example.com (SMTPFrom not set: the first recipient)"},
        {{"set", "--user", "reporter@example.com"},
         "from:     reporter@example.com (SMTPFrom not set: the user name)"},
        {{"set", "--from", "Reports <r@example.com>"}, "from:     Reports <r@example.com>"},
        {{"set", "--retry-hours", "48"}, "retry:    48 hours in the outbox"},
        {{"set", "--retry-hours", "0"}, "retry:    off (a mail that cannot be sent is not kept)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        ASSERT_EQ(RunSmtpCommand(c.args), 0);
        testing::internal::CaptureStdout();
        EXPECT_EQ(RunSmtpCommand({"show"}), 0);
        const std::string shown = testing::internal::GetCapturedStdout();
        EXPECT_NE(shown.find(std::string(c.line) + "\n"), std::string::npos) << shown;
    }
    std::uint32_t hours = 1;
    ASSERT_TRUE(testing_support::GetRegDword("SMTPRetryHours", &hours));
    EXPECT_EQ(hours, 0u);
}

TEST_F(SmtpCommandTest, ShowWarnsOfAPasswordOtherUsersCanRead) {
    const struct {
        const char* what;
        const char* password;  // null: none set
        mode_t mode;
        bool warns;
    } cases[] = {
        {"no password, readable by all", nullptr, 0644, false},
        {"password, readable by all", "secret", 0644, true},
        {"password, readable by the group", "secret", 0640, true},
        {"password, owner only", "secret", 0600, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testing_support::SetRegString("SMTPSRV", ShiftSetting("mail.example.com"));
        if (c.password != nullptr) {
            ASSERT_EQ(RunSmtpCommand({"set", "--password", c.password}), 0);
        }
        ASSERT_EQ(chmod(registryFile_.c_str(), c.mode), 0);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(RunSmtpCommand({"show"}), 0);
        testing::internal::GetCapturedStdout();
        const std::string warned = testing::internal::GetCapturedStderr();
        EXPECT_EQ(warned.find(registryFile_ + " holds a password and other users can read it") !=
                      std::string::npos,
                  c.warns)
            << warned;
    }
}

// A value stored by other means than `set` is shown with its control bytes escaped, by both
// commands that show settings.
TEST_F(SmtpCommandTest, ShowEscapesStoredControlBytes) {
    const std::string hostile = "x\x1b[2J\r\nfake: line\x07";
    const std::string escaped = "x\\x1B[2J\\x0D\\x0Afake: line\\x07";
    const struct {
        const char* value;
        bool shifted;
        std::function<int()> show;
    } cases[] = {
        {"SMTPSRV", true, [] { return RunSmtpCommand({"show"}); }},
        {"SMTPFrom", false, [] { return RunSmtpCommand({"show"}); }},
        {"SMTPCAFile", false, [] { return RunSmtpCommand({"show"}); }},
        {"ReportStyleURL", false, [] { return RunReportCommand({"show"}); }},
        {"ReportFormat", false, [] { return RunReportCommand({"show"}); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        testing_support::SetRegString(c.value, c.shifted ? ShiftSetting(hostile) : hostile);
        testing::internal::CaptureStdout();
        EXPECT_EQ(c.show(), 0);
        const std::string shown = testing::internal::GetCapturedStdout();
        EXPECT_NE(shown.find(escaped), std::string::npos) << shown;
        EXPECT_EQ(shown.find('\x1b'), std::string::npos);
        EXPECT_EQ(shown.find('\r'), std::string::npos);
    }
}

}  // namespace
