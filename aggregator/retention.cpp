// Log retention, the last step of every cycle: "1" in dellogdate starts a 30-day period
// today; when the stored first day of the period lies exactly 30 days back, the logs and
// daily reports of those 30 days and the weekly and monthly reports (each with its HTML
// twin) are deleted and the next period starts today. Nothing is reported: a file that
// cannot be deleted stays.
#include <string>
#include <vector>

#include "aggregator/aggregator_worker.h"
#include "common/layout.h"
#include "common/registry_value.h"
#include "platform/files.h"
#include "reports/report_format.h"
#include "stats/date_cursor.h"
#include "stats/log_names.h"

namespace {

constexpr int kPeriodDays = 30;
// A period holds 30 dates; the bound only matters when the clock jumped during the cycle.
constexpr int kMaxPasses = 31;

std::string DateText(int day, int month, int year) {
    return std::to_string(day) + "/" + std::to_string(month) + "/" + std::to_string(year);
}

void DeleteMatches(const std::string& appPath, const std::string& logsDir,
                   const std::string& pattern) {
    const std::string search = platform::AppendPath(appPath, layout::InLogsFolder(pattern));
    for (const std::string& name : platform::FindFiles(search)) {
        platform::DeleteFileAt(logsDir + name);
    }
}

// Deletes one date's traffic logs, filter log and daily reports, and the weekly and monthly
// reports.
void PurgeDate(const std::string& appPath, const std::string& logsDir, int day, int month,
               int year) {
    const std::string dayFirst = stats::DayStamp(day, month, year);
    DeleteMatches(appPath, logsDir, stats::TrafficLogName(dayFirst, "*.*"));
    DeleteMatches(appPath, logsDir, stats::FilterLogName(dayFirst));
    // Every report under the name it was written with: the daily traffic report names the
    // month first, so the report of this date is deleted and not that of another date. The
    // HTML twins go with their documents, whatever the report format is now.
    for (const reports::ReportKind kind : reports::kReportKinds) {
        for (const std::string& literal : {reports::ReportFileLiteral(kind, day, month, year),
                                           reports::HtmlTwinLiteral(kind, day, month, year)}) {
            platform::DeleteFileAt(platform::AppendPath(appPath, "\\" + literal));
        }
    }
}

}  // namespace

void AggregatorWorker::PurgeOldLogs(int day, int month, int year) {
    if (appPath.empty()) {
        return;  // every path would lose its directory
    }
    RegistryString dellogdate(layout::SettingPath(layout::setting::kDelLogDate), "");
    const std::string stored = dellogdate.Get();
    const std::string logsDir = platform::AppendPath(appPath, layout::InLogsFolder(""));
    const std::string today = DateText(day, month, year);

    if (stored == "1") {
        dellogdate.Set(today);
        return;
    }
    stats::DateCursor cursor(*Context().settings.clock);
    cursor.DaysFromToday(kPeriodDays, 0);
    int d = cursor.startDay;
    int m = cursor.startMonth;
    int y = cursor.startYear;
    if (stored != DateText(d, m, y)) {
        return;
    }
    for (int pass = 0; pass < kMaxPasses && DateText(d, m, y) != today; ++pass) {
        PurgeDate(appPath, logsDir, d, m, y);
        cursor.NextDay(d, m, y);
        d = cursor.nextDay;
        m = cursor.nextMonth;
        y = cursor.nextYear;
    }
    dellogdate.Set(today);
}
