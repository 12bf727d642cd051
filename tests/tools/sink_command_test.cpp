// The loopback sink of `tallyctl sink` in real sessions: the bytes it saves (dot-stuffing
// undone, bare LFs kept, data split across receives), a message from the mail sender's own
// connection, over-long lines and messages refused without losing the session, commands out
// of order, numbering that never overwrites, the time-out and the command line.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "mailer/mime/smtp_message.h"
#include "mailer/smtp/smtp_connection.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "tests/support/test_env.h"
#include "tools/sink_command.h"

using testing_support::ReadAll;
using testing_support::ScratchDir;

namespace {

// A sink on its own thread; the test talks to it through Client.
class RunningSink {
  public:
    explicit RunningSink(SinkOptions o) : options(std::move(o)) {
        std::promise<std::uint16_t> ready;
        std::future<std::uint16_t> port = ready.get_future();
        worker = std::thread([this, &ready] {
            status = RunSink(options, clock, [&ready](std::uint16_t p) { ready.set_value(p); });
        });
        if (port.wait_for(std::chrono::seconds(5)) == std::future_status::ready) {
            portNumber = port.get();
        }
    }
    ~RunningSink() { Join(); }
    int Join() {
        if (worker.joinable()) {
            worker.join();
        }
        return status;
    }
    std::uint16_t Port() const { return portNumber; }

  private:
    SinkOptions options;
    platform::SystemClock clock;
    std::thread worker;
    std::uint16_t portNumber = 0;
    int status = -1;
};

// A raw SMTP client with bounded waits.
class Client {
  public:
    explicit Client(std::uint16_t port) {
        std::uint32_t loopback = 0;
        platform::SocketResolve("127.0.0.1", &loopback);
        socket = platform::SocketCreateTcp();
        connected = platform::SocketConnect(socket, loopback, port, 3000);
    }
    ~Client() { platform::SocketClose(socket); }
    bool Connected() const { return connected; }

    void Send(const std::string& bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            long n = platform::SocketSend(socket, bytes.data() + sent, bytes.size() - sent);
            if (n <= 0) {
                return;
            }
            sent += static_cast<std::size_t>(n);
        }
    }
    // One reply, multi-line replies whole; empty on time-out or close.
    std::string Reply() {
        std::string reply;
        for (;;) {
            std::size_t end;
            while ((end = pending.find("\r\n")) == std::string::npos) {
                char buffer[512];
                if (platform::SocketWaitReadable(socket, 3000) <= 0) {
                    return {};
                }
                long n = platform::SocketReceive(socket, buffer, sizeof buffer);
                if (n <= 0) {
                    return {};
                }
                pending.append(buffer, static_cast<std::size_t>(n));
            }
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 2);
            reply += line;
            if (line.size() < 4 || line[3] != '-') {
                return reply;
            }
            reply += "\n";
        }
    }
    // Sends a command and returns the reply's code ("" when none came).
    std::string Code(const std::string& command) {
        Send(command + "\r\n");
        return Reply().substr(0, 3);
    }
    // Greeting, EHLO, one recipient: ready for DATA.
    void OpenTransaction() {
        EXPECT_EQ(Reply().substr(0, 3), "220");
        EXPECT_EQ(Code("EHLO client.test"), "250");
        EXPECT_EQ(Code("MAIL FROM:<a@test>"), "250");
        EXPECT_EQ(Code("RCPT TO:<b@test>"), "250");
    }

  private:
    platform::SocketHandle socket = platform::kInvalidSocket;
    bool connected = false;
    std::string pending;
};

SinkOptions Options(const ScratchDir& dir, long count = 1) {
    SinkOptions o;
    o.outDir = dir / "mail";
    o.count = count;
    o.timeoutSeconds = 20;
    o.pollMs = 50;
    return o;
}

// Advances a second on every reading, so deadlines pass without waiting.
class SteppingClock final : public platform::Clock {
  public:
    std::time_t Now() const override { return ++now; }

  private:
    mutable std::atomic<std::time_t> now{1000};
};

}  // namespace

TEST(SinkCommand, SavesTheMessageBytesWithDotStuffingUndone) {
    const std::string wire =
        "Subject: t\r\n\r\n..one\r\nmid.dle\r\n...\r\nbare\n.dot kept\r\n\r\n.\r\n";
    const std::string saved = "Subject: t\r\n\r\n.one\r\nmid.dle\r\n..\r\nbare\n.dot kept\r\n\r\n";
    for (std::size_t chunk : {wire.size(), std::size_t{3}, std::size_t{1}}) {
        SCOPED_TRACE(chunk);
        ScratchDir dir;
        RunningSink sink(Options(dir));
        Client client(sink.Port());
        ASSERT_TRUE(client.Connected());
        client.OpenTransaction();
        EXPECT_EQ(client.Code("DATA"), "354");
        for (std::size_t at = 0; at < wire.size(); at += chunk) {
            client.Send(wire.substr(at, chunk));
            if (chunk < wire.size()) {
                platform::SleepMilliseconds(1);
            }
        }
        EXPECT_EQ(client.Reply().substr(0, 3), "250");
        EXPECT_EQ(client.Code("QUIT"), "221");
        EXPECT_EQ(sink.Join(), 0);
        EXPECT_EQ(ReadAll(dir / "mail/mail-1.eml"), saved);
    }
}

