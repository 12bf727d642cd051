// Parsing of summary-file lines; see summary_lines.h.
#include "stats/summary_lines.h"

#include "stats/base64.h"
#include "stats/log_store.h"

namespace stats {

bool ParseSlotLine(std::string_view decoded, SlotLine* out) {
    const std::size_t bar = decoded.find('|');
    if (bar == std::string_view::npos || decoded.back() != '|') {
        return false;
    }
    out->name = std::string(decoded.substr(0, bar == 0 ? 0 : bar - 1));
    out->slots.clear();
    std::size_t start = bar + 1;
    while (start < decoded.size()) {
        const std::size_t next = decoded.find('|', start);
        out->slots.push_back(ParseLeadingInt(decoded.substr(start, next - start)));
        start = next + 1;
    }
    return true;
}

std::vector<std::string> DecodeSummaryLines(std::string_view fileBytes) {
    std::vector<std::string> lines;
    ForEachSummaryLine(fileBytes,
                       [&](std::string_view line) { lines.push_back(Base64DecodeText(line)); });
    return lines;
}

}  // namespace stats
