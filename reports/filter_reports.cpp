// The daily, weekly and monthly filter activity reports: one record per filter-log line, read
// from today's filter log or from the filter extracts of the previous cycle, written in the
// installation's report format. A report whose input cannot be read, or that has no line, is
// not made; nothing is reported.
#include <exception>
#include <functional>
#include <string>

#include "common/layout.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "reports/filter_line.h"
#include "reports/input_lines.h"
#include "reports/report_content.h"
#include "reports/report_gate.h"
#include "reports/report_output.h"
#include "reports/writers.h"
#include "stats/log_names.h"
#include "stats/statistics.h"

namespace reports {

namespace {

// The input's lines as events, read from the first line again for every pass. The input
// stays open without sharing between the passes, so each pass sees the same lines. A line too
// long to read whole gives its event with its fields cut, noted once in the verbose log.
class InputEvents : public FilterEventSource {
  public:
    InputEvents(const stats::LogContext& ctx, const std::string& name)
        : ctx_(ctx),
          name_(name),
          reader_(platform::AppendPath(ctx.settings.appPath, layout::InLogsFolder(name)),
                  platform::ShareMode::None, LongLines::KeepFilterEvent) {}
    bool Opened() const { return reader_.Opened(); }

    bool ForEach(const std::function<bool(const FilterFields&)>& onEvent) override {
        if (passes_++ > 0 && !reader_.Rewind()) {
            return false;
        }
        while (reader_.Next(&line_)) {
            SplitFilterLine(line_, event_);
            if (!onEvent(event_)) {
                return false;
            }
        }
        if (passes_ == 1 && reader_.LongLinesKept() != 0 && ctx_.Verbose()) {
            ctx_.Note(stats::LongLinesNote(name_, reader_.LongLinesKept()));
        }
        return !reader_.Failed();
    }

  private:
    const stats::LogContext& ctx_;
    std::string name_;
    DecodedLineReader reader_;
    int passes_ = 0;
    std::string line_;
    FilterFields event_;
};

// summary: the statistic whose summary file holds the input; null for today's filter log.
void WriteGatedFilterReport(stats::LogContext& ctx, const char* gate, ReportKind kind,
                            const stats::Statistic* summary, std::string& sendList) {
    try {
        if (!ReportEnabled(gate)) {
            return;
        }
        const platform::LocalDate today = platform::BreakDown(ctx.settings.clock->Now());
        const std::string input =
            summary != nullptr
                ? summary->summaryFile
                : stats::FilterLogName(stats::DayStamp(today.day, today.month, today.year));
        InputEvents events(ctx, input);
        if (!events.Opened()) {
            return;
        }
        reports::WriteFilterReport(ctx, {kind, today.day, today.month, today.year}, events,
                                   ReadReportSettings(), sendList);
    } catch (const std::exception&) {
        // A report that fails midway is simply not made; dispatch goes on with the next.
    }
}

}  // namespace

void WriteDailyFilterReport(stats::LogContext& ctx, std::string& sendList) {
    WriteGatedFilterReport(ctx, layout::setting::kRegDayFilter, ReportKind::DailyFilter, nullptr,
                           sendList);
}

void WriteWeeklyFilterReport(stats::LogContext& ctx, std::string& sendList) {
    WriteGatedFilterReport(ctx, layout::setting::kRegWeekFilter, ReportKind::WeeklyFilter,
                           &stats::StatisticOf(stats::Kind::Filter, stats::Period::Week), sendList);
}

void WriteMonthlyFilterReport(stats::LogContext& ctx, std::string& sendList) {
    WriteGatedFilterReport(ctx, layout::setting::kRegMonFilter, ReportKind::MonthlyFilter,
                           &stats::StatisticOf(stats::Kind::Filter, stats::Period::Month),
                           sendList);
}

}  // namespace reports
