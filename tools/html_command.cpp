// `tallyctl html [DIR] [--out FILE]`: renders the thirteen summary files of an installation
// as one standalone page, the one the service writes as Logs\summary.html when Dashboard is
// 1. DIR is the installation directory or its Logs folder; without it the installation path
// comes from the registry. The page goes to FILE (replaced atomically) or to standard output.
// A folder without summary files gives the page that says there is nothing yet.
#include "tools/html_command.h"

#include <array>
#include <cstdio>
#include <string>

#include "common/layout.h"
#include "common/registry_value.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text_mode.h"
#include "reports/html_dashboard.h"
#include "reports/input_lines.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: tallyctl html [DIR] [--out FILE]   (DIR: installation or Logs folder)\n");
    return 2;
}

// The Logs folder of DIR (or DIR itself when it holds no Logs folder), or of the registered
// installation; false when there is no such folder.
bool LocateLogs(const std::string& dir, std::string* logs) {
    if (dir.empty()) {
        RegistryString appPath(layout::SettingPath(layout::setting::kAppPath), "");
        const std::string app = appPath.Get();
        *logs = platform::AppendPath(app, layout::kLogsFolder);
        return !app.empty() && platform::FileExists(*logs);
    }
    for (const std::string& candidate :
         {platform::AppendPath(dir, layout::InLogsFolder("")), platform::AppendPath(dir, "\\")}) {
        if (platform::FileExists(candidate)) {
            *logs = candidate;
            return true;
        }
    }
    return false;
}

}  // namespace

int RunHtmlCommand(const std::vector<std::string>& args) {
    std::string dir;
    std::string out;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--out" && i + 1 < args.size() && !args[i + 1].empty()) {
            out = args[++i];
        } else if (args[i].empty() || args[i][0] == '-' || !dir.empty()) {
            return Usage();
        } else {
            dir = args[i];
        }
    }
    std::string logs;
    if (!LocateLogs(dir, &logs)) {
        std::fprintf(stderr, "tallyctl html: no installation found%s%s\n",
                     dir.empty() ? " (installation path not set)" : " in ", dir.c_str());
        return 1;
    }
    std::array<std::string, layout::kSummaryFileCount> bytes;
    reports::SummaryTexts texts;
    for (std::size_t f = 0; f < layout::kSummaryFileCount; ++f) {
        texts[f].present = platform::ReadFileBytes(logs + layout::kSummaryFiles[f],
                                                   platform::ShareMode::None, &bytes[f]);
        texts[f].bytes = bytes[f];
    }
    reports::DashboardExtras extras;
    extras.unsent = reports::UnsentMails(logs);
    const std::string page =
        reports::RenderDashboard(texts, reports::PageTime(platform::SystemClock().Now()), extras);
    if (out.empty()) {
        std::fwrite(page.data(), 1, page.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (!platform::ReplaceTextFile(out, page)) {
        std::fprintf(stderr, "tallyctl html: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}
