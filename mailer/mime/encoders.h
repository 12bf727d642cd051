// Text encoders of the mail sender: quoted-printable bodies, Q encoded-word header texts,
// file names as header parameters, header folding and the ANSI to UTF-8 conversion. Pure
// functions returning new strings; nothing fails.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The longest line a header field should have (RFC 5322 2.1.1), its CR LF not counted.
inline constexpr std::size_t kHeaderLineLength = 78;

// Quoted-printable (RFC 2045): escapes (a space or tab that ends a line among them), then
// soft line breaks so that no line exceeds 76 characters. CR and LF are kept as they are.
std::string QPEncode(std::string_view text);

// A header text: converted to UTF-8 first when charset is "UTF-8" (any case), cut into
// pieces of 70 bytes; each piece holding a byte from 128 up becomes "=?charset?q?...?=",
// the others stay as they are; the pieces are joined without separator.
std::string EncodeHeaderText(std::string_view text, std::string_view charset);

// All of text as Q encoded words of at most 75 characters each, separated by spaces, with
// only letters, digits and ".-+!*" left as they are: for a text that may not stand as it is
// (a parameter value holding quotes or line ends). UTF-8 first as above, and no character
// split between two words. maxWord (at least the charset's length plus 10) bounds each word.
std::string EncodeWords(std::string_view text, std::string_view charset, std::size_t maxWord = 75);

// An extended parameter value (RFC 2231): the charset, two apostrophes, then the text (UTF-8
// first as above) with every byte but letters, digits and "!#$&+-.^_`|~" written as "%" and
// two upper-case hexadecimal digits.
std::string EncodeExtendedValue(std::string_view text, std::string_view charset);

// True when text can stand in a quoted parameter value as it is: printable ASCII without
// quotes and backslashes.
bool IsPlainParameter(std::string_view text);

// A file name as a header parameter: attribute="text" when the text is plain, else
// attribute*= and its extended value. One that would not fit a folded line is cut into
// numbered sections (attribute*0=, attribute*1= ..., RFC 2231 3) joined by "; ", each short
// enough for a line of its own; an escape is never split.
std::string FileNameParameter(std::string_view attribute, std::string_view text,
                              std::string_view charset);

// One header field ("Name: value", no CR LF) folded: a CR LF goes before the last blank that
// keeps a line within kHeaderLineLength. A run without blanks longer than that stays whole.
std::string FoldHeaderField(std::string_view field);

// ANSI text (the ANSI code page of the system; Windows-1252 on Linux) to UTF-8 bytes.
std::string AnsiToUtf8(std::string_view text);
