// The six report writers. Each checks its own enabling value, guards its own failures and,
// for every report file it writes, appends the file's full path and a comma to sendList.
#pragma once

#include <string>

#include "stats/log_context.h"

namespace reports {

void WriteDailyFilterReport(stats::LogContext& ctx, std::string& sendList);
void WriteDailyTrafficReport(stats::LogContext& ctx, std::string& sendList);
void WriteWeeklyFilterReport(stats::LogContext& ctx, std::string& sendList);
void WriteWeeklyTrafficReport(stats::LogContext& ctx, std::string& sendList);
void WriteMonthlyTrafficReport(stats::LogContext& ctx, std::string& sendList);
void WriteMonthlyFilterReport(stats::LogContext& ctx, std::string& sendList);

}  // namespace reports
