// Reading of the traffic reports' inputs.
#include "reports/traffic_input.h"

#include "common/layout.h"
#include "platform/files.h"
#include "reports/input_lines.h"
#include "stats/log_names.h"
#include "stats/log_store.h"

namespace reports {

ClientTotal ParseClientTotalLine(std::string_view line) {
    ClientTotal total;
    std::size_t bar = line.find('|');
    if (bar == std::string_view::npos) {
        return total;
    }
    if (bar > 0) {
        total.client.assign(line.substr(0, bar - 1));
    }
    for (;;) {
        line.remove_prefix(bar + 1);
        bar = line.find('|');
        if (bar == std::string_view::npos) {
            break;
        }
        total.bytes =
            stats::SaturatingAdd(total.bytes, stats::ParseLeadingInt(line.substr(0, bar)));
    }
    return total;
}

bool ForEachClient(const stats::LogContext& ctx,
                   const std::function<void(const std::string&)>& onClient) {
    // The proxy keeps the list open while it runs, so it is read with sharing.
    return ForEachDecodedLine(
        ctx.LogDirectory() + layout::kClientList, platform::ShareMode::ReadWrite,
        [&onClient](const std::string& line) { onClient(stats::ClientKeyOf(line)); });
}

std::int64_t DailyClientBytes(stats::LogContext& ctx, const platform::LocalDate& day,
                              const std::string& client) {
    // A key that could name a file outside the log directory is searched nowhere.
    if (!stats::IsSafeClientKey(client)) {
        return 0;
    }
    stats::HourTotals hours{};
    stats::ScanClientLogs(ctx, stats::DayStamp(day.day, day.month, day.year), client,
                          [&hours](const stats::LogFile& file) {
                              return stats::ReadTrafficFile(file.Path(), hours);
                          });
    return stats::SumOf(hours);
}

}  // namespace reports
