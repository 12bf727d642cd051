// Offset of local time from UTC at a given moment, from the C library (tm_gmtoff of
// localtime_r), so daylight saving time is that of the moment. 0 when it cannot be computed.
#include <time.h>

#include "platform/timezone.h"

namespace platform {

int UtcOffsetMinutes(std::time_t t) {
    struct tm local {};
    if (localtime_r(&t, &local) == nullptr) {
        return 0;
    }
    return static_cast<int>(local.tm_gmtoff / 60);
}

}  // namespace platform
