// The SMTP socket over TLS against a loopback TLS server with certificates made at test
// time: each verification failure gives its own code, sends go out whole in pieces and a
// stalled peer fails within the time-out (with and without TLS), readiness counts decrypted
// bytes rather than socket bytes, and STARTTLS never falls back to clear text.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "mailer/smtp/smtp_connection.h"
#include "mailer/smtp/smtp_exception.h"
#include "mailer/smtp/smtp_socket.h"
#include "platform/thread.h"
#include "tests/platform/tls_test_server.h"
#include "tests/support/scripted_smtp_server.h"
#include "tests/support/test_env.h"

using testing_support::TlsIdentity;
using testing_support::TlsServerConnection;
using testing_support::TlsTestCa;
using testing_support::TlsTestServer;

namespace {

using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// Waits (bounded) until flag is set.
void AwaitFlag(const std::atomic<bool>& flag, int timeoutMs = 10000) {
    auto start = Clock::now();
    while (!flag && ElapsedMs(start) < timeoutMs) {
        platform::SleepMilliseconds(5);
    }
}

class TlsSocketTest : public ::testing::Test {
  protected:
    TlsSocketTest() : ca("Test Root"), otherCa("Other Root") {
        ca.WritePem(scratch / "ca.pem");
        otherCa.WritePem(scratch / "other.pem");
    }

    void Connect(CSMTPSocket& socket, std::uint16_t port, std::uint32_t timeoutMs = 5000) {
        socket.SetTimeout(timeoutMs);
        socket.Create();
        socket.Connect("127.0.0.1", port, "");
    }

    // The code StartTls throws, 0 when it succeeds.
    std::uint32_t StartTlsCode(CSMTPSocket& socket, const std::string& host,
                               const std::string& caFile) {
        try {
            socket.StartTls(host, caFile);
        } catch (const CSMTPException& e) {
            EXPECT_FALSE(socket.IsOpen());
            return e.Code();
        }
        return 0;
    }

