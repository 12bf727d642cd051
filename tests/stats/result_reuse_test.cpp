// Reusing per-log results (traffic hour totals, filter-log lines) within and across cycles
// gives the same eighteen texts as reading every log each time: cold, steady, and after a past
// traffic or filter log was appended to, replaced by a same-size file, deleted, or a new
// client appeared; each log is opened at most once per cycle, and today's logs every cycle.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "stats/line_reader.h"
#include "stats/log_names.h"
#include "stats/log_store.h"
#include "stats/read_counters.h"
#include "stats/tasks.h"
#include "tests/stats/store_fixture.h"

namespace {

namespace fs = std::filesystem;

class ReuseTest : public stats_test::StoreTest {
  protected:
    ReuseTest() {
        Clients({"x|10.0.0.1", "x|10.0.0.2", "x|10.0.0.3"});
        for (int back = 0; back < 120; back += 3) {
            const std::string stamp = StampBack(back);
            Traffic(stamp + "_10.0.0." + std::to_string(back % 3 + 1), {100 + back, 7});
            Traffic(stamp + "_10.0.0.3", {1000 + back});
            Raw("Filter_" + stamp + ".log", "F" + std::to_string(back) + "\r\nG\r\n");
        }
        At(2026, 3, 11);
        ctx_.settings.reuseResults = true;
    }

    static std::string StampBack(int back) {
        const platform::LocalDate d =
            platform::BreakDown(platform::LocalTimeOf(2026, 3, 11 - back, 12));
        return stats::DayStamp(d.day, d.month, d.year);
    }

    // The eighteen tasks in the order of the cycle, as the worker runs them.
    static std::vector<std::string> Cycle(stats::LogContext& ctx) {
        std::vector<std::string> s(stats::kStatisticCount);
        const stats::CycleDate date{11, 3, 2026, 4};
        ctx.BeginCycle();
        for (std::size_t i = 0; i < stats::kStatisticCount; ++i) {
            stats::RunStatistic(ctx, stats::kStatistics[i], date, s[i]);
        }
        return s;
    }

    // What a context without reuse computes from the store as it is now.
    std::vector<std::string> Reference() {
        stats::LogContext plain({app_, &clock_, &pacer_});
        return Cycle(plain);
    }

    // A reusing cycle; *opens gets the number of files it opened.
    std::vector<std::string> Counted(std::uint64_t* opens) {
        const std::uint64_t before = stats::LogReads().filesOpened.load();
        std::vector<std::string> texts = Cycle(ctx_);
        *opens = stats::LogReads().filesOpened.load() - before;
        return texts;
    }

    // Other bytes of the same size, written in place (same identity); the modification time
    // is set 1 ms past the old one, as the sub-second part is all that tells them apart when
    // both writes fall into the same second.
    void RewriteInPlace(const std::string& name) {
        const std::string path = LogPath(name);
        const auto mtime = fs::last_write_time(path);
        std::string bytes = testing_support::ReadAll(path);
        ASSERT_FALSE(bytes.empty());
        bytes[0] = bytes[0] == 'M' ? 'N' : 'M';  // still base64: another first record
        testing_support::WriteAll(path, bytes);
        fs::last_write_time(path, mtime + std::chrono::milliseconds(1));
    }

    // Other bytes of the same size, as a new file renamed over the old one (new identity).
    // Where the listing gives file identities it alone must tell them apart, so the new file
    // gets the old modification time; where it gives none (Windows), the new file's own time
    // (at least 1 ms later) must.
    void ReplaceByRename(const std::string& name) {
        const std::string path = LogPath(name);
        const auto mtime = fs::last_write_time(path);
        std::string bytes = testing_support::ReadAll(path);
        ASSERT_FALSE(bytes.empty());
        bytes[0] = bytes[0] == 'M' ? 'N' : 'M';
        testing_support::WriteAll(path + ".new", bytes);
        fs::last_write_time(path + ".new",
                            IdentitiesListed() ? mtime : mtime + std::chrono::milliseconds(1));
        fs::rename(path + ".new", path);
    }

    bool IdentitiesListed() const {
        std::vector<platform::DirEntry> entries;
        return platform::ListDirectory(app_ + "Logs/", &entries) && !entries.empty() &&
               entries[0].fileId != 0;
    }