TEST(SinkCommand, TakesAMessageFromTheMailSendersConnection) {
    ScratchDir dir;
    RunningSink sink(Options(dir));
    platform::FixedClock date(1785513605);
    CSMTPMessage message;
    message.SetClock(&date);
    message.from = CSMTPAddress("reports@test");
    message.AddRecipients("admin@test");
    message.subject = "Reports";
    message.AddTextBody(".first\r\nsecond");
    {
        CQuillSMTPConnection connection("client.test");
        connection.SetReplyTimeout(3000);
        connection.Connect("127.0.0.1", AuthNone, "", "", sink.Port());
        connection.SendMessage(message);
    }
    EXPECT_EQ(sink.Join(), 0);
    std::string saved = ReadAll(dir / "mail/mail-1.eml");
    EXPECT_EQ(saved.rfind(message.BuildHeader(), 0), 0u) << saved;
    EXPECT_NE(saved.find("\r\n.first\r\nsecond"), std::string::npos) << saved;
}

TEST(SinkCommand, RefusesOverLongLinesAndMessagesAndKeepsTheSession) {
    ScratchDir dir;
    SinkOptions o = Options(dir);
    o.maxLine = 100;
    o.maxMessage = 300;
    RunningSink sink(o);
    Client client(sink.Port());
    client.OpenTransaction();
    // A command line one byte too long (with its CR LF), then one that just fits.
    EXPECT_EQ(client.Code("NOOP " + std::string(94, 'x')), "500");
    EXPECT_EQ(client.Code("NOOP " + std::string(93, 'x')), "250");
    EXPECT_EQ(client.Code(std::string(5000, 'y')), "500");

    EXPECT_EQ(client.Code("DATA"), "354");
    EXPECT_EQ(client.Code("a\r\n" + std::string(500, 'z') + "\r\n."), "500");
    EXPECT_EQ(client.Code("MAIL FROM:<a@test>"), "250");
    EXPECT_EQ(client.Code("RCPT TO:<b@test>"), "250");
    EXPECT_EQ(client.Code("DATA"), "354");
    std::string lines;
    for (int i = 0; i < 10; ++i) {
        lines += std::string(50, 'w') + "\r\n";
    }
    EXPECT_EQ(client.Code(lines + "."), "552");
    EXPECT_FALSE(testing_support::Exists(dir / "mail/mail-1.eml"));

    EXPECT_EQ(client.Code("MAIL FROM:<a@test>"), "250");
    EXPECT_EQ(client.Code("RCPT TO:<b@test>"), "250");
    EXPECT_EQ(client.Code("DATA"), "354");
    EXPECT_EQ(client.Code("fits\r\n."), "250");
    EXPECT_EQ(client.Code("QUIT"), "221");
    EXPECT_EQ(sink.Join(), 0);
    EXPECT_EQ(ReadAll(dir / "mail/mail-1.eml"), "fits\r\n");
}

TEST(SinkCommand, CommandsOutOfOrderAreRefusedAndAClientThatKeepsErringIsDropped) {
    ScratchDir dir;
    RunningSink sink(Options(dir));
    {
        Client client(sink.Port());
        EXPECT_EQ(client.Reply().substr(0, 3), "220");
        const std::vector<std::pair<std::string, std::string>> steps = {
            {"MAIL FROM:<a@test>", "503"},
            {"HELO", "501"},
            {"HELO client.test", "250"},
            {"RCPT TO:<b@test>", "503"},
            {"DATA", "503"},
            {"MAIL <a@test>", "501"},
            {"mail from:<a@test>", "250"},
            {"MAIL FROM:<a@test>", "503"},
            {"DATA", "503"},
            {"RCPT <b@test>", "501"},
            {"VRFY b@test", "500"},
            {"RSET", "250"},
            {"RCPT TO:<b@test>", "503"},
            {"NOOP", "250"},
        };
        for (const auto& [command, code] : steps) {
            EXPECT_EQ(client.Code(command), code) << command;
        }
        // Ten errors in a row end the session.
        for (int i = 0; i < 10; ++i) {
            EXPECT_EQ(client.Code("VRFY b@test"), "500");
        }
        EXPECT_EQ(client.Reply().substr(0, 3), "421");
        EXPECT_EQ(client.Reply(), "");  // closed
    }
    // The next client is served.
    Client client(sink.Port());
    client.OpenTransaction();
    EXPECT_EQ(client.Code("DATA"), "354");
    EXPECT_EQ(client.Code("x\r\n."), "250");
    EXPECT_EQ(client.Code("QUIT"), "221");
    EXPECT_EQ(sink.Join(), 0);
}

