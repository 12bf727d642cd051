// Placeholders for the statistic tasks until they are built: each leaves its slot empty.
#include "stats/tasks.h"

namespace stats {

void BuildTrafficWeek(LogContext&, int, std::string&) {}
void BuildTrafficTwoWeeks(LogContext&, std::string&) {}
void BuildTrafficMonth(LogContext&, int, int, std::string&) {}
void BuildTrafficThreeMonths(LogContext&, int, int, std::string&) {}
void BuildTrafficSixMonths(LogContext&, int, int, std::string&) {}
void BuildTrafficYear(LogContext&, int, std::string&) {}
void BuildClientWeek(LogContext&, int, std::string&) {}
void BuildClientTwoWeeks(LogContext&, std::string&) {}
void BuildClientMonth(LogContext&, int, int, std::string&) {}
void BuildClientThreeMonths(LogContext&, int, int, std::string&) {}
void BuildClientSixMonths(LogContext&, int, int, std::string&) {}
void BuildClientYear(LogContext&, int, std::string&) {}
void CollectFilterWeek(LogContext&, int, std::string&) {}
void CollectFilterTwoWeeks(LogContext&, std::string&) {}
void CollectFilterMonth(LogContext&, int, int, std::string&) {}
void CollectFilterThreeMonths(LogContext&, int, int, std::string&) {}
void CollectFilterSixMonths(LogContext&, int, int, std::string&) {}
void CollectFilterYear(LogContext&, int, std::string&) {}

}  // namespace stats
