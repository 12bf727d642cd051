// The log context's listing policy: one listing per cycle once the worker announces cycles,
// one per task otherwise. Nothing here fails; an unreadable directory lists as empty.
#include "stats/log_context.h"

#include "common/layout.h"
#include "platform/files.h"
#include "platform/wildcard.h"
#include "stats/log_names.h"

namespace stats {

void LogContext::BeginCycle() {
    listingPerCycle_ = true;
    logIndex_.Clear();
}

void LogContext::BeginTask() {
    if (!listingPerCycle_) {
        logIndex_.Clear();
    }
}

std::string LogContext::LogDirectory() const {
    return platform::AppendPath(settings.appPath, layout::kLogsFolder);
}

const LogIndex& LogContext::Logs() {
    // Asked for by every search: the directory's path is formed again only when the
    // installation path has changed.
    if (logIndex_.Loaded() && listedFor_ == settings.appPath) {
        return logIndex_;
    }
    listedFor_ = settings.appPath;
    const std::string dir = LogDirectory();
    if (!logIndex_.Loaded() || logIndex_.Directory() != dir) {
        todayStamp_.clear();
        if (settings.clock != nullptr && settings.watchLogFolder) {
            const std::time_t now = settings.clock->Now();
            const platform::LocalDate today = platform::BreakDown(now);
            todayStamp_ = DayStamp(today.day, today.month, today.year);
            // Today's logs are examined whatever the watch says: the proxy writes them while
            // it keeps them open, and a write is only reported at the close.
            logIndex_.Refresh(dir, now, {todayStamp_ + "_", FilterLogName(todayStamp_)});
            if (!logIndex_.FallbackReason().empty()) {
                Note("the log folder was listed in full: " + logIndex_.FallbackReason());
            }
        } else {
            logIndex_.Load(dir);
            if (settings.clock != nullptr) {
                const platform::LocalDate today = platform::BreakDown(settings.clock->Now());
                todayStamp_ = DayStamp(today.day, today.month, today.year);
            }
        }
        // Each fresh listing drops the results of logs that vanished or changed, and those of
        // today's logs.
        if (settings.reuseResults) {
            caches.traffic.Prune(logIndex_.Entries(), logIndex_.NamesVersion(),
                                 &logIndex_.Renumbered());
            caches.filter.Prune(logIndex_.Entries());
            // Yesterday's logs are read whole once more, then kept as any past log.
            if (todayStamp_.empty()) {
                caches.growing.Clear();
            } else {
                caches.growing.KeepOnly(todayStamp_ + "_");
            }
        } else {
            caches.traffic.Clear();
            caches.filter.Clear();
            caches.growing.Clear();
            caches.scans.Clear();
        }
    }
    return logIndex_;
}

bool LogContext::IsTodaysLog(const platform::DirEntry& log) const {
    if (todayStamp_.empty()) {
        return true;  // no date known: nothing counts as settled
    }
    const std::string_view name = log.name;
    const std::size_t n = todayStamp_.size();
    if (name.size() > n && name.substr(0, n) == todayStamp_ && name[n] == '_') {
        return true;
    }
    return platform::EqualNoCase(name, FilterLogName(todayStamp_));
}

void LogContext::Note(std::string_view text) const {
    if (!settings.verbose) {
        return;
    }
    std::string line;
    if (taskName_ != nullptr) {
        line = taskName_;
        line += ": ";
    }
    line += text;
    settings.verbose(line);
}

bool LogContext::Pause(std::uint32_t ms) {
    return settings.pacer == nullptr || settings.pacer->Pause(ms);
}

bool LogContext::StopRequested() const {
    return settings.pacer != nullptr && settings.pacer->StopRequested();
}

}  // namespace stats
