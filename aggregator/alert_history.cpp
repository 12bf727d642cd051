// The spike history's older days; see alert_history.h.
#include "aggregator/alert_history.h"

#include <algorithm>
#include <optional>

#include "platform/nocase.h"
#include "stats/log_names.h"
#include "stats/log_store.h"

namespace {

void AddHours(const stats::HourTotals& from, stats::HourTotals& to) {
    for (std::size_t h = 0; h < to.size(); ++h) {
        to[h] = stats::SaturatingAdd(to[h], from[h]);
    }
}

// A client's logs of a day are the names "DD_MM_YYYY_" + key without case, so its part of a
// name, folded, is what its key must equal folded (wildcards in a key are taken literally).
void FoldInto(std::string_view text, std::string& folded) {
    folded.assign(text);
    for (char& c : folded) {
        c = platform::FoldCase(c);
    }
}

}  // namespace

std::int64_t ScanClientDay(stats::LogContext& ctx, const stats::PeriodUnit& day,
                           const std::string& client) {
    stats::HourTotals hours{};
    stats::ScanClientLogs(ctx, stats::StampOf(day), client,
                          [&ctx, &hours](const stats::LogFile& file) {
                              return stats::ReadTrafficLog(ctx, file, hours);
                          });
    return stats::SumOf(hours);
}

void SpikeHistory::Walk(stats::LogContext& ctx, const std::vector<stats::PeriodUnit>& olderDays,
                        std::size_t days) {
    byKey_.clear();
    const stats::LogIndex& logs = ctx.Logs();
    bool keep = ctx.settings.reuseResults;
    std::string key;
    std::string group;
    for (std::size_t d = 0; d < days; ++d) {
        const std::uint32_t bit = std::uint32_t{1} << d;
        const std::string pattern = stats::TrafficLogName(stats::StampOf(olderDays[d]), "*");
        const std::size_t prefix = pattern.size() - 1;
        stats::HourTotals hours{};
        bool known = true;
        bool open = false;
        // The listing is in folded-name order, so a key's logs of the day (one per spelling
        // of the key) follow each other and are summed in the order a scan sums them.
        auto close = [&] {
            if (!open) {
                return;
            }
            KeySums& sums = byKey_[group];
            if ((sums.walked & bit) != 0 || !known) {
                sums.unknown |= bit;
            } else {
                sums.days[d] = stats::SumOf(hours);
            }
            sums.walked |= bit;
        };
        for (const std::uint32_t place : logs.FindPlaces(pattern)) {
            const platform::DirEntry& entry = logs.Entries()[place];
            FoldInto(std::string_view(entry.name).substr(prefix), key);
            if (!open || key != group) {
                close();
                group.swap(key);
                hours = {};
                known = true;
                open = true;
            }
            // A log of the listing's day serves this listing only.
            keep = keep && !ctx.IsTodaysLog(entry);
            const std::optional<stats::HourTotals> kept =
                ctx.settings.reuseResults ? ctx.caches.traffic.Find(entry) : std::nullopt;
            // A log without a kept result leaves its key's day to a scan, now and while the
            // sums are kept.
            if (kept) {
                AddHours(*kept, hours);
            } else {
                known = false;
            }
        }
        close();
    }
    valid_ = keep;
}

void SpikeHistory::Fill(stats::LogContext& ctx, const std::vector<stats::PeriodUnit>& olderDays,
                        std::vector<ClientToday>& clients) {
    const std::size_t days = std::min(kSpikeOlderDays, olderDays.size());
    if (days == 0) {
        return;
    }
    const stats::LogIndex& logs = ctx.Logs();
    const std::uint64_t namesVersion = logs.NamesVersion();
    const std::uint64_t settledEpoch = ctx.caches.traffic.SettledEpoch();
    std::string firstStamp = stats::StampOf(olderDays[0]);
    if (!valid_ || namesVersion != namesVersion_ || settledEpoch != settledEpoch_ ||
        firstStamp != firstStamp_ || days != days_) {
        Walk(ctx, olderDays, days);
        namesVersion_ = namesVersion;
        settledEpoch_ = settledEpoch;
        firstStamp_ = std::move(firstStamp);
        days_ = days;
    }
    const std::size_t resultsBefore = ctx.caches.traffic.Size();
    std::string key;
    for (ClientToday& client : clients) {
        if (!stats::IsSafeClientKey(client.client)) {
            continue;
        }
        FoldInto(client.client, key);
        const auto it = byKey_.find(key);
        if (it == byKey_.end()) {
            continue;  // no log of any of the days
        }
        for (std::size_t d = 0; d < days; ++d) {
            client.previousDays[d] = (it->second.unknown >> d & 1) != 0
                                         ? ScanClientDay(ctx, olderDays[d], client.client)
                                         : it->second.days[d];
        }
    }
    // A scan that kept a new result makes the next cycle walk again, so a log read for the
    // first time here is not scanned for as long as the sums are kept.
    if (ctx.caches.traffic.Size() != resultsBefore) {
        valid_ = false;
    }
}
