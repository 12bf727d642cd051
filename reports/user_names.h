// The user list brisko.users in the application directory: one base64 line per user, each
// decoding to user name, "|", client. A list that cannot be read gives every client "Unknown".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>

#include "stats/log_context.h"

namespace reports {

inline constexpr char kUnknownUser[] = "Unknown";

// The name of the first line whose client equals client exactly, else "Unknown". The list is
// read afresh on every call, so a change by the proxy shows at once.
std::string LookupUserName(const stats::LogContext& ctx, std::string_view client);

// The list read once, for pages that name every client: the same answers as LookupUserName
// at the time of Load. At most kMaxUsers lines are kept; later ones answer "Unknown".
class UserNameTable {
  public:
    static constexpr std::size_t kMaxUsers = 200000;
    static UserNameTable Load(const stats::LogContext& ctx);
    std::string Of(std::string_view client) const;
    // False when the list could not be opened (pages then leave the names out).
    bool Opened() const { return opened_; }

  private:
    std::unordered_map<std::string, std::string> names_;
    bool opened_ = false;
};

}  // namespace reports
