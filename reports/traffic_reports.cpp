// The daily, weekly and monthly website traffic reports: one record per client with its user
// name and its traffic in megabytes, from today's traffic logs or from the client totals of
// the previous cycle, written in the installation's report format. A report whose input
// cannot be read, or that has no client, is not made; nothing is reported.
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "common/layout.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "reports/input_lines.h"
#include "reports/report_content.h"
#include "reports/report_gate.h"
#include "reports/report_output.h"
#include "reports/traffic_input.h"
#include "reports/user_names.h"
#include "reports/writers.h"
#include "stats/statistics.h"

namespace reports {

namespace {

// Reads the client totals of the period from the summary file the cycle wrote them to.
void WriteClientTotalsReport(stats::LogContext& ctx, const char* gate, stats::Period period,
                             ReportKind kind, std::string& sendList) {
    try {
        if (!ReportEnabled(gate)) {
            return;
        }
        const std::string input =
            layout::InLogsFolder(stats::StatisticOf(stats::Kind::Client, period).summaryFile);
        const platform::LocalDate today = platform::BreakDown(ctx.settings.clock->Now());
        ReportContent content{kind, today.day, today.month, today.year, {}, {}};
        if (!ForEachDecodedLine(platform::AppendPath(ctx.settings.appPath, input),
                                platform::ShareMode::None,
                                [&ctx, &content](const std::string& line) {
                                    ClientTotal total = ParseClientTotalLine(line);
                                    std::string user = LookupUserName(ctx, total.client);
                                    content.traffic.push_back(
                                        {std::move(total.client), std::move(user), total.bytes});
                                })) {
            return;
        }
        WriteReport(ctx, content, ReadReportSettings(), sendList);
    } catch (const std::exception&) {
        // A report that fails midway is simply not made; dispatch goes on with the next.
    }
}

}  // namespace

void WriteDailyTrafficReport(stats::LogContext& ctx, std::string& sendList) {
    ReportContent content;
    content.kind = ReportKind::DailyTraffic;
    try {
        if (!ReportEnabled(layout::setting::kRegDaily)) {
            return;
        }
        ctx.BeginTask();
        const platform::LocalDate today = platform::BreakDown(ctx.settings.clock->Now());
        content.day = today.day;
        content.month = today.month;
        content.year = today.year;
        // A list that fails midway still gives the records made before the failure.
        ForEachClient(ctx, [&ctx, &today, &content](const std::string& client) {
            const std::int64_t bytes = DailyClientBytes(ctx, today, client);
            content.traffic.push_back({client, LookupUserName(ctx, client), bytes});
        });
    } catch (const std::exception&) {
        // The records made before the failure still go into the report.
    }
    try {
        WriteReport(ctx, content, ReadReportSettings(), sendList);
    } catch (const std::exception&) {
        // Not written; dispatch goes on with the next report.
    }
}

void WriteWeeklyTrafficReport(stats::LogContext& ctx, std::string& sendList) {
    WriteClientTotalsReport(ctx, layout::setting::kRegWeekly, stats::Period::Week,
                            ReportKind::WeeklyTraffic, sendList);
}

void WriteMonthlyTrafficReport(stats::LogContext& ctx, std::string& sendList) {
    WriteClientTotalsReport(ctx, layout::setting::kRegMonthly, stats::Period::Month,
                            ReportKind::MonthlyTraffic, sendList);
}

}  // namespace reports
