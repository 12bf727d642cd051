// The log context's listing policy: one listing per cycle once the worker announces cycles,
// one per task otherwise. Nothing here fails; an unreadable directory lists as empty.
#include "stats/log_context.h"

#include "platform/files.h"

namespace stats {

void LogContext::BeginCycle() {
    listingPerCycle = true;
    logIndex.Clear();
}

void LogContext::BeginTask() {
    if (!listingPerCycle)
        logIndex.Clear();
}

std::string LogContext::LogDirectory() const {
    return platform::AppendPath(appPath, "Logs\\");
}

const LogIndex& LogContext::Logs() {
    const std::string dir = LogDirectory();
    if (!logIndex.Loaded() || logIndex.Directory() != dir) {
        logIndex.Load(dir);
        // Each fresh listing drops the results of logs that vanished or changed.
        if (reuseResults) {
            trafficResults.Prune(logIndex.Entries());
        } else {
            trafficResults.Clear();
        }
    }
    return logIndex;
}

bool LogContext::Pause(std::uint32_t ms) {
    return pacer == nullptr || pacer->Pause(ms);
}

bool LogContext::StopRequested() const {
    return pacer != nullptr && pacer->StopRequested();
}

}  // namespace stats
