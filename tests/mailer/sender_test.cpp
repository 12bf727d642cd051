// Postvane's whole run (CSenderApp) against the scripted loopback server with settings in a
// private registry: the mail built from the settings, the From address, and the exit status
// and failure line of each phase; plus the shifted form and the method names.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "common/base64.h"
#include "mailer/report_mail_text.h"
#include "mailer/sender_app.h"
#include "mailer/smtp/smtp_settings.h"
#include "platform/clock.h"
#include "tests/support/scripted_smtp_server.h"
#include "tests/support/test_env.h"

using testing_support::ScriptedSmtpServer;
using testing_support::SetRegDword;
using testing_support::SetRegString;
using Lines = std::vector<std::string>;

namespace {

class SenderTest : public testing_support::RegistryTest {
  protected:
    void Configure(std::uint16_t port, const std::string& auth, const std::string& to,
                   const std::string& files) {
        SetRegString("SMTPSRV", ShiftSetting("127.0.0.1"));
        SetRegDword("SMTPPORT", port);
        SetRegString("SMTPAUTH", ShiftSetting(auth));
        SetRegString("SMTPEmailAddress4Server", ShiftSetting("bob"));
        SetRegString("SMTPPass4MailServer", ShiftSetting("pw"));
        SetRegString("EmailAddress", ShiftSetting(to));
        SetRegString("ToSendFile", files);
        // These runs are the sender's own, without the outbox (outbox_run_test.cpp has it).
        SetRegDword("SMTPRetryHours", 0);
    }

    int RunSender(std::uint32_t replyTimeoutMs = 3000) {
        CSenderApp app;
        app.SetReplyTimeout(replyTimeoutMs);
        app.SetHeloHost("client.test");
        app.SetClock(&clock);
        app.SetReporter([this](const std::string& line) { reported.push_back(line); });
        EXPECT_FALSE(app.InitInstance());
        return app.ExitStatus();
    }

    // A server that takes one mail without authentication.
    static void Accepting(ScriptedSmtpServer& server, int recipients) {
        server.Say("220 hi\r\n").Reply("250 hello\r\n").Reply("250 sender ok\r\n");
        for (int i = 0; i < recipients; ++i) {
            server.Reply("250 rcpt ok\r\n");
        }
        server.Reply("354 go\r\n").HearData().Say("250 queued\r\n").Reply("221 bye\r\n");
        server.Start();
    }

    std::vector<std::string> reported;
    // Friday 31 July 2026, 18:00: the report hour of a day with daily and weekly reports.
    const platform::FixedClock clock{platform::LocalTimeOf(2026, 7, 31, 18)};
};

}  // namespace

