// Files, searches, share modes, text mode and path building on this platform.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <sys/stat.h>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/text_mode.h"
#include "platform/thread.h"
#include "platform/wildcard.h"
#include "tests/support/test_env.h"

namespace {

using testing_support::ReadAll;
using testing_support::ScratchDir;
using testing_support::WriteAll;

TEST(Wildcard, MatchesAsAWindowsSearchDoes) {
    const struct {
        const char* pattern;
        const char* name;
        bool match;
    } cases[] = {
        {"07_03_2026_*.*", "07_03_2026_pc1", true},  // ".*" also matches names without a dot
        {"07_03_2026_*.*", "07_03_2026_192.168.0.7", true},
        {"07_03_2026_*", "07_03_2026_192.168.0.7", true},
        {"07_03_2026_*", "07_03_2026", false},
        {"*_03_2026_*", "07_03_2026_pc1", true},
        {"*_03_2026_*", "07_04_2026_pc1", false},
        {"filter_07_03_2026.log", "Filter_07_03_2026.LOG", true},  // case-insensitive
        {"Filter_??_03_2026.log", "Filter_07_03_2026.log", true},
        {"Filter_??_03_2026.log", "Filter_7_03_2026.log", false},
        {"*.xml", "week.xml", true},
        {"*.xml", "week.xml.bak", false},
        {"*", "", true},
        {"a*b*c", "axxbyyc", true},
        {"a*b*c", "axxbyy", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::WildcardMatch(c.pattern, c.name), c.match)
            << c.pattern << " vs " << c.name;
    }
}

TEST(Files, SearchReturnsMatchingFilesInCaseInsensitiveOrder) {
    ScratchDir dir;
    for (const char* name : {"b_07_2026_x", "A_07_2026_y", "c_08_2026_z", "a_07_2026_z"}) {
        WriteAll(dir / name, "x");
    }
    platform::CreateDirectories(dir / "d_07_2026_dir");
    auto names = platform::FindFiles(dir / "*_07_2026_*");
    EXPECT_EQ(names, (std::vector<std::string>{"A_07_2026_y", "a_07_2026_z", "b_07_2026_x"}));
    EXPECT_TRUE(platform::FindFiles(dir / "nothing*").empty());
    EXPECT_TRUE(platform::FindFiles(dir.Path() + "/missing-dir/*").empty());
}

TEST(Files, NoSharingLocksOutASecondOpenerButSharingDoesNot) {
    ScratchDir dir;
    std::string path = dir / "log";
    WriteAll(path, "content");
    {
        auto proxy =
            platform::File::Open(path, platform::OpenMode::Read, platform::ShareMode::None);
        ASSERT_NE(proxy, nullptr);
        std::string bytes;
        EXPECT_FALSE(platform::ReadFileBytes(path, platform::ShareMode::None, &bytes));
        EXPECT_TRUE(platform::ReadFileBytes(path, platform::ShareMode::ReadWrite, &bytes));
        EXPECT_EQ(bytes, "content");
        // A writer without sharing is refused and must not have truncated the file.
        EXPECT_EQ(platform::File::Open(path, platform::OpenMode::WriteTruncate,
                                       platform::ShareMode::None),
                  nullptr);
        EXPECT_EQ(ReadAll(path), "content");
        EXPECT_FALSE(platform::DeleteFileAt(path));
    }
    std::string bytes;
    EXPECT_TRUE(platform::ReadFileBytes(path, platform::ShareMode::None, &bytes));
    EXPECT_FALSE(platform::ReadFileBytes(path, platform::ShareMode::None, &bytes, 3));
}

TEST(Files, ReplaceIsAtomicAndRefusedWhileTheTargetIsHeld) {
    ScratchDir dir;
    std::string path = dir / "brisko.001";
    ASSERT_TRUE(platform::ReplaceFileBytes(path, "one"));
    EXPECT_EQ(ReadAll(path), "one");
    ASSERT_TRUE(platform::ReplaceFileBytes(path, "two"));
    EXPECT_EQ(ReadAll(path), "two");
    {
        auto reader =
            platform::File::Open(path, platform::OpenMode::Read, platform::ShareMode::None);
        EXPECT_FALSE(platform::ReplaceFileBytes(path, "three"));
    }
    EXPECT_EQ(ReadAll(path), "two");
    EXPECT_FALSE(platform::ReplaceFileBytes(dir / "missing/brisko.001", "x"));
    // No temporaries are left behind.
    std::vector<platform::DirEntry> entries;
    ASSERT_TRUE(platform::ListDirectory(dir.Path(), &entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "brisko.001");
}

TEST(Files, PathsAreOrdinaryPosixPaths) {
    const struct {
        const char* base;
        const char* literal;
        const char* path;
    } cases[] = {
        {"/opt/brisko/", "\\Logs\\brisko.001", "/opt/brisko/Logs/brisko.001"},
        {"/opt/brisko/", "Logs\\week.xml", "/opt/brisko/Logs/week.xml"},
        {"/opt/brisko", "\\Logs\\brisko.trf", "/opt/brisko/Logs/brisko.trf"},
        {"/opt/brisko/", "postvane", "/opt/brisko/postvane"},
        {"", "Logs\\x", "Logs/x"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::AppendPath(c.base, c.literal), c.path);
    }
}

TEST(TextMode, LineFeedsBecomeCrLfAndBack) {
    EXPECT_EQ(platform::ToTextMode("a\nb\n"), "a\r\nb\r\n");
    EXPECT_EQ(platform::ToTextMode(""), "");
    EXPECT_EQ(platform::FromTextMode("a\r\nb\r\rc\r"), "a\nb\r\rc\r");
}

TEST(TextMode, LinesSplitWithOrWithoutCrAndTheLastWithoutEnd) {
    platform::LineSplitter lines("one\r\ntwo\n\nthree-too-long\nfour", 6);
    std::vector<std::string> seen;
    std::string_view line;
    for (;;) {
        auto r = lines.Next(&line);
        if (r == platform::LineSplitter::Result::End) {
            break;
        }
        seen.push_back(r == platform::LineSplitter::Result::TooLong ? "<long>" : std::string(line));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"one", "two", "", "<long>", "four"}));
}

TEST(Process, StartsADetachedProgramAndRefusesAMissingOne) {
    ScratchDir dir;
    std::string script = dir / "sender";
    std::string marker = dir / "ran";
    WriteAll(script, "#!/bin/sh\necho started > '" + marker + "'\n");
    ASSERT_EQ(::chmod(script.c_str(), 0755), 0);
    EXPECT_TRUE(platform::StartDetached(script));
    // The shell creates the marker before it writes to it, so wait for the text itself; the
    // 30 s are a hang guard (the program runs in milliseconds).
    for (int i = 0; i < 3000 && ReadAll(marker) != "started\n"; ++i) {
        platform::SleepMilliseconds(10);
    }
    EXPECT_EQ(ReadAll(marker), "started\n");
    EXPECT_FALSE(platform::StartDetached(dir / "missing"));
    EXPECT_FALSE(platform::StartDetached(""));
}

}  // namespace
