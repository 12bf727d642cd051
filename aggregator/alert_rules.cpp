// The alert rules read from the registry and checked against a cycle's figures.
#include "aggregator/alert_rules.h"

#include <algorithm>

#include "common/layout.h"
#include "common/registry_value.h"
#include "platform/nocase.h"
#include "reports/report_format.h"

namespace {

std::uint32_t Dword(const char* name, std::uint32_t fallback) {
    return RegistryDword(layout::SettingPath(name), fallback).Get();
}

// Cents of a megabyte figure, as the reports round bytes.
std::int64_t LimitCents(std::uint32_t megabytes) {
    return static_cast<std::int64_t>(megabytes) * 100;
}

}  // namespace

bool AlertRuleOfKey(std::string_view key, AlertRule* out) {
    for (const AlertRuleInfo& info : kAlertRules) {
        if (key == info.key) {
            *out = info.rule;
            return true;
        }
    }
    return false;
}

std::string NormalFilterName(std::string_view name) {
    std::string out;
    for (char c : name) {
        out.push_back(c == '_' ? ' ' : platform::FoldCase(c));
    }
    const std::size_t first = out.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return std::string();
    }
    out.erase(0, first);
    out.erase(out.find_last_not_of(" \t") + 1);
    return out;
}

std::vector<std::string> ParseFilterList(std::string_view list) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t comma = list.find(',', start);
        if (comma == std::string_view::npos) {
            comma = list.size();
        }
        std::string name = NormalFilterName(list.substr(start, comma - start));
        if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) {
            names.push_back(std::move(name));
        }
        start = comma + 1;
    }
    return names;
}

bool IsAlertFilter(const AlertRules& rules, std::string_view filter) {
    if (rules.filters.empty()) {
        return false;
    }
    const std::string name = NormalFilterName(filter);
    return std::find(rules.filters.begin(), rules.filters.end(), name) != rules.filters.end();
}

AlertRules ReadAlertRules() {
    AlertRules rules;
    rules.dailyMb = Dword(layout::setting::kAlertDailyMb, 0);
    rules.spikeFactor = Dword(layout::setting::kAlertSpikeFactor, 0);
    rules.spikeMinMb = Dword(layout::setting::kAlertSpikeMinMb, kDefaultSpikeMinMb);
    rules.filtersText =
        RegistryString(layout::SettingPath(layout::setting::kAlertFilters), "").Get();
    rules.filters = ParseFilterList(rules.filtersText);
    rules.filterCount = Dword(layout::setting::kAlertFilterCount, kDefaultFilterCount);
    if (rules.filterCount == 0) {
        rules.filterCount = 1;  // "at least none" would alert every client with no event
    }
    rules.maxPerHour = Dword(layout::setting::kAlertMaxPerHour, kDefaultMaxPerHour);
    return rules;
}

std::int64_t MedianDay(std::vector<std::int64_t> days) {
    if (days.empty()) {
        return 0;
    }
    const std::size_t middle = (days.size() - 1) / 2;
    std::nth_element(days.begin(), days.begin() + static_cast<std::ptrdiff_t>(middle), days.end());
    return days[middle];
}

std::vector<Alert> CheckAlertRules(const AlertRules& rules,
                                   const std::vector<ClientToday>& clients) {
    std::vector<Alert> alerts;
    for (const ClientToday& c : clients) {
        const std::int64_t cents = reports::MegabyteCents(c.todayBytes);
        if (rules.dailyMb != 0 && cents > LimitCents(rules.dailyMb)) {
            alerts.push_back({c.client,
                              AlertRule::DailyLimit,
                              c.todayBytes,
                              static_cast<std::int64_t>(rules.dailyMb) << 20,
                              {}});
        }
        if (rules.spikeFactor != 0) {
            const std::int64_t median = MedianDay(c.previousDays);
            // Compared in bytes; a median so large that k times it overflows cannot be passed.
            const bool over = median <= INT64_MAX / rules.spikeFactor &&
                              c.todayBytes > median * static_cast<std::int64_t>(rules.spikeFactor);
            if (over && cents >= LimitCents(rules.spikeMinMb)) {
                alerts.push_back({c.client, AlertRule::Spike, c.todayBytes, median, {}});
            }
        }
        if (!rules.filters.empty() && c.filterEvents >= rules.filterCount) {
            alerts.push_back(
                {c.client, AlertRule::Filters, c.filterEvents, rules.filterCount, c.firstEvents});
        }
    }
    return alerts;
}
