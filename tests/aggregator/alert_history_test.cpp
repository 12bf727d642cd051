// The spike history's older days kept per client key equal what a scan of each client's logs
// of each day gives, on a store with keys in two spellings, wildcard and unsafe keys, sizes
// that saturate or are negative, missing days, listed clients without logs and a log that
// cannot be read; with reuse on and off, and again after a past log changed or one was added.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "aggregator/today_figures.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "stats/base64.h"
#include "stats/log_names.h"
#include "stats/periods.h"
#include "tests/support/test_env.h"

namespace {

using testing_support::WriteAll;

// Names that differ only in case, or hold "*", are distinct files only where "/" separates.
bool PosixNames() {
    return platform::kPathSeparator == '/';
}

class SpikeHistoryTest : public ::testing::Test {
  protected:
    SpikeHistoryTest() : clock_(platform::LocalTimeOf(2026, 7, 31, 12)) {
        app_ = scratch_.Path() + "/app/";
        platform::CreateDirectories(app_ + "Logs");
        older_ = stats::LastDays(clock_, static_cast<int>(kSpikeHistoryDays) + 1);
        older_.resize(kSpikeOlderDays);
        for (std::size_t d = 0; d < older_.size(); ++d) {
            if (d % 4 != 3) {  // missing days
                Log(d, "10.0.0.1", {std::to_string(1000 * (d + 1)) + "*GET / Time:09:00:00"});
            }
        }
        if (PosixNames()) {
            // One key in two spellings: both logs count for both listed spellings.
            Log(2, "PC", {"5*GET / Time:01:00:00"});
            Log(2, "pc", {"7*GET / Time:01:00:00"});
            // Wildcards in a key are plain characters.
            Log(4, "A*B", {"11*GET / Time:02:00:00"});
            Log(4, "axb", {"13*GET / Time:02:00:00"});
            Log(5, "aZ", {"17*GET / Time:03:00:00"});
            // Sums held at the limit in the order the listing gives.
            Log(6, "BIG", {"10*GET / Time:09:00:00"});
            Log(6, "Big", {"-5*GET / Time:09:00:00"});
        }
        Log(6, "big", {"9223372036854775807*GET / Time:09:00:00"});
        Log(8, "neg", {"-300*GET / Time:04:00:00", "20*GET / Time:05:00:00"});
        Log(8, "stranger", {"19*GET / Time:04:00:00"});
        // A name of a log that cannot be read as one.
        platform::CreateDirectories(LogPath(9, "10.0.0.9"));
        Log(10, "10.0.0.9", {"23*GET / Time:06:00:00"});
        for (const char* key :
             {"10.0.0.1", "PC", "pc", "a*b", "a?", "idle", "../up", "big", "neg", "10.0.0.9"}) {
            clients_ +=
                stats::Base64Encode(std::string(key) + " |0|0|0|0|0|0|0|0|0|0|0|0|0|0|") + "\n";
        }
    }

    std::string LogPath(std::size_t day, const std::string& key) const {
        return app_ + "Logs/" + stats::TrafficLogName(stats::StampOf(older_[day]), key);
    }
    void Log(std::size_t day, const std::string& key, const std::vector<std::string>& records) {
        std::string bytes;
        for (const std::string& r : records) {
            bytes += stats::Base64Encode(r) + "\r\n";
        }
        WriteAll(LogPath(day, key), bytes);
    }

    stats::LogSettings Settings(bool reuse) {
        stats::LogSettings settings;
        settings.appPath = app_;
        settings.clock = &clock_;
        settings.reuseResults = reuse;
        return settings;
    }

