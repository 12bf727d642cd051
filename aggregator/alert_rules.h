// The alert rules and their check: a client over a daily limit, a client far above its
// usual day, a client with events of chosen filters. The rules come from the registry (each
// off while its value is absent or 0); the check is a pure function of the figures the cycle
// already holds, so it never reads a log itself. Nothing here fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class AlertRule { DailyLimit, Spike, Filters };
inline constexpr std::size_t kAlertRuleCount = 3;

struct AlertRuleInfo {
    AlertRule rule;
    const char* key;   // in the state file, the metrics and the tools
    const char* name;  // in mail subjects and pages
};
inline constexpr AlertRuleInfo kAlertRules[kAlertRuleCount] = {
    {AlertRule::DailyLimit, "daily-limit", "daily limit"},
    {AlertRule::Spike, "spike", "traffic spike"},
    {AlertRule::Filters, "filters", "filter events"},
};
constexpr const AlertRuleInfo& InfoOf(AlertRule rule) {
    return kAlertRules[static_cast<std::size_t>(rule)];
}
// The rule of a key; false for none.
bool AlertRuleOfKey(std::string_view key, AlertRule* out);

inline constexpr std::size_t kSpikeHistoryDays = 28;
inline constexpr std::uint32_t kDefaultSpikeMinMb = 100;
inline constexpr std::uint32_t kDefaultFilterCount = 1;
inline constexpr std::uint32_t kDefaultMaxPerHour = 10;
// Matching events a mail lists.
inline constexpr std::size_t kEventsPerAlert = 5;

struct AlertRules {
    std::uint32_t dailyMb = 0;      // 0: off
    std::uint32_t spikeFactor = 0;  // 0: off
    std::uint32_t spikeMinMb = kDefaultSpikeMinMb;
    std::vector<std::string> filters;  // as NormalFilterName gives them; empty: off
    std::string filtersText;           // as set, for showing
    std::uint32_t filterCount = kDefaultFilterCount;
    std::uint32_t maxPerHour = kDefaultMaxPerHour;

    bool Any() const { return dailyMb != 0 || spikeFactor != 0 || !filters.empty(); }
};

AlertRules ReadAlertRules();

// A filter name as compared: ASCII letters in lower case, "_" as a space, no blanks around.
std::string NormalFilterName(std::string_view name);
// The comma list of AlertFilters as names to compare, empty entries dropped.
std::vector<std::string> ParseFilterList(std::string_view list);
bool IsAlertFilter(const AlertRules& rules, std::string_view filter);

// One filter event, as a mail lists it.
struct AlertEvent {
    std::string time;
    std::string url;
    std::string filter;
};

// What the cycle knows of one client today.
struct ClientToday {
    std::string client;
    std::int64_t todayBytes = 0;
    std::vector<std::int64_t> previousDays;  // bytes of the days before today; missing: 0
    std::uint32_t filterEvents = 0;          // events of the rules' filters today
    std::vector<AlertEvent> firstEvents;     // the first kEventsPerAlert of them
    bool listed = true;                      // in the client list (else only in the filter log)
};

struct Alert {
    std::string client;
    AlertRule rule = AlertRule::DailyLimit;
    std::int64_t figure = 0;    // bytes today, or events today
    std::int64_t compared = 0;  // the limit in bytes, the median day in bytes, or the count
    std::vector<AlertEvent> events;
};

// The median of the days (0 for none); of an even count the lower of the middle two, so a
// client idle half the month has a median of 0 only when it was idle on most days.
std::int64_t MedianDay(std::vector<std::int64_t> days);

// Every rule each client passes, in the order of the clients, then of the rules.
std::vector<Alert> CheckAlertRules(const AlertRules& rules,
                                   const std::vector<ClientToday>& clients);
