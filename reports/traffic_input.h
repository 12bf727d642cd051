// What the traffic reports read: the client list, a client's traffic logs of one day, and the
// client-total lines of the summary files. The readers fail only by their result.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "stats/log_context.h"

namespace reports {

struct ClientTotal {
    std::string client;
    std::int64_t bytes = 0;
};

// A decoded client-total line ("10.0.0.5 |100|200|...|"): the client is the text before the
// first "|" without its last character (the blank the statistics put there), the bytes the
// sum of the fields between "|"s, each read as a decimal number the way atoi reads it (the sum held
// at the 64-bit limits).
ClientTotal ParseClientTotalLine(std::string_view line);

// Hands each client key of logip.log to onClient, in list order (a client listed twice comes
// twice). False when the list cannot be opened, or when a read fails after the clients
// before the failure.
bool ForEachClient(const stats::LogContext& ctx,
                   const std::function<void(const std::string&)>& onClient);

// The bytes of the client's traffic logs of the given day; logs that cannot be read count 0.
std::int64_t DailyClientBytes(stats::LogContext& ctx, const platform::LocalDate& day,
                              const std::string& client);

}  // namespace reports