TEST_F(SenderTest, SendsTheReportsListedInToSendFile) {
    testing_support::WriteAll(scratch_ / "week.xml",
                              "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<log/>");
    testing_support::WriteAll(scratch_ / "day_07_31_2026.xml", "<b>second</b>");
    ScriptedSmtpServer server;
    Configure(server.Port(), "None", "Desk <desk@test>; other@test",
              " " + (scratch_ / "week.xml") + ",, " + (scratch_ / "day_07_31_2026.xml") + " ;");
    Accepting(server, 2);
    EXPECT_EQ(RunSender(), kSenderSent);
    EXPECT_EQ(reported, std::vector<std::string>{"Postvane: the report mail was sent"});
    Lines heard = server.Finish();
    ASSERT_EQ(heard.size(), 7u);
    EXPECT_EQ(heard[0], "HELO client.test");
    // No SMTPFrom and a user name that is no mail address: the first recipient sends.
    EXPECT_EQ(heard[1], "MAIL FROM:<desk@test>");
    EXPECT_EQ(heard[2], "RCPT TO:<desk@test>");
    EXPECT_EQ(heard[3], "RCPT TO:<other@test>");
    EXPECT_EQ(heard[6], "QUIT");
    std::string data = server.Data();
    // The words are the run's: its date, the reports by their names.
    EXPECT_NE(data.find("Subject: Email Reports from Brisko Web Proxy - 31/07/2026 daily, "
                        "weekly\r\n"),
              std::string::npos)
        << data;
    EXPECT_NE(data.find("\r\nDate: Fri, 31 Jul 2026 18:00:00 "), std::string::npos);
    const std::string text =
        ComposeReportMail({"week.xml", "day_07_31_2026.xml"}, 31, 7, 2026).body;
    std::string wire;
    for (char c : text) {
        wire += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    EXPECT_NE(data.find("quoted-printable\r\n\r\n" + wire), std::string::npos) << data;
    EXPECT_NE(data.find("To: Desk <desk@test>,other@test\r\n"), std::string::npos);
    EXPECT_NE(data.find("X-Mailer: CQuillSMTPConnection v2.49\r\n"), std::string::npos);
    EXPECT_NE(data.find("Content-Type: application/xml; charset=utf-8; name=\"week.xml\"\r\n"),
              std::string::npos);
    EXPECT_NE(data.find("Content-Type: application/xml; name=\"day_07_31_2026.xml\"\r\n"),
              std::string::npos);
    EXPECT_NE(data.find("filename=\"week.xml\""), std::string::npos);
    EXPECT_NE(data.find(Base64Encode("<b>second</b>") + "\r\n"), std::string::npos);
}

TEST_F(SenderTest, WithoutReportsSendsAPlainMailFromTheConfiguredAddress) {
    ScriptedSmtpServer server;
    Configure(server.Port(), "None", "desk@test", "");
    SetRegString("SMTPFrom", "tallyvane@example.test");
    Accepting(server, 1);
    EXPECT_EQ(RunSender(), kSenderSent);
    Lines heard = server.Finish();
    ASSERT_GE(heard.size(), 2u);
    EXPECT_EQ(heard[1], "MAIL FROM:<tallyvane@example.test>");
    std::string data = server.Data();
    EXPECT_NE(data.find("From: tallyvane@example.test\r\n"), std::string::npos);
    EXPECT_NE(data.find("Subject: Email Reports from Brisko Web Proxy - 31/07/2026 no report\r\n"),
              std::string::npos);
    EXPECT_NE(
        data.find("MIME-Version: 1.0\r\nContent-Type: text/plain;\r\n\tcharset=iso-8859-1\r\n"),
        std::string::npos);
    EXPECT_NE(data.find("\r\n\r\nThe Brisko Web Proxy wrote no report this time (Friday "
                        "31/07/2026).\r\n"),
              std::string::npos)
        << data;
}

TEST(SenderChoice, SenderWhenSMTPFromIsAbsent) {
    const struct {
        const char *from, *user, *recipients, *address, *header;
    } cases[] = {
        {"a@x.test", "u@y.test", "r@z.test", "a@x.test", "a@x.test"},
        {"Ann <a@x.test>", "u@y.test", "r@z.test", "a@x.test", "Ann <a@x.test>"},
        {"  ", "u@y.test", "r@z.test", "u@y.test", "u@y.test"},
        {"", "u@y.test", "", "u@y.test", "u@y.test"},
        {"", "CORP\\u", "Desk <r@z.test>, s@z.test", "r@z.test", "r@z.test"},
        {"", "bob", "r@z.test", "r@z.test", "r@z.test"},
        {"", "u @y.test", "r@z.test", "r@z.test", "r@z.test"},
        {"", "u@y@z", "r@z.test", "r@z.test", "r@z.test"},
        {"", "@y.test", "r@z.test", "r@z.test", "r@z.test"},
        {"", "u@", "r@z.test", "r@z.test", "r@z.test"},
        {"", "", "", kPlaceholderFrom, kPlaceholderFrom},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.from) + " | " + c.user + " | " + c.recipients);
        CSMTPMessage message;
        message.AddRecipients(c.recipients);
        const CSMTPAddress sender = CSenderApp::ChooseSender(c.from, c.user, message);
        EXPECT_EQ(sender.address, c.address);
        EXPECT_EQ(sender.DisplayForm(true, "iso-8859-1"), c.header);
    }
}

