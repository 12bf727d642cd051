// The outbox on disk: the backoff, the record's round trip and its refusal of damage, and
// entries that keep the attachments as they were when first kept, listed oldest first.
#include "common/outbox.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/folders.h"
#include "tests/support/test_env.h"

using testing_support::ReadAll;
using testing_support::ScratchDir;
using testing_support::WriteAll;

namespace {

TEST(OutboxBackoff, FiveTenTwentyFortyMinutesThenHourly) {
    const std::int64_t expected[] = {0, 300, 600, 1200, 2400, 3600, 3600, 3600};
    for (int tries = 0; tries < 8; ++tries) {
        EXPECT_EQ(outbox::RetryDelaySeconds(tries), expected[tries]) << tries;
    }
    EXPECT_EQ(outbox::RetryDelaySeconds(1000000), 3600);
}

outbox::Entry SampleEntry() {
    outbox::Entry e;
    e.mail.recipients = "Desk <desk@test>; other@test";
    e.mail.subject = "Alert: 100% of the disk";
    e.mail.body = "line one\r\nline two\n\ttab %41 \x7F";
    e.mail.attachments = {"week.xml", "day_07_31_2026.xml"};
    e.created = 1785513600;
    e.attempts = 3;
    e.firstAttempt = 1785513601;
    e.lastAttempt = 1785515400;
    e.nextAttempt = 1785516600;
    e.lastCode = 0x80040218;
    e.lastReason = "sending the report mail failed: ...";
    e.lastReply = "450 4.2.0 greylisted\r\nsecond line";
    return e;
}

TEST(OutboxRecord, EveryFieldSurvivesItsText) {
    const outbox::Entry original = SampleEntry();
    const std::string text = outbox::FormatRecord(original);
    // One field a line: nothing of a value can start a line of its own.
    EXPECT_EQ(text.find("\r\nline two"), std::string::npos);
    outbox::Entry read;
    std::string problem;
    ASSERT_TRUE(outbox::ParseRecord(text, &read, &problem)) << problem;
    EXPECT_EQ(read.mail.recipients, original.mail.recipients);
    EXPECT_EQ(read.mail.subject, original.mail.subject);
    EXPECT_EQ(read.mail.body, original.mail.body);
    EXPECT_EQ(read.mail.attachments, original.mail.attachments);
    EXPECT_EQ(read.created, original.created);
    EXPECT_EQ(read.attempts, original.attempts);
    EXPECT_EQ(read.firstAttempt, original.firstAttempt);
    EXPECT_EQ(read.lastAttempt, original.lastAttempt);
    EXPECT_EQ(read.nextAttempt, original.nextAttempt);
    EXPECT_EQ(read.lastCode, original.lastCode);
    EXPECT_EQ(read.lastReason, original.lastReason);
    EXPECT_EQ(read.lastReply, original.lastReply);
}

TEST(OutboxRecord, DamagedRecordsAreRefused) {
    const std::string good = outbox::FormatRecord(SampleEntry());
    const auto replaced = [&good](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"cut in the middle of a line", good.substr(0, good.size() / 2)},
        {"cut after a whole line", good.substr(0, good.find("attempts"))},
        {"without its end", good.substr(0, good.find("end: "))},
        {"LF lines", replaced("record: 1\r\n", "record: 1\n")},
        {"unknown version", replaced("record: 1", "record: 2")},
        {"a key missing", replaced("subject: Alert: 100%25 of the disk\r\n", "")},
        {"a key twice", replaced("attempts: 3\r\n", "attempts: 3\r\nattempts: 4\r\n")},
        {"an unknown key", replaced("attempts: 3\r\n", "tries: 3\r\n")},
        {"a negative number", replaced("next: 1785516600", "next: -5")},
        {"a number with text", replaced("attempts: 3", "attempts: 3x")},
        {"a broken escape", replaced("100%25", "100%2")},
        {"a lower-case escape", replaced("100%25", "100%2f")},
        {"a file with a folder", replaced("file: week.xml", "file: ../week.xml")},
        {"a code without 0x", replaced("code: 0x80040218", "code: 80040218")},
        {"text after the end", good + "attempts: 1\r\n"},
        {"a line without a colon", replaced("attempts: 3", "attempts 3")},
    };
    for (const auto& c : cases) {
        outbox::Entry read;
        std::string problem;
        EXPECT_FALSE(outbox::ParseRecord(c.text, &read, &problem)) << c.what;
        EXPECT_FALSE(problem.empty()) << c.what;
    }
}

class OutboxFolderTest : public ::testing::Test {
  protected:
    ScratchDir scratch_;
    std::string logs = scratch_ / "Logs";
    const std::int64_t now = platform::LocalTimeOf(2026, 7, 31, 18, 0, 5);
};

