// Postvane through the outbox against the scripted loopback server: which failures are kept
// and for how long, a greylisting server that takes the retry, a refused recipient that goes
// to failed\ at once, entries sent oldest first and each once, and a second sender that
// leaves its mail to the first.
#include "mailer/outbox_run.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/outbox.h"
#include "mailer/sender_app.h"
#include "mailer/smtp/smtp_exception.h"
#include "mailer/smtp/smtp_settings.h"
#include "platform/folders.h"
#include "tests/support/scripted_smtp_server.h"
#include "tests/support/test_env.h"

using testing_support::ScriptedSmtpServer;
using testing_support::SetRegDword;
using testing_support::SetRegString;

namespace {

// The classes of failure the outbox keeps (may pass) and those it gives up on at once.
TEST(OutboxClassification, ServerDownTimeoutsAnd4xxPassTheRestDoesNot) {
    const struct {
        std::uint32_t code;
        int replyCode;
        bool mayPass;
    } cases[] = {
        {SmtpSocketError(10061), 0, true},  // refused: the server is down
        {SmtpSocketError(10060), 0, true},  // timed out
        {SmtpSocketError(11001), 0, true},  // the name does not resolve (yet)
        {SmtpSocketError(10054), 0, true},  // the connection dropped
        {SmtpInterfaceError(kSmtpTlsHandshake), 0, true},
        {SmtpInterfaceError(kSmtpGreeting), 421, true},
        {SmtpInterfaceError(kSmtpRcptTo), 450, true},  // greylisting
        {SmtpInterfaceError(kSmtpMailFrom), 451, true},
        {SmtpInterfaceError(kSmtpData), 452, true},
        {SmtpInterfaceError(kSmtpEndOfData), 0, true},  // no reply to the end of data
        {SmtpInterfaceError(kSmtpLoginPass), 454, true},
        {SmtpInterfaceError(kSmtpRcptTo), 550, false},
        {SmtpInterfaceError(kSmtpMailFrom), 553, false},
        {SmtpInterfaceError(kSmtpData), 554, false},
        {SmtpInterfaceError(kSmtpEndOfData), 552, false},
        {SmtpInterfaceError(kSmtpLoginPass), 535, false},
        {SmtpInterfaceError(kSmtpCramAnswer), 535, false},
        {SmtpInterfaceError(kSmtpTlsUnknownIssuer), 0, false},
        {SmtpInterfaceError(kSmtpTlsNameMismatch), 0, false},
        {SmtpInterfaceError(kSmtpTlsSetting), 0, false},
        {SmtpInterfaceError(kSmtpNoRecipient), 0, false},
        {SmtpInterfaceError(kSmtpPartBody), 0, false},  // a report file missing
        {SmtpSocketError(10022), 0, false},             // SMTPSRV/SMTPPORT unusable
    };
    for (const auto& c : cases) {
        const SenderVerdict verdict =
            JudgeFailure(CSMTPException(c.code, "x", c.replyCode), SenderPhase::Transfer);
        EXPECT_EQ(verdict.mayPass, c.mayPass)
            << std::hex << c.code << " " << std::dec << c.replyCode << ": " << verdict.line;
    }
}

SendOutcome Failure(bool mayPass) {
    SendOutcome outcome;
    outcome.verdict = {kSenderConnect, "connecting failed", mayPass};
    outcome.code = SmtpSocketError(10061);
    return outcome;
}

// Every try fails; the window of SMTPRetryHours, counted from the first try, ends the retries.
TEST(OutboxRetries, AnEntryIsTriedOnTheBackoffUntilItsTimeRunsOut) {
    const struct {
        std::uint32_t hours;
        bool mayPass;
        std::vector<std::int64_t> tries;  // minutes after the first; the last one gives up
    } cases[] = {
        {1, true, {0, 5, 15, 35}},
        {2, true, {0, 5, 15, 35, 75}},
        {3, true, {0, 5, 15, 35, 75, 135}},
        {24, false, {0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hours);
        outbox::Entry entry;
        const std::int64_t start = 1785513600;
        std::int64_t now = start;
        for (std::size_t i = 0; i < c.tries.size(); ++i) {
            EXPECT_EQ(now, start + c.tries[i] * 60) << "try " << i + 1;
            const EntryFate fate = RecordTry(&entry, Failure(c.mayPass), now, c.hours);
            EXPECT_EQ(fate, i + 1 < c.tries.size() ? EntryFate::Kept : EntryFate::Failed);
            now = entry.nextAttempt;
        }
        EXPECT_EQ(entry.attempts, static_cast<int>(c.tries.size()));
        EXPECT_EQ(entry.firstAttempt, start);
        EXPECT_EQ(entry.lastCode, SmtpSocketError(10061));
    }
    // A day holds 5, 10, 20 and 40 minutes, then hourly tries: 27 in all.
    outbox::Entry entry;
    std::int64_t now = 0;
    int tries = 0;
    while (RecordTry(&entry, Failure(true), now + 1, 24) == EntryFate::Kept) {
        now = entry.nextAttempt - 1;
        ++tries;
    }
    EXPECT_EQ(tries + 1, 27);
}

class OutboxRunTest : public testing_support::RegistryTest {
  protected:
    OutboxRunTest() {
        logs = scratch_ / "Logs";
        platform::CreatePrivateFolder(logs);
        SetRegString("apppath", scratch_.Path() + "/");
        testing_support::WriteAll(logs + "/week.xml", "<week>first</week>");
    }

    void Configure(std::uint16_t port, const std::string& to) {
        SetRegString("SMTPSRV", ShiftSetting("127.0.0.1"));
        SetRegDword("SMTPPORT", port);
        SetRegString("SMTPAUTH", ShiftSetting("None"));
        SetRegString("EmailAddress", ShiftSetting(to));
        SetRegString("ToSendFile", logs + "/week.xml");
    }

    // One run of Postvane at the given time; outbox: as "-outbox".
    int Run(std::int64_t at, bool outboxRun = false, std::uint32_t replyTimeoutMs = 3000) {
        reported.clear();
        CSenderApp app;
        SenderArguments arguments;
        arguments.outbox = outboxRun;
        arguments.haveTime = true;
        arguments.at = at;
        app.SetArguments(arguments);
        app.SetReplyTimeout(replyTimeoutMs);
        app.SetHeloHost("client.test");
        app.SetLockWait(lockWaitMs);
        app.SetReporter([this](const std::string& line) { reported.push_back(line); });
        app.InitInstance();
        return app.ExitStatus();
    }

    std::vector<outbox::Entry> Entries(bool failed) {
        std::vector<outbox::Entry> entries;
        EXPECT_TRUE(outbox::ListEntries(logs, failed, &entries));
        return entries;
    }

    static void Accepting(ScriptedSmtpServer& server) {
        server.Say("220 hi\r\n").Reply("250 hello\r\n").Reply("250 sender ok\r\n");
        server.Reply("250 rcpt ok\r\n").Reply("354 go\r\n").HearData().Say("250 queued\r\n");
        server.Reply("221 bye\r\n");
        server.Start();
    }

    std::uint32_t lockWaitMs = 0;  // a held lock is not waited for unless a test says so

    static bool Holds(const std::string& line, const std::string& part) {
        return line.find(part) != std::string::npos;
    }

    std::string logs;
    std::vector<std::string> reported;
    // Friday 31 July 2026, 18:00.
    const std::int64_t reportHour = platform::LocalTimeOf(2026, 7, 31, 18);
};

TEST_F(OutboxRunTest, AGreylistedMailGoesOnTheRetryWithTheFileAsItWas) {
    {
        ScriptedSmtpServer server;
        Configure(server.Port(), "desk@test");
        server.Say("220 hi\r\n").Reply("250 hello\r\n").Reply("250 sender ok\r\n");
        server.Reply("450 4.2.0 greylisted, come back later\r\n").Reply("221 bye\r\n");
        server.Start();
        EXPECT_EQ(Run(reportHour), kSenderKept);
        server.Finish();
    }
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_TRUE(Holds(reported[0], "last reply: 450 4.2.0 greylisted")) << reported[0];
    EXPECT_TRUE(Holds(reported[0],
                      "; kept in the outbox as 20260731-180000-001, next try at "
                      "2026-07-31 18:05"))
        << reported[0];
    std::vector<outbox::Entry> waiting = Entries(false);
    ASSERT_EQ(waiting.size(), 1u);
    EXPECT_EQ(waiting[0].attempts, 1);
    EXPECT_EQ(waiting[0].nextAttempt, reportHour + 300);
    EXPECT_EQ(waiting[0].lastReply, "450 4.2.0 greylisted, come back later");

    // The next report rewrites the file; before the entry is due nothing is tried.
    testing_support::WriteAll(logs + "/week.xml", "<week>second</week>");
    EXPECT_EQ(Run(reportHour + 299, true), kSenderSent);
    EXPECT_TRUE(reported.empty());

    ScriptedSmtpServer server;
    Configure(server.Port(), "desk@test");
    Accepting(server);
    EXPECT_EQ(Run(reportHour + 300, true), kSenderSent);
    server.Finish();
    EXPECT_EQ(reported, std::vector<std::string>{"Postvane: the report mail was sent (outbox "
                                                 "entry 20260731-180000-001, try 2)"});
    const std::string data = server.Data();
    // The words and the file of the first try; the Date line of this one.
    EXPECT_TRUE(Holds(data, "31/07/2026")) << data;
    EXPECT_TRUE(Holds(data, "filename=\"week.xml\"")) << data;
    EXPECT_TRUE(Holds(data, "PHdlZWs+Zmlyc3Q8L3dlZWs+")) << data;  // <week>first</week>
    EXPECT_TRUE(Entries(false).empty());
    EXPECT_TRUE(Entries(true).empty());
}

TEST_F(OutboxRunTest, ARefusedRecipientGoesToFailedAfterOneTryAsAnError) {
    ScriptedSmtpServer server;
    Configure(server.Port(), "nobody@test");
    server.Say("220 hi\r\n").Reply("250 hello\r\n").Reply("250 sender ok\r\n");
    server.Reply("550 5.1.1 no such user\r\n").Reply("221 bye\r\n");
    server.Start();
    EXPECT_EQ(Run(reportHour), kSenderTransfer);
    server.Finish();
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_TRUE(Holds(reported[0], "the server refused a recipient")) << reported[0];
    EXPECT_TRUE(Holds(reported[0], "; not tried again; the report mail is kept in "))
        << reported[0];
    EXPECT_TRUE(Entries(false).empty());
    std::vector<outbox::Entry> failed = Entries(true);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].attempts, 1);
    EXPECT_EQ(failed[0].lastReply, "550 5.1.1 no such user");
    // Nothing is tried again from failed\.
    EXPECT_EQ(Run(reportHour + 86400, true), kSenderSent);
    EXPECT_TRUE(reported.empty());
}

