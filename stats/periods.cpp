// Period units of the statistic tasks; see periods.h. Nothing here fails.
#include "stats/periods.h"

#include "stats/date_cursor.h"
#include "stats/log_names.h"

namespace stats {

namespace {

std::vector<PeriodUnit> DaysFrom(const platform::Clock& clock, int daysBack, int count) {
    std::vector<PeriodUnit> units;
    if (count <= 0) {
        return units;
    }
    DateCursor cursor(clock);
    cursor.DaysFromToday(daysBack, 0);
    PeriodUnit unit{cursor.startDay, cursor.startMonth, cursor.startYear};
    for (int i = 0; i < count; ++i) {
        units.push_back(unit);
        cursor.NextDay(unit.day, unit.month, unit.year);
        unit = {cursor.nextDay, cursor.nextMonth, cursor.nextYear};
    }
    return units;
}

std::vector<PeriodUnit> MonthsFrom(const platform::Clock& clock, int month, int year, int count) {
    std::vector<PeriodUnit> units;
    DateCursor cursor(clock);
    for (int i = 0; i < count; ++i) {
        units.push_back({0, month, year});
        cursor.NextMonth(month, year);
        month = cursor.nextMonth;
        year = cursor.nextYear;
    }
    return units;
}

}  // namespace

std::string StampOf(const PeriodUnit& unit) {
    return unit.day == 0 ? MonthStamp(unit.month, unit.year)
                         : DayStamp(unit.day, unit.month, unit.year);
}

std::vector<PeriodUnit> WeekSoFar(const platform::Clock& clock, int weekday) {
    if (weekday < platform::kSunday) {
        return {};
    }
    if (weekday > platform::kSaturday) {
        weekday = platform::kSaturday;
    }
    // The days since Sunday, then today.
    const int daysBack = weekday - platform::kSunday;
    return DaysFrom(clock, daysBack, daysBack + 1);
}

std::vector<PeriodUnit> LastDays(const platform::Clock& clock, int count) {
    return DaysFrom(clock, count - 1, count);
}

PeriodUnit PreviousMonth(int month, int year) {
    return month == 1 ? PeriodUnit{0, 12, year - 1} : PeriodUnit{0, month - 1, year};
}

std::vector<PeriodUnit> PreviousMonthDays(const platform::Clock& clock, int month, int year) {
    const PeriodUnit previous = PreviousMonth(month, year);
    std::vector<PeriodUnit> units;
    DateCursor cursor(clock);
    int day = 1;
    int current = previous.month;
    // 31 bounds the loop even for a month argument outside 1 to 12.
    while (current == previous.month && units.size() < 31) {
        units.push_back({day, current, previous.year});
        cursor.NextDay(day, current, previous.year);
        day = cursor.nextDay;
        current = cursor.nextMonth;
    }
    return units;
}

std::vector<PeriodUnit> LastMonths(const platform::Clock& clock, int n) {
    DateCursor cursor(clock);
    cursor.MonthsBack(n);
    return MonthsFrom(clock, cursor.startMonth, cursor.startYear, n);
}

std::vector<PeriodUnit> MonthsOfYear(const platform::Clock& clock, int year) {
    return MonthsFrom(clock, 1, year, 12);
}

std::vector<PeriodUnit> UnitsOf(Period period, const platform::Clock& clock,
                                const CycleDate& date) {
    const int slots = static_cast<int>(InfoOf(period).slots);
    switch (period) {
        case Period::Week:
            return WeekSoFar(clock, date.weekday);
        case Period::TwoWeeks:
            return LastDays(clock, slots);
        case Period::Month:
            return PreviousMonthDays(clock, date.month, date.year);
        case Period::ThreeMonths:
        case Period::SixMonths:
            return LastMonths(clock, slots);
        case Period::Year:
            return MonthsOfYear(clock, date.year);
    }
    return {};
}

}  // namespace stats
