// Today's figures as the cycle already holds them, for the alerts and the metrics file:
// per-client traffic from this cycle's two-week client totals, the days before from the
// same line and (for the 28-day median) the client's daily logs through the results the
// period tasks have just kept (alert_history.h), and the events of today's filter log (which the
// week's extract has just read). With result reuse on, nothing here opens a log the cycle has not
// read already. Nothing here fails: a figure that cannot be had counts as 0.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "aggregator/alert_history.h"
#include "aggregator/alert_rules.h"
#include "stats/log_context.h"
#include "stats/statistics.h"

struct TodayFigures {
    std::vector<ClientToday> clients;  // in the order of the client list, then of the filter log
    std::int64_t totalBytes = 0;       // the proxy's traffic today
    std::map<std::string, std::uint64_t> filterEvents;  // per filter, as the log names it
};

struct TodayRequest {
    const AlertRules* rules = nullptr;  // which events to keep per client; null: none
    bool history = false;               // fill each client's previousDays
    // Where the history's older days are kept between cycles; null: each client's logs of
    // each day are searched.
    SpikeHistory* kept = nullptr;
};

// clientTwoWeeks, trafficTwoWeeks: this cycle's texts of those statistics.
TodayFigures GatherToday(stats::LogContext& ctx, const stats::CycleDate& date,
                         const std::string& clientTwoWeeks, const std::string& trafficTwoWeeks,
                         const TodayRequest& request);
