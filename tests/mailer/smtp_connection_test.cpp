// Failures of CQuillSMTPConnection that need no dialogue; every dialogue is a transcript
// (transcript_test.cpp).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mailer/smtp/smtp_connection.h"
#include "mailer/smtp/smtp_exception.h"
#include "tests/support/scripted_smtp_server.h"
#include "tests/support/test_env.h"

using testing_support::ScriptedSmtpServer;

namespace {

// Runs fn and returns the code of the CSMTPException it throws (0 when none).
template <typename Fn>
std::uint32_t CodeOf(Fn fn, std::string* text = nullptr) {
    try {
        fn();
    } catch (const CSMTPException& e) {
        if (text) {
            *text = e.Response();
        }
        return e.Code();
    }
    return 0;
}

}  // namespace

TEST(SmtpConnection, SocketFailuresCarryTheWinsockErrorInTheSystemFacility) {
    // A port nobody listens on: connection refused (WSAECONNREFUSED, 10061).
    std::uint16_t port;
    {
        ScriptedSmtpServer closed;
        port = closed.Port();
    }
    std::string text = "unset";
    EXPECT_EQ(CodeOf(
                  [&] {
                      CQuillSMTPConnection c("client.test");
                      c.Connect("127.0.0.1", AuthNone, "", "", port);
                  },
                  &text),
              0x8007274Du);
    EXPECT_EQ(text, "");
}

// Nothing a message holds can end its data early: an attachment name with a dot line in it,
// or a header line that begins with a dot, still leaves one whole message and then QUIT.
TEST(SmtpConnection, MessageDataCannotEndEarly) {
    testing_support::ScratchDir dir;
    testing_support::WriteAll(dir / "week.xml", "<r/>");
    const struct {
        const char* what;
        std::string title;
        std::vector<std::string> extraHeaders;
    } cases[] = {
        {"attachment name", "a\r\n.\r\nRSET\r\nNOOP x\r\nb\".xml", {}},
        {"header line", "week.xml", {"X-Note: 1\r\n.\r\nRSET"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CSMTPMessage message;
        message.from = CSMTPAddress("f@x.test");
        message.AddRecipients("a@x.test");
        message.AddTextBody("report");
        message.AddAttachments(dir / "week.xml");
        message.Root().ChildAt(1)->SetTitle(c.title);
        message.extraHeaders = c.extraHeaders;
        ScriptedSmtpServer server;
        server.Say("220 hi\r\n")
            .Reply("250 ok\r\n")
            .Reply("250 ok\r\n")
            .Reply("250 ok\r\n")
            .Reply("354 go\r\n")
            .HearData()
            .Say("250 queued\r\n")
            .Reply("221 bye\r\n");
        server.Start();
        EXPECT_EQ(CodeOf([&] {
                      CQuillSMTPConnection connection("client.test");
                      connection.SetReplyTimeout(3000);
                      connection.Connect("127.0.0.1", AuthNone, "", "", server.Port());
                      connection.SendMessage(message);
                  }),
                  0u);
        const std::vector<std::string> heard = server.Finish(500);
        ASSERT_EQ(heard.size(), 6u);
        EXPECT_EQ(heard[5], "QUIT");
        const std::string end = "\r\n--" + message.Root().boundary + "--";
        EXPECT_EQ(heard[4].substr(heard[4].size() - end.size()), end);
    }
}

TEST(SmtpConnection, GreetingNameIsTheFullNameOrOurAddress) {
    const struct {
        const char *fullName, *literal, *chosen;
    } cases[] = {
        {"vm.example.com", "[192.0.2.1]", "vm.example.com"},
        {"mail-1.Example.ORG", "[IPv6:2001:db8::1]", "mail-1.Example.ORG"},
        // No domain, or none worth naming: the address of our end.
        {"vm", "[192.0.2.1]", "[192.0.2.1]"},
        {"", "[192.0.2.1]", "[192.0.2.1]"},
        {"localhost", "[192.0.2.1]", "[192.0.2.1]"},
        {"LOCALHOST.localdomain", "[192.0.2.1]", "[192.0.2.1]"},
        {"vm.localdomain", "[192.0.2.1]", "[192.0.2.1]"},
        {"192.0.2.7", "[192.0.2.1]", "[192.0.2.1]"},
        {"vm.example.com.", "[192.0.2.1]", "[192.0.2.1]"},
        {"bad name.example", "[IPv6:::1]", "[IPv6:::1]"},
        {"vm.exa\r\nmple", "[192.0.2.1]", "[192.0.2.1]"},
        // Our address unknown: what there is, as long as it can stand in a command.
        {"vm", "", "vm"},
        {"", "", "localhost"},
        {"v\r\nm", "", "localhost"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CQuillSMTPConnection::ChooseGreetingName(c.fullName, c.literal), c.chosen)
            << c.fullName << " / " << c.literal;
    }
}

// An "auto" greeting on a machine without a domain names the local end of the connection.
TEST(SmtpConnection, AutoGreetingOnTheWire) {
    const struct {
        const char* fullName;
        AuthMethod method;
        const char* greeting;
    } cases[] = {
        {"vm", AuthNone, "HELO [127.0.0.1]"},
        {"vm", AuthLogin, "EHLO [127.0.0.1]"},
        {"vm.example.test", AuthNone, "HELO vm.example.test"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.greeting);
        ScriptedSmtpServer server;
        server.Say("220 hi\r\n").Reply("250 ok\r\n");
        if (c.method == AuthLogin) {
            server.Reply("535 no\r\n");
        }
        server.Reply("221 bye\r\n");
        server.Start();
        CodeOf([&] {
            CQuillSMTPConnection connection;
            connection.SetReplyTimeout(3000);
            connection.SetNameLookup([&] { return std::string(c.fullName); });
            connection.Connect("127.0.0.1", c.method, "u", "p", server.Port());
            connection.Disconnect();
        });
        const std::vector<std::string> heard = server.Finish(500);
        ASSERT_FALSE(heard.empty());
        EXPECT_EQ(heard[0], c.greeting);
    }
}
