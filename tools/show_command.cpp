// `tallyctl show [DIR]`: prints the summary files of an installation as readable tables, so
// an administrator sees what the proxy's interface will show: traffic per period and per
// client in MB (brisko.trf, brisko.011 to brisko.016) and counts of filter events per period
// and filter (brisko.001 to brisko.006). DIR is the installation directory or its Logs
// folder; without it the installation path comes from the registry. A missing or empty file
// is shown as such; exit status 2 for bad arguments, 1 when no summary file can be found.
#include "tools/show_command.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "common/layout.h"
#include "common/registry_value.h"
#include "platform/files.h"
#include "stats/statistics.h"
#include "stats/summary_lines.h"

namespace {

constexpr std::size_t kColumnsPerBand = 12;
constexpr std::size_t kNameWidthCap = 28;

std::string Megabytes(std::int64_t bytes) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

std::string Fit(const std::string& text, std::size_t width) {
    if (text.size() <= width) {
        return text;
    }
    return text.substr(0, width - 1) + "~";
}

// Prints rows (a name and its slots) in bands of at most kColumnsPerBand columns, with the
// row's total in MB first.
void PrintGrid(const char* nameHeader, const std::vector<std::string>& columns,
               const std::vector<stats::SlotLine>& rows) {
    std::size_t nameWidth = std::string(nameHeader).size();
    for (const auto& r : rows) {
        nameWidth = std::max(nameWidth, r.name.size());
    }
    nameWidth = std::min(nameWidth, kNameWidthCap);
    for (std::size_t band = 0; band < columns.size(); band += kColumnsPerBand) {
        const std::size_t end = std::min(columns.size(), band + kColumnsPerBand);
        std::printf("    %-*s %10s", static_cast<int>(nameWidth), nameHeader, "total");
        for (std::size_t c = band; c < end; ++c) {
            std::printf(" %9s", columns[c].c_str());
        }
        std::printf("\n");
        for (const auto& r : rows) {
            std::int64_t total = 0;
            for (std::int64_t v : r.slots) {
                total += v;
            }
            std::printf("    %-*s %10s", static_cast<int>(nameWidth),
                        Fit(r.name, nameWidth).c_str(), Megabytes(total).c_str());
            for (std::size_t c = band; c < end; ++c) {
                std::printf(" %9s", c < r.slots.size() ? Megabytes(r.slots[c]).c_str() : "-");
            }
            std::printf("\n");
        }
        if (end < columns.size()) {
            std::printf("\n");
        }
    }
}

// Reads a summary file; false (and a note) when it is absent or unreadable.
bool ReadSummary(const std::string& logs, const std::string& name, std::string* bytes) {
    if (!platform::ReadFileBytes(logs + name, platform::ShareMode::None, bytes)) {
        std::printf("  %s: missing or unreadable\n", name.c_str());
        return false;
    }
    if (bytes->empty()) {
        std::printf("  %s: empty\n", name.c_str());
        return false;
    }
    return true;
}

void ShowTraffic(const std::string& logs) {
    const char* file = layout::kTrafficSummaryFile;
    const stats::KindInfo& kind = stats::InfoOf(stats::Kind::Traffic);
    std::printf("%s, %s (%s)\n", kind.title, kind.unit, file);
    std::string bytes;
    if (!ReadSummary(logs, file, &bytes)) {
        return;
    }
    for (const std::string& line : stats::DecodeSummaryLines(bytes)) {
        stats::SlotLine parsed;
        if (!stats::ParseSlotLine(line, &parsed)) {
            std::printf("  unreadable line\n");
            continue;
        }
        // A line is known by its label: a task that failed leaves its line out.
        const stats::Statistic* statistic = stats::TrafficStatisticNamed(parsed.name);
        const std::vector<std::string> columns = statistic != nullptr
                                                     ? stats::SlotLabels(statistic->period)
                                                     : stats::NumberedLabels(parsed.slots.size());
        PrintGrid("period", columns, {parsed});
        std::printf("\n");
    }
}

void ShowClients(const std::string& logs) {
    const stats::KindInfo& kind = stats::InfoOf(stats::Kind::Client);
    for (const stats::PeriodInfo& period : stats::kPeriods) {
        const stats::Statistic& statistic = stats::StatisticOf(kind.kind, period.period);
        std::printf("\n%s, %s, %s (%s)\n", kind.title, statistic.title, kind.unit,
                    statistic.summaryFile);
        std::string bytes;
        if (!ReadSummary(logs, statistic.summaryFile, &bytes)) {
            continue;
        }
        std::vector<stats::SlotLine> rows;
        for (const std::string& line : stats::DecodeSummaryLines(bytes)) {
            stats::SlotLine parsed;
            if (stats::ParseSlotLine(line, &parsed)) {
                rows.push_back(parsed);
            }
        }
        PrintGrid("client", stats::SlotLabels(period.period), rows);
    }
}

// The filter name of a decoded filter record: its sixth blank-terminated token, with "_"
// shown as a blank.
std::string FilterNameOf(const std::string& record) {
    std::size_t start = 0;
    for (int token = 0; token < 6; ++token) {
        const std::size_t blank = record.find(' ', start);
        if (blank == std::string::npos) {
            return "(malformed)";
        }
        if (token == 5) {
            std::string name = record.substr(start, blank - start);
            std::replace(name.begin(), name.end(), '_', ' ');
            return name.empty() ? "(none)" : name;
        }
        start = blank + 1;
    }
    return "(malformed)";
}

void ShowFilters(const std::string& logs) {
    const stats::KindInfo& kind = stats::InfoOf(stats::Kind::Filter);
    for (const stats::PeriodInfo& period : stats::kPeriods) {
        const stats::Statistic& statistic = stats::StatisticOf(kind.kind, period.period);
        std::printf("\n%s, %s (%s)\n", kind.title, statistic.title, statistic.summaryFile);
        std::string bytes;
        if (!ReadSummary(logs, statistic.summaryFile, &bytes)) {
            continue;
        }
        std::map<std::string, long> byFilter;
        long total = 0;
        for (const std::string& line : stats::DecodeSummaryLines(bytes)) {
            ++byFilter[FilterNameOf(line)];
            ++total;
        }
        for (const auto& [filter, count] : byFilter) {
            std::printf("    %-32s %8ld\n", Fit(filter, 32).c_str(), count);
        }
        std::printf("    %-32s %8ld\n", "all filters", total);
    }
}

// The Logs folder of DIR (or DIR itself when it is one), or of the registered installation.
bool LocateLogs(const std::vector<std::string>& args, std::string* logs) {
    if (args.empty()) {
        RegistryString appPath(layout::SettingPath(layout::setting::kAppPath), "");
        const std::string app = appPath.Get();
        if (app.empty()) {
            return false;
        }
        *logs = platform::AppendPath(app, layout::kLogsFolder);
        return true;
    }
    const std::string dir = args[0];
    for (const std::string& candidate :
         {platform::AppendPath(dir, layout::InLogsFolder("")), platform::AppendPath(dir, "\\")}) {
        for (const char* probe : layout::kSummaryFiles) {
            if (platform::FileExists(candidate + probe)) {
                *logs = candidate;
                return true;
            }
        }
    }
    return false;
}

}  // namespace

int RunShowCommand(const std::vector<std::string>& args) {
    if (args.size() > 1 || (!args.empty() && (args[0] == "--help" || args[0] == "-h"))) {
        std::fprintf(stderr, "usage: tallyctl show [DIR]   (DIR: installation or Logs folder)\n");
        return 2;
    }
    std::string logs;
    if (!LocateLogs(args, &logs)) {
        std::fprintf(stderr, "tallyctl show: no summary files found%s%s\n",
                     args.empty() ? " (installation path not set)" : " in ",
                     args.empty() ? "" : args[0].c_str());
        return 1;
    }
    std::printf("Summary files in %s\n\n", logs.c_str());
    ShowTraffic(logs);
    ShowClients(logs);
    ShowFilters(logs);
    return 0;
}
