// Windows-style wildcard matching of file names, the same on every platform: case-insensitive
// '*' and '?', and a trailing ".*" that also matches a name without any dot.
#pragma once

#include <string_view>

#include "platform/nocase.h"

namespace platform {

bool WildcardMatch(std::string_view pattern, std::string_view name);

}  // namespace platform
