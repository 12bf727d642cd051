// Filter-log extracts of six periods: the lines of every filter log of the period, still
// base64 as the proxy wrote them, copied into the task's slot. An unreadable log is skipped
// (the year task gives up when the first log of its search is unreadable, keeping what it
// copied); a stop request ends a task without storing anything. The lines go straight into
// the slot (cut back to where the task started when a stop ends it), so a task holds no
// second copy of its extract; with reuse on, each log's lines come from the context's table.
#include <cstdint>
#include <string>
#include <vector>

#include "stats/log_names.h"
#include "stats/log_store.h"
#include "stats/periods.h"
#include "stats/tasks.h"

namespace stats {

namespace {

constexpr std::uint32_t kExtraPauseMs = 1000;

// One search per unit with CopyFilterLines and Skip, then one pause after the last unit.
void CollectUnits(LogContext& ctx, const std::vector<PeriodUnit>& units, std::string& slot) {
    ctx.BeginTask();
    const std::size_t start = slot.size();
    const auto reader = [&ctx, &slot](const LogFile& file) {
        return CopyFilterLog(ctx, file, FilterForm::Lines, slot);
    };
    for (const PeriodUnit& unit : units) {
        if (ScanLogFiles(ctx, FilterLogName(StampOf(unit)), true, ErrorPolicy::Skip, reader) ==
            ScanResult::Stopped) {
            slot.resize(start);
            return;
        }
    }
    if (!ctx.Pause(kExtraPauseMs)) {
        slot.resize(start);
    }
}

// One search with CopyFilterBytes, pausing before the search is closed.
void CollectOneSearch(LogContext& ctx, const std::string& stamp, ErrorPolicy policy,
                      std::string& slot) {
    ctx.BeginTask();
    const std::size_t start = slot.size();
    const ScanResult result = ScanLogFiles(
        ctx, FilterLogName(stamp), true, policy,
        [&ctx, &slot](const LogFile& file) {
            return CopyFilterLog(ctx, file, FilterForm::Bytes, slot);
        },
        kExtraPauseMs);
    if (result == ScanResult::Stopped) {
        slot.resize(start);
    }
}

}  // namespace

void CollectFilterExtract(LogContext& ctx, Period period, const CycleDate& date,
                          std::string& slot) {
    const platform::Clock& clock = *ctx.settings.clock;
    switch (period) {
        case Period::Week:
        case Period::ThreeMonths:
        case Period::SixMonths:
            CollectUnits(ctx, UnitsOf(period, clock, date), slot);
            return;
        case Period::TwoWeeks:
            // Fifteen days, one more than the two-week traffic totals.
            CollectUnits(ctx, LastDays(clock, 15), slot);
            return;
        case Period::Month: {
            const PeriodUnit previous = PreviousMonth(date.month, date.year);
            CollectOneSearch(ctx, StampOf(previous), ErrorPolicy::Skip, slot);
            return;
        }
        case Period::Year:
            CollectOneSearch(ctx, YearStamp(date.year), ErrorPolicy::AbandonOnFirst, slot);
            return;
    }
}

}  // namespace stats
