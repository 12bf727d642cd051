// `tallyctl cycle`: one (or N) aggregation cycles of a worker built as the service builds it.
#pragma once

#include <ctime>
#include <string>
#include <vector>

int RunCycleCommand(const std::vector<std::string>& args);

// The local time of "YYYY-MM-DD HH:MM:SS", or of midnight for "YYYY-MM-DD". False for any
// other text, a date the calendar does not have, or a year before 1970.
bool ParseCycleTime(const std::string& text, std::time_t* out);
