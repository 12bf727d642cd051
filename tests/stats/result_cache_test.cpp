// The bounds of the reuse tables: beyond them results are not kept, a kept result may still be
// replaced, the filter table's byte count stays exact through replacements and pruning, and a
// cycle with full tables gives the same texts as one without reuse.
#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "stats/read_counters.h"
#include "stats/result_cache.h"
#include "stats/tasks.h"
#include "tests/stats/store_fixture.h"

namespace {

platform::DirEntry Log(const std::string& name, std::uint64_t size = 10) {
    return {name, size, 1000, 7};
}

stats::FilterLines Lines(std::size_t bytes) {
    return {std::string(bytes, 'x'), false};
}

TEST(TrafficResultCache, KeepsAtMostItsBoundOfLogs) {
    stats::TrafficResultCache cache(2);
    const stats::HourTotals one{1}, two{2};
    cache.Store(Log("a"), one);
    cache.Store(Log("b"), one);
    cache.Store(Log("c"), one);  // beyond the bound: not kept
    EXPECT_EQ(cache.Size(), 2u);
    EXPECT_EQ(cache.Find(Log("c")), std::nullopt);
    cache.Store(Log("a", 20), two);  // a kept log read again after a change: replaced in place
    EXPECT_EQ(cache.Size(), 2u);
    ASSERT_NE(cache.Find(Log("a", 20)), std::nullopt);
    EXPECT_EQ((*cache.Find(Log("a", 20)))[0], 2);
    EXPECT_EQ(cache.Find(Log("a")), std::nullopt);  // the old size no longer matches

    // A listing without "b" makes room again.
    const std::vector<platform::DirEntry> listing = {Log("a", 20), Log("c")};
    cache.Prune(listing);
    EXPECT_EQ(cache.Size(), 1u);
    cache.Store(listing[1], one);
    EXPECT_NE(cache.Find(listing[1]), std::nullopt);
    EXPECT_EQ(cache.Size(), 2u);
}

// Totals are kept in 32 bits where they fit; whatever they are, they come back exactly.
TEST(TrafficResultCache, GivesBackTheTotalsItWasGiven) {
    const std::int64_t big = std::int64_t{1} << 40;
    const stats::HourTotals cases[] = {
        {},
        {1, 0, 4294967295},
        {0, 0, 0, 4294967296},
        {-1, 2},
        {big, -big, std::numeric_limits<std::int64_t>::max()},
    };
    stats::TrafficResultCache cache;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const platform::DirEntry log = Log(std::to_string(i));
        cache.Store(log, cases[i]);
        const std::optional<stats::HourTotals> back = cache.Find(log);
        ASSERT_TRUE(back.has_value()) << i;
        EXPECT_EQ(*back, cases[i]) << i;
    }
}

// Results held by place: a log read again with totals of another packed size, logs dropped
// (their room taken back), a listing whose names moved. Each kept result stays exact.
TEST(TrafficResultCache, KeepsEveryResultExactThroughReplacementsAndRenumbering) {
    constexpr std::size_t kLogs = 3000;
    auto totalsOf = [](std::size_t i, int round) {
        stats::HourTotals t{};
        for (std::size_t h = 0; h < t.size(); ++h) {
            // Some hours empty, some wide or negative, so packed sizes differ between rounds.
            if ((i + h + round) % 3 != 0) {
                // Shifted as 64 bits: a 32-bit size_t would lose the wide values.
                t[h] = (static_cast<std::int64_t>(i * 131 + h) << (round * 20 % 60)) *
                       ((i + h) % 7 == 0 ? -1 : 1);
            }
        }
        return t;
    };
    std::vector<platform::DirEntry> listing;
    for (std::size_t i = 0; i < kLogs; ++i) {
        listing.push_back({"log" + std::to_string(100000 + i), 10, 1000, i + 1});
    }
    stats::TrafficResultCache cache;
    cache.Prune(listing, 1);
    for (int round = 0; round < 3; ++round) {
        for (std::size_t i = 0; i < kLogs; ++i) {
            cache.Store(listing[i], totalsOf(i, round));
        }
    }
    // Every third log changes; the next listing names them at the same places.
    for (std::size_t i = 0; i < kLogs; i += 3) {
        listing[i].size = 11;
    }
    cache.Prune(listing, 1);
    ASSERT_EQ(cache.Size(), kLogs - kLogs / 3);
    // Every other remaining log gone and one new name at the front: the places move.
    stats::TrafficResultCache::Renumbering moved{1, 2, std::vector<std::uint32_t>(kLogs)};
    std::vector<platform::DirEntry> next = {{"log0", 10, 1000, 99999}};
    std::vector<std::size_t> origin = {kLogs};
    for (std::size_t i = 0; i < kLogs; ++i) {
        moved.moved[i] = UINT32_MAX;
        if (i % 2 == 0) {
            moved.moved[i] = static_cast<std::uint32_t>(next.size());
            next.push_back(listing[i]);
            origin.push_back(i);
        }
    }
    const std::uint64_t epoch = cache.SettledEpoch();
    cache.Prune(next, 2, &moved);
    EXPECT_NE(cache.SettledEpoch(), epoch);
    std::size_t kept = 0;
    for (std::size_t p = 0; p < next.size(); ++p) {
        const std::optional<stats::HourTotals> back = cache.Find(next[p]);
        const bool expected = origin[p] < kLogs && origin[p] % 3 != 0;
        ASSERT_EQ(back.has_value(), expected) << p;
        if (back) {
            EXPECT_EQ(*back, totalsOf(origin[p], 2)) << p;
            ++kept;
        }
    }
    EXPECT_EQ(cache.Size(), kept);

    // A copy holds them by name; a renumbering that does not start from the pruned listing
    // cannot be followed, so nothing is kept rather than something wrong.
    stats::TrafficResultCache copy = cache;
    // Reversed names, as no listing's merge gives them: following would place every result.
    const std::vector<platform::DirEntry> backwards(next.rbegin(), next.rend());
    stats::TrafficResultCache::Renumbering reversed{2, 3, {}};
    for (std::size_t p = next.size(); p-- > 0;) {
        reversed.moved.push_back(static_cast<std::uint32_t>(p));
    }
    const struct {
        const char* what;
        const std::vector<platform::DirEntry>& listing;
        std::uint64_t version;
        const stats::TrafficResultCache::Renumbering* renumbered;
        std::size_t sizeAfter;
    } cases[] = {
        {"same names, same places", next, 2, nullptr, kept},
        {"renumbering from another listing", next, 3, &moved, 0},
        {"renumbering out of the names' order", backwards, 3, &reversed, 0},
        {"version not known", next, 0, nullptr, 0},
    };
    for (const auto& c : cases) {
        stats::TrafficResultCache t = cache;
        t.Prune(next, 2);  // a copy takes its places by name
        EXPECT_EQ(t.Size(), kept) << c.what;
        t.Prune(c.listing, c.version, c.renumbered);
        EXPECT_EQ(t.Size(), c.sizeAfter) << c.what;
    }
    ASSERT_EQ(copy.Size(), kept);
    std::vector<platform::DirEntry> alone(next.begin() + 1, next.end());
    ASSERT_NE(cache.Find(next[2]), std::nullopt);
    EXPECT_EQ(copy.Find(next[2]), cache.Find(next[2]));
    copy.Prune(alone);
    EXPECT_EQ(copy.Size(), kept);
    EXPECT_EQ(copy.Find(alone[1]), cache.Find(next[2]));
}

