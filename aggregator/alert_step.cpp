// The alert step at the end of a cycle: checks the rules against the cycle's figures, fires
// each alert once per client, rule and day (remembered in the state file), logs a line for
// each and hands its mail to the mail sender as a file; beyond AlertMaxPerHour mails in an
// hour the alerts wait for one summary mail, sent by the first cycle of a later hour. A mail
// that cannot be handed over is logged and not retried: the alert itself is in the log.
#include <algorithm>
#include <cstdio>

#include "aggregator/aggregator_worker.h"
#include "aggregator/alert_state.h"
#include "aggregator/alert_text.h"
#include "aggregator/today_figures.h"
#include "common/layout.h"
#include "common/mail_file.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text_mode.h"
#include "reports/user_names.h"

namespace {

std::string DayText(const platform::LocalDate& d) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", d.year, d.month, d.day);
    return text;
}

std::string HourText(const platform::LocalDate& d) {
    char text[8];
    std::snprintf(text, sizeof text, " %02d", d.hour);
    return DayText(d) + text;
}

// Mails the sender could not send stay in the folder; beyond this many the oldest go, so a
// mail server that is down for weeks cannot fill the disk.
constexpr std::size_t kMaxWaitingMails = 500;

void KeepFolderBounded(const std::string& folder) {
    std::vector<platform::DirEntry> entries;
    if (!platform::ListDirectory(folder, &entries) || entries.size() < kMaxWaitingMails) {
        return;
    }
    std::sort(entries.begin(), entries.end(),
              [](const platform::DirEntry& a, const platform::DirEntry& b) {
                  return a.mtimeNs < b.mtimeNs;
              });
    for (std::size_t i = 0; i + kMaxWaitingMails <= entries.size(); ++i) {
        platform::DeleteFileAt(folder + platform::kPathSeparator + entries[i].name);
    }
}

std::string MinuteText(int hour, int minute) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", hour, minute);
    return text;
}

}  // namespace

std::string AggregatorWorker::AlertStatePath() const {
    return platform::AppendPath(appPath, layout::InLogsFolder(layout::kAlertStateFile));
}

bool AggregatorWorker::StartSender(const std::vector<std::string>& args) {
    // An installed package keeps the sender beside this program rather than in the proxy's
    // directory.
    if (appPath.empty()) {
        return false;
    }
    return platform::StartDetached(platform::AppendPath(appPath, platform::kSenderProgram), args) ||
           platform::StartDetached(
               platform::AppendPath(platform::DirectoryOf(platform::CurrentProgramPath()),
                                    platform::kSenderProgram),
               args);
}

bool AggregatorWorker::HandOverMail(const MailText& mail, const platform::LocalDate& now) {
    const std::string folder =
        platform::AppendPath(appPath, layout::InLogsFolder(layout::kAlertMailFolder));
    platform::CreateDirectories(folder);
    KeepFolderBounded(folder);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", now.year, now.month, now.day,
                  now.hour, now.minute, now.second);
    std::string path;
    for (int n = 1;; ++n) {
        path = folder + platform::kPathSeparator + stamp + "-" + std::to_string(n) + ".mail";
        if (!platform::FileExists(path) || n > 10000) {
            break;
        }
    }
    if (!platform::ReplaceFileBytes(path, platform::ToTextMode(FormatMailFile(mail)))) {
        return false;
    }
    if (alertMailer_) {
        return alertMailer_(path);
    }
    return StartSender({"-mail", path});
}

void AggregatorWorker::LogAlertProblem(const std::string& what) {
    if (hooks_.logMessage) {
        hooks_.logMessage(std::string(kAlertProblemPrefix) + what);
    }
}

void AggregatorWorker::CheckAlerts(const stats::CycleDate& date) {
    const AlertRules rules = ReadAlertRules();
    const std::string statePath = AlertStatePath();
    AlertState state;
    const StateLoad load = LoadAlertState(statePath, &state);
    if (!rules.Any() && load != StateLoad::Loaded) {
        return;  // nothing to check and nothing waiting
    }
    if (load == StateLoad::Damaged) {
        LogAlertProblem("the alert state file could not be read; it was set aside as " +
                        std::string(layout::kAlertStateFile) + layout::kDamagedSuffix +
                        " and today's alerts may repeat once");
    }
    const platform::LocalDate now = platform::BreakDown(clock_.Now());
    const std::string today = DayText({date.day, date.month, date.year, 0, 0, 0, 0});
    const std::string hour = HourText(now);
    state.KeepDay(today);
    bool changed = load != StateLoad::Loaded;
    // Mails go out once the state that remembers them is saved, so a stop in between loses a
    // mail rather than repeating an alert.
    struct Outgoing {
        MailText mail;
        std::string what;
    };
    std::vector<Outgoing> outgoing;

    // The hour is over for alerts that waited: one mail for all of them.
    if (state.mailHour != hour) {
        std::vector<SummaryEntry> waiting;
        for (FiredAlert& f : state.fired) {
            if (f.inSummary) {
                waiting.push_back({{f.client, f.rule, f.figure, f.compared, {}},
                                   reports::LookupUserName(context_, f.client),
                                   MinuteText(f.hour, f.minute)});
                f.inSummary = false;
            }
        }
        if (!waiting.empty()) {
            outgoing.push_back({ComposeSummaryMail(waiting, state.mailHour),
                                "the summary mail of the hour " + state.mailHour + ":00"});
        }
        state.mailHour = hour;
        state.mailsInHour = 0;
        state.KeepDay(today);
        changed = true;
    }

    if (rules.Any()) {
        today_ = GatherToday(context_, date, Result(stats::Kind::Client, stats::Period::TwoWeeks),
                             Result(stats::Kind::Traffic, stats::Period::TwoWeeks),
                             {&rules, rules.spikeFactor != 0, &spikeHistory_});
        const TodayFigures& figures = *today_;
        const std::string when = DayText(now) + " " + MinuteText(now.hour, now.minute);
        for (const Alert& alert : CheckAlertRules(rules, figures.clients)) {
            if (state.HasFired(today, alert.rule, alert.client)) {
                continue;
            }
            const std::string user = reports::LookupUserName(context_, alert.client);
            FiredAlert fired{today,        now.hour,       now.minute, alert.rule,
                             alert.figure, alert.compared, false,      alert.client};
            if (hooks_.logMessage) {
                hooks_.logMessage(AlertLogLine(alert, user));
            }
            if (state.mailsInHour < rules.maxPerHour) {
                ++state.mailsInHour;
                outgoing.push_back({ComposeAlertMail(alert, {user, when, &rules}),
                                    "the mail of " + OneLine(alert.client, kMaxClientText) + " " +
                                        InfoOf(alert.rule).name});
            } else {
                fired.inSummary = true;
            }
            state.fired.push_back(std::move(fired));
            changed = true;
        }
    }
    if (changed && !SaveAlertState(statePath, state)) {
        LogAlertProblem("the alert state file could not be replaced; alerts may repeat");
    }
    for (const Outgoing& o : outgoing) {
        if (!HandOverMail(o.mail, now)) {
            LogAlertProblem(o.what + " could not be handed to the mail sender");
        }
    }
}
