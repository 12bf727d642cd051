// What every statistic task and report reader needs from the worker: where the logs are,
// what time it is, the pacer for the scan pauses, and the listing of the log directory that
// the directory searches look names up in.
#pragma once

#include <string>

#include "platform/clock.h"
#include "platform/pacer.h"
#include "stats/log_index.h"
#include "stats/result_cache.h"

namespace stats {

struct LogContext {
    std::string appPath;  // the proxy's installation directory, ending with a separator
    const platform::Clock* clock = nullptr;
    platform::Pacer* pacer = nullptr;

    // The worker calls this at the start of each cycle: from then on one listing of the log
    // directory, taken at the first search of the cycle, serves every task of the cycle.
    // Without it each task lists the directory anew when it starts.
    void BeginCycle();
    // Each task (and each report reader) calls this when it starts.
    void BeginTask();

    // appPath + "Logs\", as the system's own path.
    std::string LogDirectory() const;
    // The listing of the log directory, taken now if this cycle (or task) has none yet.
    const LogIndex& Logs();

    // Pauses through the pacer; false when a stop was requested. No pacer: no pause.
    bool Pause(std::uint32_t ms);
    bool StopRequested() const;

    LogIndex logIndex{};
    bool listingPerCycle = false;

    // Off by default: every log is read by every task that needs it. On: a traffic log's
    // hour totals are read once and reused, within the cycle and by later cycles, while the
    // log's size, modification time and identity stay the same. A log reused this way is not
    // reopened, so a lock the proxy holds on an unchanged log is not noticed.
    bool reuseResults = false;
    TrafficResultCache trafficResults{};
};

}  // namespace stats