    // Each client's history as the kept sums give it, against scans on a fresh context.
    void ExpectSameAsScans(stats::LogContext& ctx, SpikeHistory& kept, const std::string& when) {
        const stats::CycleDate date = stats::CycleDateOf(platform::BreakDown(clock_.Now()));
        ctx.BeginCycle();
        const TodayFigures got = GatherToday(ctx, date, clients_, "", {nullptr, true, &kept});
        stats::LogContext fresh(Settings(false));
        fresh.BeginCycle();
        const TodayFigures want = GatherToday(fresh, date, clients_, "", {nullptr, true});
        ASSERT_EQ(got.clients.size(), want.clients.size()) << when;
        for (std::size_t c = 0; c < want.clients.size(); ++c) {
            EXPECT_EQ(got.clients[c].client, want.clients[c].client) << when;
            EXPECT_EQ(got.clients[c].previousDays, want.clients[c].previousDays)
                << when << ": " << want.clients[c].client;
        }
    }

    testing_support::ScratchDir scratch_;
    platform::FixedClock clock_;
    std::string app_;
    std::vector<stats::PeriodUnit> older_;
    std::string clients_;
};

TEST_F(SpikeHistoryTest, KeptSumsEqualScansOfEachClientsLogs) {
    for (const bool reuse : {true, false}) {
        const std::string mode = reuse ? "reuse on" : "reuse off";
        stats::LogContext ctx(Settings(reuse));
        SpikeHistory kept;
        // The first cycle scans (nothing is kept yet), the second walks what the first
        // kept, the third has the sums.
        ExpectSameAsScans(ctx, kept, mode + ", first cycle");
        ExpectSameAsScans(ctx, kept, mode + ", second cycle");
        ExpectSameAsScans(ctx, kept, mode + ", from the kept sums");
        EXPECT_EQ(kept.Size() != 0, reuse) << mode;

        // A past log changed in place, then a log added for a listed client without any.
        Log(0, "10.0.0.1", {"123456789*GET / Time:09:00:00"});
        ExpectSameAsScans(ctx, kept, mode + ", a past log changed");
        Log(1, "idle", {"31*GET / Time:09:00:00"});
        ExpectSameAsScans(ctx, kept, mode + ", a log added");
        platform::DeleteFileAt(LogPath(0, "10.0.0.1"));
        platform::DeleteFileAt(LogPath(1, "idle"));
        Log(0, "10.0.0.1", {"1000*GET / Time:09:00:00"});
    }
}

TEST_F(SpikeHistoryTest, FiguresAsExpectedAndShortLinesStayInside) {
    stats::LogContext ctx(Settings(true));
    SpikeHistory kept;
    const stats::CycleDate date = stats::CycleDateOf(platform::BreakDown(clock_.Now()));
    ctx.BeginCycle();
    const std::string text = clients_ + stats::Base64Encode("short |1|2|3|") + "\n";
    const TodayFigures got = GatherToday(ctx, date, text, "", {nullptr, true, &kept});
    auto history = [&got](const std::string& client) {
        for (const ClientToday& c : got.clients) {
            if (c.client == client) {
                return c.previousDays;
            }
        }
        ADD_FAILURE() << client;
        return std::vector<std::int64_t>{};
    };
    if (PosixNames()) {
        EXPECT_EQ(history("PC")[2], 12);
        EXPECT_EQ(history("pc")[2], 12);
        EXPECT_EQ(history("a*b")[4], 11);
    }
    EXPECT_EQ(history("a?"), std::vector<std::int64_t>(kSpikeHistoryDays, 0));
    EXPECT_EQ(history("idle"), std::vector<std::int64_t>(kSpikeHistoryDays, 0));
    EXPECT_EQ(history("neg")[8], -280);
    EXPECT_EQ(history("10.0.0.9")[10], 23);
    EXPECT_EQ(history("10.0.0.1")[3], 0);
    EXPECT_EQ(history("10.0.0.1")[4], 5000);
    // A line of three slots: today and the two days before it, the rest 0.
    std::vector<std::int64_t> shortLine(kSpikeHistoryDays, 0);
    shortLine[kSpikeHistoryDays - 2] = 1;
    shortLine[kSpikeHistoryDays - 1] = 2;
    EXPECT_EQ(history("short"), shortLine);
}

}  // namespace
