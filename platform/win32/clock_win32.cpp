// Windows time: the C run-time's clock and local-time conversions (localtime_s for thread
// safety). LocalTime fails for a time the run-time cannot represent.
#include <time.h>

#include "platform/clock.h"

namespace platform {

std::time_t SystemClock::Now() const {
    return ::time(nullptr);
}

bool LocalTime(std::time_t t, std::tm* out) {
    return ::localtime_s(out, &t) == 0;
}

std::time_t MakeTime(std::tm* fields) {
    return ::mktime(fields);
}

double DiffTime(std::time_t end, std::time_t start) {
    return ::difftime(end, start);
}

}  // namespace platform
