// The dashboard: one standalone page of the thirteen summary files. The proxy's traffic of
// each period as a column chart with its total, the clients of each period as a chart of the
// largest and a complete table, and the filter events per category and period. Headings,
// periods and column labels come from the statistics table, as tallyctl show has them. A
// missing or empty file is shown as such; without any traffic, client or filter event (no
// cycle yet, or an installation without logs) the page says there is nothing yet. A report
// mail that failed for good is named at the top. Rendering never fails.
#pragma once

#include <array>
#include <cstddef>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/layout.h"

namespace reports {

// One summary file's bytes as stored (text mode) or as the cycle holds them (line feeds).
struct SummaryFileText {
    bool present = false;
    std::string_view bytes;
};
// In the order of layout::kSummaryFiles.
using SummaryTexts = std::array<SummaryFileText, layout::kSummaryFileCount>;

// The place of a summary file in layout::kSummaryFiles.
std::size_t SummaryFileIndex(std::string_view name);

// A report mail that will not be sent (an entry of the outbox's failed folder): which, when
// it failed, why. The page puts one "Mail not sent" line at its top for each.
struct UnsentMail {
    std::string what;  // its reports' names, or its subject
    std::string when;  // PageTime of its last try
    std::string why;   // the line its failure was reported with
};
// The failed mails below the Logs folder, oldest first; none when there is no outbox.
std::vector<UnsentMail> UnsentMails(const std::string& logsDir);

// One alert of today as the page lists it, every field as people read it.
struct DashboardAlert {
    std::string time;  // HH:MM
    std::string client;
    std::string userName;
    std::string rule;
    std::string figure;  // the figure and what it was compared with
};
// What the page shows beside the summary files when the installation has it.
struct DashboardExtras {
    // The user name of a client; when set, the client tables get a column of names.
    std::function<std::string(std::string_view)> userName;
    bool alertsOn = false;  // an "Alerts today" section, with these alerts or none
    std::vector<DashboardAlert> alertsToday;
    std::vector<UnsentMail> unsent;  // "Mail not sent" lines at the page's top
};
// madeAt: when the page was made, as shown under its title. Without extras the page is the
// summary files' alone.
std::string RenderDashboard(const SummaryTexts& files, std::string_view madeAt,
                            const DashboardExtras& extras = {});

// "2026-07-31 18:00", the form madeAt takes.
std::string PageTime(std::time_t when);

}  // namespace reports