TEST_F(OutboxFolderTest, AnEntryKeepsTheFilesAsTheyWereWhenKept) {
    ASSERT_TRUE(platform::CreatePrivateFolder(logs));
    WriteAll(logs + "/week.xml", "<week>first</week>");
    WriteAll(logs + "/day_07_31_2026.xml", std::string("\0\r\n\x80", 4));
    OutboxMail mail;
    mail.recipients = "desk@test";
    mail.attachments = {logs + "/week.xml", logs + "/day_07_31_2026.xml", logs + "/gone.xml"};
    std::string id;
    ASSERT_TRUE(outbox::Enqueue(logs, mail, now, &id));
    EXPECT_EQ(id, "20260731-180005-001");
    // The next report and retention change the originals; the entry does not change.
    WriteAll(logs + "/week.xml", "<week>second</week>");
    outbox::Entry entry;
    ASSERT_TRUE(outbox::FindEntry(logs, id, false, &entry));
    ASSERT_FALSE(entry.damaged) << entry.problem;
    EXPECT_EQ(entry.mail.attachments,
              (std::vector<std::string>{"week.xml", "day_07_31_2026.xml", "gone.xml"}));
    EXPECT_EQ(ReadAll(outbox::CopyPath(entry, 0)), "<week>first</week>");
    EXPECT_EQ(ReadAll(outbox::CopyPath(entry, 1)), std::string("\0\r\n\x80", 4));
    // A file that was not there has no copy, so the entry fails as the mail would have.
    EXPECT_FALSE(testing_support::Exists(outbox::CopyPath(entry, 2)));
    EXPECT_EQ(entry.created, now);
    EXPECT_EQ(entry.nextAttempt, now);
    EXPECT_EQ(entry.attempts, 0);
}

TEST_F(OutboxFolderTest, EntriesAreListedOldestFirstAndADamagedOneIsShownAsSuch) {
    OutboxMail mail;
    mail.recipients = "desk@test";
    std::vector<std::string> ids(3);
    ASSERT_TRUE(outbox::Enqueue(logs, mail, now + 3600, &ids[0]));
    ASSERT_TRUE(outbox::Enqueue(logs, mail, now, &ids[1]));
    ASSERT_TRUE(outbox::Enqueue(logs, mail, now, &ids[2]));
    EXPECT_EQ(ids[1], "20260731-180005-001");
    EXPECT_EQ(ids[2], "20260731-180005-002");
    // A writer that died mid-entry leaves a staging folder, never an entry.
    ASSERT_TRUE(platform::CreatePrivateFolder(outbox::OutboxFolder(logs) +
                                              "/20260731-170000.tmp999999999"));
    WriteAll(outbox::OutboxFolder(logs) + "/" + ids[2] + "/record", "record: 1\r\ncreated: 1");
    std::vector<outbox::Entry> entries;
    ASSERT_TRUE(outbox::ListEntries(logs, false, &entries));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].id, ids[1]);
    EXPECT_EQ(entries[1].id, ids[2]);
    EXPECT_EQ(entries[2].id, ids[0]);
    EXPECT_FALSE(entries[0].damaged);
    EXPECT_TRUE(entries[1].damaged);

    // The damaged one goes to failed\ as it is; the folder of a dead writer is swept.
    ASSERT_TRUE(outbox::MoveToFailed(logs, &entries[1]));
    outbox::RemoveAbandonedStaging(logs);
    std::vector<std::string> folders;
    ASSERT_TRUE(platform::ListFolders(outbox::OutboxFolder(logs), &folders));
    EXPECT_EQ(folders, (std::vector<std::string>{ids[1], ids[0], "failed"}));
    std::vector<outbox::Entry> failed;
    ASSERT_TRUE(outbox::ListEntries(logs, true, &failed));
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_TRUE(failed[0].damaged);
    EXPECT_FALSE(outbox::MoveBack(logs, &failed[0], now));
}

TEST_F(OutboxFolderTest, AFailedEntryComesBackDueWithItsTimeStartedAgain) {
    OutboxMail mail;
    mail.recipients = "desk@test";
    std::string id;
    ASSERT_TRUE(outbox::Enqueue(logs, mail, now, &id));
    outbox::Entry entry;
    ASSERT_TRUE(outbox::FindEntry(logs, id, false, &entry));
    entry.attempts = 1;
    entry.firstAttempt = now;
    entry.lastReason = "550 no such user";
    ASSERT_TRUE(outbox::MoveToFailed(logs, &entry));
    EXPECT_FALSE(outbox::FindEntry(logs, id, false, &entry));
    ASSERT_TRUE(outbox::FindEntry(logs, id, true, &entry));
    EXPECT_EQ(entry.lastReason, "550 no such user");
    ASSERT_TRUE(outbox::MoveBack(logs, &entry, now + 7200));
    ASSERT_TRUE(outbox::FindEntry(logs, id, false, &entry));
    EXPECT_EQ(entry.nextAttempt, now + 7200);
    EXPECT_EQ(entry.firstAttempt, 0);
    EXPECT_EQ(entry.attempts, 1);
    ASSERT_TRUE(outbox::RemoveEntry(entry));
    EXPECT_FALSE(outbox::FindEntry(logs, id, false, &entry));
}

TEST(OutboxIds, OnlyTheIdsEnqueueMakesAreTakenAsIds) {
    EXPECT_TRUE(outbox::IsEntryId("20260731-180005-001"));
    for (const char* name :
         {"", "failed", "20260731-180005", "20260731-180005-01", "../../etc/passwd-1",
          "20260731-180005-00a", "20260731-180005.tmp123", "20260731_180005_001"}) {
        EXPECT_FALSE(outbox::IsEntryId(name)) << name;
    }
}

}  // namespace
