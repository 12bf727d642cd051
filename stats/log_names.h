// Names in the proxy's log directory: the date parts of file names, the client key of a
// client-list entry, and which keys may safely become part of a file name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace stats {

// Day or month in a file name: "0%d" below 10, "%d" otherwise.
std::string DatePart(int value);
// Year in a file name: "%d".
std::string YearPart(int year);
// DD "_" MM "_" YYYY, the date of a traffic or filter log.
std::string DayStamp(int day, int month, int year);
// "*_" MM "_" YYYY: in a search pattern, any day of the month.
std::string MonthStamp(int month, int year);
// "*_*_" YYYY: in a search pattern, any day of the year.
std::string YearStamp(int year);

// Log names (or search patterns, when the stamp or client holds wildcards): a client's
// traffic log is stamp "_" client key, the filter log of a day "Filter_" stamp ".log".
std::string TrafficLogName(std::string_view stamp, std::string_view client);
std::string FilterLogName(std::string_view stamp);

// The client key of a decoded client-list entry: the text after the first "|" (the whole
// text when there is none), cut before the first line feed.
std::string ClientKeyOf(std::string_view entry);

// False for a key that could name a file outside the log directory (what counts is the
// platform's path syntax: platform::IsSafeNamePart). Such a client gets a line with every
// slot 0 and no file is searched.
bool IsSafeClientKey(std::string_view key);

// The slot part of a statistic line: "|" and each total in decimal, then a closing "|".
std::string SlotList(const std::vector<std::int64_t>& totals);

}  // namespace stats
