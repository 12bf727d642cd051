// Replacing a file piece by piece: the same bytes as a whole-buffer replacement however the
// content is cut, and the target untouched until the commit.
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/text_mode.h"
#include "tests/support/test_env.h"

namespace {

using platform::FileReplacement;
using platform::ReplaceError;
using testing_support::Exists;
using testing_support::ReadAll;
using testing_support::ScratchDir;
using testing_support::WriteAll;

std::vector<std::string> Names(const std::string& dir) {
    std::vector<platform::DirEntry> entries;
    EXPECT_TRUE(platform::ListDirectory(dir, &entries));
    std::vector<std::string> names;
    for (const auto& e : entries) {
        names.push_back(e.name);
    }
    return names;
}

// Content cut into pieces at the given sizes (the rest is the last piece).
std::vector<std::string_view> Cut(std::string_view content, const std::vector<std::size_t>& sizes) {
    std::vector<std::string_view> pieces;
    for (std::size_t size : sizes) {
        pieces.push_back(content.substr(0, size));
        content.remove_prefix(std::min(size, content.size()));
    }
    pieces.push_back(content);
    return pieces;
}

TEST(FileReplacement, PiecesGiveTheBytesOfTheWholeBuffer) {
    const std::string big = [] {
        std::string text;
        for (int i = 0; text.size() < 200000; ++i) {
            text += "<data>\n<url>/" + std::to_string(i) + "</url>\r\n</data>\n";
        }
        return text;
    }();
    const struct {
        const char* name;
        std::string content;
        std::vector<std::size_t> cuts;
    } cases[] = {
        {"empty", "", {}},
        {"CR at the end of one piece, LF at the start of the next", "a\r\nb\n\r", {2, 1}},
        {"LF alone in a piece", "x\n\ny", {1, 1, 1}},
        {"byte by byte", "one\ntwo\r\n", std::vector<std::size_t>(9, 1)},
        {"one piece larger than the buffer", big, {}},
        {"pieces across the buffer's edge", big, {65535, 2, 70000, 1}},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        for (auto mode : {FileReplacement::Mode::Binary, FileReplacement::Mode::Text}) {
            const bool text = mode == FileReplacement::Mode::Text;
            const std::string whole = dir / "whole", streamed = dir / "streamed";
            ASSERT_TRUE(text ? platform::ReplaceTextFile(whole, c.content)
                             : platform::ReplaceFileBytes(whole, c.content));
            FileReplacement out(streamed, mode);
            for (std::string_view piece : Cut(c.content, c.cuts)) {
                ASSERT_TRUE(out.Write(piece)) << c.name;
            }
            ASSERT_EQ(out.Commit(), ReplaceError::None) << c.name;
            EXPECT_EQ(ReadAll(streamed), ReadAll(whole)) << c.name << (text ? " text" : "");
            EXPECT_EQ(ReadAll(whole), text ? platform::ToTextMode(c.content) : c.content);
        }
    }
}

TEST(FileReplacement, TheTargetStaysAsItWasUntilTheCommit) {
    ScratchDir dir;
    const std::string path = dir / "filtermonth.xml";
    const struct {
        const char* name;
        bool existed;
        bool destroyed;  // else abandoned
    } cases[] = {
        {"abandoned", true, false},
        {"abandoned, no target", false, false},
        {"destroyed uncommitted", true, true},
    };
    for (const auto& c : cases) {
        platform::DeleteFileAt(path);
        if (c.existed) {
            WriteAll(path, "old");
        }
        {
            auto owned = std::make_unique<FileReplacement>(path);
            FileReplacement& out = *owned;
            ASSERT_TRUE(out.Write(std::string(100000, 'n')));
            // Mid-way: the target is as it was, the new bytes wait in a temporary of ours,
            // which the sweep leaves alone while its writer lives.
            EXPECT_EQ(Exists(path) ? ReadAll(path) : "absent", c.existed ? "old" : "absent");
            const std::string prefix = "filtermonth.xml.tmp" + std::to_string(getpid()) + "_";
            std::size_t temporaries = 0;
            for (const std::string& name : Names(dir.Path())) {
                temporaries += name.rfind(prefix, 0) == 0 ? 1 : 0;
            }
            EXPECT_EQ(temporaries, 1u) << c.name;
            EXPECT_EQ(platform::RemoveStaleTemporaries(dir.Path()), 0u) << c.name;
            if (c.destroyed) {
                owned.reset();
            } else {
                out.Abandon();
                EXPECT_FALSE(out.Good());
                EXPECT_EQ(out.Commit(), ReplaceError::Failed) << c.name;
            }
        }
        EXPECT_EQ(Exists(path) ? ReadAll(path) : "absent", c.existed ? "old" : "absent") << c.name;
        EXPECT_EQ(Names(dir.Path()).size(), c.existed ? 1u : 0u) << c.name;
    }
}

TEST(FileReplacement, AHeldTargetFailsAtOnceAndKeepsItsContent) {
    ScratchDir dir;
    const std::string path = dir / "filterweek.xml";
    WriteAll(path, "held");
    {
        auto reader =
            platform::File::Open(path, platform::OpenMode::Read, platform::ShareMode::None);
        ASSERT_NE(reader, nullptr);
        FileReplacement out(path, FileReplacement::Mode::Text);
        EXPECT_FALSE(out.Good());
        EXPECT_FALSE(out.Write("new\n"));
        EXPECT_NE(out.Commit(), ReplaceError::None);
    }
    EXPECT_EQ(ReadAll(path), "held");
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"filterweek.xml"});
    // Committed once, it is done: a second commit does not replace again.
    FileReplacement out(path);
    ASSERT_TRUE(out.Write("new"));
    EXPECT_EQ(out.Commit(), ReplaceError::None);
    EXPECT_EQ(out.Commit(), ReplaceError::Failed);
    EXPECT_EQ(ReadAll(path), "new");
}

}  // namespace
