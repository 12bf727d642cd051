// Offset of local time from UTC from GetTimeZoneInformation: minus the bias, and minus the
// daylight bias as well while the system reports daylight time. The moment passed in is not
// used: the system reports the zone state of now. 0 when the zone is unknown.
#include <windows.h>

#include "platform/timezone.h"

namespace platform {

int UtcOffsetMinutes(std::time_t) {
    TIME_ZONE_INFORMATION info;
    const DWORD state = GetTimeZoneInformation(&info);
    if (state == TIME_ZONE_ID_INVALID) {
        return 0;
    }
    LONG bias = info.Bias;
    if (state == TIME_ZONE_ID_DAYLIGHT) {
        bias += info.DaylightBias;
    }
    return static_cast<int>(-bias);
}

}  // namespace platform
