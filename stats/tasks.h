// The eighteen statistic tasks. Each fills one statistic slot of the worker; a task that
// abandons leaves the slot as the cycle left it (empty), a task that appends line by line
// and fails midway leaves the lines it had.
#pragma once

#include <string>

#include "stats/log_context.h"

namespace stats {

// Traffic totals of the proxy as a whole.
void BuildTrafficWeek(LogContext& ctx, int weekday, std::string& slot);
void BuildTrafficTwoWeeks(LogContext& ctx, std::string& slot);
void BuildTrafficMonth(LogContext& ctx, int month, int year, std::string& slot);
void BuildTrafficThreeMonths(LogContext& ctx, int month, int year, std::string& slot);
void BuildTrafficSixMonths(LogContext& ctx, int month, int year, std::string& slot);
void BuildTrafficYear(LogContext& ctx, int year, std::string& slot);

// Traffic totals per client.
void BuildClientWeek(LogContext& ctx, int weekday, std::string& slot);
void BuildClientTwoWeeks(LogContext& ctx, std::string& slot);
void BuildClientMonth(LogContext& ctx, int month, int year, std::string& slot);
void BuildClientThreeMonths(LogContext& ctx, int month, int year, std::string& slot);
void BuildClientSixMonths(LogContext& ctx, int month, int year, std::string& slot);
void BuildClientYear(LogContext& ctx, int year, std::string& slot);

// Filter log extracts.
void CollectFilterWeek(LogContext& ctx, int weekday, std::string& slot);
void CollectFilterTwoWeeks(LogContext& ctx, std::string& slot);
void CollectFilterMonth(LogContext& ctx, int month, int year, std::string& slot);
void CollectFilterThreeMonths(LogContext& ctx, int month, int year, std::string& slot);
void CollectFilterSixMonths(LogContext& ctx, int month, int year, std::string& slot);
void CollectFilterYear(LogContext& ctx, int year, std::string& slot);

}  // namespace stats
