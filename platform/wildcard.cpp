// Windows-style wildcard matching, identical on every platform so that directory searches
// find the same files everywhere.
#include "platform/wildcard.h"

#include <cstddef>

#include "platform/nocase.h"

namespace platform {
namespace {

// Iterative '*' / '?' matcher with one backtrack point: linear in practice, no recursion
// depth to exhaust on hostile names.
bool Match(std::string_view p, std::string_view n) {
    std::size_t pi = 0, ni = 0, starP = std::string_view::npos, starN = 0;
    while (ni < n.size()) {
        if (pi < p.size() && (p[pi] == '?' || FoldCase(p[pi]) == FoldCase(n[ni]))) {
            ++pi;
            ++ni;
        } else if (pi < p.size() && p[pi] == '*') {
            starP = pi++;
            starN = ni;
        } else if (starP != std::string_view::npos) {
            pi = starP + 1;
            ni = ++starN;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '*') {
        ++pi;
    }
    return pi == p.size();
}

}  // namespace

bool WildcardMatch(std::string_view pattern, std::string_view name) {
    if (Match(pattern, name)) {
        return true;
    }
    // "x.*" also matches "x" with no extension, as the Windows search does.
    if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*" &&
        name.find('.') == std::string_view::npos) {
        return Match(pattern.substr(0, pattern.size() - 2), name);
    }
    return false;
}

bool WildcardMatchThenLiteral(std::string_view pattern, std::string_view literal,
                              std::string_view name) {
    return name.size() >= literal.size() && EndsWithNoCase(name, literal) &&
           WildcardMatch(pattern, name.substr(0, name.size() - literal.size()));
}

bool HasWildcard(std::string_view text) {
    return text.find_first_of("*?") != std::string_view::npos;
}

}  // namespace platform
