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

std::string DayFilterLog(const PeriodUnit& unit) {
    return "Filter_" + DayStamp(unit.day, unit.month, unit.year) + ".log";
}

std::string MonthFilterLogs(int month, int year) {
    return "Filter_*_" + DatePart(month) + "_" + YearPart(year) + ".log";
}

// One search per unit with CopyFilterLines and Skip, then one pause after the last unit.
void CollectUnits(LogContext& ctx, const std::vector<std::string>& patterns, std::string& slot) {
    ctx.BeginTask();
    const std::size_t start = slot.size();
    const auto reader = [&ctx, &slot](const LogFile& file) {
        return CopyFilterLog(ctx, file, FilterForm::Lines, slot);
    };
    for (const std::string& pattern : patterns) {
        if (ScanLogFiles(ctx, pattern, true, ErrorPolicy::Skip, reader) == ScanResult::Stopped) {
            slot.resize(start);
            return;
        }
    }
    if (!ctx.Pause(kExtraPauseMs))
        slot.resize(start);
}

// One search with CopyFilterBytes, pausing before the search is closed.
void CollectOneSearch(LogContext& ctx, const std::string& pattern, ErrorPolicy policy,
                      std::string& slot) {
    ctx.BeginTask();
    const std::size_t start = slot.size();
    const ScanResult result = ScanLogFiles(
        ctx, pattern, true, policy,
        [&ctx, &slot](const LogFile& file) {
            return CopyFilterLog(ctx, file, FilterForm::Bytes, slot);
        },
        kExtraPauseMs);
    if (result == ScanResult::Stopped)
        slot.resize(start);
}

std::vector<std::string> DayPatterns(const std::vector<PeriodUnit>& days) {
    std::vector<std::string> patterns;
    for (const PeriodUnit& day : days)
        patterns.push_back(DayFilterLog(day));
    return patterns;
}

std::vector<std::string> MonthPatterns(const std::vector<PeriodUnit>& months) {
    std::vector<std::string> patterns;
    for (const PeriodUnit& m : months)
        patterns.push_back(MonthFilterLogs(m.month, m.year));
    return patterns;
}

}  // namespace

void CollectFilterWeek(LogContext& ctx, int weekday, std::string& slot) {
    CollectUnits(ctx, DayPatterns(WeekSoFar(*ctx.clock, weekday)), slot);
}

void CollectFilterTwoWeeks(LogContext& ctx, std::string& slot) {
    // Fifteen days, one more than the two-week traffic totals.
    CollectUnits(ctx, DayPatterns(LastDays(*ctx.clock, 15)), slot);
}

void CollectFilterMonth(LogContext& ctx, int month, int year, std::string& slot) {
    const PeriodUnit previous = PreviousMonth(month, year);
    CollectOneSearch(ctx, MonthFilterLogs(previous.month, previous.year), ErrorPolicy::Skip, slot);
}

void CollectFilterThreeMonths(LogContext& ctx, int, int, std::string& slot) {
    CollectUnits(ctx, MonthPatterns(LastMonths(*ctx.clock, 3)), slot);
}

void CollectFilterSixMonths(LogContext& ctx, int, int, std::string& slot) {
    CollectUnits(ctx, MonthPatterns(LastMonths(*ctx.clock, 6)), slot);
}

void CollectFilterYear(LogContext& ctx, int year, std::string& slot) {
    CollectOneSearch(ctx, "Filter_*_*_" + YearPart(year) + ".log", ErrorPolicy::AbandonOnFirst,
                     slot);
}

}  // namespace stats
