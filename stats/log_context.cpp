// The log context's listing policy: one listing per cycle once the worker announces cycles,
// one per task otherwise. Nothing here fails; an unreadable directory lists as empty.
#include "stats/log_context.h"

#include "platform/files.h"
#include "platform/wildcard.h"
#include "stats/log_names.h"

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
        todayStamp.clear();
        if (clock != nullptr) {
            const platform::LocalDate today = platform::BreakDown(clock->Now());
            todayStamp = DayStamp(today.day, today.month, today.year);
        }
        // Each fresh listing drops the results of logs that vanished or changed, and those of
        // today's logs.
        if (reuseResults) {
            trafficResults.Prune(logIndex.Entries());
            filterResults.Prune(logIndex.Entries());
        } else {
            trafficResults.Clear();
            filterResults.Clear();
        }
    }
    return logIndex;
}

bool LogContext::IsTodaysLog(const platform::DirEntry& log) const {
    if (todayStamp.empty())
        return true;  // no date known: nothing counts as settled
    const std::string_view name = log.name;
    const std::size_t n = todayStamp.size();
    if (name.size() > n && name.substr(0, n) == todayStamp && name[n] == '_')
        return true;
    return platform::EqualNoCase(name, "Filter_" + todayStamp + ".log");
}

bool LogContext::Pause(std::uint32_t ms) {
    return pacer == nullptr || pacer->Pause(ms);
}

bool LogContext::StopRequested() const {
    return pacer != nullptr && pacer->StopRequested();
}

}  // namespace stats