TEST(FilterResultCache, KeepsAtMostItsBoundOfBytes) {
    stats::FilterResultCache cache(10);
    const struct {
        const char* what;
        const char* log;
        std::size_t bytes;
        std::size_t sizeAfter, bytesAfter;
    } steps[] = {
        {"first log", "a", 6, 1, 6},
        {"would pass the bound: not kept", "b", 6, 1, 6},
        {"fits beside the first", "b", 4, 2, 10},
        {"a kept log replaced by fewer bytes", "a", 2, 2, 6},
        {"a kept log grown past the bound: dropped", "a", 7, 1, 4},
        {"exactly up to the bound", "c", 6, 2, 10},
    };
    for (const auto& s : steps) {
        cache.Store(Log(s.log, s.bytes), Lines(s.bytes), false);
        EXPECT_EQ(cache.Size(), s.sizeAfter) << s.what;
        EXPECT_EQ(cache.Bytes(), s.bytesAfter) << s.what;
    }
    EXPECT_EQ(cache.Find(Log("a", 7)), nullptr);
    cache.Prune({Log("c", 6)});  // "b" vanished
    EXPECT_EQ(cache.Size(), 1u);
    EXPECT_EQ(cache.Bytes(), 6u);
}

class FullTablesTest : public stats_test::StoreTest {};

TEST_F(FullTablesTest, ACycleWithFullTablesGivesTheSameTextsAndRereadsWhatItCouldNotKeep) {
    Clients({"x|10.0.0.1", "x|10.0.0.2"});
    for (int day = 1; day <= 10; ++day) {
        const std::string stamp = (day < 10 ? "0" : "") + std::to_string(day) + "_03_2026";
        Traffic(stamp + "_10.0.0.1", {100 * day});
        Traffic(stamp + "_10.0.0.2", {7, day});
        Raw("Filter_" + stamp + ".log", "F" + std::to_string(day) + "\r\nG\r\n");
    }
    At(2026, 3, 11);
    const stats::CycleDate date{11, 3, 2026, 4};
    const auto cycle = [&date](stats::LogContext& ctx) {
        std::vector<std::string> texts(stats::kStatisticCount);
        ctx.BeginCycle();
        for (std::size_t i = 0; i < stats::kStatisticCount; ++i) {
            stats::RunStatistic(ctx, stats::kStatistics[i], date, texts[i]);
        }
        return texts;
    };
    const auto opened = [&cycle](stats::LogContext& ctx, std::vector<std::string>* texts) {
        const std::uint64_t before = stats::LogReads().filesOpened.load();
        *texts = cycle(ctx);
        return stats::LogReads().filesOpened.load() - before;
    };
    stats::LogContext plain({app_, &clock_, &pacer_});
    std::vector<std::string> expected;
    const std::uint64_t plainOpens = opened(plain, &expected);

    // Room for 5 of the 20 traffic logs and 2 of the 10 filter logs (7 or 8 bytes each).
    stats::LogContext small({app_, &clock_, &pacer_, true});
    small.caches = {stats::TrafficResultCache(5), stats::FilterResultCache(16)};
    for (int run = 0; run < 2; ++run) {
        std::vector<std::string> texts;
        const std::uint64_t opens = opened(small, &texts);
        EXPECT_EQ(texts, expected) << "run " << run;
        EXPECT_EQ(small.caches.traffic.Size(), 5u);
        EXPECT_EQ(small.caches.filter.Size(), 2u);
        // The kept logs are not read again; the others are read as without reuse.
        EXPECT_LT(opens, plainOpens) << "run " << run;
        EXPECT_GT(opens, 6u + 15u + 8u) << "run " << run;
    }
}

}  // namespace
