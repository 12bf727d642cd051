// Attachment media types by extension, and the UTF-8 declaration of XML and HTML files. Only
// the first kCharsetProbeBytes are looked at; a declaration that is malformed or names any
// other charset counts as none.
#include "mailer/mime/content_type.h"

#include <string>

#include "platform/nocase.h"

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

struct TypeOfExtension {
    const char* extension;
    const char* mediaType;
};
// ".htm" too: a page under any other type is what content filters take for a disguised one.
constexpr TypeOfExtension kTypes[] = {
    {".xml", kXmlMediaType}, {".html", kHtmlMediaType}, {".htm", kHtmlMediaType}};

std::string Folded(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = platform::FoldCase(c);
    }
    return out;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The value after "name" (folded text): blanks, "=", blanks, then a quoted or bare value.
// Empty when name is not followed so.
std::string_view ValueAfter(std::string_view text, std::string_view name) {
    const std::size_t at = text.find(name);
    if (at == std::string_view::npos) {
        return {};
    }
    std::size_t i = at + name.size();
    while (i < text.size() && IsBlank(text[i])) {
        ++i;
    }
    if (i == text.size() || text[i] != '=') {
        return {};
    }
    ++i;
    while (i < text.size() && IsBlank(text[i])) {
        ++i;
    }
    const char quote = i < text.size() && (text[i] == '"' || text[i] == '\'') ? text[i] : '\0';
    if (quote != '\0') {
        ++i;
    }
    std::size_t end = i;
    while (end < text.size() &&
           (quote != '\0' ? text[end] != quote
                          : !IsBlank(text[end]) && text[end] != ';' && text[end] != '>' &&
                                text[end] != '/' && text[end] != '"' && text[end] != '\'')) {
        ++end;
    }
    if (quote != '\0' && end == text.size()) {
        return {};  // never closed
    }
    return text.substr(i, end - i);
}

bool XmlDeclaresUtf8(std::string_view start) {
    if (start.substr(0, 5) != "<?xml" || start.size() < 6 || !IsBlank(start[5])) {
        return false;
    }
    const std::size_t end = start.find("?>");
    return end != std::string_view::npos && ValueAfter(start.substr(0, end), "encoding") == "utf-8";
}

bool HtmlDeclaresUtf8(std::string_view start) {
    for (std::size_t at = start.find("<meta"); at != std::string_view::npos;
         at = start.find("<meta", at + 1)) {
        const std::size_t end = start.find('>', at);
        if (end == std::string_view::npos) {
            return false;  // cut off by the probe
        }
        const std::string_view value = ValueAfter(start.substr(at, end - at), "charset");
        if (!value.empty()) {
            return value == "utf-8";  // the first declaration is the one that counts
        }
    }
    return false;
}

}  // namespace

const char* MediaTypeForName(std::string_view name) {
    for (const TypeOfExtension& type : kTypes) {
        if (platform::EndsWithNoCase(name, type.extension)) {
            return type.mediaType;
        }
    }
    return kOctetStreamMediaType;
}

bool DeclaresUtf8(std::string_view mediaType, std::string_view start) {
    const bool xml = mediaType == kXmlMediaType;
    const bool html = mediaType == kHtmlMediaType;
    if (!xml && !html) {
        return false;
    }
    start = start.substr(0, kCharsetProbeBytes);
    if (start.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        return true;
    }
    const std::string folded = Folded(start);
    return xml ? XmlDeclaresUtf8(folded) : HtmlDeclaresUtf8(folded);
}
