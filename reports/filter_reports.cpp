// The daily, weekly and monthly filter activity reports: one record per filter-log line, read
// from today's filter log or from the filter extracts of the previous cycle. A report whose
// input cannot be read, or that has no line, is not made; nothing is reported.
#include <exception>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "reports/filter_line.h"
#include "reports/input_lines.h"
#include "reports/report_format.h"
#include "reports/report_gate.h"
#include "reports/writers.h"
#include "stats/log_names.h"

namespace reports {

namespace {

void WriteFilterReport(stats::LogContext& ctx, const char* gate, ReportKind kind,
                       std::string& sendList) {
    try {
        if (!ReportEnabled(gate)) {
            return;
        }
        const platform::LocalDate today = platform::BreakDown(ctx.clock->Now());
        std::string input;
        if (kind == ReportKind::DailyFilter) {
            input =
                "\\Logs\\Filter_" + stats::DayStamp(today.day, today.month, today.year) + ".log";
        } else {
            input = kind == ReportKind::WeeklyFilter ? "\\Logs\\brisko.001" : "\\Logs\\brisko.003";
        }
        std::vector<std::string> lines;
        if (!ReadDecodedLines(platform::AppendPath(ctx.appPath, input), platform::ShareMode::None,
                              &lines)) {
            return;
        }
        std::string body;
        FilterFields fields;
        for (const std::string& line : lines) {
            SplitFilterLine(line, fields);
            body += FormatFilterRecord(fields.date, fields.client, fields.userName, fields.time,
                                       fields.url, fields.filter);
        }
        if (!body.empty()) {
            WriteReportFile(ctx, kind, today.day, today.month, today.year, body, sendList);
        }
    } catch (const std::exception&) {
        // A report that fails midway is simply not made; dispatch goes on with the next.
    }
}

}  // namespace

void WriteDailyFilterReport(stats::LogContext& ctx, std::string& sendList) {
    WriteFilterReport(ctx, "RegDayFilter", ReportKind::DailyFilter, sendList);
}

void WriteWeeklyFilterReport(stats::LogContext& ctx, std::string& sendList) {
    WriteFilterReport(ctx, "RegWeekFilter", ReportKind::WeeklyFilter, sendList);
}

void WriteMonthlyFilterReport(stats::LogContext& ctx, std::string& sendList) {
    WriteFilterReport(ctx, "RegMonFilter", ReportKind::MonthlyFilter, sendList);
}

}  // namespace reports
