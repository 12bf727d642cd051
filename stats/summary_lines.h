// Reading back the statistic lines of the summary files: a decoded traffic or client line is
// a name (the label, or the client key), one space, then "|"-separated totals and a closing
// "|". Used by tallyctl show and the dashboard; a line that does not have that shape is
// refused.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text_mode.h"
#include "stats/line_reader.h"

namespace stats {

struct SlotLine {
    std::string name;  // the text before the first "|" without its last character (the space)
    std::vector<std::int64_t> slots;
};

// False when the decoded line has no "|" or does not end with one.
bool ParseSlotLine(std::string_view decoded, SlotLine* out);

// Calls take(line) with each base64 line of a summary file's bytes, as stored (CR LF) or as
// built in memory (LF), without copying them; lines longer than the log store's cap are
// skipped.
template <typename Take>
void ForEachSummaryLine(std::string_view bytes, Take take) {
    platform::LineSplitter lines(bytes, kMaxLineBytes);
    std::string_view line;
    for (;;) {
        const platform::LineSplitter::Result r = lines.Next(&line);
        if (r == platform::LineSplitter::Result::End) {
            return;
        }
        if (r == platform::LineSplitter::Result::Line) {
            take(line);
        }
    }
}

// The decoded lines of a summary file's bytes (see ForEachSummaryLine).
std::vector<std::string> DecodeSummaryLines(std::string_view fileBytes);

}  // namespace stats
