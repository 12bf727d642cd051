// Files that are not what the programs expect, and what a killed writer leaves: a FIFO,
// socket or directory where a file should be must be refused at once, never waited on; a
// replacement keeps the file's permissions; stale temporaries of ours are swept, anyone
// else's are not.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/support/test_env.h"

namespace {

using testing_support::Exists;
using testing_support::ReadAll;
using testing_support::ScratchDir;
using testing_support::WriteAll;

// Ends the test program if a call blocks: a hang would otherwise pass unnoticed until the
// whole run's time-out.
class Watchdog {
  public:
    explicit Watchdog(unsigned seconds) { alarm(seconds); }
    ~Watchdog() { alarm(0); }
};

enum class Kind { Fifo, Socket, Directory };

void Make(Kind kind, const std::string& path) {
    switch (kind) {
        case Kind::Fifo:
            ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
            break;
        case Kind::Socket: {
            const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            ASSERT_LT(path.size(), sizeof addr.sun_path);
            std::strcpy(addr.sun_path, path.c_str());
            ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
            close(fd);
            break;
        }
        case Kind::Directory:
            ASSERT_TRUE(platform::CreateDirectories(path));
            break;
    }
}

// A pid that is certainly not running: a child that has been reaped.
pid_t DeadPid() {
    const pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    waitpid(child, nullptr, 0);
    return child;
}

TEST(FilesHostile, ANonRegularFileIsRefusedAtOnceInEveryRole) {
    Watchdog watchdog(20);
    using platform::OpenMode;
    using platform::ShareMode;
    const std::vector<std::pair<const char*, std::function<bool(const std::string&)>>> roles = {
        {"open to read, no sharing",
         [](const std::string& p) {
             return !platform::File::Open(p, OpenMode::Read, ShareMode::None);
         }},
        {"open to read, shared",
         [](const std::string& p) {
             return !platform::File::Open(p, OpenMode::Read, ShareMode::ReadWrite);
         }},
        {"open to write",
         [](const std::string& p) {
             return !platform::File::Open(p, OpenMode::WriteTruncate, ShareMode::None);
         }},
        {"read whole",
         [](const std::string& p) {
             std::string bytes;
             return !platform::ReadFileBytes(p, ShareMode::None, &bytes);
         }},
        {"replace", [](const std::string& p) { return !platform::ReplaceFileBytes(p, "x"); }},
    };
    ScratchDir dir;
    int n = 0;
    for (Kind kind : {Kind::Fifo, Kind::Socket, Kind::Directory}) {
        for (const auto& [role, refused] : roles) {
            const std::string path = dir / ("n" + std::to_string(n++));
            Make(kind, path);
            EXPECT_TRUE(refused(path)) << role << ", kind " << static_cast<int>(kind);
            struct stat st {};
            ASSERT_EQ(lstat(path.c_str(), &st), 0);
            EXPECT_FALSE(S_ISREG(st.st_mode)) << role << ": the special file was replaced";
        }
    }
    // Deleting one does not wait either.
    const std::string fifo = dir / "fifo";
    Make(Kind::Fifo, fifo);
    EXPECT_TRUE(platform::DeleteFileAt(fifo));
}

TEST(FilesHostile, ReplacementKeepsPermissionsAndReplacesALinkNotItsTarget) {
    ScratchDir dir;
    const std::string path = dir / "brisko.001";
    WriteAll(path, "old");
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    ASSERT_TRUE(platform::ReplaceFileBytes(path, "new"));
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(ReadAll(path), "new");

    const std::string outside = dir / "outside";
    WriteAll(outside, "keep");
    const std::string link = dir / "brisko.002";
    ASSERT_EQ(symlink(outside.c_str(), link.c_str()), 0);
    ASSERT_TRUE(platform::ReplaceFileBytes(link, "written"));
    EXPECT_EQ(ReadAll(outside), "keep");
    EXPECT_EQ(ReadAll(link), "written");
}

TEST(FilesHostile, ALinkIsNeitherListedNorOpened) {
    ScratchDir dir;
    const std::string outside = dir / "outside";
    WriteAll(outside, "secret");
    platform::CreateDirectories(dir / "Logs");
    WriteAll(dir / "Logs/Filter_07_12_2026.log", "own");
    const std::string link = dir / "Logs/Filter_08_12_2026.log";
    ASSERT_EQ(symlink(outside.c_str(), link.c_str()), 0);
    EXPECT_EQ(platform::FindFiles(dir / "Logs/Filter_*.log"),
              std::vector<std::string>{"Filter_07_12_2026.log"});
    for (auto share : {platform::ShareMode::None, platform::ShareMode::ReadWrite}) {
        EXPECT_FALSE(platform::File::Open(link, platform::OpenMode::Read, share));
    }
    EXPECT_FALSE(
        platform::File::Open(link, platform::OpenMode::WriteTruncate, platform::ShareMode::None));
    EXPECT_EQ(ReadAll(outside), "secret");
}

TEST(FilesHostile, OnlyOurStaleTemporariesAreSwept) {
    ScratchDir dir;
    const std::string dead = std::to_string(DeadPid());
    const std::string alive = std::to_string(getpid());
    struct Case {
        std::string name;
        bool swept;
    };
    const std::vector<Case> cases = {
        {"brisko.001.tmp" + dead + "_0", true},
        {"week.xml.tmp" + dead + "_17", true},
        {"registry.reg.tmp." + dead + ".3", true},  // the registry's earlier naming
        {"brisko.002.tmp" + alive + "_0", false},   // its writer is alive
        {"brisko.003.tmp" + dead + "_x", false},
        {"brisko.004.tmp" + dead, false},
        {"brisko.005.tmp" + dead + "_1.bak", false},
        {".tmp" + dead + "_1", false},
        {"notes.tmp", false},
        {"brisko.006", false},
    };
    for (const Case& c : cases) {
        WriteAll(dir / c.name, "x");
    }
    // A temporary whose writer still holds it is kept even if its pid looks dead.
    const std::string held = dir / ("brisko.007.tmp" + dead + "_2");
    WriteAll(held, "x");
    const int fd = open(held.c_str(), O_RDONLY);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);

    EXPECT_EQ(platform::RemoveStaleTemporaries(dir.Path()), 3u);
    close(fd);
    for (const Case& c : cases) {
        EXPECT_EQ(Exists(dir / c.name), !c.swept) << c.name;
    }
    EXPECT_TRUE(Exists(held));
}

TEST(FilesHostile, TheFirstWriteIntoADirectorySweepsIt) {
    ScratchDir dir;
    const std::string stale = dir / ("brisko.trf.tmp" + std::to_string(DeadPid()) + "_5");
    WriteAll(stale, "half");
    ASSERT_TRUE(platform::ReplaceFileBytes(dir / "brisko.trf", "whole"));
    EXPECT_FALSE(Exists(stale));
}

}  // namespace
