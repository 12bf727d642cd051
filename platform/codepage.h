// The system's 8-bit ANSI text converted to UTF-8. On Windows the conversion goes through the
// machine's ANSI code page; elsewhere the ANSI code page is Windows-1252. Never fails: every
// byte has a character.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::string AnsiToUtf8(std::string_view text);

}  // namespace platform
