// Text encoders of the mail sender: quoted-printable bodies, Q encoded-word header texts and
// the ANSI to UTF-8 conversion. Pure functions returning new strings; nothing
// fails.
#pragma once

#include <string>
#include <string_view>

// Quoted-printable (RFC 2045): escapes (a space or tab that ends a line among them), then
// soft line breaks so that no line exceeds 76 characters. CR and LF are kept as they are.
std::string QPEncode(std::string_view text);

// A header text: converted to UTF-8 first when charset is "UTF-8" (any case), cut into
// pieces of 70 bytes; each piece holding a byte from 128 up becomes "=?charset?q?...?=",
// the others stay as they are; the pieces are joined without separator.
std::string EncodeHeaderText(std::string_view text, std::string_view charset);

// ANSI text (the ANSI code page of the system; Windows-1252 on Linux) to UTF-8 bytes.
std::string AnsiToUtf8(std::string_view text);
