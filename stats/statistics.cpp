// The table of the eighteen statistics; see statistics.h. Nothing here fails.
#include "stats/statistics.h"

namespace stats {

namespace {

// Lookups index the tables directly, so each row must sit where its kind and period put it.
constexpr bool TablesInOrder() {
    for (std::size_t k = 0; k < kKindCount; ++k) {
        if (static_cast<std::size_t>(kKinds[k].kind) != k) {
            return false;
        }
    }
    for (std::size_t i = 0; i < kStatisticCount; ++i) {
        if (IndexOf(kStatistics[i].kind, kStatistics[i].period) != i) {
            return false;
        }
    }
    return true;
}
static_assert(TablesInOrder() && InPeriodOrder(kPeriods));

// "-N" + unit for the units before the current one, oldest first, then the current one.
std::vector<std::string> Relative(std::size_t count, const char* unit, const char* current) {
    std::vector<std::string> labels;
    for (std::size_t back = count - 1; back > 0; --back) {
        labels.push_back("-" + std::to_string(back) + unit);
    }
    labels.push_back(current);
    return labels;
}

}  // namespace

std::vector<std::string> NumberedLabels(std::size_t count) {
    std::vector<std::string> labels;
    for (std::size_t i = 1; i <= count; ++i) {
        labels.push_back(std::to_string(i));
    }
    return labels;
}

std::vector<std::string> SlotLabels(Period period) {
    const std::size_t slots = InfoOf(period).slots;
    switch (period) {
        case Period::Week:
            return {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
        case Period::TwoWeeks:
            return Relative(slots, "d", "this day");
        case Period::Month:
            return NumberedLabels(slots);
        case Period::ThreeMonths:
        case Period::SixMonths:
            return Relative(slots, "m", "this mon");
        case Period::Year:
            return {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    }
    return NumberedLabels(slots);
}

CycleDate CycleDateOf(const platform::LocalDate& date) {
    return {date.day, date.month, date.year, date.weekday};
}

int StepArguments(StepArgs which, const CycleDate& date, int args[3]) {
    int count = 0;
    if (which & kArgWeekday) {
        args[count++] = date.weekday;
    }
    if (which & kArgMonth) {
        args[count++] = date.month;
    }
    if (which & kArgYear) {
        args[count++] = date.year;
    }
    return count;
}

CycleDate OnlyStepArguments(StepArgs which, const CycleDate& date) {
    CycleDate given;
    given.weekday = which & kArgWeekday ? date.weekday : 0;
    given.month = which & kArgMonth ? date.month : 0;
    given.year = which & kArgYear ? date.year : 0;
    return given;
}

const Statistic* TrafficStatisticNamed(std::string_view name) {
    for (const Statistic& statistic : kStatistics) {
        const std::string_view label = statistic.label;
        if (statistic.kind == Kind::Traffic && !label.empty() &&
            label.substr(0, label.size() - 1) == name) {
            return &statistic;
        }
    }
    return nullptr;
}

}  // namespace stats
