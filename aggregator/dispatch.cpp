// Report dispatch, the first step of every cycle: in the first cycle of the report hour it
// runs the report writers the calendar calls for (daily every day, weekly on Fridays, monthly
// on the last day of the month), stores the written files in ToSendFile and starts the mail
// sender. Nothing is reported: registry writes and the sender start fail silently, and
// CreatedXml keeps a failed run from being repeated within the hour.
#include <string>

#include "aggregator/aggregator_worker.h"
#include "common/layout.h"
#include "common/registry_value.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "reports/writers.h"
#include "stats/date_cursor.h"

namespace {

constexpr std::uint32_t kWriterPauseMs = 5000;

enum class Calendar { EveryDay, Friday, LastDayOfMonth };

// Whether the calendar calls for a writer today; lastDayOfMonth: tomorrow is the 1st.
bool IsDue(Calendar when, const platform::LocalDate& today, bool lastDayOfMonth) {
    switch (when) {
        case Calendar::EveryDay:
            return true;
        case Calendar::Friday:
            return today.weekday == platform::kFriday;
        case Calendar::LastDayOfMonth:
            return lastDayOfMonth;
    }
    return false;
}

// The report writers in the order they run when the calendar calls for them.
struct ReportRun {
    Calendar when;
    void (*write)(stats::LogContext& ctx, std::string& sendList);
};
constexpr ReportRun kReportRuns[] = {
    {Calendar::EveryDay, reports::WriteDailyFilterReport},
    {Calendar::EveryDay, reports::WriteDailyTrafficReport},
    {Calendar::Friday, reports::WriteWeeklyFilterReport},
    {Calendar::Friday, reports::WriteWeeklyTrafficReport},
    {Calendar::LastDayOfMonth, reports::WriteMonthlyTrafficReport},
    {Calendar::LastDayOfMonth, reports::WriteMonthlyFilterReport},
};

}  // namespace

void AggregatorWorker::DispatchReports() {
    RegistryString reportTime(layout::SettingPath(layout::setting::kReportTime), "");
    RegistryDword createdXml(layout::SettingPath(layout::setting::kCreatedXml), 0);
    RegistryString toSendFile(layout::SettingPath(layout::setting::kToSendFile), "");

    stats::LogContext& ctx = Context();
    const platform::LocalDate now = platform::BreakDown(ctx.settings.clock->Now());
    stats::DateCursor cursor(*ctx.settings.clock);
    cursor.NextDay(now.day, now.month, now.year);

    // The hour is compared as text, so "08" or " 8" never matches.
    if (std::to_string(now.hour) != reportTime.Get()) {
        if (createdXml.Get() == 1) {
            createdXml.Set(0);
        }
        return;
    }
    if (createdXml.Get() == 1) {
        return;
    }
    // Marked before writing, so a run cut short by a stop is not repeated after a restart.
    createdXml.Set(1);
    sendList.clear();

    const bool lastDayOfMonth = cursor.nextDay == 1;
    for (const ReportRun& run : kReportRuns) {
        if (!IsDue(run.when, now, lastDayOfMonth)) {
            continue;
        }
        run.write(ctx, sendList);
        if (!ctx.Pause(kWriterPauseMs)) {
            return;
        }
    }

    if (!sendList.empty()) {
        sendList.pop_back();
    }
    toSendFile.Set(sendList);
    // The sender reads ToSendFile itself; its start is not waited for and a failure changes
    // nothing here.
    senderStarted_ = StartSender({});
}
