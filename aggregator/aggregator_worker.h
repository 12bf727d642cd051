// The worker of Tallyvane: the aggregation cycle (report dispatch, eighteen statistic tasks,
// thirteen summary files, log retention) repeated with a 60-second pause between cycles.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "aggregator/worker_thread.h"
#include "platform/clock.h"
#include "platform/pacer.h"
#include "stats/log_context.h"
#include "stats/statistics.h"

// One step of the cycle as it begins, with the arguments it is given (for observers).
struct CycleStep {
    const char* name;
    int args[3];
    int argCount;
};

// What the worker needs from the program that hosts it.
struct ServiceHooks {
    std::function<void(const std::string&)> logMessage;  // the service's LogMessage
    std::function<void()> requestQuit;                   // post the quit request to its loop
};

class AggregatorWorker : public WorkerThread {
  public:
    static constexpr std::uint32_t kCyclePauseMs = 60000;
    static constexpr char kMissingPathMessage[] =
        "Unable to get the Brisko Web Proxy path from registry. Please reinstall the "
        "application in order to fix this problem";

    // Reads appPath from the registry; a missing path is reported through the hooks.
    AggregatorWorker(const platform::Clock& clock, platform::Pacer& pacer,
                     const ServiceHooks& hooks);
    ~AggregatorWorker() override;

    void RunCycle();

    void DispatchReports();
    // Right after dispatch: starts the mail sender for the outbox when an entry there is due,
    // no sender is at work and dispatch did not start one this cycle (outbox_step.cpp).
    void SendOutbox();
    void PurgeOldLogs(int day, int month, int year);

    // Writes the thirteen summary files, each after its pause, once the statistic tasks have
    // run. False when a stop ended it early.
    bool WriteSummaryFiles();
    // Writes the page of this cycle's summary files as Logs\summary.html. The cycle does this
    // right after the summary files when the Dashboard value is 1; false when not written.
    bool WriteDashboard();

    // Called as each step begins ("BuildTrafficWeek" with its arguments, "brisko.001", ...).
    void SetStepObserver(std::function<void(const CycleStep&)> observer) {
        stepObserver_ = std::move(observer);
    }

    // The text of a statistic as its task left it in this cycle (empty before the task ran
    // or when it failed). SetResult puts a text in its place (for tests and tools).
    const std::string& Result(stats::Kind kind, stats::Period period) const {
        return results_[stats::IndexOf(kind, period)];
    }
    void SetResult(stats::Kind kind, stats::Period period, std::string text) {
        results_[stats::IndexOf(kind, period)] = std::move(text);
    }

    // Makes the verbose log on for every cycle whatever the registry says (tallyctl cycle
    // --verbose); otherwise each cycle reads VerboseLog at its start.
    void ForceVerboseLog() { forceVerbose_ = true; }

    const std::string& AppPath() const { return appPath; }
    bool HasAppPath() const { return !appPath.empty(); }
    stats::LogContext& Context() { return context_; }

    std::string sendList;
    std::string appPath;

  protected:
    int Run(int argument) override;
    void RequestStop() override;

  private:
    // Pauses before a step; false when a stop was requested, which ends the cycle.
    bool Pause(std::uint32_t ms);
    void Observe(const CycleStep& step);
    // Starts the mail sender beside the proxy or, failing that, beside this program.
    bool StartSender(const std::vector<std::string>& arguments);
    // Sends the cycle's notes to the service's LogMessage when the verbose log is on.
    void ChooseVerboseLog();
    // The statistics' texts that a summary file receives, in the table's order.
    std::string SummaryFileContent(std::string_view name) const;

    const platform::Clock& clock_;
    platform::Pacer& pacer_;
    ServiceHooks hooks_;
    stats::LogContext context_;
    std::array<std::string, stats::kStatisticCount> results_{};  // in the table's order
    std::function<void(const CycleStep&)> stepObserver_;
    bool forceVerbose_ = false;
    bool senderStarted_ = false;  // by this cycle's dispatch
};
