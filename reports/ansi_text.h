// 8-bit ANSI text (the proxy's logs are Windows-1252) converted to UTF-8 for the report
// documents, whose declaration names utf-8. Never fails: every byte has a character.
#pragma once

#include <string>
#include <string_view>

namespace reports {

// ASCII bytes are copied unchanged; bytes 0x80 to 0xFF become their Windows-1252 character
// (the five bytes that code page leaves undefined keep their own code point, as Windows does).
std::string AnsiToUtf8(std::string_view text);

}  // namespace reports
