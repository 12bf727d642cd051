// The aggregation cycle: fixed steps with fixed pauses, then the thirteen summary files.
// A stop request ends any pause at once and the cycle at the next step or file boundary;
// every summary file is replaced atomically, so no file is ever left half-written.
#include "aggregator/aggregator_worker.h"

#include <array>

#include "common/registry_value.h"
#include "platform/files.h"
#include "platform/text_mode.h"

namespace {

constexpr std::uint32_t kDispatchPause = 5000;
constexpr std::uint32_t kFirstTaskPause = 5000;
constexpr std::uint32_t kTaskPause = 3000;
constexpr std::uint32_t kSummaryFilePause = 5000;

}  // namespace

AggregatorWorker::AggregatorWorker(const platform::Clock& clock, platform::Pacer& pacer,
                                   const ServiceHooks& hooks)
    : clock_(clock), pacer_(pacer), hooks_(hooks) {
    RegistryString path("\\SOFTWARE\\BriskoFilter\\apppath", "");
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
    context_.appPath = appPath;
    context_.clock = &clock_;
    context_.pacer = &pacer_;
    // The service is one long-lived process: a log that has not changed since it was last
    // read is not read again.
    context_.reuseResults = true;
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

void AggregatorWorker::ClearSlots() {
    for (std::string* slot :
         {&clientWeek, &clientTwoWeeks, &clientMonth, &clientThreeMonths, &clientSixMonths,
          &clientYear, &trafficMonth, &trafficThreeMonths, &trafficSixMonths, &trafficYear,
          &trafficWeek, &trafficTwoWeeks, &filterWeek, &filterTwoWeeks, &filterMonth,
          &filterThreeMonths, &filterSixMonths, &filterYear}) {
        slot->clear();
    }
}

void AggregatorWorker::RunCycle() {
    // The date is taken once: a cycle that runs past midnight keeps its start date.
    const platform::LocalDate today = platform::BreakDown(clock_.Now());
    const int day = today.day, month = today.month, year = today.year;
    const int weekday = today.weekday;
    ClearSlots();
    // One listing of the log directory serves every search of the cycle.
    context_.BeginCycle();

    struct Step {
        std::uint32_t pauseBefore;
        CycleStep step;
        std::function<void()> call;
    };
    // The tasks run grouped by period and, within a period, traffic, client, filter.
    const Step steps[] = {
        {kDispatchPause, {"DispatchReports", {}, 0}, [&] { DispatchReports(); }},
        {kFirstTaskPause, {"BuildTrafficWeek", {weekday}, 1}, [&] { BuildTrafficWeek(weekday); }},
        {kTaskPause, {"BuildClientWeek", {weekday}, 1}, [&] { BuildClientWeek(weekday); }},
        {kTaskPause, {"CollectFilterWeek", {weekday}, 1}, [&] { CollectFilterWeek(weekday); }},
        {kTaskPause, {"BuildTrafficTwoWeeks", {}, 0}, [&] { BuildTrafficTwoWeeks(); }},
        {kTaskPause, {"BuildClientTwoWeeks", {}, 0}, [&] { BuildClientTwoWeeks(); }},
        {kTaskPause, {"CollectFilterTwoWeeks", {}, 0}, [&] { CollectFilterTwoWeeks(); }},
        {kTaskPause,
         {"BuildTrafficMonth", {month, year}, 2},
         [&] { BuildTrafficMonth(month, year); }},
        {kTaskPause,
         {"BuildClientMonth", {month, year}, 2},
         [&] { BuildClientMonth(month, year); }},
        {kTaskPause,
         {"CollectFilterMonth", {month, year}, 2},
         [&] { CollectFilterMonth(month, year); }},
        {kTaskPause,
         {"BuildTrafficThreeMonths", {month, year}, 2},
         [&] { BuildTrafficThreeMonths(month, year); }},
        {kTaskPause,
         {"BuildClientThreeMonths", {month, year}, 2},
         [&] { BuildClientThreeMonths(month, year); }},
        {kTaskPause,
         {"CollectFilterThreeMonths", {month, year}, 2},
         [&] { CollectFilterThreeMonths(month, year); }},
        {kTaskPause,
         {"BuildTrafficSixMonths", {month, year}, 2},
         [&] { BuildTrafficSixMonths(month, year); }},
        {kTaskPause,
         {"BuildClientSixMonths", {month, year}, 2},
         [&] { BuildClientSixMonths(month, year); }},
        {kTaskPause,
         {"CollectFilterSixMonths", {month, year}, 2},
         [&] { CollectFilterSixMonths(month, year); }},
        {kTaskPause, {"BuildTrafficYear", {year}, 1}, [&] { BuildTrafficYear(year); }},
        {kTaskPause, {"BuildClientYear", {year}, 1}, [&] { BuildClientYear(year); }},
        {kTaskPause, {"CollectFilterYear", {year}, 1}, [&] { CollectFilterYear(year); }},
    };
    for (const Step& step : steps) {
        if (!Pause(step.pauseBefore)) {
            return;
        }
        Observe(step.step);
        step.call();
    }
    if (!WriteSummaryFiles()) {
        return;
    }
    Observe({"PurgeOldLogs", {day, month, year}, 3});
    PurgeOldLogs(day, month, year);
}

void AggregatorWorker::Observe(const CycleStep& step) {
    if (stepObserver_) {
        stepObserver_(step);
    }
}

bool AggregatorWorker::WriteSummaryFiles() {
    struct SummaryFile {
        const char* literal;
        std::uint32_t pauseBefore;
        std::array<const std::string*, 6> texts;
    };
    const SummaryFile files[] = {
        {"\\Logs\\brisko.trf",
         kTaskPause,
         {&trafficWeek, &trafficTwoWeeks, &trafficMonth, &trafficThreeMonths, &trafficSixMonths,
          &trafficYear}},
        {"\\Logs\\brisko.001", kSummaryFilePause, {&filterWeek}},
        {"\\Logs\\brisko.002", kSummaryFilePause, {&filterTwoWeeks}},
        {"\\Logs\\brisko.003", kSummaryFilePause, {&filterMonth}},
        {"\\Logs\\brisko.004", kSummaryFilePause, {&filterThreeMonths}},
        {"\\Logs\\brisko.005", kSummaryFilePause, {&filterSixMonths}},
        {"\\Logs\\brisko.006", kSummaryFilePause, {&filterYear}},
        {"\\Logs\\brisko.011", kSummaryFilePause, {&clientWeek}},
        {"\\Logs\\brisko.012", kSummaryFilePause, {&clientTwoWeeks}},
        {"\\Logs\\brisko.013", kSummaryFilePause, {&clientMonth}},
        {"\\Logs\\brisko.014", kSummaryFilePause, {&clientThreeMonths}},
        {"\\Logs\\brisko.015", kSummaryFilePause, {&clientSixMonths}},
        {"\\Logs\\brisko.016", kSummaryFilePause, {&clientYear}},
    };
    for (const SummaryFile& file : files) {
        if (!Pause(file.pauseBefore)) {
            return false;
        }
        Observe({file.literal + 6, {}, 0});  // the name after the "\\Logs\\" prefix
        // Each file on its own: a failure (missing directory, file held open, full disk)
        // leaves that file as it was and the others are still written.
        try {
            std::string content;
            for (const std::string* text : file.texts) {
                if (text != nullptr) {
                    content += *text;
                }
            }
            platform::ReplaceTextFile(platform::AppendPath(appPath, file.literal), content);
        } catch (...) {
        }
    }
    return true;
}
