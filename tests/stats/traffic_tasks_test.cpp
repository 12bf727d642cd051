// Traffic totals of the proxy as a whole: the line bytes on a small store at fixed dates,
// the exact pauses, and the Skip and Abandon policies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stats/base64.h"
#include "stats/tasks.h"
#include "tests/stats/store_fixture.h"

namespace {

using stats::Kind;
using stats::Period;

using stats_test::HeldOpen;

std::string Slots(const std::vector<long long>& values) {
    std::string s;
    for (long long v : values) {
        s += "|" + std::to_string(v);
    }
    return s + "|";
}

class TrafficTest : public stats_test::StoreTest {
  protected:
    // A week of March 2026 (Sunday 8 to Wednesday 11) and the Saturday before.
    void MarchStore() {
        Traffic("07_03_2026_10.0.0.5", {9999});
        Traffic("08_03_2026_10.0.0.5", {100, 200});
        Traffic("08_03_2026_10.0.0.6", {50});
        Traffic("10_03_2026_10.0.0.5", {1000});
        Traffic("11_03_2026_10.0.0.5", {7});
        Traffic("12_03_2026_10.0.0.5", {123456});  // tomorrow: never counted
    }
};

TEST_F(TrafficTest, WeekOnAWednesday) {
    MarchStore();
    At(2026, 3, 11);
    std::string slot;
    Run(Kind::Traffic, Period::Week, slot);
    EXPECT_EQ(slot, stats::Base64Encode("Last 1 Week: |350|0|1000|7|0|0|0|") + "\n");
    // Four days: 8th (found), 9th (none), 10th, 11th (found), then one extra pause.
    EXPECT_EQ(pacer_.pauses, Seconds(2 + 1 + 2 + 2 + 1));
}

TEST_F(TrafficTest, WeekOnASundayReadsOnlySunday) {
    MarchStore();
    At(2026, 3, 8);
    std::string slot;
    Run(Kind::Traffic, Period::Week, slot);
    EXPECT_EQ(Decoded(slot), std::vector<std::string>{"Last 1 Week: |350|0|0|0|0|0|0|"});
    EXPECT_EQ(pacer_.pauses, Seconds(3));
}

TEST_F(TrafficTest, TwoWeeksEndWithToday) {
    MarchStore();
    Traffic("25_02_2026_x", {1});  // today - 14: outside
    Traffic("26_02_2026_x", {2});  // today - 13: slot 0
    At(2026, 3, 11);
    std::string slot;
    Run(Kind::Traffic, Period::TwoWeeks, slot);
    EXPECT_EQ(Decoded(slot),
              std::vector<std::string>{"Last 2 Week: |2|0|0|0|0|0|0|0|0|9999|350|0|1000|7|"});
}

TEST_F(TrafficTest, NoLogsGiveZeroLines) {
    At(2026, 3, 11);
    std::string week, month, year;
    Run(Kind::Traffic, Period::Week, week);
    Run(Kind::Traffic, Period::Month, month);
    Run(Kind::Traffic, Period::Year, year);
    EXPECT_EQ(Decoded(week), std::vector<std::string>{"Last 1 Week: |0|0|0|0|0|0|0|"});
    EXPECT_EQ(Decoded(month)[0], "Last 1 Mounth: " + Slots(std::vector<long long>(31, 0)));
    EXPECT_EQ(Decoded(year), std::vector<std::string>{"Last Year: |0|0|0|0|0|0|0|0|0|0|0|0|"});
}

TEST_F(TrafficTest, MonthInJanuaryIsDecemberOfTheYearBefore) {
    Traffic("01_12_2025_a", {5});
    Traffic("31_12_2025_a", {40});
    Traffic("31_12_2025_b.host", {2});
    Traffic("01_01_2026_a", {1000});
    At(2026, 1, 10);
    std::string slot;
    Run(Kind::Traffic, Period::Month, slot);
    std::vector<long long> expected(31, 0);
    expected[0] = 5;
    expected[30] = 42;
    EXPECT_EQ(Decoded(slot), std::vector<std::string>{"Last 1 Mounth: " + Slots(expected)});
    // 31 days, each: search, close; 1st and 31st also after their first file.
    EXPECT_EQ(pacer_.pauses, Seconds(31 * 2 + 2));
}

TEST_F(TrafficTest, MonthOfALeapFebruary) {
    Traffic("29_02_2024_a", {3});
    Traffic("01_03_2024_a", {1000});
    At(2024, 3, 15);
    std::string slot;
    Run(Kind::Traffic, Period::Month, slot);
    std::vector<long long> expected(31, 0);
    expected[28] = 3;
    EXPECT_EQ(Decoded(slot), std::vector<std::string>{"Last 1 Mounth: " + Slots(expected)});
    EXPECT_EQ(pacer_.pauses, Seconds(29 * 2 + 1));
}

TEST_F(TrafficTest, MonthUnitsThreeSixAndYear) {
    Traffic("31_12_2025_a", {1});
    Traffic("15_01_2026_b", {2});
    Traffic("01_02_2026_a", {4});
    Traffic("20_10_2025_a", {8});
    Traffic("31_08_2025_a", {16});  // outside six months
    Traffic("01_09_2025_a", {32});
    At(2026, 2, 14);
    std::string three, six, year;
    Run(Kind::Traffic, Period::ThreeMonths, three);
    EXPECT_EQ(Decoded(three), std::vector<std::string>{"Last 3 Mounth: |1|2|4|"});
    Run(Kind::Traffic, Period::SixMonths, six);
    EXPECT_EQ(Decoded(six), std::vector<std::string>{"Last 6 Mounth: |32|8|0|1|2|4|"});
    pacer_.pauses.clear();
    Run(Kind::Traffic, Period::Year, year);
    EXPECT_EQ(Decoded(year), std::vector<std::string>{"Last Year: |2|4|0|0|0|0|0|0|0|0|0|0|"});
    // Twelve months searched (two with a file), a pause after each, one more at the end.
    EXPECT_EQ(pacer_.pauses, Seconds(12 * 2 + 2 + 1));
}

TEST_F(TrafficTest, TotalsBeyondTwoGigabytesStayExact) {
    Traffic("08_03_2026_a", {2000000000, 2000000000});
    Traffic("08_03_2026_b", {2000000000});
    At(2026, 3, 8);
    std::string slot;
    Run(Kind::Traffic, Period::Week, slot);
    EXPECT_EQ(Decoded(slot), std::vector<std::string>{"Last 1 Week: |6000000000|0|0|0|0|0|0|"});
}

TEST_F(TrafficTest, SkipLeavesOutALockedLogAbandonStoresNothing) {
    MarchStore();
    Traffic("10_02_2026_a", {1});
    At(2026, 3, 11);
    HeldOpen week(LogPath("08_03_2026_10.0.0.6"));
    HeldOpen month(LogPath("10_02_2026_a"));
    std::string weekSlot, monthSlot = "left as it was", yearSlot = "left as it was";
    Run(Kind::Traffic, Period::Week, weekSlot);
    EXPECT_EQ(Decoded(weekSlot), std::vector<std::string>{"Last 1 Week: |300|0|1000|7|0|0|0|"});
    pacer_.pauses.clear();
    Run(Kind::Traffic, Period::Month, monthSlot);
    EXPECT_EQ(monthSlot, "left as it was");
    // Days 1 to 9 (search, close), then day 10: search, and the task ends at its locked log.
    EXPECT_EQ(pacer_.pauses, Seconds(9 * 2 + 1));
    Run(Kind::Traffic, Period::Year, yearSlot);
    EXPECT_EQ(yearSlot, "left as it was");
}

// A log removed between the cycle's listing and its reading is one a search made then would
// not have found: the month and year tasks keep their lines, the locked log still abandons.
TEST_F(TrafficTest, ALogThatVanishesAfterTheListingCountsAsNotFound) {
    Traffic("03_03_2026_a", {5});
    Traffic("04_03_2026_b", {7});
    Traffic("04_03_2026_c", {9});
    At(2026, 4, 2);
    ctx_.BeginCycle();
    ctx_.Logs();
    platform::DeleteFileAt(LogPath("04_03_2026_b"));
    std::string month, year;
    Run(Kind::Traffic, Period::Month, month);
    std::vector<long long> expected(31, 0);
    expected[2] = 5;
    expected[3] = 9;
    EXPECT_EQ(Decoded(month), std::vector<std::string>{"Last 1 Mounth: " + Slots(expected)});
    Run(Kind::Traffic, Period::Year, year);
    EXPECT_EQ(Decoded(year), std::vector<std::string>{"Last Year: |0|0|14|0|0|0|0|0|0|0|0|0|"});

    HeldOpen held(LogPath("04_03_2026_c"));
    std::string abandoned = "left as it was";
    Run(Kind::Traffic, Period::Month, abandoned);
    EXPECT_EQ(abandoned, "left as it was");
}

TEST_F(TrafficTest, StopEndsTheTaskWithoutStoring) {
    MarchStore();
    At(2026, 3, 11);
    pacer_.stopAtPause = 3;
    std::string slot = "previous";
    Run(Kind::Traffic, Period::Week, slot);
    EXPECT_EQ(slot, "previous");
    EXPECT_EQ(pacer_.pauses.size(), 3u);
}

}  // namespace

namespace {

// Without BeginCycle every task lists the log directory anew; with it, one listing serves the
// cycle and the next BeginCycle takes a fresh one.
TEST_F(TrafficTest, DirectoryListingPerTaskOrPerCycle) {
    At(2026, 3, 8);
    Traffic("08_03_2026_a", {1});
    std::string slot;
    Run(Kind::Traffic, Period::Week, slot);
    Traffic("08_03_2026_b", {2});
    Run(Kind::Traffic, Period::Week, slot);
    EXPECT_EQ(Decoded(slot), std::vector<std::string>{"Last 1 Week: |3|0|0|0|0|0|0|"});

    ctx_.BeginCycle();
    Run(Kind::Traffic, Period::Week, slot);
    Traffic("08_03_2026_c", {4});
    Run(Kind::Traffic, Period::Week, slot);
    EXPECT_EQ(Decoded(slot), std::vector<std::string>{"Last 1 Week: |3|0|0|0|0|0|0|"});
    ctx_.BeginCycle();
    Run(Kind::Traffic, Period::Week, slot);
    EXPECT_EQ(Decoded(slot), std::vector<std::string>{"Last 1 Week: |7|0|0|0|0|0|0|"});
}

}  // namespace