TEST_F(OutboxRunTest, TwoReportHoursWhileTheServerIsDownGoOldestFirstEachOnce) {
    std::uint16_t downPort = 0;
    {
        ScriptedSmtpServer probe;
        downPort = probe.Port();
    }
    Configure(downPort, "desk@test");
    EXPECT_EQ(Run(reportHour), kSenderKept);
    EXPECT_EQ(Run(reportHour + 3600), kSenderKept);
    // The retry of the first is due too: both are tried, the older first.
    ASSERT_EQ(reported.size(), 2u);
    EXPECT_TRUE(Holds(reported[0], "20260731-180000-001")) << reported[0];
    EXPECT_TRUE(Holds(reported[1], "20260731-190000-001")) << reported[1];
    ASSERT_EQ(Entries(false).size(), 2u);

    // The server is back and takes one mail; the second connection gets no greeting.
    ScriptedSmtpServer server;
    Configure(server.Port(), "desk@test");
    Accepting(server);
    EXPECT_EQ(Run(reportHour + 3600 + 600, true, 500), kSenderKept);
    server.Finish();
    ASSERT_EQ(reported.size(), 2u);
    EXPECT_TRUE(Holds(reported[0], "sent (outbox entry 20260731-180000-001, try 3)"))
        << reported[0];
    EXPECT_TRUE(Holds(reported[1], "kept in the outbox as 20260731-190000-001")) << reported[1];
    std::vector<outbox::Entry> left = Entries(false);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].id, "20260731-190000-001");
}

