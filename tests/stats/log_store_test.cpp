// The log store's parsers, readers, directory index and paced scan.
#include "stats/log_store.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <limits>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "platform/files.h"
#include "stats/line_reader.h"
#include "stats/log_index.h"
#include "stats/log_names.h"
#include "tests/stats/store_fixture.h"

namespace {

using stats_test::HeldOpen;
using stats_test::StoreTest;

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

TEST(AccumulateByHourTest, RecordsAddToTheirHourOrAreDropped) {
    struct Case {
        std::string record;
        bool counted;
        int hour;
        std::int64_t size;
    } cases[] = {
        {"1500*GET /index Time:07:12:55", true, 7, 1500},
        {"1500*x Time:07", true, 7, 1500},
        {"abc Time:07", true, 7, 0},  // no "*": size 0
        {"2000*Time:23", true, 23, 2000},
        {"  12abc*Time: 5", true, 5, 12},  // atoi rules on both fields
        {"*Time:03", true, 3, 0},
        {"5000000000*Time:01", true, 1, 5000000000},  // more than 32 bits
        {"99999999999999999999999*Time:02", true, 2, kMax},
        {"2000*Time:24", false, 0, 0},
        {"2000*Time:-1", false, 0, 0},
        {"2000*no hour here", false, 0, 0},
        {"", false, 0, 0},
    };
    for (const Case& c : cases) {
        stats::HourTotals hours{};
        EXPECT_EQ(stats::AccumulateByHour(c.record, hours), c.counted) << c.record;
        stats::HourTotals expected{};
        if (c.counted) {
            expected[c.hour] = c.size;
        }
        EXPECT_EQ(hours, expected) << c.record;
    }
}

TEST(AccumulateByHourTest, TotalsSaturateInsteadOfWrapping) {
    stats::HourTotals hours{};
    stats::AccumulateByHour("9223372036854775000*Time:04", hours);
    stats::AccumulateByHour("9223372036854775000*Time:04", hours);
    EXPECT_EQ(hours[4], kMax);
    EXPECT_EQ(stats::SaturatingAdd(kMax, 1), kMax);
    EXPECT_EQ(stats::SaturatingAdd(std::numeric_limits<std::int64_t>::min(), -1),
              std::numeric_limits<std::int64_t>::min());
}

TEST(LogNamesTest, DatePartsAndClientKeys) {
    EXPECT_EQ(stats::DayStamp(7, 3, 2026), "07_03_2026");
    EXPECT_EQ(stats::DayStamp(31, 12, 2025), "31_12_2025");
    EXPECT_EQ(stats::ClientKeyOf("x|192.168.0.7"), "192.168.0.7");
    EXPECT_EQ(stats::ClientKeyOf("192.168.0.8"), "192.168.0.8");
    EXPECT_EQ(stats::ClientKeyOf("a|b\nc"), "b");
    EXPECT_EQ(stats::ClientKeyOf("a|b|c"), "b|c");
    EXPECT_EQ(stats::ClientKeyOf("a|"), "");
    for (const char* bad : {"..", "../x", "a/b", "a\\b"}) {
        EXPECT_FALSE(stats::IsSafeClientKey(bad)) << bad;
    }
    for (const char* good : {"10.0.0.5", "", "...", "*", "host-1"}) {
        EXPECT_TRUE(stats::IsSafeClientKey(good)) << good;
    }
    // ":" names a drive or a stream only where "\" is the separator.
    const bool windows = platform::kPathSeparator == '\\';
    for (const char* colon : {"c:x", "fe80::1", "::1"}) {
        EXPECT_EQ(stats::IsSafeClientKey(colon), !windows) << colon;
    }
}

class LogReadTest : public StoreTest {};

TEST_F(LogReadTest, TrafficFileReadsEveryLineWhateverItsEnd) {
    const std::string lines = stats::Base64Encode("100*Time:01") + "\r\n" +
                              stats::Base64Encode("20*Time:01") + "\n" + "\r\n" +
                              stats::Base64Encode("3*Time:02");  // last line without end
    Raw("01_03_2026_a", lines);
    Raw("02_03_2026_a", "");
    stats::HourTotals hours{};
    ASSERT_TRUE(stats::ReadTrafficFile(LogPath("01_03_2026_a"), hours));
    ASSERT_TRUE(stats::ReadTrafficFile(LogPath("02_03_2026_a"), hours));
    stats::HourTotals expected{};
    expected[1] = 120;
    expected[2] = 3;
    EXPECT_EQ(hours, expected);
}

TEST_F(LogReadTest, UnreadableTrafficFileLeavesTotalsAlone) {
    Traffic("01_03_2026_a", {100});
    stats::HourTotals hours{};
    hours[5] = 9;
    {
        HeldOpen held(LogPath("01_03_2026_a"));
        EXPECT_FALSE(stats::ReadTrafficFile(LogPath("01_03_2026_a"), hours));
    }
    EXPECT_FALSE(stats::ReadTrafficFile(LogPath("missing"), hours));
    stats::HourTotals expected{};
    expected[5] = 9;
    EXPECT_EQ(hours, expected);
    EXPECT_TRUE(stats::ReadTrafficFile(LogPath("01_03_2026_a"), hours));
    EXPECT_EQ(hours[0], 100);
}

TEST_F(LogReadTest, LongRecordsAreReadWholeAndHugeLinesSkipped) {
    // "Time:" lies beyond 4096 decoded bytes; a fixed buffer would have cut it off.
    const std::string longRecord = "700*" + std::string(6000, 'x') + " Time:05";
    const std::string huge = std::string(stats::kMaxLineBytes + 1, 'Q');
    Raw("01_03_2026_a", stats::Base64Encode(longRecord) + "\r\n" + huge + "\r\n" +
                            stats::Base64Encode("1*Time:06") + "\r\n");
    stats::HourTotals hours{};
    ASSERT_TRUE(stats::ReadTrafficFile(LogPath("01_03_2026_a"), hours));
    EXPECT_EQ(hours[5], 700);
    EXPECT_EQ(hours[6], 1);
    EXPECT_EQ(stats::SumOf(hours), 701);
}

TEST_F(LogReadTest, LineReaderHandlesChunkEdgesAndTheCap) {
    using Result = stats::LineReader::Result;
    using Mode = stats::LineReader::Mode;
    // A CR at the end of one 64 KiB chunk and its LF at the start of the next.
    const std::string first(64 * 1024 - 1, 'a');
    const std::string atCap(100, 'b');
    const std::string overCap(101, 'c');
    Raw("chunks", first + "\r\n" + "x\ry\r\n" + "z");
    Raw("capped", atCap + "\r\n" + overCap + "\n" + atCap + "\n" + overCap);
    struct Expect {
        Result result;
        std::string text, raw;
    };
    const std::vector<Expect> chunks = {
        {Result::Line, first, first + "\r\n"},
        {Result::Line, "x\ry", "x\ry\r\n"},
        {Result::Line, "z", "z"},
        {Result::End, "", ""},
    };
    const std::vector<Expect> capped = {
        {Result::Line, atCap, atCap + "\r\n"},
        {Result::TooLong, "", ""},
        {Result::Line, atCap, atCap + "\n"},
        {Result::TooLong, "", ""},
        {Result::End, "", ""},
    };
    for (auto [name, cap, expected] : {std::tuple{"chunks", stats::kMaxLineBytes, chunks},
                                       std::tuple{"capped", std::size_t{100}, capped}}) {
        for (Mode mode : {Mode::Text, Mode::Raw}) {
            auto file = platform::File::Open(LogPath(name), platform::OpenMode::Read,
                                             platform::ShareMode::None);
            ASSERT_NE(file, nullptr);
            stats::LineReader reader(*file, mode, cap);
            for (const Expect& e : expected) {
                std::string line;
                ASSERT_EQ(reader.Next(&line), e.result) << name;
                if (e.result == Result::Line) {
                    EXPECT_EQ(line, mode == Mode::Text ? e.text : e.raw) << name;
                }
            }
        }
    }
}

TEST_F(LogReadTest, FilterReadersKeepOrDropLineEnds) {
    Raw("Filter_01_03_2026.log", "AAA\r\nBBB\nCCC");
    std::string lines, bytes;
    ASSERT_TRUE(stats::CopyFilterLines(LogPath("Filter_01_03_2026.log"), lines));
    ASSERT_TRUE(stats::CopyFilterBytes(LogPath("Filter_01_03_2026.log"), bytes));
    EXPECT_EQ(lines, "AAA\nBBB\nCCC\n");
    EXPECT_EQ(bytes, "AAA\r\nBBB\nCCC\n");  // last line gets its LF
    {
        HeldOpen held(LogPath("Filter_01_03_2026.log"));
        EXPECT_FALSE(stats::CopyFilterLines(LogPath("Filter_01_03_2026.log"), lines));
        EXPECT_FALSE(stats::CopyFilterBytes(LogPath("Filter_01_03_2026.log"), bytes));
    }
}

TEST_F(LogReadTest, CopyFilterBytesCopiesLargeLogsExactly) {
    std::string content;
    for (int i = 0; i < 5000; ++i) {
        content += std::string(static_cast<std::size_t>(i % 97), 'a' + i % 26);
        content += i % 3 == 0 ? "\r\n" : (i % 3 == 1 ? "\n" : "\r");
    }
    content += "\n";
    Raw("Filter_02_03_2026.log", content);
    std::string bytes;
    ASSERT_TRUE(stats::CopyFilterBytes(LogPath("Filter_02_03_2026.log"), bytes));
    EXPECT_EQ(bytes, content);
}

// The index must find exactly what a directory search finds, in the same order.
TEST_F(LogReadTest, IndexFindsWhatADirectorySearchFinds) {
    const char* names[] = {"07_03_2026_10.0.0.5",
                           "07_03_2026_10.0.0.6",
                           "07_03_2026_host",
                           "17_03_2026_HOST",
                           "07_04_2026_10.0.0.5",
                           "Filter_07_03_2026.log",
                           "filter_08_03_2026.LOG",
                           "brisko.001",
                           "abc",
                           "ABD",
                           "ab.c",
                           "x.txt",
                           "07_03_2026_",
                           "a_03_2026_host"};
    for (const char* n : names) {
        Raw(n, "");
    }
    const char* patterns[] = {"*",
                              "*.*",
                              "07_03_2026_*",
                              "07_03_2026_*.*",
                              "*_03_2026_*",
                              "*_03_2026_*.*",
                              "*_03_2026_host",
                              "*_03_2026_HOST",
                              "*_03_2026_10.0.0.5",
                              "07_03_2026_10.0.0.5",
                              "07_03_2026_10.0.0.7",
                              "Filter_*_03_2026.log",
                              "Filter_*_*_2026.log",
                              "FILTER_07_03_2026.LOG",
                              "abc.*",
                              "ab?",
                              "*c",
                              "?b*",
                              "*_03_*_host",
                              "07_03_2026_",
                              "*_03_*",
                              "*2026*",
                              "*T.*",
                              "*.c*",
                              "*D*.*",
                              "?_03_2026_*"};
    stats::LogIndex index;
    // Listed afresh: with the same names (the orders built for the last listing are kept),
    // then with a name added and one gone (they are built anew).
    for (int round = 0; round < 3; ++round) {
        if (round == 2) {
            Raw("08_03_2026_host", "");
            std::filesystem::remove(LogPath("07_03_2026_10.0.0.6"));
        }
        index.Clear();
        index.Load(app_ + "Logs/");
        for (const char* p : patterns) {
            std::vector<std::string> found;
            for (const platform::DirEntry* e : index.Find(p)) {
                found.push_back(e->name);
            }
            EXPECT_EQ(found, platform::FindFiles(app_ + "Logs/" + p)) << p << " round " << round;
        }
    }
}

class ScanTest : public StoreTest {
  protected:
    std::vector<std::string> read_;
    stats::LogFileReader Reader() {
        return [this](const stats::LogFile& f) {
            read_.push_back(f.entry.name);
            return stats::ReadTrafficFile(f.Path(), hours_);
        };
    }
    stats::HourTotals hours_{};
};

TEST_F(ScanTest, PausesAfterTheSearchAndAfterTheFirstFile) {
    Traffic("01_03_2026_b", {1});
    Traffic("01_03_2026_A", {2});
    Traffic("01_03_2026_c", {4});
    EXPECT_EQ(stats::ScanLogFiles(ctx_, "01_03_2026_*", true, stats::ErrorPolicy::Skip, Reader()),
              stats::ScanResult::Completed);
    EXPECT_EQ(read_, (std::vector<std::string>{"01_03_2026_A", "01_03_2026_b", "01_03_2026_c"}));
    EXPECT_EQ(hours_[0], 7);
    EXPECT_EQ(pacer_.pauses, Seconds(2));

    pacer_.pauses.clear();
    stats::ScanLogFiles(ctx_, "02_03_2026_*", true, stats::ErrorPolicy::Skip, Reader(), 1000);
    EXPECT_EQ(pacer_.pauses, Seconds(2)) << "nothing found: search pause and close pause";

    pacer_.pauses.clear();
    stats::ScanLogFiles(ctx_, "01_03_2026_*", false, stats::ErrorPolicy::Skip, Reader());
    EXPECT_TRUE(pacer_.pauses.empty());
}

TEST_F(ScanTest, ErrorPoliciesOnALockedLog) {
    Traffic("01_03_2026_a", {1});
    Traffic("01_03_2026_b", {2});
    Traffic("01_03_2026_c", {4});
    struct Case {
        const char* locked;
        stats::ErrorPolicy policy;
        stats::ScanResult result;
        std::int64_t total;
        std::size_t pauses;
    } cases[] = {
        {"01_03_2026_b", stats::ErrorPolicy::Skip, stats::ScanResult::Completed, 5, 3},
        {"01_03_2026_a", stats::ErrorPolicy::Skip, stats::ScanResult::Completed, 6, 3},
        {"01_03_2026_b", stats::ErrorPolicy::Abandon, stats::ScanResult::Abandoned, 1, 2},
        {"01_03_2026_a", stats::ErrorPolicy::Abandon, stats::ScanResult::Abandoned, 0, 1},
        {"01_03_2026_a", stats::ErrorPolicy::AbandonOnFirst, stats::ScanResult::Abandoned, 0, 1},
        {"01_03_2026_b", stats::ErrorPolicy::AbandonOnFirst, stats::ScanResult::Completed, 5, 3},
    };
    for (const Case& c : cases) {
        HeldOpen held(LogPath(c.locked));
        hours_ = {};
        pacer_.pauses.clear();
        EXPECT_EQ(stats::ScanLogFiles(ctx_, "01_03_2026_*", true, c.policy, Reader(), 1000),
                  c.result)
            << c.locked;
        EXPECT_EQ(stats::SumOf(hours_), c.total) << c.locked;
        EXPECT_EQ(pacer_.pauses, Seconds(c.pauses)) << c.locked;
    }
}

TEST_F(ScanTest, AFileRemovedAfterTheListingIsLeftOutAsNeverFound) {
    struct Case {
        const char* removed;
        const char* locked;  // or null
        stats::ErrorPolicy policy;
        stats::ScanResult result;
        std::int64_t total;
        std::size_t pauses;
    } cases[] = {
        // The next file becomes the search's first: it earns the pause, and its lock is
        // what the year extract's first-file rule looks at.
        {"01_03_2026_a", nullptr, stats::ErrorPolicy::Abandon, stats::ScanResult::Completed, 6, 3},
        {"01_03_2026_b", nullptr, stats::ErrorPolicy::Abandon, stats::ScanResult::Completed, 5, 3},
        {"01_03_2026_a", "01_03_2026_b", stats::ErrorPolicy::AbandonOnFirst,
         stats::ScanResult::Abandoned, 0, 1},
        {"01_03_2026_a", "01_03_2026_b", stats::ErrorPolicy::Skip, stats::ScanResult::Completed, 4,
         3},
    };
    for (const Case& c : cases) {
        Traffic("01_03_2026_a", {1});
        Traffic("01_03_2026_b", {2});
        Traffic("01_03_2026_c", {4});
        ctx_.BeginTask();
        ctx_.Logs();
        ASSERT_TRUE(platform::DeleteFileAt(LogPath(c.removed)));
        std::unique_ptr<HeldOpen> held;
        if (c.locked != nullptr) {
            held = std::make_unique<HeldOpen>(LogPath(c.locked));
        }
        hours_ = {};
        pacer_.pauses.clear();
        EXPECT_EQ(stats::ScanLogFiles(ctx_, "01_03_2026_*", true, c.policy, Reader(), 1000),
                  c.result)
            << c.removed;
        EXPECT_EQ(stats::SumOf(hours_), c.total) << c.removed;
        EXPECT_EQ(pacer_.pauses, Seconds(c.pauses)) << c.removed;
    }
}

TEST_F(ScanTest, StopEndsTheScanBeforeAnyFile) {
    Traffic("01_03_2026_a", {1});
    pacer_.stopAtPause = 0;
    EXPECT_EQ(stats::ScanLogFiles(ctx_, "01_03_2026_*", true, stats::ErrorPolicy::Skip, Reader()),
              stats::ScanResult::Stopped);
    EXPECT_TRUE(read_.empty());
}

}  // namespace
