// The metrics file at the end of a cycle: today's figures from this cycle's statistics, the
// alerts of the day from the alert state, replaced atomically so a collector never reads half
// a file. The format wants LF line ends, so this file alone is written without CRs.
#include "aggregator/aggregator_worker.h"
#include "aggregator/alert_state.h"
#include "aggregator/metrics_file.h"
#include "common/layout.h"
#include "common/registry_value.h"
#include "platform/files.h"

bool AggregatorWorker::WriteMetricsFile(const stats::CycleDate& date, std::time_t cycleStart) {
    const std::string path =
        RegistryString(layout::SettingPath(layout::setting::kMetricsFile), "").Get();
    if (path.empty()) {
        return false;
    }
    try {
        // The alert step's figures serve when it ran: the same statistics, the same log.
        if (!today_) {
            today_ =
                GatherToday(context_, date, Result(stats::Kind::Client, stats::Period::TwoWeeks),
                            Result(stats::Kind::Traffic, stats::Period::TwoWeeks), {});
        }
        MetricsFigures figures;
        figures.today = &*today_;
        AlertState state;
        if (platform::FileExists(AlertStatePath()) &&
            LoadAlertState(AlertStatePath(), &state) == StateLoad::Loaded) {
            char day[16];
            std::snprintf(day, sizeof day, "%04d-%02d-%02d", date.year, date.month, date.day);
            for (const FiredAlert& f : state.fired) {
                if (f.day == day) {
                    ++figures.alertsByRule[InfoOf(f.rule).key];
                }
            }
        }
        figures.completedAt = clock_.Now();
        figures.cycleSeconds = platform::DiffTime(figures.completedAt, cycleStart);
        return platform::ReplaceFileBytes(path, FormatMetrics(figures));
    } catch (...) {
        return false;
    }
}
