// Today's figures; see today_figures.h.
#include "aggregator/today_figures.h"

#include <unordered_map>

#include "reports/filter_line.h"
#include "stats/base64.h"
#include "stats/log_names.h"
#include "stats/log_store.h"
#include "stats/periods.h"
#include "stats/summary_lines.h"

namespace {

// The days of the two-week line before today into the history's last slots (a shorter line
// leaves its missing days 0); the older days come from the client's logs.
void AddLineDays(ClientToday& client, const std::vector<std::int64_t>& line) {
    client.previousDays.assign(kSpikeHistoryDays, 0);
    for (std::size_t d = 0; d < kSpikeLineDays; ++d) {
        if (line.size() + d >= kSpikeLineDays + 1) {
            client.previousDays[kSpikeOlderDays + d] = line[line.size() + d - kSpikeLineDays - 1];
        }
    }
}

void AddOlderDays(stats::LogContext& ctx, const std::vector<stats::PeriodUnit>& olderDays,
                  std::vector<ClientToday>& clients) {
    for (ClientToday& client : clients) {
        if (!stats::IsSafeClientKey(client.client)) {
            continue;
        }
        for (std::size_t d = 0; d < kSpikeOlderDays && d < olderDays.size(); ++d) {
            client.previousDays[d] = ScanClientDay(ctx, olderDays[d], client.client);
        }
    }
}

// Base64DecodeText into a buffer used again for every line (a cycle's texts hold hundreds).
std::string_view DecodeText(std::string_view line, std::string& buffer) {
    stats::Base64Decode(line, &buffer);
    const std::string_view decoded = buffer;
    return decoded.substr(0, decoded.find('\0'));
}

}  // namespace

TodayFigures GatherToday(stats::LogContext& ctx, const stats::CycleDate& date,
                         const std::string& clientTwoWeeks, const std::string& trafficTwoWeeks,
                         const TodayRequest& request) {
    TodayFigures figures;
    std::unordered_map<std::string, std::size_t> place;
    std::vector<stats::PeriodUnit> olderDays;
    if (request.history && ctx.settings.clock != nullptr) {
        olderDays = stats::LastDays(*ctx.settings.clock, kSpikeHistoryDays + 1);
    }
    std::string decoded;
    stats::SlotLine slots;
    stats::ForEachSummaryLine(clientTwoWeeks, [&](std::string_view line) {
        if (!stats::ParseSlotLine(DecodeText(line, decoded), &slots) || slots.slots.empty() ||
            !place.emplace(slots.name, figures.clients.size()).second) {
            return;
        }
        ClientToday client;
        client.client = slots.name;
        client.todayBytes = slots.slots.back();
        if (request.history) {
            AddLineDays(client, slots.slots);
        }
        figures.clients.push_back(std::move(client));
    });
    if (request.history) {
        if (request.kept != nullptr) {
            request.kept->Fill(ctx, olderDays, figures.clients);
        } else {
            AddOlderDays(ctx, olderDays, figures.clients);
        }
    }
    stats::ForEachSummaryLine(trafficTwoWeeks, [&](std::string_view line) {
        if (stats::ParseSlotLine(DecodeText(line, decoded), &slots) && !slots.slots.empty()) {
            figures.totalBytes = slots.slots.back();
        }
    });

    std::string lines;
    stats::ScanLogFiles(ctx, stats::FilterLogName(stats::DayStamp(date.day, date.month, date.year)),
                        false, stats::ErrorPolicy::Skip,
                        [&ctx, &lines](const stats::LogFile& file) {
                            return stats::CopyFilterLog(ctx, file, stats::FilterForm::Lines, lines);
                        });
    reports::FilterFields fields;
    stats::ForEachSummaryLine(lines, [&](std::string_view line) {
        reports::SplitFilterLine(DecodeText(line, decoded), fields);
        if (fields.filter.empty()) {
            return;
        }
        ++figures.filterEvents[fields.filter];
        if (request.rules == nullptr || !IsAlertFilter(*request.rules, fields.filter)) {
            return;
        }
        auto it = place.find(fields.client);
        if (it == place.end()) {
            it = place.emplace(fields.client, figures.clients.size()).first;
            ClientToday client;
            client.client = fields.client;
            client.listed = false;
            if (request.history) {
                client.previousDays.assign(kSpikeHistoryDays, 0);
            }
            figures.clients.push_back(std::move(client));
        }
        ClientToday& client = figures.clients[it->second];
        ++client.filterEvents;
        if (client.firstEvents.size() < kEventsPerAlert) {
            client.firstEvents.push_back({fields.time, fields.url, fields.filter});
        }
    });
    return figures;
}
