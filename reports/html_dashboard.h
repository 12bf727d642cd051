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

// madeAt: when the page was made, as shown under its title.
std::string RenderDashboard(const SummaryTexts& files, std::string_view madeAt,
                            const std::vector<UnsentMail>& unsent = {});

// "2026-07-31 18:00", the form madeAt takes.
std::string PageTime(std::time_t when);

}  // namespace reports
