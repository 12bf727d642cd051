// The log index kept up to date by the directory watch: after every scripted change the
// index must equal a full listing (entries and what searches find), and each reason to fall
// back to a full listing must lead to one.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/dir_watch.h"
#include "platform/files.h"
#include "stats/log_index.h"
#include "tests/support/test_env.h"

namespace {

namespace fs = std::filesystem;

// A real watch that a test can make lose track, as an overflow would.
class LosableWatch final : public platform::DirWatch {
  public:
    LosableWatch(std::unique_ptr<platform::DirWatch> real, bool* lose)
        : real_(std::move(real)), lose_(lose) {}
    bool Take(std::vector<std::string>* names, std::string* reason) override {
        if (*lose_) {
            *lose_ = false;
            *reason = "the change notifications overflowed";
            return false;
        }
        return real_->Take(names, reason);
    }

  private:
    std::unique_ptr<platform::DirWatch> real_;
    bool* lose_;
};

class LogWatchTest : public ::testing::Test {
  protected:
    LogWatchTest() : dir_(scratch_.Path() + "/Logs/") {
        fs::create_directories(dir_);
        index_.SetWatchOpener([this](const std::string& dir, std::string* reason) {
            std::unique_ptr<platform::DirWatch> real = platform::WatchDirectory(dir, reason);
            ++watchesSetUp_;
            return real ? std::make_unique<LosableWatch>(std::move(real), &lose_) : nullptr;
        });
    }

    void Write(const std::string& name, const std::string& bytes) {
        testing_support::WriteAll(dir_ + name, bytes);
    }
    void Append(const std::string& name, const std::string& bytes) {
        testing_support::WriteAll(dir_ + name, testing_support::ReadAll(dir_ + name) + bytes);
    }

    static std::vector<std::string> Describe(const std::vector<platform::DirEntry>& entries) {
        std::vector<std::string> out;
        for (const platform::DirEntry& e : entries) {
            out.push_back(e.name + " " + std::to_string(e.size) + " " + std::to_string(e.mtimeNs) +
                          " " + std::to_string(e.fileId));
        }
        return out;
    }

    std::vector<std::string> FullListing() const {
        std::vector<platform::DirEntry> entries;
        platform::ListDirectory(dir_, &entries);
        return Describe(entries);
    }

