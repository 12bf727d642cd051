// Who may read what a replacement writes: a new private file (the registry file, its lock and
// its temporaries) is its owner's alone whatever the umask lets through, a new shared file is
// readable by all, and a replaced file keeps the permissions it had.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/files.h"
#include "platform/registry.h"
#include "tests/platform/file_mode.h"
#include "tests/support/test_env.h"

namespace {

using platform::FileReplacement;
using platform::NewFileAccess;
using testing_support::ModeOf;
using testing_support::ScratchDir;
using testing_support::WriteAll;

// The temporary a pending replacement writes, the only other file in its directory.
std::string TemporaryIn(const std::string& dir, const std::string& besides) {
    std::vector<platform::DirEntry> entries;
    EXPECT_TRUE(platform::ListDirectory(dir, &entries));
    for (const auto& e : entries) {
        if (e.name != besides && e.name.find(".tmp") != std::string::npos) {
            return dir + "/" + e.name;
        }
    }
    ADD_FAILURE() << "no temporary in " << dir;
    return {};
}

// Sets a umask for its lifetime: the permissions must not depend on the caller's.
class Umask {
  public:
    explicit Umask(mode_t mask) : previous_(umask(mask)) {}
    ~Umask() { umask(previous_); }

  private:
    mode_t previous_;
};

TEST(FileAccess, NewFilesGetTheirAccessAndReplacedOnesKeepTheirs) {
    const struct {
        const char* what;
        NewFileAccess access;
        int existing;  // the target's mode before, -1: no target
        unsigned temporary;
        unsigned after;
    } cases[] = {
        {"new shared", NewFileAccess::Shared, -1, 0644, 0644},
        {"new private", NewFileAccess::OwnerOnly, -1, 0600, 0600},
        {"shared kept", NewFileAccess::OwnerOnly, 0644, 0644, 0644},
        {"group kept", NewFileAccess::Shared, 0640, 0640, 0640},
        {"private kept", NewFileAccess::Shared, 0600, 0600, 0600},
    };
    const Umask open(0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        const std::string path = dir / "file";
        if (c.existing >= 0) {
            WriteAll(path, "old");
            ASSERT_EQ(chmod(path.c_str(), static_cast<mode_t>(c.existing)), 0);
        }
        FileReplacement replacement(path, FileReplacement::Mode::Binary, c.access);
        ASSERT_TRUE(replacement.Write("secret"));
        EXPECT_EQ(ModeOf(TemporaryIn(dir.Path(), "file")), c.temporary);
        ASSERT_EQ(replacement.Commit(), platform::ReplaceError::None);
        EXPECT_EQ(ModeOf(path), c.after);
    }
}

class RegistryFileAccessTest : public testing_support::RegistryTest {};

TEST_F(RegistryFileAccessTest, TheRegistryFileAndItsLockAreTheOwnersAlone) {
    const Umask open(0);
    testing_support::SetRegString("SMTPPass4MailServer", "x");
    EXPECT_EQ(ModeOf(registryFile_), 0600u);
    EXPECT_EQ(ModeOf(registryFile_ + ".lock"), 0600u);
    std::string path;
    unsigned mode = 0;
    EXPECT_FALSE(platform::RegistryFileReadableByOthers(&path, &mode));

    // An administrator's choice stays when the file is written again.
    ASSERT_EQ(chmod(registryFile_.c_str(), 0640), 0);
    testing_support::SetRegString("SMTPPass4MailServer", "y");
    EXPECT_EQ(ModeOf(registryFile_), 0640u);
    EXPECT_TRUE(platform::RegistryFileReadableByOthers(&path, &mode));
    EXPECT_EQ(path, registryFile_);
    EXPECT_EQ(mode, 0640u);
}

}  // namespace