TEST_F(SenderTest, EachFailingPhaseHasItsExitStatusAndOneLine) {
    struct Case {
        const char* name;
        const char* auth;
        std::vector<std::string> replies;  // greeting first; QUIT's 221 is added
        int status;
        const char* code;
    };
    const Case cases[] = {
        {"greeting", "None", {"554 busy\r\n"}, kSenderGreeting, "code 0x80040200"},
        {"authentication",
         "AUTH LOGIN",
         {"220 hi\r\n", "250 ok\r\n", "334 VXNlcm5hbWU6\r\n", "334 UGFzc3dvcmQ6\r\n",
          "535 5.7.8 no\r\n"},
         kSenderAuthentication,
         "code 0x80040211"},
        {"transfer",
         "None",
         {"220 hi\r\n", "250 ok\r\n", "250 ok\r\n", "550 no such user\r\n"},
         kSenderTransfer,
         "code 0x8004020C"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reported.clear();
        ScriptedSmtpServer server;
        Configure(server.Port(), c.auth, "desk@test", "");
        server.Say(c.replies[0]);
        for (std::size_t i = 1; i < c.replies.size(); ++i) {
            server.Reply(c.replies[i]);
        }
        server.Reply("221 bye\r\n");
        server.Start();
        EXPECT_EQ(RunSender(), c.status);
        ASSERT_EQ(reported.size(), 1u);
        EXPECT_NE(reported[0].find(c.code), std::string::npos) << reported[0];
        std::string reply = c.replies.back().substr(0, c.replies.back().size() - 2);
        EXPECT_NE(reported[0].find("last reply: " + reply), std::string::npos) << reported[0];
        EXPECT_EQ(server.Finish().back(), "QUIT");
    }
}

TEST_F(SenderTest, ATricklingServerEndsTheRunWithinTheReplyTimeout) {
    ScriptedSmtpServer server;
    Configure(server.Port(), "None", "desk@test", "");
    server.Trickle("220 " + std::string(2000, 'x') + "\r\n", 20).Hear();
    server.Start();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunSender(500), kSenderGreeting);
    // A hang guard: 500 ms for the greeting and 500 ms for QUIT's reply when idle; the
    // trickle would take 40 s.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_NE(reported[0].find("code 0x80040200, last reply: 220 xx"), std::string::npos)
        << reported[0];
    server.Finish();
}

// Nothing usable in EmailAddress: the mail is not started at all, and the run says why.
TEST_F(SenderTest, NoUsableRecipientEndsTheRunBeforeTheMail) {
    for (const char* to : {"", " ; , ", "Bad\x01Name <a@test>"}) {
        SCOPED_TRACE(to);
        reported.clear();
        ScriptedSmtpServer server;
        Configure(server.Port(), "None", to, "");
        server.Say("220 hi\r\n").Reply("250 hello\r\n").Reply("221 bye\r\n");
        server.Start();
        EXPECT_EQ(RunSender(), kSenderBuild);
        ASSERT_EQ(reported.size(), 1u);
        EXPECT_NE(reported[0].find("building the report mail failed: no recipient"),
                  std::string::npos)
            << reported[0];
        EXPECT_EQ(server.Finish(), (Lines{"HELO client.test", "QUIT"}));
    }
}

TEST_F(SenderTest, MissingPortFailsToConnect) {
    Configure(0, "None", "desk@test", "");
    EXPECT_EQ(RunSender(), kSenderConnect);
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_NE(reported[0].find("code 0x8007"), std::string::npos) << reported[0];
}

TEST(SenderSettings, ShiftIsOneByteWithWrapAround) {
    EXPECT_EQ(ShiftSetting("abc"), "fgh");
    EXPECT_EQ(UnshiftSetting("fgh"), "abc");
    EXPECT_EQ(UnshiftSetting("\x02"), "\xFD");
    std::string all;
    for (int i = 0; i < 256; ++i) {
        all += static_cast<char>(i);
    }
    EXPECT_EQ(UnshiftSetting(ShiftSetting(all)), all);
}

TEST(SenderSettings, MethodNamesMatchExactlyAndDefaultToLogin) {
    const std::pair<const char*, AuthMethod> cases[] = {
        {"None", AuthNone},        {"CRAM MD5", AuthCramMD5}, {"AUTH LOGIN", AuthLogin},
        {"AUTH PLAIN", AuthPlain}, {"NTLM", AuthNtlm},        {"cram md5", AuthLogin},
        {"", AuthLogin},           {"none", AuthLogin},       {"NTLM ", AuthLogin},
    };
    for (const auto& [text, method] : cases) {
        EXPECT_EQ(AuthMethodFromSetting(text), method) << "'" << text << "'";
    }
}
