// User-name lookup of the traffic reports and the pages. Never fails: an unreadable or empty
// list, or a client it does not name, gives "Unknown".
#include "reports/user_names.h"

#include "common/layout.h"
#include "platform/files.h"
#include "reports/input_lines.h"

namespace reports {

namespace {

// Calls take(user, client) for each line of the list until it returns false; false when the
// list cannot be opened.
template <typename Take>
bool ForEachUser(const stats::LogContext& ctx, Take take) {
    DecodedLineReader list(
        platform::AppendPath(ctx.settings.appPath, std::string("\\") + layout::kUserList),
        platform::ShareMode::None);
    std::string line;
    while (list.Next(&line)) {
        const std::size_t bar = line.find('|');
        const std::string_view rest = bar == std::string::npos
                                          ? std::string_view(line)
                                          : std::string_view(line).substr(bar + 1);
        if (!take(bar == std::string::npos ? std::string_view()
                                           : std::string_view(line).substr(0, bar),
                  rest)) {
            break;
        }
    }
    return list.Opened();
}

}  // namespace

std::string LookupUserName(const stats::LogContext& ctx, std::string_view client) {
    std::string found = kUnknownUser;
    // Also "Unknown" when the list cannot be opened, or a read fails before a match.
    ForEachUser(ctx, [&](std::string_view user, std::string_view listed) {
        if (listed != client) {
            return true;
        }
        found = std::string(user);
        return false;
    });
    return found;
}

UserNameTable UserNameTable::Load(const stats::LogContext& ctx) {
    UserNameTable table;
    table.opened_ = ForEachUser(ctx, [&](std::string_view user, std::string_view listed) {
        // The first line of a client names it, as a lookup finds it.
        table.names_.emplace(std::string(listed), std::string(user));
        return table.names_.size() < kMaxUsers;
    });
    return table;
}

std::string UserNameTable::Of(std::string_view client) const {
    const auto it = names_.find(std::string(client));
    return it == names_.end() ? std::string(kUnknownUser) : it->second;
}

}  // namespace reports
