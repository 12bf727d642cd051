// Date arithmetic for the statistic periods. Days are stepped on the calendar (day field
// plus or minus n, normalised by the C library at noon), not by multiples of 86400 seconds,
// so a change of daylight saving time never moves a result onto the neighbouring day.
#include "stats/date_cursor.h"

#include "platform/clock.h"

namespace stats {

namespace {

// Noon keeps the normalised date clear of any daylight-saving jump around midnight.
constexpr int kNoon = 12;

platform::LocalDate CalendarDay(int year, int month, int day) {
    return platform::BreakDown(platform::LocalTimeOf(year, month, day, kNoon));
}

}  // namespace

void DateCursor::DaysFromToday(int days, char direction) {
    const platform::LocalDate today = platform::BreakDown(clock_->Now());
    int offset = 0;
    if (direction == 0) {
        offset = -days;
    } else if (direction == 1) {
        offset = days;
    }
    const platform::LocalDate d = CalendarDay(today.year, today.month, today.day + offset);
    startDay = d.day;
    startMonth = d.month;
    startYear = d.year;
}

void DateCursor::NextDay(int day, int month, int year) {
    const platform::LocalDate d = CalendarDay(year, month, day + 1);
    nextDay = d.day;
    nextMonth = d.month;
    nextYear = d.year;
}

void DateCursor::MonthsBack(int n) {
    const platform::LocalDate today = platform::BreakDown(clock_->Now());
    int month = today.month - (n - 1);
    int year = today.year;
    while (month < 1) {
        month += 12;
        --year;
    }
    startDay = today.day;
    startMonth = month;
    startYear = year;
}

void DateCursor::NextMonth(int month, int year) {
    if (month >= 12) {
        nextMonth = 1;
        nextYear = year + 1;
    } else {
        nextMonth = month + 1;
        nextYear = year;
    }
}

}  // namespace stats
