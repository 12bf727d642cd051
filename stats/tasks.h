// The statistic tasks: one procedure per kind, run for a row of the table (statistics.h).
// A traffic task assigns its slot; client and filter tasks append line by line. A task that
// abandons or is stopped leaves the slot as the cycle left it, except that a client or
// filter task that fails midway keeps the lines it had. Nothing is reported.
#pragma once

#include <string>

#include "stats/log_context.h"
#include "stats/statistics.h"

namespace stats {

// Runs the statistic's task for a cycle of the given date; the task is handed only the
// fields of the date that its step takes.
void RunStatistic(LogContext& ctx, const Statistic& statistic, const CycleDate& date,
                  std::string& slot);

// The three kinds; each takes the date as RunStatistic hands it.
void BuildTrafficTotals(LogContext& ctx, Period period, const CycleDate& date, std::string& slot);
void BuildClientTotals(LogContext& ctx, Period period, const CycleDate& date, std::string& slot);
void CollectFilterExtract(LogContext& ctx, Period period, const CycleDate& date, std::string& slot);

}  // namespace stats