    void Append(const std::string& name, const std::string& bytes) {
        const std::string path = LogPath(name);
        testing_support::WriteAll(path, testing_support::ReadAll(path) + bytes);
    }
};

TEST_F(ReuseTest, ColdThenSteadyReadsEachLogOnceThenOnlyTodays) {
    std::uint64_t opens = 0;
    std::vector<std::string> texts = Counted(&opens);
    EXPECT_EQ(texts, Reference()) << "cold";
    EXPECT_FALSE(texts[15].empty());
    EXPECT_FALSE(texts[17].empty());
    // 80 traffic logs and 40 filter logs once each, the client list once per client task.
    EXPECT_EQ(opens, 80u + 40u + 6u);
    EXPECT_EQ(ctx_.caches.traffic.Size(), 80u);
    EXPECT_EQ(ctx_.caches.filter.Size(), 40u);

    texts = Counted(&opens);
    EXPECT_EQ(texts, Reference()) << "steady";
    // Today's two traffic logs and its filter log, and the client list.
    EXPECT_EQ(opens, 3u + 6u);
}

// Each change, made to a past log, is noticed by the next cycle.
TEST_F(ReuseTest, ChangedPastLogsAreReadAgain) {
    const std::string day = StampBack(6);  // 5 March: in every period
    const std::string trafficLog = day + "_10.0.0.3";
    const std::string filterLog = "Filter_" + day + ".log";
    struct Change {
        const char* what;
        std::function<void()> apply;
        std::size_t trafficKept, filterKept;  // table sizes after the cycle
    };
    const std::vector<Change> changes = {
        {"traffic log appended to",
         [&] { Append(trafficLog, stats::Base64Encode("5000*Time:09") + "\r\n"); }, 80, 40},
        {"filter log appended to", [&] { Append(filterLog, "H\r\n"); }, 80, 40},
        {"traffic log rewritten in place, same size", [&] { RewriteInPlace(trafficLog); }, 80, 40},
        {"filter log rewritten in place, same size", [&] { RewriteInPlace(filterLog); }, 80, 40},
        {"traffic log replaced by a same-size file",
         [&] { ReplaceByRename(StampBack(9) + "_10.0.0.3"); }, 80, 40},
        {"filter log replaced by a same-size file",
         [&] { ReplaceByRename("Filter_" + StampBack(9) + ".log"); }, 80, 40},
        {"traffic log deleted", [&] { fs::remove(LogPath(StampBack(12) + "_10.0.0.3")); }, 79, 40},
        {"filter log deleted", [&] { fs::remove(LogPath("Filter_" + StampBack(12) + ".log")); }, 79,
         39},
        {"new client",
         [&] {
             Clients({"x|10.0.0.1", "x|10.0.0.2", "x|10.0.0.3", "x|10.0.0.4"});
             Traffic(StampBack(1) + "_10.0.0.4", {4444});
             Traffic("10_01_2026_10.0.0.4", {44});
         },
         81, 39},
        {"new filter log of a past day", [&] { Raw("Filter_10_03_2026.log", "N\r\n"); }, 81, 40},
    };
    std::vector<std::string> last = Cycle(ctx_);
    for (const Change& change : changes) {
        change.apply();
        const std::vector<std::string> texts = Cycle(ctx_);
        EXPECT_EQ(texts, Reference()) << change.what;
        EXPECT_NE(texts, last) << change.what << ": the change shows in some text";
        EXPECT_EQ(ctx_.caches.traffic.Size(), change.trafficKept) << change.what;
        EXPECT_EQ(ctx_.caches.filter.Size(), change.filterKept) << change.what;
        last = texts;
    }
}

// The proxy may be writing today's logs while the listing still shows their old size and time
// (a directory entry can lag behind an open file): they are read again in every cycle.
TEST_F(ReuseTest, TodaysLogsAreReadEveryCycleEvenWhenTheyLookUnchanged) {
    Cycle(ctx_);
    for (const std::string& name :
         {StampBack(0) + "_10.0.0.3", "Filter_" + StampBack(0) + ".log"}) {
        const std::string path = LogPath(name);
        const auto mtime = fs::last_write_time(path);
        std::string bytes = testing_support::ReadAll(path);
        bytes[0] = bytes[0] == 'M' ? 'N' : 'M';
        testing_support::WriteAll(path, bytes);
        fs::last_write_time(path, mtime);  // size, time and identity as listed before
    }
    EXPECT_EQ(Cycle(ctx_), Reference());
}

TEST_F(ReuseTest, UnreadableLogsAreNotRemembered) {
    for (const std::string& name :
         {std::string("08_03_2026_10.0.0.3"), std::string("Filter_08_03_2026.log")}) {
        stats::LogContext ctx({app_, &clock_, &pacer_, true});
        {
            stats_test::HeldOpen held(LogPath(name));
            EXPECT_EQ(Cycle(ctx), Reference())
                << name << ": a locked log is skipped or abandons as without reuse";
        }
        EXPECT_EQ(Cycle(ctx), Reference()) << name << ": and is read once it is free";
    }
}

TEST_F(ReuseTest, LocksOnTodaysLogsAreNoticedOnKeptPastLogsNot) {
    const std::vector<std::string> unlocked = Cycle(ctx_);
    // Today's logs are opened in every cycle, so a lock on one counts as without reuse.
    for (const std::string& name :
         {StampBack(0) + "_10.0.0.3", "Filter_" + StampBack(0) + ".log"}) {
        stats_test::HeldOpen held(LogPath(name));
        const std::vector<std::string> texts = Cycle(ctx_);
        EXPECT_EQ(texts, Reference()) << name;
        EXPECT_NE(texts, unlocked) << name;
    }
    // An unchanged past log is not opened again: its kept result stands in for it.
    for (const std::string& name :
         {StampBack(3) + "_10.0.0.3", "Filter_" + StampBack(3) + ".log"}) {
        stats_test::HeldOpen held(LogPath(name));
        EXPECT_EQ(Cycle(ctx_), unlocked) << name;
    }
}

// The lines kept for a filter log give exactly what the two readers give, whatever the line
// ends, on the first read and from the table.
TEST_F(ReuseTest, KeptFilterLinesMatchBothReaders) {
    const std::string longLine(stats::kMaxLineBytes + 1, 'Q');
    // A line over the limit that holds an event, kept cut.
    const std::string longEvent =
        stats::Base64Encode("d c u t " + std::string(stats::kMaxLineBytes, 'a') + " f ");
    const std::vector<std::string> contents = {
        "",
        "A\r\nB\r\n",
        "A\nB\n",
        "A\r\nB",
        "A\r\nB\r",
        "\r\n\r\n",
        "A\rB\r\n",
        "\n",
        "\r",
        "A\r\r\n",
        "A\n\rB",
        "A\r\n" + longLine + "\r\nB\r\n",
        "A\n" + longLine,
        "A\n" + longEvent + "\nB",
        longEvent + "\r\n" + longEvent,
    };
    for (const std::string& bytes : contents) {
        Raw("Filter_01_03_2026.log", bytes);
        const std::string path = LogPath("Filter_01_03_2026.log");
        std::string lines = "x", raw = "x";
        ASSERT_TRUE(stats::CopyFilterLines(path, lines));
        ASSERT_TRUE(stats::CopyFilterBytes(path, raw));
        ctx_.BeginCycle();
        const std::vector<const platform::DirEntry*> found =
            ctx_.Logs().Find("Filter_01_03_2026.log");
        ASSERT_EQ(found.size(), 1u);
        const stats::LogFile file{ctx_.Logs().Directory(), *found[0]};
        for (int pass = 0; pass < 2; ++pass) {  // read, then kept
            std::string keptLines = "x", keptRaw = "x";
            EXPECT_TRUE(stats::CopyFilterLog(ctx_, file, stats::FilterForm::Lines, keptLines));
            EXPECT_TRUE(stats::CopyFilterLog(ctx_, file, stats::FilterForm::Bytes, keptRaw));
            EXPECT_EQ(keptLines, lines) << testing::PrintToString(bytes) << " pass " << pass;
            EXPECT_EQ(keptRaw, raw) << testing::PrintToString(bytes) << " pass " << pass;
        }
    }
}

}  // namespace