TEST_F(OutboxRunTest, ASecondSenderLeavesItsMailInTheOutbox) {
    ASSERT_TRUE(platform::CreatePrivateFolder(outbox::OutboxFolder(logs)));
    std::unique_ptr<platform::FolderLock> held =
        platform::FolderLock::TryAcquire(outbox::LockPath(logs));
    ASSERT_TRUE(held);
    Configure(1, "desk@test");  // never reached
    EXPECT_EQ(Run(reportHour), kSenderBusy);
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_TRUE(Holds(reported[0], "waits in the outbox as 20260731-180000-001")) << reported[0];
    EXPECT_EQ(Run(reportHour + 60, true), kSenderBusy);
    ASSERT_EQ(Entries(false).size(), 1u);
    EXPECT_EQ(Entries(false)[0].attempts, 0);
    held.reset();

    ScriptedSmtpServer server;
    Configure(server.Port(), "desk@test");
    Accepting(server);
    EXPECT_EQ(Run(reportHour + 60, true), kSenderSent);
    server.Finish();
    EXPECT_TRUE(Entries(false).empty());
}

TEST_F(OutboxRunTest, ASecondSenderWaitsForTheFirstAndSendsItsOwnMail) {
    ASSERT_TRUE(platform::CreatePrivateFolder(outbox::OutboxFolder(logs)));
    std::unique_ptr<platform::FolderLock> held =
        platform::FolderLock::TryAcquire(outbox::LockPath(logs));
    ASSERT_TRUE(held);
    ScriptedSmtpServer server;
    Configure(server.Port(), "desk@test");
    Accepting(server);
    // The first sender lets go a moment later; the wait is far longer (a hang guard only).
    std::thread first([&held] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        held.reset();
    });
    lockWaitMs = 60000;
    const int status = Run(reportHour);
    first.join();
    server.Finish();
    EXPECT_EQ(status, kSenderSent);
    EXPECT_TRUE(Entries(false).empty());

    // A mail whose entry an earlier sender took along is not sent twice.
    ASSERT_TRUE(platform::CreatePrivateFolder(outbox::OutboxFolder(logs)));
    std::unique_ptr<platform::FolderLock> again =
        platform::FolderLock::TryAcquire(outbox::LockPath(logs));
    std::thread taker([this, &again] {
        for (int i = 0; i < 3000 && Entries(false).empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        for (const outbox::Entry& entry : Entries(false)) {
            outbox::RemoveEntry(entry);
        }
        again.reset();
    });
    Configure(1, "desk@test");  // never reached
    EXPECT_EQ(Run(reportHour + 60), kSenderSent);
    taker.join();
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_TRUE(Holds(reported[0], "was taken from the outbox by the Postvane before"))
        << reported[0];
}

