// Report dispatch, the first step of every cycle: in the first cycle of the report hour it
// runs the report writers the calendar calls for (daily every day, weekly on Fridays, monthly
// on the last day of the month), stores the written files in ToSendFile and starts the mail
// sender. Nothing is reported: registry writes and the sender start fail silently, and
// CreatedXml keeps a failed run from being repeated within the hour.
#include <string>
#include <vector>

#include "aggregator/aggregator_worker.h"
#include "common/registry_value.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "stats/date_cursor.h"

namespace {

constexpr int kFriday = 6;
constexpr std::uint32_t kWriterPauseMs = 5000;

}  // namespace

void AggregatorWorker::DispatchReports() {
    RegistryString reportTime("\\SOFTWARE\\BriskoFilter\\ReportTime", "");
    RegistryDword createdXml("\\SOFTWARE\\BriskoFilter\\CreatedXml", 0);
    RegistryString toSendFile("Software\\BriskoFilter\\ToSendFile", "");

    stats::LogContext& ctx = Context();
    const platform::LocalDate now = platform::BreakDown(ctx.clock->Now());
    stats::DateCursor cursor(*ctx.clock);
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

    using Writer = void (AggregatorWorker::*)();
    std::vector<Writer> writers = {&AggregatorWorker::WriteDailyFilterReport,
                                   &AggregatorWorker::WriteDailyTrafficReport};
    if (now.weekday == kFriday) {
        writers.push_back(&AggregatorWorker::WriteWeeklyFilterReport);
        writers.push_back(&AggregatorWorker::WriteWeeklyTrafficReport);
    }
    if (cursor.nextDay == 1) {
        writers.push_back(&AggregatorWorker::WriteMonthlyTrafficReport);
        writers.push_back(&AggregatorWorker::WriteMonthlyFilterReport);
    }
    for (Writer writer : writers) {
        (this->*writer)();
        if (!ctx.pacer->Pause(kWriterPauseMs)) {
            return;
        }
    }

    if (!sendList.empty()) {
        sendList.pop_back();
    }
    toSendFile.Set(sendList);
    // The sender reads ToSendFile itself; its start is not waited for and a failure changes
    // nothing here.
    if (!appPath.empty()) {
        platform::StartDetached(platform::AppendPath(appPath, platform::kSenderProgram));
    }
}
