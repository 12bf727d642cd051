// Whole SMTP sessions of CQuillSMTPConnection against the scripted loopback server: reply
// reading (split, unterminated, long and over-long replies), the failure code of every step,
// QUIT on failure and in the destructor, and the bytes of a sent message.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "common/base64.h"
#include "mailer/mime/smtp_message.h"
#include "mailer/smtp/smtp_connection.h"
#include "mailer/smtp/smtp_exception.h"
#include "tests/support/scripted_smtp_server.h"
#include "tests/support/test_env.h"

using testing_support::ScriptedSmtpServer;
using Lines = std::vector<std::string>;

namespace {

// Records lastResponse after every reply.
class RecordingConnection : public CQuillSMTPConnection {
  public:
    RecordingConnection() : CQuillSMTPConnection("client.test") { SetReplyTimeout(3000); }
    bool ReadReply() override {
        bool result = CQuillSMTPConnection::ReadReply();
        replies.push_back(LastResponse());
        return result;
    }
    std::vector<std::string> replies;
};

CSMTPMessage SimpleMessage(const std::string& to) {
    CSMTPMessage message;
    message.from = CSMTPAddress("from@test");
    message.AddRecipients(to);
    message.subject = "Hi";
    message.AddTextBody(".x\r\nline");
    return message;
}

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

TEST(SmtpConnection, MultiLineGreetingSplitOverTwoReceivesIsOneReply) {
    ScriptedSmtpServer server;
    server.Say("220-a\r\n").Wait(150).Say("220 b\r\n").Reply("250 ok\r\n").Reply("221 bye\r\n");
    server.Start();
    {
        RecordingConnection c;
        c.Connect("127.0.0.1", AuthNone, "", "", server.Port());
        ASSERT_GE(c.replies.size(), 1u);
        EXPECT_EQ(c.replies[0], "220-a\r\n220 b");
        EXPECT_EQ(c.LastReplyCode(), 250);
    }
    EXPECT_EQ(server.Finish(), (Lines{"HELO client.test", "QUIT"}));
}

TEST(SmtpConnection, ReplyOfExactlyFiveBytesIsComplete) {
    ScriptedSmtpServer server;
    server.Say("220 hi\r\n").Reply("250\r\n").Reply("221 bye\r\n");
    server.Start();
    {
        RecordingConnection c;
        c.SetReplyTimeout(300);
        c.Connect("127.0.0.1", AuthNone, "", "", server.Port());
        EXPECT_EQ(c.replies.at(1), "250");
        EXPECT_EQ(c.LastReplyCode(), 250);
    }
    EXPECT_EQ(server.Finish(), (Lines{"HELO client.test", "QUIT"}));
}

TEST(SmtpConnection, LongRepliesAreReadWholeAndOverLongOnesFail) {
    std::string longReply;
    for (int i = 0; i < 60; ++i) {
        longReply += "250-extension-number-" + std::to_string(i) + "\r\n";
    }
    longReply += "250 last\r\n";
    ASSERT_GT(longReply.size(), 1000u);
    {
        ScriptedSmtpServer server;
        server.Say("220 hi\r\n").Reply(longReply).Reply("221 bye\r\n");
        server.Start();
        RecordingConnection c;
        c.Connect("127.0.0.1", AuthNone, "", "", server.Port());
        EXPECT_EQ(c.replies.at(1), longReply.substr(0, longReply.size() - 2));
        c.Disconnect();
        server.Finish();
    }
    {
        // 70000 bytes of continuation lines never make a reply: the read stops past 64 KiB.
        std::string endless;
        while (endless.size() < 70000) {
            endless += "220-" + std::string(60, 'x') + "\r\n";
        }
        ScriptedSmtpServer server;
        server.Say(endless).Hear();
        server.Start();
        std::string text;
        EXPECT_EQ(CodeOf(
                      [&] {
                          CQuillSMTPConnection c("client.test");
                          c.SetReplyTimeout(1000);
                          c.Connect("127.0.0.1", AuthNone, "", "", server.Port());
                      },
                      &text),
                  0x80040200u);
        EXPECT_GT(text.size(), kMaxReplyBytes);
        EXPECT_LT(text.size(), kMaxReplyBytes + 4096 * 2);
        server.Finish(500);
    }
}

TEST(SmtpConnection, SecondOfThreeRecipientsRefusedStopsBeforeTheThird) {
    ScriptedSmtpServer server;
    server.Say("220 hi\r\n")
        .Reply("250 ok\r\n")
        .Reply("250 sender ok\r\n")
        .Reply("250 rcpt ok\r\n")
        .Reply("550 no such user\r\n")
        .Reply("221 bye\r\n");
    server.Start();
    std::string text;
    std::uint32_t code = CodeOf(
        [&] {
            RecordingConnection c;
            c.Connect("127.0.0.1", AuthNone, "", "", server.Port());
            CSMTPMessage message = SimpleMessage("a@test, Bee <b@test>; c@test");
            c.SendMessage(message);
        },
        &text);
    EXPECT_EQ(code, 0x8004020Cu);
    EXPECT_EQ(text, "550 no such user");
    EXPECT_EQ(server.Finish(), (Lines{"HELO client.test", "MAIL FROM:<from@test>",
                                      "RCPT TO:<a@test>", "RCPT TO:<b@test>", "QUIT"}));
}

// One row per protocol step that can fail: the script up to the refusal, and the code.
struct FailureCase {
    const char* name;
    AuthMethod method;
    std::vector<std::string> replies;  // to greeting, then one per command
    std::uint32_t code;
};

TEST(SmtpConnection, EveryStepFailsWithItsOwnCodeAndTheReplyText) {
    const FailureCase cases[] = {
        {"greeting", AuthNone, {"554 go away\r\n"}, 0x80040200},
        {"helo without auth", AuthNone, {"220 hi\r\n", "501 bad helo\r\n"}, 0x80040205},
        {"helo with auth",
         AuthLogin,
         {"220 hi\r\n", "500 no ehlo\r\n", "501 bad helo\r\n"},
         0x80040204},
        {"mail from", AuthNone, {"220 hi\r\n", "250 ok\r\n", "451 later\r\n"}, 0x80040207},
        {"data",
         AuthNone,
         {"220 hi\r\n", "250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "554 no data\r\n"},
         0x80040208},
    };
    for (const FailureCase& fc : cases) {
        SCOPED_TRACE(fc.name);
        ScriptedSmtpServer server;
        server.Say(fc.replies[0]);
        for (std::size_t i = 1; i < fc.replies.size(); ++i) {
            server.Reply(fc.replies[i]);
        }
        server.Reply("221 bye\r\n");
        server.Start();
        std::string text;
        std::uint32_t code = CodeOf(
            [&] {
                RecordingConnection c;
                c.Connect("127.0.0.1", fc.method, "u", "p", server.Port());
                CSMTPMessage message = SimpleMessage("a@test");
                c.SendMessage(message);
            },
            &text);
        EXPECT_EQ(code, fc.code);
        std::string last = fc.replies.back();
        EXPECT_EQ(text, last.substr(0, last.size() - 2));
        Lines heard = server.Finish();
        ASSERT_FALSE(heard.empty());
        EXPECT_EQ(heard.back(), "QUIT");
    }
}

TEST(SmtpConnection, EndOfDataRefusedAndQuitRefused) {
    ScriptedSmtpServer server;
    server.Say("220 hi\r\n")
        .Reply("250 ok\r\n")
        .Reply("250 ok\r\n")
        .Reply("250 ok\r\n")
        .Reply("354 go\r\n")
        .HearData()
        .Say("552 too big\r\n")
        .Reply("500 what\r\n");
    server.Start();
    RecordingConnection c;
    c.Connect("127.0.0.1", AuthNone, "", "", server.Port());
    CSMTPMessage message = SimpleMessage("a@test");
    std::string text;
    EXPECT_EQ(CodeOf([&] { c.SendMessage(message); }, &text), 0x80040209u);
    EXPECT_EQ(text, "552 too big");
    EXPECT_EQ(CodeOf([&] { c.Disconnect(); }, &text), 0x80040206u);
    EXPECT_EQ(text, "500 what");
    EXPECT_FALSE(c.IsConnected());
    server.Finish();
}

TEST(SmtpConnection, PlainMessageGoesOutDotStuffedAfterItsHeader) {
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
    CSMTPMessage message = SimpleMessage("a@test");
    {
        RecordingConnection c;
        c.Connect("127.0.0.1", AuthNone, "", "", server.Port());
        c.SendMessage(message);
    }
    Lines heard = server.Finish();
    ASSERT_EQ(heard.size(), 6u);
    EXPECT_EQ(heard[3], "DATA");
    std::string data = server.Data();
    std::string header = message.BuildHeader();
    std::size_t dateAt = header.find("Date: ");
    ASSERT_NE(dateAt, std::string::npos);
    // Everything before the Date line is fixed; the body follows the empty line.
    EXPECT_EQ(data.substr(0, dateAt), header.substr(0, dateAt));
    EXPECT_NE(data.find("\r\n\r\n..x\r\nline"), std::string::npos);
    EXPECT_EQ(heard[5], "QUIT");
}

TEST(SmtpConnection, MissingAttachmentFailsInsideDataWithCode514) {
    testing_support::ScratchDir dir;
    ScriptedSmtpServer server;
    server.Say("220 hi\r\n")
        .Reply("250 ok\r\n")
        .Reply("250 ok\r\n")
        .Reply("250 ok\r\n")
        .Reply("354 go\r\n")
        .Wait(100)
        .Hangup();
    server.Start();
    CSMTPMessage message = SimpleMessage("a@test");
    message.AddAttachments(dir / "absent.xml");
    std::string text = "unset";
    EXPECT_EQ(CodeOf(
                  [&] {
                      CQuillSMTPConnection c("client.test");
                      c.SetReplyTimeout(1000);
                      c.Connect("127.0.0.1", AuthNone, "", "", server.Port());
                      c.SendMessage(message);
                  },
                  &text),
              0x80040202u);
    EXPECT_EQ(text, "");
    server.Finish(200);
}

TEST(SmtpConnection, DestructorSendsQuitAndSwallowsItsFailure) {
    ScriptedSmtpServer server;
    server.Say("220 hi\r\n").Reply("250 ok\r\n").Hear().Hangup();
    server.Start();
    EXPECT_NO_THROW({
        RecordingConnection c;
        c.Connect("127.0.0.1", AuthNone, "", "", server.Port());
    });
    EXPECT_EQ(server.Finish(), (Lines{"HELO client.test", "QUIT"}));
}

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

TEST(SmtpConnection, MimeMessageSendsEveryPieceAndTheAttachmentDecodesBack) {
    testing_support::ScratchDir dir;
    std::string bytes;
    for (int i = 0; i < 58; ++i) {
        bytes += static_cast<char>(i * 7);
    }
    testing_support::WriteAll(dir / "week.xml", bytes);
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
    CSMTPMessage message = SimpleMessage("a@test");
    message.AddAttachments(dir / "week.xml");
    {
        RecordingConnection c;
        c.Connect("127.0.0.1", AuthNone, "", "", server.Port());
        c.SendMessage(message);
    }
    server.Finish();
    std::string data = server.Data();
    const std::string& boundary = message.Root().boundary;
    std::size_t at = data.find("filename=\"week.xml\"\r\n\r\n");
    ASSERT_NE(at, std::string::npos);
    std::size_t start = data.find("\r\n\r\n", at) + 4;
    std::size_t end = data.find("\r\n--" + boundary + "--", start);
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(data.size(), end + 4 + boundary.size() + 2);  // the closing delimiter ends it
    std::string decoded;
    Base64Decode(data.substr(start, end - start), Base64Decoding::Lenient, &decoded);
    EXPECT_EQ(decoded, bytes);
    // 58 bytes make two base64 lines, each ended by CR LF.
    EXPECT_EQ(data.substr(start, end - start).size(), 76u + 2 + 4 + 2);
}

TEST(SmtpConnection, AddressWithALineBreakIsRefusedBeforeItReachesTheWire) {
    ScriptedSmtpServer server;
    server.Say("220 hi\r\n").Reply("250 ok\r\n").Reply("250 ok\r\n").Reply("221 bye\r\n");
    server.Start();
    std::string text;
    std::uint32_t code = CodeOf(
        [&] {
            RecordingConnection c;
            // Bound to a local address first: the bind address is honoured.
            c.Connect("127.0.0.1", AuthNone, "", "", server.Port(), "127.0.0.1");
            CSMTPMessage message = SimpleMessage("");
            message.AddRecipient(CSMTPAddress("a@test>\r\nRCPT TO:<victim@test"));
            c.SendMessage(message);
        },
        &text);
    EXPECT_EQ(code, 0x8004020Cu);
    EXPECT_EQ(server.Finish(), (Lines{"HELO client.test", "MAIL FROM:<from@test>", "QUIT"}));
}

// Milliseconds that fn takes.
template <typename Fn>
long long MillisecondsOf(Fn fn) {
    const auto start = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

TEST(SmtpConnection, TrickledReplyEndsWithinTheReplyTimeout) {
    ScriptedSmtpServer server;
    server.Trickle("220 " + std::string(200, 'x') + "\r\n", 20).Hear();
    server.Start();
    std::uint32_t code = 0;
    std::string text;
    const long long took = MillisecondsOf([&] {
        code = CodeOf(
            [&] {
                CQuillSMTPConnection c("client.test");
                c.SetReplyTimeout(400);
                c.Connect("127.0.0.1", AuthNone, "", "", server.Port());
            },
            &text);
    });
    EXPECT_EQ(code, 0x80040200u);
    EXPECT_EQ(text.rfind("220 xx", 0), 0u) << text;
    // The greeting's 400 ms and QUIT's 400 ms, not 400 ms per byte.
    EXPECT_LT(took, 2000);
    EXPECT_EQ(server.Finish(), (Lines{"QUIT"}));
}

TEST(SmtpConnection, SessionLimitBoundsRepliesThatEachComeInTime) {
    ScriptedSmtpServer server;
    server.Trickle("220 hi\r\n", 40).Hear().Trickle("250 ok\r\n", 40).Hear();
    server.Start();
    std::uint32_t code = 0;
    const long long took = MillisecondsOf([&] {
        code = CodeOf([&] {
            CQuillSMTPConnection c("client.test");
            c.SetReplyTimeout(1000);
            c.SetSessionLimit(500);
            c.Connect("127.0.0.1", AuthNone, "", "", server.Port());
        });
    });
    EXPECT_EQ(code, 0x80040205u);  // the HELO reply would have come in time for its own wait
    EXPECT_LT(took, 1000);         // and QUIT gets no wait of its own past the limit
    EXPECT_EQ(server.Finish(), (Lines{"HELO client.test", "QUIT"}));
}
