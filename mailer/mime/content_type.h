// Media types of attachments: the type a file name's extension stands for, and whether the
// first bytes of such a file declare UTF-8, so a mail client shows the reports (the XML
// documents and their HTML twins) instead of offering to save them, in the right charset.
// Pure functions; nothing fails.
#pragma once

#include <cstddef>
#include <string_view>

inline constexpr char kXmlMediaType[] = "application/xml";
inline constexpr char kHtmlMediaType[] = "text/html";
inline constexpr char kOctetStreamMediaType[] = "application/octet-stream";

// How much of a file the charset is looked for in: the reports name it in their first line,
// and an HTML page must name it within its first 1024 bytes (HTML's prescan).
inline constexpr std::size_t kCharsetProbeBytes = 1024;

// kXmlMediaType for a name ending in ".xml", kHtmlMediaType for ".html" and ".htm" (in any
// case), kOctetStreamMediaType for every other name.
const char* MediaTypeForName(std::string_view name);

// True when start, the first bytes of a file of the media type (XML or HTML), says the file
// is UTF-8: a UTF-8 byte order mark, the XML declaration's encoding, or the charset of an
// HTML meta element. Anything else, every other media type included, is false.
bool DeclaresUtf8(std::string_view mediaType, std::string_view start);
