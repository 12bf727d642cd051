// The date calculator of the statistic tasks and the report writers: days back from today,
// the next day, months back and the next month, all in local time on the injected clock.
// It reports nothing: every operation always yields a date.
#pragma once

#include "platform/clock.h"

namespace stats {

class DateCursor {
  public:
    explicit DateCursor(const platform::Clock& clock) : clock_(&clock) {}
    virtual ~DateCursor() = default;

    // Sets startDay/startMonth/startYear to the local date `days` days before today
    // (direction 0) or after it (direction 1); any other direction gives today.
    void DaysFromToday(int days, char direction);
    // Sets nextDay/nextMonth/nextYear to the calendar day after the given date.
    void NextDay(int day, int month, int year);
    // Sets startMonth/startYear to n - 1 months before the current month (n = 1: this month);
    // startDay becomes today's day of month.
    void MonthsBack(int n);
    // Sets nextMonth/nextYear to the month after the given one.
    void NextMonth(int month, int year);

    int nextDay = 0;
    int nextMonth = 0;
    int nextYear = 0;
    int startDay = 0;
    int startMonth = 0;
    int startYear = 0;

  private:
    const platform::Clock* clock_;
};

}  // namespace stats