// Today's traffic log read only where it grew: after each change the texts are those of
// reading everything, and an append costs about the appended bytes, not the whole log.
TEST_F(ReuseTest, TodaysTrafficLogIsReadFromWhereItGrew) {
    const std::string name = StampBack(0) + "_10.0.0.1";
    const std::string path = LogPath(name);
    auto record = [](int size, int hour) {
        return stats::Base64Encode(std::to_string(size) + "*GET /x Time:" + (hour < 10 ? "0" : "") +
                                   std::to_string(hour) + ":00:00");
    };
    std::string lines;
    for (int i = 0; i < 400; ++i) {
        lines += record(10 + i, i % 24) + "\r\n";
    }
    Raw(name, lines);  // large enough that reading it whole shows in the bytes read
    const std::string big = stats::Base64Encode(std::string(stats::kMaxLineBytes + 10, 'a'));
    struct Step {
        const char* what;
        std::function<void()> change;
        bool wholeLogRead;  // the next cycle must read the log from its start
    };
    const Step steps[] = {
        {"unchanged", [] {}, false},
        {"complete lines appended",
         [&] { Append(name, record(5, 3) + "\r\n" + record(6, 4) + "\n"); }, false},
        {"a line not ended yet", [&] { Append(name, record(70, 5)); }, false},
        {"its end, half of it", [&] { Append(name, "\r"); }, false},
        {"its end, the rest, and one more", [&] { Append(name, "\n" + record(8, 6) + "\r\n"); },
         false},
        {"a line over the cap, then one",
         [&] { Append(name, big + "\r\n" + record(9, 7) + "\r\n"); }, false},
        {"truncated and rewritten longer",
         [&] { testing_support::WriteAll(path, record(1, 1) + "\r\n" + lines + lines); }, true},
        {"replaced by a renamed file",
         [&] {
             testing_support::WriteAll(path + ".new", lines + record(2, 2) + "\r\n");
             fs::rename(path + ".new", path);
         },
         true},
        {"cut shorter", [&] { testing_support::WriteAll(path, record(3, 3) + "\r\n"); }, true},
        {"deleted", [&] { fs::remove(path); }, false},
        {"back again", [&] { Raw(name, record(4, 4) + "\r\n"); }, true},
    };
    Cycle(ctx_);
    std::uint64_t last = lines.size();
    for (const Step& step : steps) {
        step.change();
        const std::uint64_t size = fs::exists(path) ? fs::file_size(path) : 0;
        const std::uint64_t before = stats::LogReads().bytesRead.load();
        const std::vector<std::string> texts = Cycle(ctx_);
        const std::uint64_t read = stats::LogReads().bytesRead.load() - before;
        EXPECT_EQ(texts, Reference()) << step.what;
        if (step.wholeLogRead) {
            EXPECT_GE(read, size) << step.what;
        } else {
            // The appended bytes, the few checked before them, a line not ended yet, and
            // today's other small logs and the client list.
            EXPECT_LT(read, size - std::min(size, last) + 2048) << step.what;
        }
        last = size;
    }
}

