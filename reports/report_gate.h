// The registry values that switch each report on: a report is made only when its value
// reads 1; absent, unreadable or any other value means off.
#pragma once

namespace reports {

// name is a gate of the settings key (layout::setting::kRegDaily, ...).
bool ReportEnabled(const char* name);

}  // namespace reports
