// Time: an injected source of "now", and the C library's local-time conversions.
#pragma once

#include <ctime>

namespace platform {

class Clock {
  public:
    virtual ~Clock() = default;
    virtual std::time_t Now() const = 0;
};

class SystemClock final : public Clock {
  public:
    std::time_t Now() const override;
};

// A clock that stands still (tests, `tallyctl cycle --at`).
class FixedClock final : public Clock {
  public:
    explicit FixedClock(std::time_t t) : t_(t) {}
    std::time_t Now() const override { return t_; }
    void Set(std::time_t t) { t_ = t; }

  private:
    std::time_t t_;
};

// localtime, thread-safe; false if t cannot be represented.
bool LocalTime(std::time_t t, std::tm* out);
// mktime: normalises *fields and returns the time, -1 on failure.
std::time_t MakeTime(std::tm* fields);
double DiffTime(std::time_t end, std::time_t start);

// Days of the week as LocalDate numbers them: the C library's tm_wday plus one.
enum Weekday : int {
    kSunday = 1,
    kMonday,
    kTuesday,
    kWednesday,
    kThursday,
    kFriday,
    kSaturday,
};

// The local calendar fields the cycle works with.
struct LocalDate {
    int day = 0;    // 1 to 31
    int month = 0;  // 1 to 12
    int year = 0;   // four digits
    int hour = 0;   // 0 to 23
    int minute = 0;
    int second = 0;
    int weekday = 0;  // a Weekday: kSunday (1) ... kSaturday (7)
};
LocalDate BreakDown(std::time_t t);

// The time of a local date and time of day (mktime with DST left to the C library).
std::time_t LocalTimeOf(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

}  // namespace platform
