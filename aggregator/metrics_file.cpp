// The metrics file's text; see metrics_file.h. Counters restart at local midnight, which the
// monitoring's rate functions take as a counter reset.
#include "aggregator/metrics_file.h"

#include <cstdio>

#include "aggregator/alert_rules.h"
#include "platform/codepage.h"

namespace {

void Family(std::string& out, const char* name, const char* type, const char* help) {
    out += std::string("# HELP ") + name + " " + help + "\n";
    out += std::string("# TYPE ") + name + " " + type + "\n";
}

void Sample(std::string& out, const char* name, const std::string& labels, const std::string& v) {
    out += name;
    if (!labels.empty()) {
        out += "{" + labels + "}";
    }
    out += " " + v + "\n";
}

std::string Label(const char* name, const std::string& value) {
    return std::string(name) + "=\"" + MetricLabelValue(value) + "\"";
}

}  // namespace

std::string MetricLabelValue(const std::string& ansiText) {
    std::string clean;
    for (char c : ansiText) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7f) {
            clean.push_back(c);
        }
    }
    std::string out;
    for (char c : platform::AnsiToUtf8(clean)) {
        if (c == '\\' || c == '"') {
            out.push_back('\\');
        }
        out.push_back(c);
    }
    return out;
}

std::string FormatMetrics(const MetricsFigures& figures) {
    std::string out;
    const TodayFigures empty;
    const TodayFigures& today = figures.today != nullptr ? *figures.today : empty;

    Family(out, "tallyvane_traffic_bytes_total", "counter",
           "Traffic of the proxy today (since local midnight), in bytes.");
    Sample(out, "tallyvane_traffic_bytes_total", "", std::to_string(today.totalBytes));

    Family(out, "tallyvane_client_traffic_bytes_total", "counter",
           "Traffic of each client of the client list today, in bytes.");
    std::map<std::string, std::int64_t> clients;  // one sample per label value
    for (const ClientToday& c : today.clients) {
        if (!c.listed) {
            continue;
        }
        clients[MetricLabelValue(c.client)] += c.todayBytes;
    }
    for (const auto& [client, bytes] : clients) {
        Sample(out, "tallyvane_client_traffic_bytes_total", "client=\"" + client + "\"",
               std::to_string(bytes));
    }

    Family(out, "tallyvane_filter_events_total", "counter",
           "Events of each filter in today's filter log.");
    std::map<std::string, std::uint64_t> filters;
    for (const auto& [filter, count] : today.filterEvents) {
        filters[MetricLabelValue(filter)] += count;
    }
    for (const auto& [filter, count] : filters) {
        Sample(out, "tallyvane_filter_events_total", "filter=\"" + filter + "\"",
               std::to_string(count));
    }

    Family(out, "tallyvane_alerts_total", "counter", "Alerts fired today, per rule.");
    for (const AlertRuleInfo& info : kAlertRules) {
        const auto it = figures.alertsByRule.find(info.key);
        Sample(out, "tallyvane_alerts_total", Label("rule", info.key),
               std::to_string(it == figures.alertsByRule.end() ? 0 : it->second));
    }

    char number[64];
    Family(out, "tallyvane_cycle_duration_seconds", "gauge",
           "Duration of the last complete aggregation cycle, pauses included.");
    std::snprintf(number, sizeof number, "%.0f", figures.cycleSeconds);
    Sample(out, "tallyvane_cycle_duration_seconds", "", number);

    Family(out, "tallyvane_last_cycle_timestamp_seconds", "gauge",
           "Time the last complete aggregation cycle ended, in seconds since the epoch.");
    Sample(out, "tallyvane_last_cycle_timestamp_seconds", "",
           std::to_string(static_cast<long long>(figures.completedAt)));
    return out;
}
