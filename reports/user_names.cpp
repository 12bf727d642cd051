// User-name lookup of the traffic reports. Never fails: an unreadable or empty list, or a
// client it does not name, gives "Unknown".
#include "reports/user_names.h"

#include "common/layout.h"
#include "platform/files.h"
#include "reports/input_lines.h"

namespace reports {

std::string LookupUserName(const stats::LogContext& ctx, std::string_view client) {
    DecodedLineReader list(
        platform::AppendPath(ctx.settings.appPath, std::string("\\") + layout::kUserList),
        platform::ShareMode::None);
    std::string line;
    while (list.Next(&line)) {
        const std::size_t bar = line.find('|');
        const std::string_view rest = bar == std::string::npos
                                          ? std::string_view(line)
                                          : std::string_view(line).substr(bar + 1);
        if (rest == client) {
            return bar == std::string::npos ? std::string() : line.substr(0, bar);
        }
    }
    // Also when the list cannot be opened, or a read fails before a match.
    return kUnknownUser;
}

}  // namespace reports