    testing_support::ScratchDir scratch;
    TlsTestCa ca;
    TlsTestCa otherCa;
};

constexpr long kDay = 86400;

TEST_F(TlsSocketTest, VerificationFailuresHaveTheirOwnCodes) {
    struct Case {
        const char* what;
        std::vector<std::string> names;
        std::vector<std::string> addresses;
        long notBefore, notAfter;
        const char* host;
        const char* caFile;  // in the scratch directory; "" for the system's roots only
        std::uint32_t code;  // 0: accepted
        const char* subjectOnly = nullptr;  // the name only in the subject's CN, no SAN
    };
    const Case cases[] = {
        {"name", {"mail.test"}, {}, -kDay, kDay, "mail.test", "ca.pem", 0},
        {"address", {}, {"127.0.0.1"}, -kDay, kDay, "127.0.0.1", "ca.pem", 0},
        {"other name",
         {"other.test"},
         {},
         -kDay,
         kDay,
         "mail.test",
         "ca.pem",
         kSmtpTlsNameMismatch},
        {"address wanted, name given",
         {"mail.test"},
         {},
         -kDay,
         kDay,
         "127.0.0.1",
         "ca.pem",
         kSmtpTlsNameMismatch},
        {"name wanted, address given",
         {},
         {"127.0.0.1"},
         -kDay,
         kDay,
         "localhost",
         "ca.pem",
         kSmtpTlsNameMismatch},
        {"other address",
         {},
         {"127.0.0.2"},
         -kDay,
         kDay,
         "127.0.0.1",
         "ca.pem",
         kSmtpTlsNameMismatch},
        // A name only in the subject's CN is no name (RFC 6125 6.4.4, as browsers hold).
        {"name only in the subject",
         {},
         {},
         -kDay,
         kDay,
         "mail.test",
         "ca.pem",
         kSmtpTlsNameMismatch,
         "mail.test"},
        {"address only in the subject",
         {},
         {},
         -kDay,
         kDay,
         "127.0.0.1",
         "ca.pem",
         kSmtpTlsNameMismatch,
         "127.0.0.1"},
        {"expired", {"mail.test"}, {}, -2 * kDay, -kDay, "mail.test", "ca.pem", kSmtpTlsExpired},
        {"not yet valid",
         {"mail.test"},
         {},
         kDay,
         2 * kDay,
         "mail.test",
         "ca.pem",
         kSmtpTlsExpired},
        {"no extra roots", {"mail.test"}, {}, -kDay, kDay, "mail.test", "", kSmtpTlsUnknownIssuer},
        {"another CA's roots",
         {"mail.test"},
         {},
         -kDay,
         kDay,
         "mail.test",
         "other.pem",
         kSmtpTlsUnknownIssuer},
        {"roots file missing",
         {"mail.test"},
         {},
         -kDay,
         kDay,
         "mail.test",
         "missing.pem",
         kSmtpTlsCaFile},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TlsIdentity identity = c.subjectOnly
                                   ? ca.IssueWithNameInSubjectOnly(c.subjectOnly)
                                   : ca.Issue(c.names, c.addresses, c.notBefore, c.notAfter);
        TlsTestServer server;
        server.StartTls(identity, [](TlsServerConnection& connection) {
            connection.Write("220 ready\r\n");
            connection.Read(1, 2000);  // until the client leaves
        });
        CSMTPSocket socket;
        Connect(socket, server.Port());
        std::string caFile = *c.caFile ? scratch / c.caFile : std::string();
        std::uint32_t code = StartTlsCode(socket, c.host, caFile);
        EXPECT_EQ(code, c.code ? SmtpInterfaceError(c.code) : 0u);
        if (code == 0) {
            ASSERT_TRUE(socket.IsReadable(2000));
            char reply[64] = {};
            EXPECT_EQ(socket.Receive(reply, sizeof reply), 11);
            EXPECT_STREQ(reply, "220 ready\r\n");
            socket.Close();
        }
        EXPECT_EQ(server.Finish(), code == 0);
    }
}

TEST_F(TlsSocketTest, HandshakeFailuresEndWithinTheTimeOut) {
    struct Case {
        const char* what;
        std::function<void(platform::SocketHandle)> server;
    };
    // The servers hold on far longer than the client's time-out (they let go as soon as the
    // client hangs up), so a client that waited for them would show in the time it took.
    auto listenOnly = [](platform::SocketHandle client) {
        platform::SocketWaitReadable(client, 30000);
    };
    auto notTls = [](platform::SocketHandle client) {
        char hello[512];
        if (platform::SocketWaitReadable(client, 3000) == 1) {
            platform::SocketReceive(client, hello, sizeof hello);
        }
        platform::SocketSend(client, "500 what?\r\n", 11);
    };
    // Bytes waiting before our hello were put there by someone else.
    auto injects = [](platform::SocketHandle client) {
        platform::SocketSend(client, "250 AUTH PLAIN\r\n", 16);
        platform::SocketWaitReadable(client, 30000);
    };
    const Case cases[] = {
        {"silent server", listenOnly}, {"not TLS", notTls}, {"data before the handshake", injects}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TlsTestServer server;
        server.Start(c.server);
        CSMTPSocket socket;
        Connect(socket, server.Port(), 400);
        platform::SleepMilliseconds(100);
        auto start = Clock::now();
        EXPECT_EQ(StartTlsCode(socket, "mail.test", scratch / "ca.pem"),
                  SmtpInterfaceError(kSmtpTlsHandshake));
        // A hang guard: the 400 ms time-out when idle, the server's 30 s if it were ignored.
        EXPECT_LT(ElapsedMs(start), 10000);
    }
}

TEST_F(TlsSocketTest, LargeSendsArriveWholeInPieces) {
    std::string message(CSMTPSocket::kSendChunk * 5 + 7, '\0');
    for (std::size_t i = 0; i < message.size(); ++i) {
        message[i] = static_cast<char>(i * 7 + i / 251);
    }
    std::string received;
    TlsTestServer server;
    server.StartTls(ca.Issue({"mail.test"}, {}), [&](TlsServerConnection& connection) {
        received = connection.Read(message.size(), 20000);
    });
    CSMTPSocket socket;
    Connect(socket, server.Port());
    ASSERT_EQ(StartTlsCode(socket, "mail.test", scratch / "ca.pem"), 0u);
    socket.Send(message);
    server.Finish();
    EXPECT_TRUE(received == message) << received.size() << " of " << message.size();
}

// Each piece of a send has the whole time-out: a slow reader gets everything although the
// transfer takes many times the time-out, a reader that stops fails within about one.
TEST_F(TlsSocketTest, SendTimeOutIsPerPiece) {
    constexpr std::uint32_t kTimeoutMs = 800;
    constexpr std::size_t kStep = 256 * 1024;
    struct Case {
        bool tls;
        bool reads;
    };
    for (Case c : {Case{false, true}, Case{true, true}, Case{false, false}, Case{true, false}}) {
        SCOPED_TRACE(std::string(c.tls ? "TLS, " : "clear text, ") +
                     (c.reads ? "slow reader" : "stalled"));
        const std::size_t size = c.reads ? 12u << 20 : 64u << 20;
        std::atomic<bool> done{false};
        std::size_t got = 0;
        auto pace = [] { platform::SleepMilliseconds(60); };
        TlsTestServer server;
        if (c.tls) {
            server.StartTls(ca.Issue({"mail.test"}, {}), [&](TlsServerConnection& connection) {
                while (c.reads && got < size) {
                    pace();
                    std::size_t n = connection.Read(std::min(kStep, size - got), 2000).size();
                    got += n;
                    if (n == 0) {
                        break;
                    }
                }
                AwaitFlag(done, 60000);
            });
        } else {
            server.Start([&](platform::SocketHandle client) {
                std::vector<char> buffer(kStep);
                while (c.reads && got < size) {
                    pace();
                    long n = platform::SocketWaitReadable(client, 2000) == 1
                                 ? platform::SocketReceive(client, buffer.data(), buffer.size())
                                 : 0;
                    if (n <= 0) {
                        break;
                    }
                    got += static_cast<std::size_t>(n);
                }
                AwaitFlag(done, 60000);
            });
        }
        CSMTPSocket socket;
        Connect(socket, server.Port(), kTimeoutMs);
        if (c.tls) {
            ASSERT_EQ(StartTlsCode(socket, "mail.test", scratch / "ca.pem"), 0u);
        }
        std::string data(size, 'x');
        auto start = Clock::now();
        std::uint32_t code = 0;
        try {
            socket.Send(data);
        } catch (const CSMTPException& e) {
            code = e.Code();
        }
        long elapsed = ElapsedMs(start);
        done = true;
        server.Finish();
        if (c.reads) {
            EXPECT_EQ(code, 0u);
            EXPECT_EQ(got, size);
            EXPECT_GT(elapsed, static_cast<long>(kTimeoutMs) * 2);
        } else {
            EXPECT_EQ(code, SmtpSocketError(platform::kWsaTimedOut));
            // A hang guard: about one time-out when idle; the whole transfer's worth of them,
            // or the server's 60 s, if the time-out were not per piece.
            EXPECT_LT(elapsed, static_cast<long>(kTimeoutMs) * 20);
        }
    }
}

TEST_F(TlsSocketTest, ReadinessCountsDecryptedBytes) {
    std::atomic<bool> sendRest{false};
    TlsTestServer server;
    server.StartTls(ca.Issue({"mail.test"}, {}), [&](TlsServerConnection& connection) {
        connection.Write("250-first\r\n250 second\r\n");
        connection.WriteHeldBack("354 go on\r\n", 5);
        AwaitFlag(sendRest);
        connection.SendHeld();
        connection.CloseNotify();
        connection.Read(1, 2000);
    });
    CSMTPSocket socket;
    Connect(socket, server.Port());
    ASSERT_EQ(StartTlsCode(socket, "mail.test", scratch / "ca.pem"), 0u);

    char text[64] = {};
    ASSERT_TRUE(socket.IsReadable(2000));
    ASSERT_EQ(socket.Receive(text, 4), 4);
    // The rest of the record is held by TLS, not by the socket.
    EXPECT_TRUE(socket.IsReadable(0));
    EXPECT_EQ(socket.Receive(text + 4, sizeof text - 5), 19);
    EXPECT_STREQ(text, "250-first\r\n250 second\r\n");

    // Part of a record makes the socket readable but gives nothing to receive yet.
    EXPECT_FALSE(socket.IsReadable(300));
    sendRest = true;
    ASSERT_TRUE(socket.IsReadable(2000));
    char next[64] = {};
    EXPECT_EQ(socket.Receive(next, sizeof next - 1), 11);
    EXPECT_STREQ(next, "354 go on\r\n");

    // The peer's goodbye reads as a closed connection.
    ASSERT_TRUE(socket.IsReadable(2000));
    EXPECT_EQ(socket.Receive(next, sizeof next), 0);
    socket.Close();
    server.Finish();
}

// A server that does not offer STARTTLS, or refuses it, gets nothing but QUIT: no
// authentication, no password, no clear-text fall-back.
TEST(StartTlsDialogue, NeverFallsBackToClearText) {
    struct Case {
        const char* what;
        const char* ehloReply;
        const char* startTlsReply;  // null: STARTTLS must not be sent
        std::uint32_t code;
        std::vector<std::string> heard;
    };
    const Case cases[] = {
        {"not offered",
         "250-mx\r\n250 AUTH LOGIN PLAIN\r\n",
         nullptr,
         kSmtpTlsNotOffered,
         {"EHLO client.test", "QUIT"}},
        {"refused",
         "250-mx\r\n250-STARTTLS\r\n250 AUTH LOGIN\r\n",
         "454 TLS not available\r\n",
         kSmtpTlsRefused,
         {"EHLO client.test", "STARTTLS", "QUIT"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testing_support::ScriptedSmtpServer server;
        server.Say("220 hi\r\n").Reply(c.ehloReply);
        if (c.startTlsReply) {
            server.Reply(c.startTlsReply);
        }
        server.Reply("221 bye\r\n");
        server.Start();
        std::uint32_t code = 0;
        {
            CQuillSMTPConnection connection("client.test");
            connection.SetReplyTimeout(3000);
            connection.SetTls(TlsMode::StartTls, "");
            try {
                connection.Connect("127.0.0.1", AuthLogin, "bob", "secret", server.Port());
            } catch (const CSMTPException& e) {
                code = e.Code();
            }
        }
        EXPECT_EQ(code, SmtpInterfaceError(c.code));
        EXPECT_EQ(server.Finish(), c.heard);
    }
}

}  // namespace
