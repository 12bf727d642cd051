// The user list brisko.users in the application directory: one base64 line per user, each
// decoding to user name, "|", client. A list that cannot be read gives every client "Unknown".
#pragma once

#include <string>
#include <string_view>

#include "stats/log_context.h"

namespace reports {

inline constexpr char kUnknownUser[] = "Unknown";

// The name of the first line whose client equals client exactly, else "Unknown". The list is
// read afresh on every call, so a change by the proxy shows at once.
std::string LookupUserName(const stats::LogContext& ctx, std::string_view client);

}  // namespace reports
