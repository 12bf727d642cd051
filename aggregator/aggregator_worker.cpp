// The aggregation cycle: fixed steps with fixed pauses, then the thirteen summary files (and,
// when the Dashboard value asks for it, their page). A stop request ends any pause at once and
// the cycle at the next step or file boundary; every summary file is replaced atomically, so
// no file is ever left half-written.
#include "aggregator/aggregator_worker.h"

#include <vector>

#include "aggregator/alert_rules.h"
#include "aggregator/dashboard_extras.h"
#include "common/layout.h"
#include "common/outbox.h"
#include "common/registry_value.h"
#include "platform/files.h"
#include "platform/text_mode.h"
#include "reports/html_dashboard.h"
#include "stats/tasks.h"

namespace {

constexpr std::uint32_t kDispatchPause = 5000;
constexpr std::uint32_t kFirstTaskPause = 5000;
constexpr std::uint32_t kTaskPause = 3000;
constexpr std::uint32_t kSummaryFilePause = 5000;

const char* WriteFailure() {
    return " not written: it cannot be replaced (held open by another program, no access, a "
           "missing folder or a full disk) and keeps its previous content";
}

}  // namespace

AggregatorWorker::AggregatorWorker(const platform::Clock& clock, platform::Pacer& pacer,
                                   const ServiceHooks& hooks)
    : clock_(clock), pacer_(pacer), hooks_(hooks) {
    RegistryString path(layout::SettingPath(layout::setting::kAppPath), "");
    std::string value = path.Get();
    if (!value.empty()) {
        appPath = value;
    } else {
        if (hooks_.logMessage) {
            hooks_.logMessage(kMissingPathMessage);
        }
        if (hooks_.requestQuit) {
            hooks_.requestQuit();
        }
    }
    context_.settings.appPath = appPath;
    context_.settings.clock = &clock_;
    context_.settings.pacer = &pacer_;
    // The service is one long-lived process: a log that has not changed since it was last
    // read is not read again.
    context_.settings.reuseResults = true;
}

AggregatorWorker::~AggregatorWorker() {
    StopBeforeDestruction();
}

int AggregatorWorker::Run(int) {
    while (!pacer_.StopRequested()) {
        RunCycle();
        if (!pacer_.Pause(kCyclePauseMs)) {
            break;
        }
    }
    return 0;
}

void AggregatorWorker::RequestStop() {
    pacer_.RequestStop();
}

bool AggregatorWorker::Pause(std::uint32_t ms) {
    return pacer_.Pause(ms);
}

void AggregatorWorker::RunCycle() {
    // The date is taken once: a cycle that runs past midnight keeps its start date.
    const std::time_t cycleStart = clock_.Now();
    const stats::CycleDate date = stats::CycleDateOf(platform::BreakDown(cycleStart));
    for (std::string& result : results_) {
        result.clear();
    }
    today_.reset();
    // One listing of the log directory serves every search of the cycle.
    context_.BeginCycle();
    ChooseVerboseLog();

    if (!Pause(kDispatchPause)) {
        return;
    }
    Observe({"DispatchReports", {}, 0});
    senderStarted_ = false;
    DispatchReports();
    SendOutbox();
    // The tasks run grouped by period and, within a period, traffic, client, filter.
    for (std::size_t i = 0; i < stats::kStatisticCount; ++i) {
        const stats::Statistic& statistic = stats::kStatistics[i];
        if (!Pause(i == 0 ? kFirstTaskPause : kTaskPause)) {
            return;
        }
        CycleStep step{statistic.step, {}, 0};
        step.argCount = stats::StepArguments(statistic.args, date, step.args);
        Observe(step);
        stats::RunStatistic(context_, statistic, date, results_[i]);
    }
    if (!WriteSummaryFiles()) {
        return;
    }
    // Alerts, like the page, are a step of their own without a pause, taken only when a rule
    // is set (or a summary mail waits), so a cycle without them keeps its steps.
    if (ReadAlertRules().Any() || platform::FileExists(AlertStatePath())) {
        Observe({"CheckAlerts", {}, 0});
        CheckAlerts(date);
    }
    // The page is read by people, not by the proxy: off unless asked for, and then a step of
    // its own without a pause, so a cycle without it keeps its steps and pauses.
    if (RegistryDword(layout::SettingPath(layout::setting::kDashboard), 0).Get() == 1) {
        Observe({layout::kDashboardFile, {}, 0});
        if (!WriteDashboard()) {
            context_.Note(std::string(layout::kDashboardFile) + WriteFailure());
        }
    }
    Observe({"PurgeOldLogs", {date.day, date.month, date.year}, 3});
    PurgeOldLogs(date.day, date.month, date.year);
    if (!RegistryString(layout::SettingPath(layout::setting::kMetricsFile), "").Get().empty()) {
        Observe({"MetricsFile", {}, 0});
        if (!WriteMetricsFile(date, cycleStart)) {
            context_.Note(std::string(layout::setting::kMetricsFile) + WriteFailure());
        }
    }
}

