// `tallyctl mail`: the outbox and its failed entries listed, an entry made due or brought back
// from failed\, one dropped; nothing changes while a sender holds the lock.
#include "tools/mail_command.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/outbox.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "tests/support/test_env.h"

namespace {

class MailCommandTest : public testing_support::RegistryTest {
  protected:
    MailCommandTest() {
        app = scratch_.Path() + "/app/";
        logs = outbox::LogsDirOf(app);
        platform::CreateDirectories(logs);
        testing_support::SetRegString("apppath", app);
    }

    // An entry tried once, due again at next.
    std::string Keep(std::int64_t created, std::int64_t next, const std::string& reason) {
        OutboxMail mail;
        mail.recipients = "desk@test";
        mail.attachments = {logs + "/week.xml", logs + "/day_07_31_2026.xml"};
        std::string id;
        EXPECT_TRUE(outbox::Enqueue(logs, mail, created, &id));
        outbox::Entry entry;
        EXPECT_TRUE(outbox::FindEntry(logs, id, false, &entry));
        entry.attempts = 1;
        entry.nextAttempt = next;
        entry.lastReason = reason;
        EXPECT_TRUE(outbox::SaveEntry(entry));
        return id;
    }

    int Run(const std::vector<std::string>& args) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int status = RunMailCommand(args);
        out = testing::internal::GetCapturedStdout();
        err = testing::internal::GetCapturedStderr();
        return status;
    }

    outbox::Entry Find(const std::string& id, bool failed) {
        outbox::Entry entry;
        EXPECT_TRUE(outbox::FindEntry(logs, id, failed, &entry)) << id;
        return entry;
    }

    std::string app, logs, out, err;
    const std::int64_t t = platform::LocalTimeOf(2026, 7, 31, 18);
};

TEST_F(MailCommandTest, QueueAndFailedListTheEntriesWithTheirReasons) {
    EXPECT_EQ(Run({"queue"}), 0);
    EXPECT_EQ(out, "the outbox is empty\n");
    const std::string id = Keep(t, t + 300, "connecting failed\x1b[2J");
    EXPECT_EQ(Run({"queue"}), 0);
    EXPECT_EQ(out, id + "  week.xml, day_07_31_2026.xml  tries 1  next 2026-07-31 18:05\n"
                        "    last: connecting failed\\x1B[2J\n");
    outbox::Entry entry = Find(id, false);
    entry.lastAttempt = t + 60;
    ASSERT_TRUE(outbox::MoveToFailed(logs, &entry));
    EXPECT_EQ(Run({"failed"}), 0);
    EXPECT_EQ(out, id + "  week.xml, day_07_31_2026.xml  tries 1  failed 2026-07-31 18:01\n"
                        "    why: connecting failed\\x1B[2J\n");
}

TEST_F(MailCommandTest, RetryMakesEntriesDueAndBringsAFailedOneBack) {
    const std::string first = Keep(t, t + 3600, "a");
    const std::string second = Keep(t + 1, t + 3600, "b");
    EXPECT_EQ(Run({"retry", first, "--at", std::to_string(t + 10)}), 0);
    EXPECT_EQ(Find(first, false).nextAttempt, t + 10);
    EXPECT_EQ(Find(second, false).nextAttempt, t + 3600);
    EXPECT_EQ(Run({"retry", "--all", "--at", std::to_string(t + 20)}), 0);
    EXPECT_EQ(Find(first, false).nextAttempt, t + 20);
    EXPECT_EQ(Find(second, false).nextAttempt, t + 20);

    outbox::Entry failed = Find(second, false);
    ASSERT_TRUE(outbox::MoveToFailed(logs, &failed));
    EXPECT_EQ(Run({"retry", second, "--at", std::to_string(t + 30)}), 0);
    EXPECT_EQ(out, second + " is back in the outbox and due now\n");
    EXPECT_EQ(Find(second, false).nextAttempt, t + 30);

    EXPECT_EQ(Run({"drop", first}), 0);
    outbox::Entry gone;
    EXPECT_FALSE(outbox::FindEntry(logs, first, false, &gone));
    const struct {
        std::vector<std::string> args;
        int status;
    } refused[] = {
        {{"drop", first}, 1},         // gone already
        {{"retry", "../../etc"}, 1},  // no such entry, and never a path
        {{"retry", second, "--at", "x"}, 2},
        {{"drop"}, 2},
        {{"list"}, 2},
    };
    for (const auto& c : refused) {
        EXPECT_EQ(Run(c.args), c.status) << c.args[0];
        EXPECT_FALSE(err.empty());
    }
}

TEST_F(MailCommandTest, NothingChangesWhileASenderIsAtWork) {
    const std::string id = Keep(t, t + 3600, "a");
    std::unique_ptr<platform::FolderLock> held =
        platform::FolderLock::TryAcquire(outbox::LockPath(logs));
    ASSERT_TRUE(held);
    EXPECT_EQ(Run({"retry", "--all"}), 1);
    EXPECT_EQ(Run({"drop", id}), 1);
    EXPECT_EQ(Find(id, false).nextAttempt, t + 3600);
    EXPECT_EQ(Run({"queue"}), 0);  // reading needs no lock
}

}  // namespace