TEST_F(OutboxRunTest, WithoutRetryHoursNothingIsKept) {
    SetRegDword("SMTPRetryHours", 0);
    Configure(1, "desk@test");
    EXPECT_EQ(Run(reportHour), kSenderConnect);
    EXPECT_FALSE(testing_support::Exists(outbox::OutboxFolder(logs)));
}

TEST_F(OutboxRunTest, WithoutAnOutboxTheMailIsSentOnceAndALossIsSaid) {
    SetRegString("apppath", "");
    Configure(1, "desk@test");
    EXPECT_EQ(Run(reportHour), kSenderOutboxUnusable);
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_TRUE(Holds(reported[0],
                      "the outbox cannot be used (apppath is not set), so the mail "
                      "is not kept for another try"))
        << reported[0];
    // A failure no outbox would keep reads as it always did.
    ScriptedSmtpServer server;
    Configure(server.Port(), "nobody@test");
    server.Say("220 hi\r\n").Reply("250 hello\r\n").Reply("250 sender ok\r\n");
    server.Reply("550 no\r\n").Reply("221 bye\r\n");
    server.Start();
    EXPECT_EQ(Run(reportHour), kSenderTransfer);
    server.Finish();
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0],
              "Postvane: sending the report mail failed: the server refused a "
              "recipient, code 0x8004020C, last reply: 550 no");
}

TEST(SenderArgumentsTest, OutboxAndATimeOrNothing) {
    const struct {
        std::vector<std::string> args;
        bool ok;
        bool outbox;
        std::int64_t at;
        std::string mailFile;
    } cases[] = {
        {{}, true, false, 0, ""},
        {{"-outbox"}, true, true, 0, ""},
        {{"-at", "1785513600", "-outbox"}, true, true, 1785513600, ""},
        {{"-mail", "a.mail"}, true, false, 0, "a.mail"},
        {{"-mail", "C:\\x\\a.mail", "-at", "5"}, true, false, 5, "C:\\x\\a.mail"},
        {{"-at"}, false, false, 0, ""},
        {{"-at", "-5"}, false, false, 0, ""},
        {{"-at", "12x"}, false, false, 0, ""},
        {{"/outbox"}, false, false, 0, ""},
        {{"-Outbox"}, false, false, 0, ""},
        {{"-mail"}, false, false, 0, ""},
        {{"-mail", ""}, false, false, 0, ""},
        {{"-mail", "a", "b"}, false, false, 0, ""},
        {{"-outbox", "-mail", "a"}, false, false, 0, ""},
    };
    for (const auto& c : cases) {
        SenderArguments parsed;
        std::string problem;
        EXPECT_EQ(ParseSenderArguments(c.args, &parsed, &problem), c.ok) << problem;
        if (c.ok) {
            EXPECT_EQ(parsed.outbox, c.outbox);
            EXPECT_EQ(parsed.at, c.at);
            EXPECT_EQ(parsed.mailFile, c.mailFile);
        } else {
            EXPECT_FALSE(problem.empty());
        }
    }
}

}  // namespace
