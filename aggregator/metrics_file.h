// The cycle's figures in the Prometheus text exposition format (version 0.0.4), for the
// text-file collectors of the standard exporters: traffic today per client and in all, filter
// events today per filter, alerts today per rule, the last cycle's duration and the time it
// completed. Label values from the logs are made valid UTF-8 (the system's ANSI text
// converted, control bytes dropped) and escaped, so no client key can add a line or a label.
// Nothing here fails.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "aggregator/today_figures.h"

struct MetricsFigures {
    const TodayFigures* today = nullptr;
    std::map<std::string, std::uint64_t> alertsByRule;  // rule key -> alerts fired today
    double cycleSeconds = 0;
    std::time_t completedAt = 0;
};

// A label value as the format wants it: UTF-8, with \\, \" and \n escaped.
std::string MetricLabelValue(const std::string& ansiText);
// The whole file, lines ending in LF as the format requires.
std::string FormatMetrics(const MetricsFigures& figures);
