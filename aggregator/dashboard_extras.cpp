// The dashboard's extras; see dashboard_extras.h.
#include "aggregator/dashboard_extras.h"

#include <cstdio>
#include <memory>

#include "aggregator/alert_rules.h"
#include "aggregator/alert_state.h"
#include "aggregator/alert_text.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "reports/user_names.h"

reports::DashboardExtras DashboardExtrasFor(const stats::LogContext& ctx,
                                            const std::string& alertStatePath, std::time_t now) {
    reports::DashboardExtras extras;
    auto names = std::make_shared<reports::UserNameTable>(reports::UserNameTable::Load(ctx));
    if (names->Opened()) {
        extras.userName = [names](std::string_view client) { return names->Of(client); };
    }
    const bool stateFile = platform::FileExists(alertStatePath);
    extras.alertsOn = ReadAlertRules().Any() || stateFile;
    AlertState state;
    if (!stateFile || LoadAlertState(alertStatePath, &state) != StateLoad::Loaded) {
        return extras;
    }
    const platform::LocalDate d = platform::BreakDown(now);
    char today[16];
    std::snprintf(today, sizeof today, "%04d-%02d-%02d", d.year, d.month, d.day);
    for (const FiredAlert& f : state.fired) {
        if (f.day != today) {
            continue;
        }
        char time[8];
        std::snprintf(time, sizeof time, "%02d:%02d", f.hour, f.minute);
        extras.alertsToday.push_back({time, f.client, names->Of(f.client), InfoOf(f.rule).name,
                                      AlertFigureText(f.rule, f.figure) + " (" +
                                          AlertComparedText(f.rule, f.compared) + ")"});
    }
    return extras;
}
