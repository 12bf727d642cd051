// What a report says, before it is laid out: its kind, its date and its records in the order
// the writer produced them. The XML document and its HTML twin are both made from this, so
// the two always show the same records; filter reports read from a file go without it and
// hand their events over one at a time (see FilterEventSource). Plain data; nothing here fails.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "reports/filter_line.h"
#include "reports/report_format.h"

namespace reports {

// One client of a traffic report. The texts are as the logs hold them (8-bit, unescaped).
struct TrafficRecord {
    std::string client;
    std::string userName;
    std::int64_t bytes = 0;
};

// Which report, of which day: what names its file and titles it.
struct ReportHeading {
    ReportKind kind = ReportKind::DailyTraffic;
    int day = 0;
    int month = 0;
    int year = 0;
};

struct ReportContent {
    ReportKind kind = ReportKind::DailyTraffic;
    int day = 0;  // the date parts name the daily kinds' files and titles
    int month = 0;
    int year = 0;
    std::vector<TrafficRecord> traffic;  // traffic kinds
    std::vector<FilterFields> events;    // filter kinds: one filter-log line each

    bool Empty() const { return traffic.empty() && events.empty(); }
    ReportHeading Heading() const { return {kind, day, month, year}; }
};

}  // namespace reports