void AggregatorWorker::ChooseVerboseLog() {
    // Read every cycle, so an administrator can turn it on without restarting the service.
    const bool on = forceVerbose_ ||
                    RegistryDword(layout::SettingPath(layout::setting::kVerboseLog), 0).Get() == 1;
    if (on && hooks_.logMessage) {
        context_.settings.verbose = hooks_.logMessage;
    } else {
        context_.settings.verbose = nullptr;
    }
}

void AggregatorWorker::Observe(const CycleStep& step) {
    if (stepObserver_) {
        stepObserver_(step);
    }
}

bool AggregatorWorker::WriteSummaryFiles() {
    for (std::size_t f = 0; f < layout::kSummaryFileCount; ++f) {
        const char* name = layout::kSummaryFiles[f];
        // The first file follows the last task like any step; the others come more slowly.
        if (!Pause(f == 0 ? kTaskPause : kSummaryFilePause)) {
            return false;
        }
        Observe({name, {}, 0});
        // Each file on its own: a failure (missing directory, file held open, full disk)
        // leaves that file as it was and the others are still written.
        try {
            if (!platform::ReplaceTextFile(
                    platform::AppendPath(appPath, layout::InLogsFolder(name)),
                    SummaryFileContent(name))) {
                context_.Note(std::string(name) + WriteFailure());
            }
        } catch (...) {
            context_.Note(std::string(name) + WriteFailure());
        }
    }
    return true;
}

std::string AggregatorWorker::SummaryFileContent(std::string_view name) const {
    std::string content;
    for (std::size_t i = 0; i < stats::kStatisticCount; ++i) {
        if (stats::kStatistics[i].summaryFile == name) {
            content += results_[i];
        }
    }
    return content;
}

bool AggregatorWorker::WriteDashboard() {
    if (appPath.empty()) {
        return false;
    }
    try {
        // A file of one statistic is its text as it stands; only brisko.trf is joined, so the
        // large filter extracts are not copied.
        std::array<std::string, layout::kSummaryFileCount> joined;
        reports::SummaryTexts texts;
        for (std::size_t f = 0; f < layout::kSummaryFileCount; ++f) {
            const std::string_view name = layout::kSummaryFiles[f];
            std::vector<std::size_t> parts;
            for (std::size_t i = 0; i < stats::kStatisticCount; ++i) {
                if (stats::kStatistics[i].summaryFile == name) {
                    parts.push_back(i);
                }
            }
            if (parts.size() == 1) {
                texts[f] = {true, results_[parts[0]]};
            } else {
                joined[f] = SummaryFileContent(name);
                texts[f] = {true, joined[f]};
            }
        }
        reports::DashboardExtras extras =
            DashboardExtrasFor(context_, AlertStatePath(), clock_.Now());
        extras.unsent = reports::UnsentMails(outbox::LogsDirOf(appPath));
        return platform::ReplaceTextFile(
            platform::AppendPath(appPath, layout::InLogsFolder(layout::kDashboardFile)),
            reports::RenderDashboard(texts, reports::PageTime(clock_.Now()), extras));
    } catch (...) {
        return false;  // like a summary file: this cycle's page is simply not written
    }
}
