// What every statistic task and report reader works with, in three parts: the settings its
// owner gives once (where the installation is, the clock, the pacer, whether results are
// reused), the state of the current cycle (the listing of the log directory that the
// searches look names up in, and the date it was taken on), and the per-log results kept
// from one cycle to the next.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/pacer.h"
#include "stats/log_index.h"
#include "stats/result_cache.h"

namespace stats {

struct LogSettings {
    std::string appPath;  // the proxy's installation directory, ending with a separator
    const platform::Clock* clock = nullptr;
    platform::Pacer* pacer = nullptr;
    // Off: every log is read by every task that needs it. On: a traffic log's hour totals
    // and a filter log's lines are read once and reused, within the cycle and by later
    // cycles, while the log's size, modification time and identity stay the same; a log of
    // today is read once per listing (once per cycle). A past log reused this way is not
    // reopened, so a lock the proxy holds on an unchanged past log is not noticed.
    bool reuseResults = false;
    // On (with a clock): the listing is kept up to date between cycles by a watch on the
    // log folder instead of being taken anew, with a full listing whenever the watch cannot
    // be trusted and once an hour. Off: every listing is a full one.
    bool watchLogFolder = true;
    // With reuse on: today's traffic logs are read from where the last read ended when they
    // only grew. Off: they are read whole every cycle (the benchmark's reference).
    bool readAppended = true;
    // When set, every search pattern of a scan is appended here (the benchmark replays them).
    std::vector<std::string>* searchLog = nullptr;
    // When set, each abandoned task, skipped log and unusable client key is named here with
    // its reason, one line each (the administrator's opt-in verbose log). Only what a reader
    // of the figures would otherwise have to guess at: a log that is simply absent is not.
    std::function<void(const std::string&)> verbose{};
};

// The per-log results kept for reuse (see LogSettings::reuseResults).
struct ReuseCaches {
    TrafficResultCache traffic{};
    FilterResultCache filter{};
    GrowingTrafficLogs growing{};
    ScanSums scans{};
};

class LogContext {
  public:
    LogContext() = default;
    explicit LogContext(LogSettings given) : settings(std::move(given)) {}

    LogSettings settings;
    ReuseCaches caches;

    // The worker calls this at the start of each cycle: from then on one listing of the log
    // directory, taken at the first search of the cycle, serves every task of the cycle.
    // Without it each task lists the directory anew when it starts.
    void BeginCycle();
    // Each task (and each report reader) calls this when it starts.
    void BeginTask();

    // The step whose work follows (its notes carry the name); null between steps.
    void SetTaskName(const char* name) { taskName_ = name; }
    // Passes a line to the verbose log, after the current step's name, when there is one.
    void Note(std::string_view text) const;
    bool Verbose() const { return static_cast<bool>(settings.verbose); }

    // appPath + "Logs\", as the system's own path.
    std::string LogDirectory() const;
    // The listing of the log directory, taken now if this cycle (or task) has none yet.
    const LogIndex& Logs();

    // Pauses through the pacer; false when a stop was requested. No pacer: no pause.
    bool Pause(std::uint32_t ms);
    bool StopRequested() const;

    // True for a log of today's date (a traffic log "DD_MM_YYYY_..." or the filter log
    // "Filter_DD_MM_YYYY.log" of the date the current listing was taken on): the proxy may
    // still be writing it, so its result serves the current listing only.
    bool IsTodaysLog(const platform::DirEntry& log) const;
    // Whether the current listing knows its date (it has a clock), so "today's" means a day.
    bool KnowsToday() const { return !todayStamp_.empty(); }

  private:
    LogIndex logIndex_{};
    bool listingPerCycle_ = false;
    std::string todayStamp_{};  // DD_MM_YYYY of the current listing, empty without a clock
    const char* taskName_ = nullptr;
    std::string listedFor_{};  // the appPath the current listing was taken for
};

}  // namespace stats
