// Case-insensitive text helpers (ASCII letters only, as file and registry names compare on
// every platform): the one place every unit folds, compares and orders names.
#pragma once

#include <string_view>

namespace platform {

// 'A'..'Z' become 'a'..'z'; every other byte is itself.
constexpr char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
bool EndsWithNoCase(std::string_view text, std::string_view suffix);
// Orders by folded bytes, unsigned, a prefix first; the order of directory listings.
// Negative, zero or positive as a sorts before, with or after b.
int CompareNoCase(std::string_view a, std::string_view b);
inline bool LessNoCase(std::string_view a, std::string_view b) {
    return CompareNoCase(a, b) < 0;
}

}  // namespace platform
