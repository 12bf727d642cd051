// The older days of the spike rule's 28-day history (those before the two-week line) for
// every client at once: one search per day walked over the results the cycle's scans kept,
// instead of one search per client and day. The sums are kept per client key from one cycle
// to the next while the listing's names and the past logs' kept results stay the same, so a
// steady cycle searches nothing. A client whose logs of a day are not all kept (reuse off, an
// unreadable log) has that day scanned as before, so every figure is the one a scan of its
// logs gives and no log is opened that such a scan would not open.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "aggregator/alert_rules.h"
#include "stats/log_context.h"
#include "stats/periods.h"

// Days of the two-week line before today; the history's older days come before them.
inline constexpr std::size_t kSpikeLineDays = 13;
inline constexpr std::size_t kSpikeOlderDays = kSpikeHistoryDays - kSpikeLineDays;

// The sum of a client's traffic logs of the day, scanned as a client task scans them.
std::int64_t ScanClientDay(stats::LogContext& ctx, const stats::PeriodUnit& day,
                           const std::string& client);

// Kept by the owner of one LogContext and used with that context only.
class SpikeHistory {
  public:
    // Sets previousDays[d] of each client (which holds kSpikeHistoryDays) for d below
    // kSpikeOlderDays and olderDays.size(): the sum of its logs of olderDays[d]. Clients
    // whose key is not safe are left alone.
    void Fill(stats::LogContext& ctx, const std::vector<stats::PeriodUnit>& olderDays,
              std::vector<ClientToday>& clients);
    // Client keys (folded) whose sums are kept.
    std::size_t Size() const { return valid_ ? byKey_.size() : 0; }

  private:
    struct KeySums {
        std::array<std::int64_t, kSpikeOlderDays> days{};
        std::uint32_t walked = 0;   // a bit per day: its logs of the day summed
        std::uint32_t unknown = 0;  // a bit per day: a log without a kept result, so scanned
    };
    void Walk(stats::LogContext& ctx, const std::vector<stats::PeriodUnit>& olderDays,
              std::size_t days);

    // Under what the sums were made.
    bool valid_ = false;
    std::uint64_t namesVersion_ = 0;
    std::uint64_t settledEpoch_ = 0;
    std::string firstStamp_;
    std::size_t days_ = 0;
    // By the client part of the log names, folded as the listing compares names.
    std::unordered_map<std::string, KeySums> byKey_;
};
