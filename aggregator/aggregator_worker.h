// The worker of Tallyvane: the aggregation cycle (report dispatch, eighteen statistic tasks,
// thirteen summary files, log retention) repeated with a 60-second pause between cycles.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "aggregator/today_figures.h"
#include "aggregator/worker_thread.h"
#include "common/mail_file.h"
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
    // Each alert's line begins with kAlertPrefix; a problem of the alerts (a mail not handed
    // over, the state file) with kAlertProblemPrefix. The service logs both as errors.
    static constexpr char kAlertPrefix[] = "Alert: ";
    static constexpr char kAlertProblemPrefix[] = "Alerts: ";

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
    // Checks the alert rules against this cycle's figures (alert_step.cpp). The cycle does
    // this after the summary files when a rule is set or alerts wait for their summary mail.
    void CheckAlerts(const stats::CycleDate& date);
    // Writes the MetricsFile, when set, at the end of a cycle; false when not written.
    bool WriteMetricsFile(const stats::CycleDate& date, std::time_t cycleStart);
    std::string AlertStatePath() const;
    // Writes an alert mail as a file of the alert mail folder and hands it to the mail sender;
    // false when either fails.
    bool HandOverMail(const MailText& mail, const platform::LocalDate& now);
    // Who takes an alert mail's file (default: the mail sender, started with -mail FILE).
    void SetAlertMailer(std::function<bool(const std::string&)> mailer) {
        alertMailer_ = std::move(mailer);
    }

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
    // Starts the mail sender beside the proxy or, failing that, beside this program; false
    // when neither starts.
    bool StartSender(const std::vector<std::string>& arguments);
    // Sends the cycle's notes to the service's LogMessage when the verbose log is on.
    void ChooseVerboseLog();
    // The statistics' texts that a summary file receives, in the table's order.
    std::string SummaryFileContent(std::string_view name) const;
    void LogAlertProblem(const std::string& what);

    const platform::Clock& clock_;
    platform::Pacer& pacer_;
    ServiceHooks hooks_;
    stats::LogContext context_;
    std::array<std::string, stats::kStatisticCount> results_{};  // in the table's order
    std::function<void(const CycleStep&)> stepObserver_;
    bool forceVerbose_ = false;
    std::function<bool(const std::string&)> alertMailer_;
    // Today's figures as the alert step of this cycle gathered them, for the metrics file.
    std::optional<TodayFigures> today_;
    SpikeHistory spikeHistory_;   // the alert step's history sums, kept between cycles
    bool senderStarted_ = false;  // by this cycle's dispatch
};
