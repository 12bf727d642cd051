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

// Days of the two-week line before today: its slots but the last.
constexpr std::size_t kLineDays = 13;

void AddHistory(stats::LogContext& ctx, ClientToday& client, const std::vector<std::int64_t>& line,
                const std::vector<stats::PeriodUnit>& olderDays) {
    client.previousDays.assign(kSpikeHistoryDays, 0);
    const std::size_t older = kSpikeHistoryDays - kLineDays;
    for (std::size_t d = 0; d < older && d < olderDays.size(); ++d) {
        if (!stats::IsSafeClientKey(client.client)) {
            break;
        }
        stats::HourTotals hours{};
        stats::ScanClientLogs(ctx, stats::StampOf(olderDays[d]), client.client,
                              [&ctx, &hours](const stats::LogFile& file) {
                                  return stats::ReadTrafficLog(ctx, file, hours);
                              });
        client.previousDays[d] = stats::SumOf(hours);
    }
    for (std::size_t d = 0; d < kLineDays && d + 1 < line.size(); ++d) {
        client.previousDays[older + d] = line[line.size() - 1 - kLineDays + d];
    }
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
    stats::ForEachSummaryLine(clientTwoWeeks, [&](std::string_view line) {
        stats::SlotLine slots;
        if (!stats::ParseSlotLine(stats::Base64DecodeText(line), &slots) || slots.slots.empty() ||
            place.count(slots.name) != 0) {
            return;
        }
        place[slots.name] = figures.clients.size();
        ClientToday client;
        client.client = slots.name;
        client.todayBytes = slots.slots.back();
        if (request.history) {
            AddHistory(ctx, client, slots.slots, olderDays);
        }
        figures.clients.push_back(std::move(client));
    });
    stats::ForEachSummaryLine(trafficTwoWeeks, [&](std::string_view line) {
        stats::SlotLine slots;
        if (stats::ParseSlotLine(stats::Base64DecodeText(line), &slots) && !slots.slots.empty()) {
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
        reports::SplitFilterLine(stats::Base64DecodeText(line), fields);
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
