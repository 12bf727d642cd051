// Reusing traffic-log results within and across cycles gives the same eighteen texts as
// reading every log each time: cold, steady, and after a past log was appended to, replaced
// by a same-size file, deleted, or a new client appeared.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "stats/log_names.h"
#include "stats/read_counters.h"
#include "stats/tasks.h"
#include "tests/stats/store_fixture.h"

namespace {

class ReuseTest : public stats_test::StoreTest {
  protected:
    ReuseTest() {
        Clients({"x|10.0.0.1", "x|10.0.0.2", "x|10.0.0.3"});
        for (int back = 0; back < 120; back += 3) {
            const platform::LocalDate d =
                platform::BreakDown(platform::LocalTimeOf(2026, 3, 11 - back, 12));
            const std::string stamp = stats::DayStamp(d.day, d.month, d.year);
            Traffic(stamp + "_10.0.0." + std::to_string(back % 3 + 1), {100 + back, 7});
            Traffic(stamp + "_10.0.0.3", {1000 + back});
            Raw("Filter_" + stamp + ".log", "F" + std::to_string(back) + "\r\n");
        }
        At(2026, 3, 11);
    }

    // The eighteen tasks in the order of the cycle, as the worker runs them.
    static std::vector<std::string> Cycle(stats::LogContext& ctx) {
        std::vector<std::string> s(18);
        const int w = 4, m = 3, y = 2026;
        ctx.BeginCycle();
        stats::BuildTrafficWeek(ctx, w, s[0]);
        stats::BuildClientWeek(ctx, w, s[1]);
        stats::CollectFilterWeek(ctx, w, s[2]);
        stats::BuildTrafficTwoWeeks(ctx, s[3]);
        stats::BuildClientTwoWeeks(ctx, s[4]);
        stats::CollectFilterTwoWeeks(ctx, s[5]);
        stats::BuildTrafficMonth(ctx, m, y, s[6]);
        stats::BuildClientMonth(ctx, m, y, s[7]);
        stats::CollectFilterMonth(ctx, m, y, s[8]);
        stats::BuildTrafficThreeMonths(ctx, m, y, s[9]);
        stats::BuildClientThreeMonths(ctx, m, y, s[10]);
        stats::CollectFilterThreeMonths(ctx, m, y, s[11]);
        stats::BuildTrafficSixMonths(ctx, m, y, s[12]);
        stats::BuildClientSixMonths(ctx, m, y, s[13]);
        stats::CollectFilterSixMonths(ctx, m, y, s[14]);
        stats::BuildTrafficYear(ctx, y, s[15]);
        stats::BuildClientYear(ctx, y, s[16]);
        stats::CollectFilterYear(ctx, y, s[17]);
        return s;
    }

    // What a context without reuse computes from the store as it is now.
    std::vector<std::string> Reference() {
        stats::LogContext plain{app_, &clock_, &pacer_};
        return Cycle(plain);
    }

    std::uint64_t TrafficOpens(stats::LogContext& ctx, std::vector<std::string>* out) {
        const std::uint64_t before = stats::LogReads().filesOpened.load();
        *out = Cycle(ctx);
        return stats::LogReads().filesOpened.load() - before;
    }
};

TEST_F(ReuseTest, SameTextsAcrossCyclesAndChanges) {
    ctx_.reuseResults = true;
    std::vector<std::string> texts;
    const std::uint64_t coldOpens = TrafficOpens(ctx_, &texts);
    EXPECT_EQ(texts, Reference()) << "cold";
    EXPECT_FALSE(texts[15].empty());

    // Steady: only the client list (six times) and the filter logs are opened again.
    const std::uint64_t steadyOpens = TrafficOpens(ctx_, &texts);
    EXPECT_EQ(texts, Reference()) << "steady";
    EXPECT_LT(steadyOpens, coldOpens);
    EXPECT_EQ(ctx_.trafficResults.Size(), 80u);

    // A past log grows.
    const std::string past = LogPath("05_03_2026_10.0.0.3");
    testing_support::WriteAll(
        past, testing_support::ReadAll(past) + stats::Base64Encode("5000*Time:09") + "\r\n");
    EXPECT_EQ(Cycle(ctx_), Reference()) << "appended";

    // A past log replaced by another of the same size.
    const std::string other = LogPath("08_03_2026_10.0.0.3");
    const std::string before = testing_support::ReadAll(other);
    testing_support::WriteAll(other + ".new", stats::Base64Encode("9999*Time:01") + "\r\n");
    std::string bytes = testing_support::ReadAll(other + ".new");
    ASSERT_LE(bytes.size(), before.size());
    bytes.insert(0, before.size() - bytes.size(), '\n');  // padded to the same size
    testing_support::WriteAll(other + ".new", bytes);
    std::filesystem::rename(other + ".new", other);
    EXPECT_EQ(Cycle(ctx_), Reference()) << "replaced, same size";

    // A past log deleted, then a new client with logs.
    std::filesystem::remove(LogPath("02_03_2026_10.0.0.3"));
    EXPECT_EQ(Cycle(ctx_), Reference()) << "deleted";
    Clients({"x|10.0.0.1", "x|10.0.0.2", "x|10.0.0.3", "x|10.0.0.4"});
    Traffic("10_03_2026_10.0.0.4", {4444});
    Traffic("10_01_2026_10.0.0.4", {44});
    EXPECT_EQ(Cycle(ctx_), Reference()) << "new client";
    EXPECT_EQ(ctx_.trafficResults.Size(), 81u);
}

TEST_F(ReuseTest, UnreadableLogsAreNotRemembered) {
    ctx_.reuseResults = true;
    std::vector<std::string> texts;
    {
        stats_test::HeldOpen held(LogPath("08_03_2026_10.0.0.3"));
        texts = Cycle(ctx_);
        EXPECT_EQ(texts, Reference()) << "a locked log is skipped or abandons as without reuse";
    }
    EXPECT_EQ(Cycle(ctx_), Reference()) << "and is read once it is free";
}

}  // namespace
