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

// How each period's task searches: what follows the unit's date in the pattern, what an
// unreadable log does, and its own pauses.
struct ScanRule {
    Period period;
    const char* suffix;  // "*" or "*.*", after the unit's date and "_"
    ErrorPolicy policy;
    Extra extra;
};

constexpr ScanRule kRules[kPeriodCount] = {
    {Period::Week, "*", ErrorPolicy::Skip, Extra::OnceAfterLast},
    {Period::TwoWeeks, "*", ErrorPolicy::Skip, Extra::OnceAfterLast},
    {Period::Month, "*.*", ErrorPolicy::Abandon, Extra::BeforeEachClose},
    {Period::ThreeMonths, "*", ErrorPolicy::Skip, Extra::OnceAfterLast},
    {Period::SixMonths, "*", ErrorPolicy::Skip, Extra::OnceAfterLast},
    {Period::Year, "*.*", ErrorPolicy::Abandon, Extra::AfterEachAndOnceAfterLast},
};

static_assert(InPeriodOrder(kRules));

}  // namespace

void BuildTrafficTotals(LogContext& ctx, Period period, const CycleDate& date, std::string& slot) {
    const ScanRule& rule = kRules[static_cast<std::size_t>(period)];
    const std::vector<PeriodUnit> units = UnitsOf(period, *ctx.settings.clock, date);
    ctx.BeginTask();
    std::vector<std::int64_t> totals(InfoOf(period).slots, 0);
    const std::uint32_t beforeClose = rule.extra == Extra::BeforeEachClose ? kExtraPauseMs : 0;
    for (std::size_t s = 0; s < units.size() && s < totals.size(); ++s) {
        std::int64_t sum = 0;
        const ScanResult result =
            SumTrafficLogs(ctx, TrafficLogName(StampOf(units[s]), rule.suffix), true, rule.policy,
                           beforeClose, &sum);
        if (result != ScanResult::Completed) {
            return;
        }
        totals[s] = SaturatingAdd(totals[s], sum);
        if (rule.extra == Extra::AfterEachAndOnceAfterLast && !ctx.Pause(kExtraPauseMs)) {
            return;
        }
    }
    if (rule.extra != Extra::BeforeEachClose && !ctx.Pause(kExtraPauseMs)) {
        return;
    }
    slot = Base64Encode(StatisticOf(Kind::Traffic, period).label + SlotList(totals)) + "\n";
}

}  // namespace stats