    // Refreshes until the index holds what a full listing holds. A notification may reach a
    // watch a moment after the change under an emulated system; on Linux the first refresh
    // must do. The bound (5 s) is far above any such delay and only keeps a fault from hanging.
    void RefreshUntilListed(std::time_t now) {
        for (int attempt = 0; attempt < 250; ++attempt) {
            index_.Clear();
            index_.Refresh(dir_, now, recheck_);
            if (Describe(index_.Entries()) == FullListing()) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    void ExpectSearchesAsListed(const std::string& step) {
        EXPECT_EQ(Describe(index_.Entries()), FullListing()) << step;
        for (const char* pattern : {"*", "31_12_2026_*", "*_12_2026_*", "Filter_*.log", "*.b",
                                    "31_12_2026_10.0.0.1", "*0.0.2*"}) {
            std::vector<std::string> found;
            for (const platform::DirEntry* e : index_.Find(pattern)) {
                found.push_back(e->name);
            }
            EXPECT_EQ(found, platform::FindFiles(dir_ + pattern)) << step << ", " << pattern;
        }
    }

    // What is held by place follows the names: each old entry's new place holds its name,
    // and one said to be gone is no longer listed.
    void ExpectRenumbered(const std::vector<platform::DirEntry>& before, std::uint64_t version,
                          const std::string& step) {
        const auto& renumbered = index_.Renumbered();
        if (index_.NamesVersion() == version) {
            return;  // no name came or went: the places hold
        }
        ASSERT_EQ(renumbered.to, index_.NamesVersion()) << step;
        if (renumbered.from != version) {
            return;  // refreshed more than once: an earlier listing's renumbering
        }
        ASSERT_EQ(renumbered.moved.size(), before.size()) << step;
        const std::vector<platform::DirEntry>& now = index_.Entries();
        for (std::size_t i = 0; i < before.size(); ++i) {
            const std::uint32_t to = renumbered.moved[i];
            if (to != UINT32_MAX) {
                ASSERT_LT(to, now.size()) << step;
                EXPECT_EQ(now[to].name, before[i].name) << step;
            } else {
                for (const platform::DirEntry& e : now) {
                    EXPECT_NE(e.name, before[i].name) << step << ": said to be gone";
                }
            }
        }
    }

    testing_support::ScratchDir scratch_;
    std::string dir_;
    stats::LogIndex index_;
    std::vector<std::string> recheck_;
    bool lose_ = false;
    int watchesSetUp_ = 0;
};

TEST_F(LogWatchTest, EveryScriptedChangeLeavesTheIndexAsAFullListing) {
    Write("31_12_2026_10.0.0.1", "line\r\n");
    Write("30_12_2026_10.0.0.1", "old\r\n");
    Write("Filter_31_12_2026.log", "f\r\n");
    Write("a.b", "x");
    const std::time_t start = 1000000;
    index_.Refresh(dir_, start, recheck_);
    EXPECT_EQ(index_.FallbackReason(), "");  // the first listing is no fall-back
    ExpectSearchesAsListed("first listing");

    struct Step {
        const char* what;
        std::function<void()> change;
        const char* fallback;  // what the refresh after it must give as its reason
    };
    const Step steps[] = {
        {"append", [&] { Append("31_12_2026_10.0.0.1", "more\r\n"); }, ""},
        {"create", [&] { Write("31_12_2026_10.0.0.2", "new\r\n"); }, ""},
        {"create in mixed case", [&] { Write("A.B", "y"); }, ""},
        {"delete", [&] { fs::remove(dir_ + "30_12_2026_10.0.0.1"); }, ""},
        {"rename over",
         [&] {
             Write("tmp", "replacement, longer than before\r\n");
             fs::rename(dir_ + "tmp", dir_ + "a.b");
         },
         ""},
        {"rename out and in",
         [&] {
             fs::rename(dir_ + "A.B", scratch_.Path() + "/away");
             fs::rename(scratch_.Path() + "/away", dir_ + "30_12_2026_10.0.0.2");
         },
         ""},
        {"truncate and rewrite", [&] { Write("31_12_2026_10.0.0.1", "rewritten, and longer\r\n"); },
         ""},
        {"a folder and a link are no logs",
         [&] {
             fs::create_directory(dir_ + "31_12_2026_sub");
             std::error_code unsupported;  // not every system has links
             fs::create_symlink(dir_ + "a.b", dir_ + "31_12_2026_link", unsupported);
         },
         ""},
        {"many at once, then gone again",
         [&] {
             for (int i = 0; i < 50; ++i) {
                 Write("29_12_2026_10.0.1." + std::to_string(i), "x");
             }
             for (int i = 0; i < 50; i += 2) {
                 fs::remove(dir_ + "29_12_2026_10.0.1." + std::to_string(i));
             }
         },
         ""},
        {"replace the folder",
         [&] {
             fs::rename(dir_, scratch_.Path() + "/Logs.old");
             fs::create_directories(dir_);
             Write("31_12_2026_10.0.0.1", "in the new folder\r\n");
         },
         "the log folder was removed, moved or replaced"},
        {"append after the replacement", [&] { Append("31_12_2026_10.0.0.1", "x\r\n"); }, ""},
        {"overflow",
         [&] {
             Write("Filter_30_12_2026.log", "f\r\n");
             lose_ = true;
         },
         "the change notifications overflowed"},
        {"delete after the overflow", [&] { fs::remove(dir_ + "Filter_30_12_2026.log"); }, ""},
    };
    for (const Step& step : steps) {
        const std::vector<platform::DirEntry> before = index_.Entries();
        const std::uint64_t version = index_.NamesVersion();
        step.change();
        RefreshUntilListed(start + 60);
        EXPECT_EQ(index_.FallbackReason(), step.fallback) << step.what;
        ExpectSearchesAsListed(step.what);
        ExpectRenumbered(before, version, step.what);
    }
    EXPECT_EQ(watchesSetUp_, 3);  // the first listing, the replaced folder, the overflow
}

// Each remaining reason for a full listing, forced once: the hour is up, the clock went
// back, and no watch can be set up (and so none is used until one can).
TEST_F(LogWatchTest, FallsBackHourlyAndWithoutAWatch) {
    Write("x", "1");
    index_.Refresh(dir_, 5000, recheck_);
    index_.Clear();
    index_.Refresh(dir_, 5000 + stats::LogIndex::kFullListingSeconds - 1, recheck_);
    EXPECT_EQ(index_.FallbackReason(), "");
    index_.Clear();
    index_.Refresh(dir_, 5000 + stats::LogIndex::kFullListingSeconds, recheck_);
    EXPECT_EQ(index_.FallbackReason(), "the hourly full listing");
    index_.Clear();
    index_.Refresh(dir_, 100, recheck_);
    EXPECT_EQ(index_.FallbackReason(), "the hourly full listing");

    index_.SetWatchOpener([](const std::string&, std::string* reason) {
        *reason = "no change notifications: no watches left";
        return std::unique_ptr<platform::DirWatch>();
    });
    for (int cycle = 0; cycle < 2; ++cycle) {
        Write("y" + std::to_string(cycle), "2");
        index_.Clear();
        index_.Refresh(dir_, 200, recheck_);
        EXPECT_EQ(index_.FallbackReason(), "no change notifications: no watches left");
        EXPECT_EQ(Describe(index_.Entries()), FullListing());
    }
    // A folder that does not exist cannot be watched: it lists as empty, and a watch is set
    // up once it is there.
    index_.SetWatchOpener(platform::WatchDirectory);
    const std::string missing = scratch_.Path() + "/none/";
    index_.Refresh(missing, 300, recheck_);
    EXPECT_TRUE(index_.Entries().empty());
    index_.Clear();
    index_.Refresh(missing, 300, recheck_);
    EXPECT_NE(index_.FallbackReason(), "");
    fs::create_directories(missing);
    testing_support::WriteAll(missing + "z", "3");
    index_.Clear();
    index_.Refresh(missing, 300, recheck_);
    ASSERT_EQ(index_.Entries().size(), 1u);
    testing_support::WriteAll(missing + "w", "4");
    index_.Clear();
    index_.Refresh(missing, 300, recheck_);
    EXPECT_EQ(index_.FallbackReason(), "");
    EXPECT_EQ(index_.Entries().size(), 2u);
}

// A log written while its writer keeps it open is reported only at the close; the names the
// caller asks to recheck are examined at every refresh regardless.
TEST_F(LogWatchTest, RecheckedNamesAreExaminedWithoutANotification) {
    Write("31_12_2026_10.0.0.1", "a\r\n");
    Write("30_12_2026_10.0.0.1", "b\r\n");
    recheck_ = {"31_12_2026_"};
    index_.SetWatchOpener([](const std::string&, std::string*) {
        // A watch that never reports anything, like a writer that never closes.
        struct Silent final : platform::DirWatch {
            bool Take(std::vector<std::string>*, std::string*) override { return true; }
        };
        return std::make_unique<Silent>();
    });
    index_.Refresh(dir_, 10, recheck_);
    Append("31_12_2026_10.0.0.1", "more\r\n");
    Append("30_12_2026_10.0.0.1", "more\r\n");
    index_.Clear();
    index_.Refresh(dir_, 20, recheck_);
    ASSERT_EQ(index_.Entries().size(), 2u);
    EXPECT_EQ(index_.Entries()[0].size, 3u);  // not rechecked: as first listed
    EXPECT_EQ(index_.Entries()[1].size, 9u);
}

}  // namespace
