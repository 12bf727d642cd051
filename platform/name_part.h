// Whether a text from outside (a client key of the proxy's client list) may stand inside a
// file name of a directory without the name reaching another directory. The answer follows
// the platform's own path syntax: ":" separates a drive or a stream on Windows and is an
// ordinary character elsewhere, so an IPv6 address is a usable key on Linux.
#pragma once

#include <string_view>

namespace platform {

// False for "..", and for a text holding a path separator of this platform ("/" or "\"
// everywhere, ":" on Windows as well).
bool IsSafeNamePart(std::string_view part);

}  // namespace platform
