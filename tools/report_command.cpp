// `tallyctl report set [--format xml|xml+html] [--dashboard 0|1] [--style-url URL]` and
// `tallyctl report show`. Only the options given are written, and only when all of them are
// usable; an empty --style-url returns to the default. Errors go to standard error with exit
// status 2. `show` prints a stored value's control bytes as \xNN, never raw.
#include "tools/report_command.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "common/control_bytes.h"
#include "common/layout.h"
#include "common/registry_value.h"
#include "reports/report_format.h"
#include "reports/report_output.h"

namespace {

namespace setting = layout::setting;

int Usage() {
    std::fprintf(stderr,
                 "usage: tallyctl report set [--format xml|xml+html] [--dashboard 0|1] "
                 "[--style-url URL]\n"
                 "       tallyctl report show\n");
    return 2;
}

int RunSet(const std::vector<std::string>& args) {
    std::optional<std::string> format, styleUrl;
    std::optional<std::uint32_t> dashboard;
    for (std::size_t i = 1; i < args.size(); i += 2) {
        const std::string& flag = args[i];
        if (i + 1 >= args.size()) {
            std::fprintf(stderr, "tallyctl report: missing value after '%s'\n", flag.c_str());
            return Usage();
        }
        const std::string& value = args[i + 1];
        if (flag == "--format") {
            reports::OutputFormat parsed;
            if (!reports::ParseOutputFormat(value, &parsed)) {
                std::fprintf(stderr, "tallyctl report: --format wants xml or xml+html, not '%s'\n",
                             value.c_str());
                return 2;
            }
            format = reports::OutputFormatName(parsed);
        } else if (flag == "--dashboard") {
            if (value != "0" && value != "1") {
                std::fprintf(stderr, "tallyctl report: --dashboard wants 0 or 1, not '%s'\n",
                             value.c_str());
                return 2;
            }
            dashboard = value == "1" ? 1 : 0;
        } else if (flag == "--style-url") {
            if (!value.empty() && !reports::IsUsableStyleBase(value)) {
                std::fprintf(stderr,
                             "tallyctl report: --style-url wants an http or https URL without "
                             "blanks, quotes, <, >, & or \\, not '%s'\n",
                             value.c_str());
                return 2;
            }
            styleUrl = value;
        } else {
            std::fprintf(stderr, "tallyctl report: unknown option '%s'\n", flag.c_str());
            return Usage();
        }
    }
    if (!format && !dashboard && !styleUrl) {
        return Usage();
    }
    if (format) {
        RegistryString(layout::SettingPath(setting::kReportFormat), "").Set(*format);
    }
    if (dashboard) {
        RegistryDword(layout::SettingPath(setting::kDashboard), 0).Set(*dashboard);
    }
    if (styleUrl) {
        RegistryString(layout::SettingPath(setting::kReportStyleUrl), "").Set(*styleUrl);
    }
    return 0;
}

int RunShow() {
    const std::string format =
        RegistryString(layout::SettingPath(setting::kReportFormat), "").Get();
    const std::uint32_t dashboard =
        RegistryDword(layout::SettingPath(setting::kDashboard), 0).Get();
    const std::string style =
        RegistryString(layout::SettingPath(setting::kReportStyleUrl), "").Get();
    const reports::ReportSettings used = reports::ReadReportSettings();

    std::string formatNote;
    if (format.empty()) {
        formatNote = " (not set)";
    } else if (format != reports::OutputFormatName(used.format)) {
        formatNote = " (stored as '" + EscapeControlBytes(format) + "')";
    }
    std::printf("format:     %s%s\n", reports::OutputFormatName(used.format), formatNote.c_str());
    const std::string page = std::string(layout::kLogsFolder) + layout::kDashboardFile;
    std::printf("dashboard:  %u%s\n", static_cast<unsigned>(dashboard),
                dashboard == 1 ? (" (" + page + " written every cycle)").c_str() : " (off)");
    std::string styleNote;
    if (style.empty()) {
        styleNote = " (default)";
    } else if (!reports::IsUsableStyleBase(style)) {
        styleNote = " (the stored '" + EscapeControlBytes(style) + "' cannot be used; default)";
    }
    std::printf("style URL:  %s%s\n", used.styleBase.c_str(), styleNote.c_str());
    return 0;
}

}  // namespace

int RunReportCommand(const std::vector<std::string>& args) {
    if (!args.empty() && args[0] == "set") {
        return RunSet(args);
    }
    if (args.size() == 1 && args[0] == "show") {
        return RunShow();
    }
    return Usage();
}
