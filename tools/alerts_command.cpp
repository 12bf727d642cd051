// `tallyctl alerts`: see alerts_command.h. Only the options given are written, and only when
// all of them are usable. What `show` prints of the logs has its control bytes as \xNN.
#include "tools/alerts_command.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>

#include "aggregator/alert_rules.h"
#include "aggregator/alert_state.h"
#include "aggregator/alert_text.h"
#include "common/control_bytes.h"
#include "common/layout.h"
#include "common/mail_file.h"
#include "common/registry_value.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text_mode.h"
#include "reports/user_names.h"
#include "stats/log_context.h"

namespace {

namespace setting = layout::setting;

constexpr std::uint32_t kSenderTimeoutMs = 180000;

int Usage() {
    std::fprintf(stderr,
                 "usage: tallyctl alerts set [--daily-mb N] [--spike-factor K] [--spike-min-mb N]\n"
                 "                           [--filters \"Name,Name\"] [--filter-count N]\n"
                 "                           [--max-per-hour N] [--metrics-file PATH]\n"
                 "       tallyctl alerts show\n"
                 "       tallyctl alerts test [--sender PATH]\n"
                 "A number 0 or an empty text turns that rule (or the metrics file) off.\n");
    return 2;
}

struct DwordOption {
    const char* flag;
    const char* value;
};
constexpr DwordOption kDwordOptions[] = {
    {"--daily-mb", setting::kAlertDailyMb},        {"--spike-factor", setting::kAlertSpikeFactor},
    {"--spike-min-mb", setting::kAlertSpikeMinMb}, {"--filter-count", setting::kAlertFilterCount},
    {"--max-per-hour", setting::kAlertMaxPerHour},
};
struct TextOption {
    const char* flag;
    const char* value;
};
constexpr TextOption kTextOptions[] = {
    {"--filters", setting::kAlertFilters},
    {"--metrics-file", setting::kMetricsFile},
};

bool ParseCount(const std::string& text, std::uint32_t* out) {
    if (text.empty() || text.size() > 7 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    *out = static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
    return true;
}

int RunSet(const std::vector<std::string>& args) {
    std::map<const char*, std::uint32_t> dwords;
    std::map<const char*, std::string> texts;
    for (std::size_t i = 1; i < args.size(); i += 2) {
        const std::string& flag = args[i];
        if (i + 1 >= args.size()) {
            std::fprintf(stderr, "tallyctl alerts: missing value after '%s'\n", flag.c_str());
            return Usage();
        }
        const std::string& value = args[i + 1];
        bool known = false;
        for (const DwordOption& o : kDwordOptions) {
            if (flag == o.flag) {
                known = true;
                std::uint32_t n = 0;
                if (!ParseCount(value, &n)) {
                    std::fprintf(stderr, "tallyctl alerts: %s wants a number up to 9999999\n",
                                 o.flag);
                    return 2;
                }
                dwords[o.value] = n;
            }
        }
        for (const TextOption& o : kTextOptions) {
            if (flag == o.flag) {
                known = true;
                if (value.find_first_of("\r\n") != std::string::npos) {
                    std::fprintf(stderr, "tallyctl alerts: %s wants one line\n", o.flag);
                    return 2;
                }
                texts[o.value] = value;
            }
        }
        if (!known) {
            std::fprintf(stderr, "tallyctl alerts: unknown option '%s'\n", flag.c_str());
            return Usage();
        }
    }
    if (dwords.empty() && texts.empty()) {
        return Usage();
    }
    for (const auto& [name, value] : dwords) {
        RegistryDword(layout::SettingPath(name), 0).Set(value);
    }
    for (const auto& [name, value] : texts) {
        RegistryString(layout::SettingPath(name), "").Set(value);
    }
    return 0;
}

std::string AppPath() {
    return RegistryString(layout::SettingPath(setting::kAppPath), "").Get();
}

int RunShow() {
    const AlertRules rules = ReadAlertRules();
    auto onOff = [](std::uint32_t v, const std::string& text) {
        return v == 0 ? std::string("off") : text;
    };
    std::printf("daily limit:    %s\n",
                onOff(rules.dailyMb, std::to_string(rules.dailyMb) + " MB").c_str());
    std::printf("traffic spike:  %s\n",
                onOff(rules.spikeFactor, std::to_string(rules.spikeFactor) +
                                             " x the median day of 28, at least " +
                                             std::to_string(rules.spikeMinMb) + " MB")
                    .c_str());
    std::printf("filter events:  %s\n", rules.filters.empty()
                                            ? "off"
                                            : (std::to_string(rules.filterCount) + " or more of " +
                                               EscapeControlBytes(rules.filtersText))
                                                  .c_str());
    std::printf("mails per hour: %u, then one summary\n", rules.maxPerHour);
    const std::string metrics =
        RegistryString(layout::SettingPath(setting::kMetricsFile), "").Get();
    std::printf("metrics file:   %s\n",
                metrics.empty() ? "off" : EscapeControlBytes(metrics).c_str());

    const std::string app = AppPath();
    if (app.empty()) {
        std::printf("\nno installation directory (apppath) set: no alerts to show\n");
        return 0;
    }
    AlertState state;
    const std::string path =
        platform::AppendPath(app, layout::InLogsFolder(layout::kAlertStateFile));
    // Read only: a damaged file is left for the service to set aside.
    std::string bytes;
    if (!platform::FileExists(path)) {
        std::printf("\nno alerts today\n");
        return 0;
    }
    if (!platform::ReadFileBytes(path, platform::ShareMode::None, &bytes, 8 << 20) ||
        !ParseAlertState(bytes, &state)) {
        std::printf("\nthe alert state file cannot be read\n");
        return 0;
    }
    // The service keeps the alerts of its current day only (and those waiting for a summary).
    std::string day;
    for (const FiredAlert& f : state.fired) {
        day = std::max(day, f.day);
    }
    stats::LogContext ctx;
    ctx.settings.appPath = app;
    std::size_t shown = 0;
    for (const FiredAlert& f : state.fired) {
        if (f.day != day) {
            continue;
        }
        if (shown++ == 0) {
            std::printf("\nalerts of %s:\n", day.c_str());
        }
        std::printf("  %02d:%02d  %-15s  %-16s  %-13s  %s (%s)%s\n", f.hour, f.minute,
                    EscapeControlBytes(f.client).c_str(),
                    EscapeControlBytes(reports::LookupUserName(ctx, f.client)).c_str(),
                    InfoOf(f.rule).name, AlertFigureText(f.rule, f.figure).c_str(),
                    AlertComparedText(f.rule, f.compared).c_str(),
                    f.inSummary ? ", waits for the hour's summary" : "");
    }
    if (shown == 0) {
        std::printf("\nno alerts today\n");
    }
    return 0;
}

int RunTest(const std::vector<std::string>& args) {
    std::string sender;
    for (std::size_t i = 1; i < args.size(); i += 2) {
        if (args[i] == "--sender" && i + 1 < args.size()) {
            sender = args[i + 1];
        } else {
            return Usage();
        }
    }
    const std::string app = AppPath();
    if (sender.empty()) {
        // Where the service looks: the proxy's directory, then beside the programs.
        for (const std::string& candidate :
             {app.empty() ? std::string() : platform::AppendPath(app, platform::kSenderProgram),
              platform::AppendPath(platform::DirectoryOf(platform::CurrentProgramPath()),
                                   platform::kSenderProgram)}) {
            if (!candidate.empty() && platform::FileExists(candidate)) {
                sender = candidate;
                break;
            }
        }
    }
    if (sender.empty()) {
        std::fprintf(stderr, "tallyctl alerts test: no mail sender found (give --sender)\n");
        return 2;
    }
    const std::time_t t = platform::SystemClock().Now();
    const platform::LocalDate now = platform::BreakDown(t);
    char when[32];
    std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d", now.year, now.month, now.day,
                  now.hour, now.minute);
    if (app.empty()) {
        std::fprintf(stderr,
                     "tallyctl alerts test: no installation directory (apppath) set; "
                     "the test mail is written where the service writes alert mails\n");
        return 2;
    }
    const std::string folder =
        platform::AppendPath(app, layout::InLogsFolder(layout::kAlertMailFolder));
    platform::CreateDirectories(folder);
    const std::string file =
        platform::AppendPath(folder, std::string(1, platform::kPathSeparator) + "test-" +
                                         std::to_string(static_cast<long long>(t)) + ".mail");
    if (!platform::ReplaceFileBytes(file,
                                    platform::ToTextMode(FormatMailFile(ComposeTestMail(when))))) {
        std::fprintf(stderr, "tallyctl alerts test: cannot write %s\n", file.c_str());
        return 2;
    }
    const int status = platform::RunProgram({sender, "-mail", file}, kSenderTimeoutMs);
    if (status == 0) {
        std::printf("test alert sent\n");
    } else {
        std::fprintf(stderr,
                     "tallyctl alerts test: the mail sender ended with status %d; its line in "
                     "the system log tells why\n",
                     status);
        platform::DeleteFileAt(file);
    }
    return status;
}

}  // namespace

int RunAlertsCommand(const std::vector<std::string>& args) {
    if (args.empty()) {
        return Usage();
    }
    if (args[0] == "set") {
        return RunSet(args);
    }
    if (args[0] == "show" && args.size() == 1) {
        return RunShow();
    }
    if (args[0] == "test") {
        return RunTest(args);
    }
    return Usage();
}
