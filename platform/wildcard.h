// Windows-style wildcard matching of file names, the same on every platform: case-insensitive
// '*' and '?', and a trailing ".*" that also matches a name without any dot.
#pragma once

#include <string_view>

namespace platform {

bool WildcardMatch(std::string_view pattern, std::string_view name);

// Case-insensitive (ASCII) ordering used for directory listings.
bool LessNoCase(std::string_view a, std::string_view b);
bool EqualNoCase(std::string_view a, std::string_view b);

}  // namespace platform
