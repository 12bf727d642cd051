// The registry values that switch each report on: a report is made only when its value
// reads 1; absent, unreadable or any other value means off.
#pragma once

namespace reports {

// name is the value below \SOFTWARE\BriskoFilter ("RegDaily", "RegDayFilter", ...).
bool ReportEnabled(const char* name);

}  // namespace reports
