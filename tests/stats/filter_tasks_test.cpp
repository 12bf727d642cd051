// Filter-log extracts: which logs each period copies, how each reader treats line ends, the
// pauses, and the year task's first-file rule.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stats/log_names.h"
#include "stats/tasks.h"
#include "tests/stats/store_fixture.h"

namespace {

using stats::Kind;
using stats::Period;

using stats_test::HeldOpen;

class FilterTest : public stats_test::StoreTest {
  protected:
    void Day(int day, int month, int year, const std::string& bytes) {
        Raw("Filter_" + stats::DayStamp(day, month, year) + ".log", bytes);
    }
};

TEST_F(FilterTest, WeekCopiesLinesWithoutTheirEnds) {
    Day(7, 3, 2026, "OLD\r\n");
    Day(8, 3, 2026, "AAA\r\nBBB\r\n");
    Day(10, 3, 2026, "CCC");
    Day(11, 3, 2026, "TOMORROW\r\n");
    At(2026, 3, 10);
    std::string slot;
    Run(Kind::Filter, Period::Week, slot);
    EXPECT_EQ(slot, "AAA\nBBB\nCCC\n");
    // 8th: search + first file; 9th: search; 10th: search + first file; one more at the end.
    EXPECT_EQ(pacer_.pauses, Seconds(2 + 1 + 2 + 1));
}

TEST_F(FilterTest, WeekOnASundayAndTheFifteenDayExtract) {
    Day(23, 2, 2026, "D23\r\n");
    Day(24, 2, 2026, "D24\r\n");
    Day(8, 3, 2026, "D8\r\n");
    Day(10, 3, 2026, "D10\r\n");
    At(2026, 3, 8);
    std::string week;
    Run(Kind::Filter, Period::Week, week);
    EXPECT_EQ(week, "D8\n");
    At(2026, 3, 10);
    std::string twoWeeks;
    pacer_.pauses.clear();
    Run(Kind::Filter, Period::TwoWeeks, twoWeeks);
    EXPECT_EQ(twoWeeks, "D24\nD8\nD10\n");
    EXPECT_EQ(pacer_.pauses, Seconds(15 + 3 + 1));
}

TEST_F(FilterTest, MonthCopiesBytesOfThePreviousMonthInJanuary) {
    Day(10, 12, 2025, "TEN\r\n");
    Day(2, 12, 2025, "TWO-A\r\nTWO-B");  // no final LF: one is added
    Day(2, 1, 2026, "JAN\r\n");
    Day(2, 12, 2024, "OLD\r\n");
    At(2026, 1, 31);
    std::string slot;
    Run(Kind::Filter, Period::Month, slot);
    EXPECT_EQ(slot, "TWO-A\r\nTWO-B\nTEN\r\n");
    // Search, first file, then the pause before the search is closed.
    EXPECT_EQ(pacer_.pauses, Seconds(3));
}

TEST_F(FilterTest, ThreeAndSixMonthsCopyEveryLogOfEachMonth) {
    Day(1, 9, 2025, "SEP\r\n");
    Day(31, 12, 2025, "DEC\r\n");
    Day(5, 1, 2026, "JAN\r\n");
    Day(28, 2, 2026, "FEB\r\n");
    At(2026, 2, 28);
    std::string three, six;
    Run(Kind::Filter, Period::ThreeMonths, three);
    EXPECT_EQ(three, "DEC\nJAN\nFEB\n");
    EXPECT_EQ(pacer_.pauses, Seconds(3 * 2 + 1));
    Run(Kind::Filter, Period::SixMonths, six);
    EXPECT_EQ(six, "SEP\nDEC\nJAN\nFEB\n");
}

TEST_F(FilterTest, YearAbandonsOnlyOnItsFirstLog) {
    Day(1, 1, 2026, "FIRST\r\n");
    Day(2, 1, 2026, "SECOND\r\n");
    Day(3, 1, 2026, "THIRD\r\n");
    Day(3, 1, 2025, "LAST-YEAR\r\n");
    At(2026, 5, 5);
    {
        HeldOpen held(LogPath("Filter_02_01_2026.log"));
        std::string slot;
        Run(Kind::Filter, Period::Year, slot);
        EXPECT_EQ(slot, "FIRST\r\nTHIRD\r\n");
        EXPECT_EQ(pacer_.pauses, Seconds(3));
    }
    {
        HeldOpen held(LogPath("Filter_01_01_2026.log"));
        std::string slot;
        pacer_.pauses.clear();
        Run(Kind::Filter, Period::Year, slot);
        EXPECT_EQ(slot, "");
        EXPECT_EQ(pacer_.pauses, Seconds(1));
    }
}

TEST_F(FilterTest, SkippedLogsAndStops) {
    Day(8, 3, 2026, "A\r\n");
    Day(9, 3, 2026, "B\r\n");
    At(2026, 3, 9);
    {
        HeldOpen held(LogPath("Filter_08_03_2026.log"));
        std::string slot;
        Run(Kind::Filter, Period::Week, slot);
        EXPECT_EQ(slot, "B\n");
    }
    pacer_.pauses.clear();
    pacer_.stopAtPause = 2;
    std::string slot = "previous";
    Run(Kind::Filter, Period::Week, slot);
    EXPECT_EQ(slot, "previous");
}

TEST_F(FilterTest, EmptyLogsAddNothing) {
    Day(8, 3, 2026, "");
    At(2026, 3, 8);
    std::string week, year;
    Run(Kind::Filter, Period::Week, week);
    Run(Kind::Filter, Period::Year, year);
    EXPECT_EQ(week, "");
    EXPECT_EQ(year, "");
}

}  // namespace
