// Reading back the statistic lines of the summary files: a decoded traffic or client line is
// a name (the label, or the client key), one space, then "|"-separated totals and a closing
// "|". Used by tallyctl show; a line that does not have that shape is refused.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace stats {

struct SlotLine {
    std::string name;  // the text before the first "|" without its last character (the space)
    std::vector<std::int64_t> slots;
};

// False when the decoded line has no "|" or does not end with one.
bool ParseSlotLine(std::string_view decoded, SlotLine* out);

// The decoded lines of a summary file's bytes as stored (text mode, base64 lines). Lines
// longer than the log store's cap are skipped.
std::vector<std::string> DecodeSummaryLines(std::string_view fileBytes);

}  // namespace stats
