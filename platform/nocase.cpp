// Case-insensitive text helpers.
#include "platform/nocase.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace platform {

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) {
            return false;
        }
    }
    return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           EqualNoCase(text.substr(text.size() - suffix.size()), suffix);
}

int CompareNoCase(std::string_view a, std::string_view b) {
    // Sorting a listing of a few hundred thousand logs compares names that share long
    // prefixes ("31_12_2026_192.168.") millions of times: equal bytes are skipped eight at a
    // time, and only bytes that differ are folded.
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    std::size_t i = 0;
    for (;;) {
        while (i + 8 <= n) {
            std::uint64_t x, y;
            std::memcpy(&x, a.data() + i, 8);
            std::memcpy(&y, b.data() + i, 8);
            if (x != y) {
                break;
            }
            i += 8;
        }
        while (i < n && a[i] == b[i]) {
            ++i;
        }
        if (i == n) {
            break;
        }
        const auto x = static_cast<unsigned char>(FoldCase(a[i]));
        const auto y = static_cast<unsigned char>(FoldCase(b[i]));
        if (x != y) {
            return x < y ? -1 : 1;
        }
        ++i;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

}  // namespace platform
