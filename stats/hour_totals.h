// Traffic per hour of day: the per-file result of a client traffic log.
#pragma once

#include <array>
#include <cstdint>

namespace stats {

// Index 0 to 23 = hour of day; totals are 64-bit byte counts.
using HourTotals = std::array<std::int64_t, 24>;

}  // namespace stats
