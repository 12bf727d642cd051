// File-name pieces of the log store; see log_names.h. Nothing here fails.
#include "stats/log_names.h"

#include "common/layout.h"
#include "platform/name_part.h"

namespace stats {

std::string DatePart(int value) {
    return value < 10 ? "0" + std::to_string(value) : std::to_string(value);
}

std::string YearPart(int year) {
    return std::to_string(year);
}

std::string DayStamp(int day, int month, int year) {
    return DatePart(day) + "_" + DatePart(month) + "_" + YearPart(year);
}

std::string MonthStamp(int month, int year) {
    return "*_" + DatePart(month) + "_" + YearPart(year);
}

std::string YearStamp(int year) {
    return "*_*_" + YearPart(year);
}

std::string TrafficLogName(std::string_view stamp, std::string_view client) {
    std::string name(stamp);
    name += '_';
    name += client;
    return name;
}

std::string FilterLogName(std::string_view stamp) {
    std::string name = layout::kFilterLogPrefix;
    name += stamp;
    name += layout::kFilterLogExtension;
    return name;
}

std::string ClientKeyOf(std::string_view entry) {
    const std::size_t bar = entry.find('|');
    std::string_view key = bar == std::string_view::npos ? entry : entry.substr(bar + 1);
    const std::size_t lf = key.find('\n');
    if (lf != std::string_view::npos) {
        key = key.substr(0, lf);
    }
    return std::string(key);
}

bool IsSafeClientKey(std::string_view key) {
    return platform::IsSafeNamePart(key);
}

std::string SlotList(const std::vector<std::int64_t>& totals) {
    std::string list;
    for (std::int64_t total : totals) {
        list += '|';
        list += std::to_string(total);
    }
    list += '|';
    return list;
}

}  // namespace stats