// A steady cycle sums each scan's past logs from what the last cycle kept: its texts, pauses and
// notes are those of a walk over every log, also where saturating sums depend on the order
// (hostile sizes), and where one of today's logs cannot be read.
TEST_F(ReuseTest, KeptScanSumsGiveWhatAWalkGives) {
    const long long kMax = 9223372036854775807LL;
    struct Case {
        const char* what;
        std::string pastDay;                 // of 10.0.0.3's past log
        std::vector<long long> past, today;  // the sizes in it and in today's
        bool todayLocked;
    };
    // A log of a later day sorts after today's: saturation then depends on the order.
    const std::vector<Case> cases = {
        {"plain sizes", StampBack(3), {5, 6}, {7}, false},
        {"today's log negative", StampBack(3), {5, 6}, {-100, 3}, false},
        {"past log at the limit, today's adds", StampBack(3), {kMax, 1}, {9}, false},
        {"past log at the limit, today's takes away", StampBack(3), {kMax}, {-5}, false},
        {"today's log negative, then a log at the limit", "20_03_2026", {kMax}, {-20}, false},
        {"past log negative", StampBack(3), {-7, 2}, {4}, false},
        {"today's log unreadable", StampBack(3), {5}, {6}, true},
    };
    for (const Case& c : cases) {
        Traffic(c.pastDay + "_10.0.0.3", c.past);
        Traffic(StampBack(0) + "_10.0.0.3", c.today);
        std::vector<std::string> notes, plainNotes;
        stats::LogContext kept({app_, &clock_, &pacer_, true});
        kept.settings.verbose = [&notes](const std::string& line) { notes.push_back(line); };
        stats::LogContext plain({app_, &clock_, &pacer_});
        plain.settings.verbose = [&plainNotes](const std::string& line) {
            plainNotes.push_back(line);
        };
        std::optional<stats_test::HeldOpen> held;
        if (c.todayLocked) {
            held.emplace(LogPath(StampBack(0) + "_10.0.0.3"));
        }
        Cycle(kept);
        notes.clear();
        const std::size_t first = pacer_.pauses.size();
        const std::vector<std::string> steady = Cycle(kept);
        const std::vector<std::uint32_t> steadyPauses(pacer_.pauses.begin() + first,
                                                      pacer_.pauses.end());
        const std::size_t second = pacer_.pauses.size();
        EXPECT_EQ(steady, Cycle(plain)) << c.what;
        EXPECT_EQ(steadyPauses,
                  std::vector<std::uint32_t>(pacer_.pauses.begin() + second, pacer_.pauses.end()))
            << c.what;
        EXPECT_EQ(notes, plainNotes) << c.what;
        EXPECT_GT(kept.caches.scans.Size(), 0u) << c.what << ": sums were kept";
        if (c.pastDay != StampBack(3)) {
            fs::remove(LogPath(c.pastDay + "_10.0.0.3"));
        }
    }
}
