// The local time zone's offset from UTC, for the Date line of mails. Windows: minus the bias
// of GetTimeZoneInformation (plus the daylight bias in daylight time); elsewhere the C
// library's offset of the given moment. Returns 0 when the zone cannot be determined.
#pragma once

#include <ctime>

namespace platform {

// Minutes that local time is ahead of UTC at moment t (negative west of Greenwich).
int UtcOffsetMinutes(std::time_t t);

}  // namespace platform
