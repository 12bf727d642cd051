// Placeholders for the report writers until they are built: none writes anything.
#include "reports/writers.h"

namespace reports {

void WriteDailyFilterReport(stats::LogContext&, std::string&) {}
void WriteDailyTrafficReport(stats::LogContext&, std::string&) {}
void WriteWeeklyFilterReport(stats::LogContext&, std::string&) {}
void WriteWeeklyTrafficReport(stats::LogContext&, std::string&) {}
void WriteMonthlyTrafficReport(stats::LogContext&, std::string&) {}
void WriteMonthlyFilterReport(stats::LogContext&, std::string&) {}

}  // namespace reports
