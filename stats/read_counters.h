// Counters of what the log store reads: files opened and bytes read from them. They cost one
// relaxed atomic add per file and per chunk, and let the benchmark and tests see the work a
// cycle does. Never reset by the store itself.
#pragma once

#include <atomic>
#include <cstdint>

namespace stats {

struct LogReadCounters {
    std::atomic<std::uint64_t> filesOpened{0};
    std::atomic<std::uint64_t> bytesRead{0};
};

LogReadCounters& LogReads();

}  // namespace stats
