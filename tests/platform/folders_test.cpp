// Folders on POSIX: the outbox and everything in it are their owner's alone whatever the
// umask, a move never replaces what is there, a removal never follows a link out of the
// folder, and the lock is refused to a second holder until the first lets go.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/outbox.h"
#include "platform/folders.h"
#include "tests/platform/file_mode.h"
#include "tests/support/test_env.h"

namespace {

using testing_support::ModeOf;
using testing_support::ScratchDir;
using testing_support::WriteAll;

TEST(Folders, TheOutboxIsItsOwnersAloneWhateverTheUmask) {
    ScratchDir scratch;
    const std::string logs = scratch / "Logs";
    ASSERT_TRUE(platform::CreatePrivateFolder(logs));
    // A folder made before, open to all, is closed.
    ASSERT_EQ(::mkdir(outbox::OutboxFolder(logs).c_str(), 0777), 0);
    ASSERT_EQ(::chmod(outbox::OutboxFolder(logs).c_str(), 0777), 0);
    WriteAll(logs + "/week.xml", "<week/>");
    const mode_t previous = ::umask(0);
    OutboxMail mail;
    mail.attachments = {logs + "/week.xml"};
    std::string id;
    const bool kept = outbox::Enqueue(logs, mail, 1785513600, &id);
    ::umask(previous);
    ASSERT_TRUE(kept);
    outbox::Entry entry;
    ASSERT_TRUE(outbox::FindEntry(logs, id, false, &entry));
    EXPECT_EQ(ModeOf(outbox::OutboxFolder(logs)), 0700u);
    EXPECT_EQ(ModeOf(entry.folder), 0700u);
    EXPECT_EQ(ModeOf(entry.folder + "/record"), 0600u);
    EXPECT_EQ(ModeOf(outbox::CopyPath(entry, 0)), 0600u);
    ASSERT_TRUE(outbox::MoveToFailed(logs, &entry));
    EXPECT_EQ(ModeOf(outbox::FailedFolder(logs)), 0700u);
}

TEST(Folders, AMoveNeverReplacesAndARemovalNeverFollowsALink) {
    ScratchDir scratch;
    ASSERT_TRUE(platform::CreatePrivateFolder(scratch / "a/inner"));
    ASSERT_TRUE(platform::CreatePrivateFolder(scratch / "b"));
    ASSERT_TRUE(platform::CreatePrivateFolder(scratch / "outside"));
    WriteAll(scratch / "b/keep", "b");
    WriteAll(scratch / "outside/precious", "p");
    WriteAll(scratch / "a/inner/file", "a");
    ASSERT_EQ(::symlink((scratch / "outside").c_str(), (scratch / "a/link").c_str()), 0);

    EXPECT_FALSE(platform::MovePath(scratch / "a", scratch / "b"));
    EXPECT_TRUE(testing_support::Exists(scratch / "b/keep"));
    EXPECT_TRUE(platform::MovePath(scratch / "a", scratch / "c"));
    std::vector<std::string> names;
    ASSERT_TRUE(platform::ListFolders(scratch.Path(), &names));
    EXPECT_EQ(names, (std::vector<std::string>{"b", "c", "outside"}));

    EXPECT_TRUE(platform::RemoveFolder(scratch / "c"));
    EXPECT_FALSE(testing_support::Exists(scratch / "c"));
    EXPECT_EQ(testing_support::ReadAll(scratch / "outside/precious"), "p");
    EXPECT_FALSE(platform::RemoveFolder(scratch / "b/keep"));  // a file is no folder
}

TEST(Folders, TheLockHasOneHolderAtATime) {
    ScratchDir scratch;
    const std::string path = scratch / "sender.lock";
    std::unique_ptr<platform::FolderLock> first = platform::FolderLock::TryAcquire(path);
    ASSERT_TRUE(first);
    EXPECT_FALSE(platform::FolderLock::TryAcquire(path));
    first.reset();
    EXPECT_TRUE(platform::FolderLock::TryAcquire(path));
    EXPECT_FALSE(platform::FolderLock::TryAcquire(scratch / "missing/sender.lock"));
}

}  // namespace
