// Calendar helpers built on the backend's localtime/mktime.
#include "platform/clock.h"

namespace platform {

LocalDate BreakDown(std::time_t t) {
    std::tm tm{};
    LocalDate d;
    if (!LocalTime(t, &tm)) {
        return d;
    }
    d.day = tm.tm_mday;
    d.month = tm.tm_mon + 1;
    d.year = tm.tm_year + 1900;
    d.hour = tm.tm_hour;
    d.minute = tm.tm_min;
    d.second = tm.tm_sec;
    d.weekday = kSunday + tm.tm_wday;
    return d;
}

std::time_t LocalTimeOf(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return MakeTime(&tm);
}

}  // namespace platform
