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

#include "common/registry_value.h"
#include "platform/files.h"
#include "stats/base64.h"
#include "stats/summary_lines.h"

namespace {

constexpr std::size_t kColumnsPerBand = 12;
constexpr std::size_t kNameWidthCap = 28;

struct Period {
    const char* title;
    std::vector<std::string> columns;
};

std::vector<std::string> Numbered(int count, int first) {
    std::vector<std::string> labels;
    for (int i = 0; i < count; ++i)
        labels.push_back(std::to_string(first + i));
    return labels;
}

std::vector<std::string> Relative(int count, const char* unit) {
    std::vector<std::string> labels;
    for (int i = count - 1; i > 0; --i)
        labels.push_back("-" + std::to_string(i) + unit);
    labels.push_back(std::string("this") + (unit[0] == 'd' ? " day" : " mon"));
    return labels;
}

// The six periods in the order of brisko.trf and of the numbered files.
std::vector<Period> Periods() {
    return {
        {"Current week", {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"}},
        {"Last two weeks", Relative(14, "d")},
        {"Previous month", Numbered(31, 1)},
        {"Last three months", Relative(3, "m")},
        {"Last six months", Relative(6, "m")},
        {"Current year",
         {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"}},
    };
}

std::string Megabytes(std::int64_t bytes) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

std::string Fit(const std::string& text, std::size_t width) {
    if (text.size() <= width)
        return text;
    return text.substr(0, width - 1) + "~";
}

// Prints rows (a name and its slots) in bands of at most kColumnsPerBand columns, with the
// row's total in MB first.
void PrintGrid(const char* nameHeader, const std::vector<std::string>& columns,
               const std::vector<stats::SlotLine>& rows) {
    std::size_t nameWidth = std::string(nameHeader).size();
    for (const auto& r : rows)
        nameWidth = std::max(nameWidth, r.name.size());
    nameWidth = std::min(nameWidth, kNameWidthCap);
    for (std::size_t band = 0; band < columns.size(); band += kColumnsPerBand) {
        const std::size_t end = std::min(columns.size(), band + kColumnsPerBand);
        std::printf("    %-*s %10s", static_cast<int>(nameWidth), nameHeader, "total");
        for (std::size_t c = band; c < end; ++c)
            std::printf(" %9s", columns[c].c_str());
        std::printf("\n");
        for (const auto& r : rows) {
            std::int64_t total = 0;
            for (std::int64_t v : r.slots)
                total += v;
            std::printf("    %-*s %10s", static_cast<int>(nameWidth),
                        Fit(r.name, nameWidth).c_str(), Megabytes(total).c_str());
            for (std::size_t c = band; c < end; ++c) {
                std::printf(" %9s", c < r.slots.size() ? Megabytes(r.slots[c]).c_str() : "-");
            }
            std::printf("\n");
        }
        if (end < columns.size())
            std::printf("\n");
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

void ShowTraffic(const std::string& logs, const std::vector<Period>& periods) {
    std::printf("Traffic of the proxy, MB (brisko.trf)\n");
    std::string bytes;
    if (!ReadSummary(logs, "brisko.trf", &bytes))
        return;
    for (const std::string& line : stats::DecodeSummaryLines(bytes)) {
        stats::SlotLine parsed;
        if (!stats::ParseSlotLine(line, &parsed)) {
            std::printf("  unreadable line\n");
            continue;
        }
        const Period* period = nullptr;
        for (const Period& p : periods) {
            if (p.columns.size() == parsed.slots.size())
                period = &p;
        }
        std::vector<std::string> columns =
            period ? period->columns : Numbered(static_cast<int>(parsed.slots.size()), 1);
        PrintGrid("period", columns, {parsed});
        std::printf("\n");
    }
}

void ShowClients(const std::string& logs, const std::vector<Period>& periods) {
    for (std::size_t i = 0; i < periods.size(); ++i) {
        const std::string name = "brisko.01" + std::to_string(i + 1);
        std::printf("\nTraffic per client, %s, MB (%s)\n", periods[i].title, name.c_str());
        std::string bytes;
        if (!ReadSummary(logs, name, &bytes))
            continue;
        std::vector<stats::SlotLine> rows;
        for (const std::string& line : stats::DecodeSummaryLines(bytes)) {
            stats::SlotLine parsed;
            if (stats::ParseSlotLine(line, &parsed))
                rows.push_back(parsed);
        }
        PrintGrid("client", periods[i].columns, rows);
    }
}

// The filter name of a decoded filter record: its sixth blank-terminated token, with "_"
// shown as a blank.
std::string FilterNameOf(const std::string& record) {
    std::size_t start = 0;
    for (int token = 0; token < 6; ++token) {
        const std::size_t blank = record.find(' ', start);
        if (blank == std::string::npos)
            return "(malformed)";
        if (token == 5) {
            std::string name = record.substr(start, blank - start);
            std::replace(name.begin(), name.end(), '_', ' ');
            return name.empty() ? "(none)" : name;
        }
        start = blank + 1;
    }
    return "(malformed)";
}

void ShowFilters(const std::string& logs, const std::vector<Period>& periods) {
    for (std::size_t i = 0; i < periods.size(); ++i) {
        const std::string name = "brisko.00" + std::to_string(i + 1);
        const char* title = i == 1 ? "Last fifteen days" : periods[i].title;
        std::printf("\nFilter events, %s (%s)\n", title, name.c_str());
        std::string bytes;
        if (!ReadSummary(logs, name, &bytes))
            continue;
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
        RegistryString appPath("\\SOFTWARE\\BriskoFilter\\apppath", "");
        const std::string app = appPath.Get();
        if (app.empty())
            return false;
        *logs = platform::AppendPath(app, "Logs\\");
        return true;
    }
    const std::string dir = args[0];
    const std::string inside = platform::AppendPath(dir, "\\Logs\\");
    for (const char* probe : {"brisko.trf", "brisko.001", "brisko.011"}) {
        if (platform::FileExists(inside + probe)) {
            *logs = inside;
            return true;
        }
    }
    *logs = platform::AppendPath(dir, "\\");
    for (const char* probe : {"brisko.trf", "brisko.001", "brisko.011"}) {
        if (platform::FileExists(*logs + probe))
            return true;
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
    const std::vector<Period> periods = Periods();
    ShowTraffic(logs, periods);
    ShowClients(logs, periods);
    ShowFilters(logs, periods);
    return 0;
}
