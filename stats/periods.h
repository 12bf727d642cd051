// The days and months that make up each statistic period, computed on the injected clock
// with a DateCursor. The lists are in calendar order; a unit's index is its slot.
#pragma once

#include <string>
#include <vector>

#include "platform/clock.h"
#include "stats/statistics.h"

namespace stats {

struct PeriodUnit {
    int day = 0;  // 0 for a month unit
    int month = 0;
    int year = 0;
};

// The date part of the unit's log names: DD_MM_YYYY for a day, *_MM_YYYY for a month.
std::string StampOf(const PeriodUnit& unit);

// From the Sunday of the current week through today (weekday: a platform::Weekday).
std::vector<PeriodUnit> WeekSoFar(const platform::Clock& clock, int weekday);
// The `count` days ending with today.
std::vector<PeriodUnit> LastDays(const platform::Clock& clock, int count);
// Every day of the month before (month, year), from day 1 while the month lasts.
std::vector<PeriodUnit> PreviousMonthDays(const platform::Clock& clock, int month, int year);
// The month before (month, year): December of year - 1 in January.
PeriodUnit PreviousMonth(int month, int year);
// The n months ending with the current one, oldest first.
std::vector<PeriodUnit> LastMonths(const platform::Clock& clock, int n);
// January to December of year.
std::vector<PeriodUnit> MonthsOfYear(const platform::Clock& clock, int year);

// The units of a period's traffic and client lines, one per slot (the month's may be fewer),
// for a step handed the given date.
std::vector<PeriodUnit> UnitsOf(Period period, const platform::Clock& clock, const CycleDate& date);

}  // namespace stats
