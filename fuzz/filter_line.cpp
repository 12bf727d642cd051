// Fuzzes the splitting of a decoded filter-log line and the report record made of it. The
// fields must be the line's first six blank-ended tokens (the filter's "_" as blanks),
// found here by a plain split, with nothing left of an earlier line; and whatever the log
// holds, the record must stay well-formed XML: its markup only the template's, its text
// valid UTF-8 of characters XML allows, free of the five specials.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/check.h"
#include "reports/filter_line.h"
#include "reports/report_format.h"

namespace {

reports::FilterFields ByPlainSplit(std::string_view line) {
    std::vector<std::string> tokens;
    for (std::size_t blank = line.find(' '); blank != std::string_view::npos;
         blank = line.find(' ')) {
        tokens.emplace_back(line.substr(0, blank));
        line.remove_prefix(blank + 1);
    }
    tokens.resize(6);
    for (char& c : tokens[5]) {
        c = c == '_' ? ' ' : c;
    }
    return {tokens[0], tokens[1], tokens[2], tokens[3], tokens[4], tokens[5]};
}

bool SameFields(const reports::FilterFields& a, const reports::FilterFields& b) {
    return a.date == b.date && a.client == b.client && a.userName == b.userName &&
           a.time == b.time && a.url == b.url && a.filter == b.filter;
}

// Code points of well-formed UTF-8 (shortest forms, no surrogates), or false.
bool DecodeUtf8(std::string_view text, std::vector<std::uint32_t>* out) {
    out->clear();
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80                   ? 1
                                   : lead >= 0xC2 && lead < 0xE0 ? 2
                                   : lead >= 0xE0 && lead < 0xF0 ? 3
                                   : lead >= 0xF0 && lead < 0xF5 ? 4
                                                                 : 0;
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        std::uint32_t cp = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            cp = (cp << 6) | (next & 0x3F);
        }
        constexpr std::uint32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kShortest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        out->push_back(cp);
        i += length;
    }
    return true;
}

// The XML 1.0 Char production.
bool IsXmlChar(std::uint32_t cp) {
    return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
           (cp >= 0xE000 && cp <= 0xFFFD) || cp >= 0x10000;
}

bool IsSpecial(std::uint32_t cp) {
    return cp == '<' || cp == '>' || cp == '&' || cp == '\'' || cp == '"';
}

void CheckXmlText(std::string_view field, const std::string& text) {
    std::vector<std::uint32_t> points;
    FUZZ_CHECK(DecodeUtf8(text, &points));
    bool plain = true;  // printable ASCII without specials passes unchanged
    for (unsigned char c : field) {
        plain = plain && c >= 0x20 && c < 0x7F && !IsSpecial(c);
    }
    FUZZ_CHECK(!plain || text == field);
    for (std::uint32_t cp : points) {
        FUZZ_CHECK(IsXmlChar(cp) && !IsSpecial(cp));
    }
}

std::size_t CountOf(std::string_view text, char c) {
    std::size_t n = 0;
    for (char x : text) {
        n += x == c;
    }
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    // Filled as the previous line of a report would have left them.
    reports::FilterFields fields{"d", "c", "u", "t", "url", "f"};
    reports::SplitFilterLine(line, fields);
    FUZZ_CHECK(SameFields(fields, ByPlainSplit(line)));

    for (const std::string* field : {&fields.date, &fields.client, &fields.userName, &fields.time,
                                     &fields.url, &fields.filter}) {
        CheckXmlText(*field, reports::ToXmlText(*field));
    }
    static const std::string kTemplate = reports::FormatFilterRecord("", "", "", "", "", "");
    const std::string record = reports::FormatFilterRecord(
        fields.date, fields.client, fields.userName, fields.time, fields.url, fields.filter);
    for (char markup : {'<', '>', '&'}) {
        FUZZ_CHECK(CountOf(record, markup) == CountOf(kTemplate, markup));
    }
    return 0;
}
