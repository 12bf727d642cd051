// Windows-style wildcard matching of file names, the same on every platform: case-insensitive
// '*' and '?', and a trailing ".*" that also matches a name without any dot; and the same with
// a part taken literally, for texts from outside that become part of a name.
#pragma once

#include <string_view>

#include "platform/nocase.h"

namespace platform {

bool WildcardMatch(std::string_view pattern, std::string_view name);

// A pattern followed by a literal part: the name ends with literal (without case, its "*" and
// "?" plain characters) and what stands before it matches pattern. Every name this matches,
// WildcardMatch matches with the two joined, so a search by the joined pattern finds it.
bool WildcardMatchThenLiteral(std::string_view pattern, std::string_view literal,
                              std::string_view name);

// Whether text holds a character that WildcardMatch reads as a wildcard.
bool HasWildcard(std::string_view text);

}  // namespace platform
