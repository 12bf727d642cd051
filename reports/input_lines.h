// Reading the report writers' inputs: a whole text-mode file of base64 lines, decoded line by
// line. Fails (false) when the file cannot be opened or read, or is larger than the bound.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"

namespace reports {

// Inputs are the proxy's logs and the summary files; a month of filter lines stays far below.
inline constexpr std::uint64_t kMaxInputBytes = 256ull << 20;
// A base64 line longer than this is not a line the proxy or the statistics write; skipped.
inline constexpr std::size_t kMaxInputLine = 1 << 20;

// The decoded lines of the file, in file order (each cut at its first zero byte).
bool ReadDecodedLines(const std::string& path, platform::ShareMode share,
                      std::vector<std::string>* lines);

}  // namespace reports
