// Postvane's mail-file run: a whole run against the scripted loopback
// server (the file's subject and text with the configured settings, no attachment, 8-bit text
// quoted-printable, the file gone once sent), and files it must refuse without a connection.
#include "mailer/alert_mail.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mailer/sender_app.h"
#include "mailer/smtp/smtp_settings.h"
#include "platform/files.h"
#include "tests/support/scripted_smtp_server.h"
#include "tests/support/test_env.h"

using testing_support::ScriptedSmtpServer;
using testing_support::SetRegDword;
using testing_support::SetRegString;

namespace {

class MailFileRunTest : public testing_support::RegistryTest {
  protected:
    int Run(const std::string& file, std::uint16_t port) {
        SetRegString("SMTPSRV", ShiftSetting("127.0.0.1"));
        SetRegDword("SMTPPORT", port);
        SetRegString("SMTPAUTH", ShiftSetting("None"));
        SetRegString("EmailAddress", ShiftSetting("desk@test"));
        // Report files waiting for the report mail are not the alert's business.
        SetRegString("ToSendFile", scratch_ / "week.xml");
        testing_support::WriteAll(scratch_ / "week.xml", "<log/>");
        CSenderApp app;
        app.SetReplyTimeout(3000);
        app.SetHeloHost("client.test");
        app.SetMailFile(file);
        app.SetReporter([this](const std::string& line) { reported.push_back(line); });
        app.InitInstance();
        return app.ExitStatus();
    }
    std::vector<std::string> reported;
};

TEST_F(MailFileRunTest, SendsTheFilesSubjectAndTextAlone) {
    const std::string file = scratch_ / "1.mail";
    testing_support::WriteAll(file,
                              "Subject: Alert: 10.0.0.1 traffic spike\r\n\r\nUser: J\xfcrgen\r\n" +
                                  std::string(300, 'u') + "\r\n");
    ScriptedSmtpServer server;
    server.Say("220 hi\r\n").Reply("250 hello\r\n").Reply("250 sender ok\r\n");
    server.Reply("250 rcpt ok\r\n").Reply("354 go\r\n").HearData().Say("250 queued\r\n");
    server.Reply("221 bye\r\n");
    server.Start();
    EXPECT_EQ(Run(file, server.Port()), kSenderSent);
    server.Finish();
    const std::string data = server.Data();
    EXPECT_NE(data.find("\r\nSubject: Alert: 10.0.0.1 traffic spike\r\n"), std::string::npos);
    EXPECT_NE(data.find("Content-Transfer-Encoding: quoted-printable\r\n"), std::string::npos);
    EXPECT_NE(data.find("User: J=FCrgen\r\n"), std::string::npos) << data;
    EXPECT_EQ(data.find("week.xml"), std::string::npos);
    EXPECT_EQ(data.find("multipart"), std::string::npos);
    std::size_t start = 0;
    while (start < data.size()) {
        const std::size_t end = data.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        EXPECT_LE(end - start, 78u);
        for (std::size_t i = start; i < end; ++i) {
            EXPECT_LT(static_cast<unsigned char>(data[i]), 0x80u);
        }
        start = end + 2;
    }
    EXPECT_FALSE(platform::FileExists(file));
    EXPECT_EQ(reported, std::vector<std::string>{"Postvane: the mail of the file was sent"});
}

TEST_F(MailFileRunTest, RefusesWhatIsNoMailFileBeforeConnecting) {
    const std::string file = scratch_ / "bad.mail";
    for (const std::string& bytes : {std::string("no subject\r\n\r\ntext"), std::string()}) {
        testing_support::WriteAll(file, bytes);
        EXPECT_EQ(Run(file, 1), kSenderBuild);
        EXPECT_TRUE(platform::FileExists(file));
    }
    EXPECT_EQ(Run(scratch_ / "absent.mail", 1), kSenderBuild);
    ASSERT_FALSE(reported.empty());
    EXPECT_NE(reported.back().find("cannot be read or is not a mail file"), std::string::npos);
}

}  // namespace
