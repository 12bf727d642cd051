// POSIX time: the C library's clock and local-time conversions (thread-safe variants).
#include <time.h>

#include "platform/clock.h"

namespace platform {

std::time_t SystemClock::Now() const {
    return ::time(nullptr);
}

bool LocalTime(std::time_t t, std::tm* out) {
    return ::localtime_r(&t, out) != nullptr;
}

std::time_t MakeTime(std::tm* fields) {
    return ::mktime(fields);
}

double DiffTime(std::time_t end, std::time_t start) {
    return ::difftime(end, start);
}

}  // namespace platform
