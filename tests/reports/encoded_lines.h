// Log and summary-file bytes as the proxy and the cycle write them, for the report, page and
// presentation tests: each line base64-encoded and ended by CR LF.
#pragma once

#include <string>
#include <vector>

#include "stats/base64.h"

namespace encoded_lines {

inline std::string Encoded(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) {
        out += stats::Base64Encode(line) + "\r\n";
    }
    return out;
}

}  // namespace encoded_lines
