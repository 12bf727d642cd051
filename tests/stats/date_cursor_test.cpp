// The date calculator across month and year ends, leap years and a daylight-saving change.
#include "stats/date_cursor.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"

namespace {

struct Ymd {
    int day, month, year;
};

platform::FixedClock ClockAt(int year, int month, int day, int hour = 10) {
    return platform::FixedClock(platform::LocalTimeOf(year, month, day, hour, 30, 0));
}

TEST(DateCursorTest, NextDayCrossesMonthYearAndLeapDays) {
    struct Case {
        Ymd from, to;
    } cases[] = {
        {{28, 2, 2023}, {1, 3, 2023}},  {{28, 2, 2024}, {29, 2, 2024}},
        {{29, 2, 2024}, {1, 3, 2024}},  {{31, 12, 2025}, {1, 1, 2026}},
        {{30, 4, 2026}, {1, 5, 2026}},  {{31, 1, 2026}, {1, 2, 2026}},
        {{15, 6, 2026}, {16, 6, 2026}},
    };
    platform::FixedClock clock = ClockAt(2026, 7, 19, 23);
    for (const Case& c : cases) {
        stats::DateCursor cursor(clock);
        cursor.NextDay(c.from.day, c.from.month, c.from.year);
        EXPECT_EQ(cursor.nextDay, c.to.day) << c.from.day << "/" << c.from.month;
        EXPECT_EQ(cursor.nextMonth, c.to.month) << c.from.day << "/" << c.from.month;
        EXPECT_EQ(cursor.nextYear, c.to.year) << c.from.day << "/" << c.from.month;
    }
}

TEST(DateCursorTest, DaysFromTodayCountsBackOverMonthAndYearEnds) {
    struct Case {
        Ymd today;
        int days;
        char direction;
        Ymd expected;
    } cases[] = {
        {{10, 1, 2026}, 13, 0, {28, 12, 2025}}, {{2, 3, 2024}, 2, 0, {29, 2, 2024}},
        {{1, 3, 2023}, 1, 0, {28, 2, 2023}},    {{11, 3, 2026}, 3, 0, {8, 3, 2026}},
        {{1, 1, 2026}, 0, 0, {1, 1, 2026}},     {{31, 12, 2025}, 1, 1, {1, 1, 2026}},
        {{15, 5, 2026}, 9, 7, {15, 5, 2026}},
    };
    for (const Case& c : cases) {
        platform::FixedClock clock = ClockAt(c.today.year, c.today.month, c.today.day);
        stats::DateCursor cursor(clock);
        cursor.nextDay = -1;
        cursor.DaysFromToday(c.days, c.direction);
        EXPECT_EQ(cursor.startDay, c.expected.day) << c.today.day << "/" << c.today.month;
        EXPECT_EQ(cursor.startMonth, c.expected.month) << c.today.day << "/" << c.today.month;
        EXPECT_EQ(cursor.startYear, c.expected.year) << c.today.day << "/" << c.today.month;
        EXPECT_EQ(cursor.nextDay, -1) << "the other triple stays untouched";
    }
}

TEST(DateCursorTest, MonthsBackBorrowsAYear) {
    struct Case {
        Ymd today;
        int n;
        int month, year;
    } cases[] = {
        {{14, 2, 2026}, 3, 12, 2025}, {{14, 2, 2026}, 1, 2, 2026}, {{31, 3, 2026}, 6, 10, 2025},
        {{31, 3, 2026}, 3, 1, 2026},  {{5, 1, 2026}, 12, 2, 2025}, {{29, 2, 2024}, 2, 1, 2024},
    };
    for (const Case& c : cases) {
        platform::FixedClock clock = ClockAt(c.today.year, c.today.month, c.today.day);
        stats::DateCursor cursor(clock);
        cursor.MonthsBack(c.n);
        EXPECT_EQ(cursor.startMonth, c.month) << c.n;
        EXPECT_EQ(cursor.startYear, c.year) << c.n;
        EXPECT_EQ(cursor.startDay, c.today.day);
    }
}

TEST(DateCursorTest, MonthStepsFromMonthsBackAreConsecutiveOnThe31st) {
    platform::FixedClock clock = ClockAt(2026, 3, 31);
    stats::DateCursor cursor(clock);
    cursor.MonthsBack(3);
    int month = cursor.startMonth, year = cursor.startYear;
    std::string seen;
    for (int i = 0; i < 3; ++i) {
        seen += std::to_string(month) + "/" + std::to_string(year) + " ";
        cursor.NextMonth(month, year);
        month = cursor.nextMonth;
        year = cursor.nextYear;
    }
    EXPECT_EQ(seen, "1/2026 2/2026 3/2026 ");
    cursor.NextMonth(12, 2025);
    EXPECT_EQ(cursor.nextMonth, 1);
    EXPECT_EQ(cursor.nextYear, 2026);
}

// Counting back by whole 86400-second days lands on Saturday when the week holds the start
// of summer time and the task runs shortly after midnight; calendar days do not.
TEST(DateCursorTest, DaysFromTodayIgnoresDaylightSavingChanges) {
    if (!platform::FileExists("/usr/share/zoneinfo/Europe/Berlin")) {
        GTEST_SKIP() << "no time-zone data";
    }
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    platform::SetEnvironmentValue("TZ", "Europe/Berlin");
    tzset();
    // Monday 30 March 2026, 00:30 summer time; summer time began on Sunday 29 March.
    platform::FixedClock clock(platform::LocalTimeOf(2026, 3, 30, 0, 30, 0));
    stats::DateCursor cursor(clock);
    cursor.DaysFromToday(1, 0);
    const Ymd got{cursor.startDay, cursor.startMonth, cursor.startYear};
    cursor.NextDay(28, 3, 2026);
    const Ymd next{cursor.nextDay, cursor.nextMonth, cursor.nextYear};
    platform::SetEnvironmentValue("TZ", saved);
    tzset();
    EXPECT_EQ(got.day, 29);
    EXPECT_EQ(got.month, 3);
    EXPECT_EQ(next.day, 29);
}

}  // namespace