TEST(SinkCommand, NumbersSkipExistingFilesAndOneSessionCarriesSeveral) {
    ScratchDir dir;
    testing_support::WriteAll(dir / "mail/mail-1.eml", "older");
    RunningSink sink(Options(dir, 2));
    Client client(sink.Port());
    client.OpenTransaction();
    EXPECT_EQ(client.Code("DATA"), "354");
    EXPECT_EQ(client.Code("first\r\n."), "250");
    EXPECT_EQ(client.Code("MAIL FROM:<a@test>"), "250");
    EXPECT_EQ(client.Code("RCPT TO:<b@test>"), "250");
    EXPECT_EQ(client.Code("DATA"), "354");
    EXPECT_EQ(client.Code("second\r\n."), "250");
    EXPECT_EQ(client.Code("QUIT"), "221");
    EXPECT_EQ(sink.Join(), 0);
    EXPECT_EQ(ReadAll(dir / "mail/mail-1.eml"), "older");
    EXPECT_EQ(ReadAll(dir / "mail/mail-2.eml"), "first\r\n");
    EXPECT_EQ(ReadAll(dir / "mail/mail-3.eml"), "second\r\n");
}

TEST(SinkCommand, ClientsThatSaySomethingAreServedAtOnceBesideSilentOnes) {
    ScratchDir dir;
    RunningSink sink(Options(dir));
    std::vector<std::unique_ptr<Client>> silent;
    for (int i = 0; i < 3; ++i) {
        silent.push_back(std::make_unique<Client>(sink.Port()));
        EXPECT_EQ(silent.back()->Reply().substr(0, 3), "220");
    }
    const auto start = std::chrono::steady_clock::now();
    Client sender(sink.Port());
    sender.OpenTransaction();
    EXPECT_EQ(sender.Code("DATA"), "354");
    EXPECT_EQ(sender.Code("report\r\n."), "250");
    // Hang guards: the silent clients would hold the sender and the end of the run their
    // 30 s idle time each; both take some 100 ms when idle.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(sender.Code("QUIT"), "221");
    // Once the message is in, the silent ones are let go without waiting out their time.
    EXPECT_EQ(sink.Join(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    EXPECT_EQ(silent.front()->Reply().substr(0, 3), "421");
    EXPECT_EQ(ReadAll(dir / "mail/mail-1.eml"), "report\r\n");
}

TEST(SinkCommand, SilentClientsAreClosedAndTheyCannotCrowdOthersOut) {
    ScratchDir dir;
    SinkOptions o = Options(dir);
    o.idleSeconds = 1;
    o.maxConnections = 2;
    RunningSink sink(o);
    Client first(sink.Port()), second(sink.Port());
    EXPECT_EQ(first.Reply().substr(0, 3), "220");
    EXPECT_EQ(second.Reply().substr(0, 3), "220");
    {
        Client crowded(sink.Port());
        EXPECT_EQ(crowded.Reply().substr(0, 3), "421");
    }
    // A byte now and then keeps a connection; silence for the idle time ends it.
    EXPECT_EQ(second.Code("NOOP"), "250");
    EXPECT_EQ(first.Reply().substr(0, 12), "421 4.4.2 Id");
    EXPECT_EQ(second.Reply().substr(0, 12), "421 4.4.2 Id");
    Client sender(sink.Port());
    sender.OpenTransaction();
    EXPECT_EQ(sender.Code("DATA"), "354");
    EXPECT_EQ(sender.Code("x\r\n."), "250");
    EXPECT_EQ(sender.Code("QUIT"), "221");
    EXPECT_EQ(sink.Join(), 0);
}

TEST(SinkCommand, GivesUpWhenTheTimeOutPasses) {
    ScratchDir dir;
    SinkOptions o = Options(dir);
    o.timeoutSeconds = 60;
    o.pollMs = 5;
    o.portFile = dir / "port";
    SteppingClock clock;
    std::uint16_t heard = 0;
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(RunSink(o, clock, [&](std::uint16_t p) { heard = p; }), 1);
    // A hang guard: the time-out passes on the injected clock, in well under a second when
    // idle; waited for on the wall clock it would take 60 s.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    EXPECT_NE(heard, 0);
    EXPECT_EQ(ReadAll(dir / "port"), std::to_string(heard));
}

TEST(SinkCommand, CommandLineErrorsAreUsageErrors) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--port", "0"},
        {"--out"},
        {"--out", "d", "--port", "65536"},
        {"--out", "d", "--count", "0"},
        {"--out", "d", "--timeout", "-1"},
        {"--out", "d", "--bogus", "1"},
    };
    for (const auto& args : cases) {
        EXPECT_EQ(RunSinkCommand(args), 2) << ::testing::PrintToString(args);
    }
}
