// The eighteen statistics of a cycle as one table: three kinds (the proxy's traffic totals,
// the per-client totals and the filter-log extracts), each for six periods. A row says what
// the cycle calls the step and hands it, what the statistic's text looks like and which
// summary file it goes to; the cycle, the summary files, the report readers, tallyctl show
// and the bench all loop over it. Nothing here fails.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "common/layout.h"
#include "platform/clock.h"

namespace stats {

// How a statistic's text is laid out; every line is base64 and ends with "\n".
enum class Kind {
    Traffic,  // one line: the row's label, then "|" and each slot's byte total, and "|"
    Client,   // one such line per client-list entry, the client key and a space as label
    Filter,   // the lines of the period's filter logs as the proxy wrote them: one event
              // each, six blank-terminated tokens (date, client, user, time, URL, filter)
};
inline constexpr std::size_t kKindCount = 3;

struct KindInfo {
    Kind kind;
    const char* title;  // heading of the statistic's tables
    const char* unit;   // what a figure is shown in (the texts hold bytes or lines)
};
inline constexpr KindInfo kKinds[kKindCount] = {
    {Kind::Traffic, "Traffic of the proxy", "MB"},
    {Kind::Client, "Traffic per client", "MB"},
    {Kind::Filter, "Filter events", "events"},
};

enum class Period { Week, TwoWeeks, Month, ThreeMonths, SixMonths, Year };
inline constexpr std::size_t kPeriodCount = 6;

struct PeriodInfo {
    Period period;
    std::size_t slots;  // of a traffic or client line, one per day or month
};
inline constexpr PeriodInfo kPeriods[kPeriodCount] = {
    {Period::Week, 7},         // Sunday to Saturday of this week
    {Period::TwoWeeks, 14},    // the 14 days up to today
    {Period::Month, 31},       // day 1 to 31 of the previous month
    {Period::ThreeMonths, 3},  // the 3 months up to this one
    {Period::SixMonths, 6},    // the 6 months up to this one
    {Period::Year, 12},        // January to December of this year
};

// True when each row of a table by period sits at its period's place, as lookups assume.
template <typename Row>
constexpr bool InPeriodOrder(const Row (&rows)[kPeriodCount]) {
    for (std::size_t p = 0; p < kPeriodCount; ++p) {
        if (static_cast<std::size_t>(rows[p].period) != p) {
            return false;
        }
    }
    return true;
}

// Column headings of a period's slots: "Sun" to "Sat"; "-13d" to "-1d" and "this day";
// "1" to "31"; "-2m", "-1m", "this mon" (and so on for six); "Jan" to "Dec".
std::vector<std::string> SlotLabels(Period period);
// "1" to count: headings of slots whose period is not known.
std::vector<std::string> NumberedLabels(std::size_t count);

// The calendar fields a cycle takes once, at its start, for all of its steps.
struct CycleDate {
    int day = 0;
    int month = 0;
    int year = 0;
    int weekday = 0;  // a platform::Weekday, as LocalDate has it
};
CycleDate CycleDateOf(const platform::LocalDate& date);

// Which fields of the cycle's date a step is handed (a set of these bits); they are handed in
// the order weekday, month, year.
using StepArgs = unsigned;
inline constexpr StepArgs kNoArgs = 0;
inline constexpr StepArgs kArgWeekday = 1;
inline constexpr StepArgs kArgMonth = 2;
inline constexpr StepArgs kArgYear = 4;
// Writes the step's arguments to args (room for three) and returns how many there are.
int StepArguments(StepArgs which, const CycleDate& date, int args[3]);
// The date with only the fields the step is handed; the others are 0.
CycleDate OnlyStepArguments(StepArgs which, const CycleDate& date);

struct Statistic {
    Kind kind;
    Period period;
    const char* step;  // the cycle's name for the step that computes it
    StepArgs args;
    const char* label;        // traffic lines: the text before the slots; else empty
    const char* title;        // what the statistic covers, as its tables are headed
    const char* summaryFile;  // the file in the log folder that receives its text
};

inline constexpr std::size_t kStatisticCount = kKindCount * kPeriodCount;
// In the order of the cycle: by period and, within a period, traffic, client, filter.
// brisko.trf holds the six traffic texts in this order.
inline constexpr Statistic kStatistics[kStatisticCount] = {
    {Kind::Traffic, Period::Week, "BuildTrafficWeek", kArgWeekday, "Last 1 Week: ", "Current week",
     layout::kTrafficSummaryFile},
    {Kind::Client, Period::Week, "BuildClientWeek", kArgWeekday, "", "Current week",
     layout::ClientSummaryFile(0)},
    {Kind::Filter, Period::Week, "CollectFilterWeek", kArgWeekday, "", "Current week",
     layout::FilterSummaryFile(0)},
    {Kind::Traffic, Period::TwoWeeks, "BuildTrafficTwoWeeks", kNoArgs,
     "Last 2 Week: ", "Last two weeks", layout::kTrafficSummaryFile},
    {Kind::Client, Period::TwoWeeks, "BuildClientTwoWeeks", kNoArgs, "", "Last two weeks",
     layout::ClientSummaryFile(1)},
    // The filter extract reaches one day further back than the two-week totals.
    {Kind::Filter, Period::TwoWeeks, "CollectFilterTwoWeeks", kNoArgs, "", "Last fifteen days",
     layout::FilterSummaryFile(1)},
    {Kind::Traffic, Period::Month, "BuildTrafficMonth", kArgMonth | kArgYear,
     "Last 1 Mounth: ", "Previous month", layout::kTrafficSummaryFile},
    {Kind::Client, Period::Month, "BuildClientMonth", kArgMonth | kArgYear, "", "Previous month",
     layout::ClientSummaryFile(2)},
    {Kind::Filter, Period::Month, "CollectFilterMonth", kArgMonth | kArgYear, "", "Previous month",
     layout::FilterSummaryFile(2)},
    {Kind::Traffic, Period::ThreeMonths, "BuildTrafficThreeMonths", kArgMonth | kArgYear,
     "Last 3 Mounth: ", "Last three months", layout::kTrafficSummaryFile},
    {Kind::Client, Period::ThreeMonths, "BuildClientThreeMonths", kArgMonth | kArgYear, "",
     "Last three months", layout::ClientSummaryFile(3)},
    {Kind::Filter, Period::ThreeMonths, "CollectFilterThreeMonths", kArgMonth | kArgYear, "",
     "Last three months", layout::FilterSummaryFile(3)},
    {Kind::Traffic, Period::SixMonths, "BuildTrafficSixMonths", kArgMonth | kArgYear,
     "Last 6 Mounth: ", "Last six months", layout::kTrafficSummaryFile},
    {Kind::Client, Period::SixMonths, "BuildClientSixMonths", kArgMonth | kArgYear, "",
     "Last six months", layout::ClientSummaryFile(4)},
    {Kind::Filter, Period::SixMonths, "CollectFilterSixMonths", kArgMonth | kArgYear, "",
     "Last six months", layout::FilterSummaryFile(4)},
    {Kind::Traffic, Period::Year, "BuildTrafficYear", kArgYear, "Last Year: ", "Current year",
     layout::kTrafficSummaryFile},
    {Kind::Client, Period::Year, "BuildClientYear", kArgYear, "", "Current year",
     layout::ClientSummaryFile(5)},
    {Kind::Filter, Period::Year, "CollectFilterYear", kArgYear, "", "Current year",
     layout::FilterSummaryFile(5)},
};

// The place of a kind and period in kStatistics.
constexpr std::size_t IndexOf(Kind kind, Period period) {
    return static_cast<std::size_t>(period) * kKindCount + static_cast<std::size_t>(kind);
}
constexpr const Statistic& StatisticOf(Kind kind, Period period) {
    return kStatistics[IndexOf(kind, period)];
}
constexpr const PeriodInfo& InfoOf(Period period) {
    return kPeriods[static_cast<std::size_t>(period)];
}
constexpr const KindInfo& InfoOf(Kind kind) {
    return kKinds[static_cast<std::size_t>(kind)];
}

// The traffic statistic whose line carries this name (the label without its final space, as
// a line is read back), or null.
const Statistic* TrafficStatisticNamed(std::string_view name);

}  // namespace stats
