// Traffic totals per client of the client list, per day or month of six periods. Each entry
// of logip.log gives one encoded line, its period computed anew for the entry. A missing
// client list gives no line; a read failure keeps the lines made so far; a stop request ends
// the task without storing anything.
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "stats/base64.h"
#include "stats/line_reader.h"
#include "stats/log_names.h"
#include "stats/log_store.h"
#include "stats/periods.h"
#include "stats/read_counters.h"
#include "stats/tasks.h"

namespace stats {

namespace {

struct ClientTask {
    std::size_t slots;
    bool monthUnits;
    std::function<std::vector<PeriodUnit>()> period;
};

// The period of an entry, computed anew for each entry but only when the clock has moved on
// since the last one: the units depend on nothing but the current time, so the same second
// gives the same units without the calendar arithmetic (which dominated with many clients).
class PeriodForEntry {
  public:
    PeriodForEntry(const platform::Clock& clock, const ClientTask& task)
        : clock_(clock), task_(task) {}
    const std::vector<PeriodUnit>& Units() {
        const std::time_t now = clock_.Now();
        if (!known_ || now != at_) {
            units_ = task_.period();
            at_ = now;
            known_ = true;
        }
        return units_;
    }

  private:
    const platform::Clock& clock_;
    const ClientTask& task_;
    bool known_ = false;
    std::time_t at_ = 0;
    std::vector<PeriodUnit> units_;
};

std::string ClientPattern(const PeriodUnit& unit, bool monthUnits, const std::string& key) {
    if (monthUnits)
        return "*_" + DatePart(unit.month) + "_" + YearPart(unit.year) + "_" + key;
    return DayStamp(unit.day, unit.month, unit.year) + "_" + key;
}

std::string ClientLine(LogContext& ctx, const ClientTask& task, PeriodForEntry& period,
                       const std::string& key) {
    std::vector<std::int64_t> totals(task.slots, 0);
    if (IsSafeClientKey(key)) {
        const std::vector<PeriodUnit>& units = period.Units();
        for (std::size_t s = 0; s < units.size() && s < totals.size(); ++s) {
            HourTotals hours{};
            ScanLogFiles(
                ctx, ClientPattern(units[s], task.monthUnits, key), false, ErrorPolicy::Skip,
                [&ctx, &hours](const LogFile& file) { return ReadTrafficLog(ctx, file, hours); });
            totals[s] = SaturatingAdd(totals[s], SumOf(hours));
        }
    }
    return Base64Encode(key + " " + SlotList(totals)) + "\n";
}

void RunClientTask(LogContext& ctx, const ClientTask& task, std::string& slot) {
    ctx.BeginTask();
    auto list = platform::File::Open(ctx.LogDirectory() + "logip.log", platform::OpenMode::Read,
                                     platform::ShareMode::ReadWrite);
    if (!list)
        return;
    LogReads().filesOpened.fetch_add(1, std::memory_order_relaxed);
    LineReader reader(*list, LineReader::Mode::Text);
    std::string lines;
    std::string entry;
    PeriodForEntry period(*ctx.clock, task);
    for (;;) {
        const LineReader::Result result = reader.Next(&entry);
        if (result == LineReader::Result::End || result == LineReader::Result::Error)
            break;
        if (ctx.StopRequested())
            return;
        if (result == LineReader::Result::TooLong)
            continue;
        lines += ClientLine(ctx, task, period, ClientKeyOf(Base64DecodeText(entry)));
    }
    slot += lines;
}

}  // namespace

void BuildClientWeek(LogContext& ctx, int weekday, std::string& slot) {
    const platform::Clock& clock = *ctx.clock;
    RunClientTask(ctx, {7, false, [&] { return WeekSoFar(clock, weekday); }}, slot);
}

void BuildClientTwoWeeks(LogContext& ctx, std::string& slot) {
    const platform::Clock& clock = *ctx.clock;
    RunClientTask(ctx, {14, false, [&] { return LastDays(clock, 14); }}, slot);
}

void BuildClientMonth(LogContext& ctx, int month, int year, std::string& slot) {
    const platform::Clock& clock = *ctx.clock;
    RunClientTask(ctx, {31, false, [&] { return PreviousMonthDays(clock, month, year); }}, slot);
}

void BuildClientThreeMonths(LogContext& ctx, int, int, std::string& slot) {
    const platform::Clock& clock = *ctx.clock;
    RunClientTask(ctx, {3, true, [&] { return LastMonths(clock, 3); }}, slot);
}

void BuildClientSixMonths(LogContext& ctx, int, int, std::string& slot) {
    const platform::Clock& clock = *ctx.clock;
    RunClientTask(ctx, {6, true, [&] { return LastMonths(clock, 6); }}, slot);
}

void BuildClientYear(LogContext& ctx, int year, std::string& slot) {
    const platform::Clock& clock = *ctx.clock;
    RunClientTask(ctx, {12, true, [&] { return MonthsOfYear(clock, year); }}, slot);
}

}  // namespace stats
