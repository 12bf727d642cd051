// Traffic totals of the proxy as a whole, per day or month of six periods. Each task sums
// every client's traffic log of each unit and stores one encoded line. A task ended by its
// error policy or by a stop leaves its slot as it was; nothing is reported.
#include <cstdint>
#include <string>
#include <vector>

#include "stats/base64.h"
#include "stats/log_names.h"
#include "stats/log_store.h"
#include "stats/periods.h"
#include "stats/tasks.h"

namespace stats {

namespace {

constexpr std::uint32_t kExtraPauseMs = 1000;

enum class Extra {
    OnceAfterLast,             // one pause after the last unit
    BeforeEachClose,           // one pause before each unit's search is closed
    AfterEachAndOnceAfterLast  // one after each unit's search and one after the last unit
};

struct TrafficTask {
    const char* label;
    std::size_t slots;
    bool monthUnits;
    const char* suffix;  // after the unit's date fields: "_*" or "_*.*"
    ErrorPolicy policy;
    Extra extra;
};

std::string UnitPattern(const PeriodUnit& unit, bool monthUnits, const char* suffix) {
    if (monthUnits)
        return "*_" + DatePart(unit.month) + "_" + YearPart(unit.year) + suffix;
    return DayStamp(unit.day, unit.month, unit.year) + suffix;
}

void RunTrafficTask(LogContext& ctx, const TrafficTask& task, const std::vector<PeriodUnit>& units,
                    std::string& slot) {
    ctx.BeginTask();
    std::vector<std::int64_t> totals(task.slots, 0);
    const std::uint32_t beforeClose = task.extra == Extra::BeforeEachClose ? kExtraPauseMs : 0;
    for (std::size_t s = 0; s < units.size() && s < totals.size(); ++s) {
        HourTotals hours{};
        const ScanResult result = ScanLogFiles(
            ctx, UnitPattern(units[s], task.monthUnits, task.suffix), true, task.policy,
            [&ctx, &hours](const LogFile& file) { return ReadTrafficLog(ctx, file, hours); },
            beforeClose);
        if (result != ScanResult::Completed)
            return;
        totals[s] = SaturatingAdd(totals[s], SumOf(hours));
        if (task.extra == Extra::AfterEachAndOnceAfterLast && !ctx.Pause(kExtraPauseMs))
            return;
    }
    if (task.extra != Extra::BeforeEachClose && !ctx.Pause(kExtraPauseMs))
        return;
    slot = Base64Encode(task.label + SlotList(totals)) + "\n";
}

}  // namespace

void BuildTrafficWeek(LogContext& ctx, int weekday, std::string& slot) {
    static const TrafficTask task{"Last 1 Week: ",     7, false, "_*", ErrorPolicy::Skip,
                                  Extra::OnceAfterLast};
    RunTrafficTask(ctx, task, WeekSoFar(*ctx.clock, weekday), slot);
}

void BuildTrafficTwoWeeks(LogContext& ctx, std::string& slot) {
    static const TrafficTask task{"Last 2 Week: ",     14, false, "_*", ErrorPolicy::Skip,
                                  Extra::OnceAfterLast};
    RunTrafficTask(ctx, task, LastDays(*ctx.clock, 14), slot);
}

void BuildTrafficMonth(LogContext& ctx, int month, int year, std::string& slot) {
    static const TrafficTask task{"Last 1 Mounth: ",     31, false, "_*.*", ErrorPolicy::Abandon,
                                  Extra::BeforeEachClose};
    RunTrafficTask(ctx, task, PreviousMonthDays(*ctx.clock, month, year), slot);
}

void BuildTrafficThreeMonths(LogContext& ctx, int, int, std::string& slot) {
    static const TrafficTask task{"Last 3 Mounth: ",   3, true, "_*", ErrorPolicy::Skip,
                                  Extra::OnceAfterLast};
    RunTrafficTask(ctx, task, LastMonths(*ctx.clock, 3), slot);
}

void BuildTrafficSixMonths(LogContext& ctx, int, int, std::string& slot) {
    static const TrafficTask task{"Last 6 Mounth: ",   6, true, "_*", ErrorPolicy::Skip,
                                  Extra::OnceAfterLast};
    RunTrafficTask(ctx, task, LastMonths(*ctx.clock, 6), slot);
}

void BuildTrafficYear(LogContext& ctx, int year, std::string& slot) {
    static const TrafficTask task{
        "Last Year: ", 12, true, "_*.*", ErrorPolicy::Abandon, Extra::AfterEachAndOnceAfterLast};
    RunTrafficTask(ctx, task, MonthsOfYear(*ctx.clock, year), slot);
}

}  // namespace stats
