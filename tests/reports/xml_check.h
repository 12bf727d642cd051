// A small XML 1.0 well-formedness checker for the report and page tests: UTF-8 and the Char
// production, declaration, a document type declaration without internal subset, processing
// instructions, elements with matching end tags and unique quoted attributes, references,
// one root element. What neither reports nor pages hold (comments, CDATA, a DTD subset) is
// rejected.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace xml_check {

class Checker {
  public:
    explicit Checker(std::string_view doc) : s_(doc) {}

    // Empty when well-formed, else a short reason with the offset.
    std::string Check() {
        if (!ValidUtf8()) {
            return error_;
        }
        if (Starts("<?xml ")) {
            if (!Pi(true)) {
                return error_;
            }
        }
        if (!Misc()) {
            return error_;
        }
        if (Starts("<!DOCTYPE")) {
            const std::size_t end = s_.find('>', p_);
            if (end == std::string_view::npos ||
                s_.substr(p_, end - p_).find('[') != std::string_view::npos) {
                return Fail("unsupported document type declaration");
            }
            p_ = end + 1;
            if (!Misc()) {
                return error_;
            }
        }
        if (!Starts("<") || !Element()) {
            return error_.empty() ? Fail("no root element") : error_;
        }
        if (!Misc()) {
            return error_;
        }
        if (p_ != s_.size()) {
            return Fail("content after the root element");
        }
        return "";
    }

  private:
    std::string Fail(const std::string& why) {
        if (error_.empty()) {
            error_ = why + " at offset " + std::to_string(p_);
        }
        return error_;
    }
    bool Bad(const std::string& why) {
        Fail(why);
        return false;
    }
    bool Starts(std::string_view t) const { return s_.substr(p_, t.size()) == t; }
    bool AtEnd() const { return p_ >= s_.size(); }
    static bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
    void SkipSpace() {
        while (!AtEnd() && IsSpace(s_[p_])) {
            ++p_;
        }
    }
    static bool NameStart(char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' ||
               static_cast<unsigned char>(c) >= 0x80;
    }
    static bool NameChar(char c) {
        return NameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
    }
    bool Name(std::string* out) {
        std::size_t start = p_;
        if (AtEnd() || !NameStart(s_[p_])) {
            return Bad("name expected");
        }
        while (!AtEnd() && NameChar(s_[p_])) {
            ++p_;
        }
        *out = std::string(s_.substr(start, p_ - start));
        return true;
    }

    bool ValidUtf8() {
        for (std::size_t i = 0; i < s_.size();) {
            const auto b = static_cast<unsigned char>(s_[i]);
            std::uint32_t cp;
            int extra;
            if (b < 0x80) {
                cp = b;
                extra = 0;
            } else if ((b & 0xE0) == 0xC0) {
                cp = b & 0x1F;
                extra = 1;
            } else if ((b & 0xF0) == 0xE0) {
                cp = b & 0x0F;
                extra = 2;
            } else if ((b & 0xF8) == 0xF0) {
                cp = b & 0x07;
                extra = 3;
            } else {
                p_ = i;
                return Bad("invalid UTF-8 lead byte");
            }
            if (i + static_cast<std::size_t>(extra) >= s_.size()) {
                p_ = i;
                return Bad("truncated UTF-8 sequence");
            }
            for (int k = 1; k <= extra; ++k) {
                const auto c = static_cast<unsigned char>(s_[i + k]);
                if ((c & 0xC0) != 0x80) {
                    p_ = i;
                    return Bad("invalid UTF-8 continuation");
                }
                cp = (cp << 6) | (c & 0x3F);
            }
            static const std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
            const bool isChar = cp == 0x9 || cp == 0xA || cp == 0xD ||
                                (cp >= 0x20 && cp <= 0xD7FF) || (cp >= 0xE000 && cp <= 0xFFFD) ||
                                (cp >= 0x10000 && cp <= 0x10FFFF);
            if (cp < kMin[extra] || !isChar) {
                p_ = i;
                return Bad("character not allowed in XML");
            }
            i += static_cast<std::size_t>(extra) + 1;
        }
        return true;
    }

    bool Pi(bool declaration) {
        p_ += 2;
        std::string target;
        if (!Name(&target)) {
            return false;
        }
        std::string lower;
        for (char c : target) {
            lower.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c));
        }
        if (lower == "xml" && !declaration) {
            return Bad("misplaced XML declaration");
        }
        std::size_t end = s_.find("?>", p_);
        if (end == std::string_view::npos) {
            return Bad("unterminated processing instruction");
        }
        if (declaration && s_.substr(p_, end - p_).find("version") == std::string_view::npos) {
            return Bad("declaration without version");
        }
        p_ = end + 2;
        return true;
    }
    bool Misc() {
        for (;;) {
            SkipSpace();
            if (Starts("<?")) {
                if (!Pi(false)) {
                    return false;
                }
            } else {
                return true;
            }
        }
    }
    bool Reference() {
        std::size_t end = s_.find(';', p_);
        if (end == std::string_view::npos) {
            return Bad("unterminated reference");
        }
        std::string_view ref = s_.substr(p_ + 1, end - p_ - 1);
        static const char* kNamed[] = {"amp", "lt", "gt", "quot", "apos"};
        bool ok = false;
        for (const char* n : kNamed) {
            ok = ok || ref == n;
        }
        if (!ok && ref.size() > 1 && ref[0] == '#') {
            const bool hex = ref[1] == 'x';
            std::string digits(ref.substr(hex ? 2 : 1));
            char* stop = nullptr;
            const unsigned long v = std::strtoul(digits.c_str(), &stop, hex ? 16 : 10);
            ok = !digits.empty() && *stop == '\0' &&
                 (v == 9 || v == 10 || v == 13 || (v >= 0x20 && v <= 0xD7FF) ||
                  (v >= 0xE000 && v <= 0xFFFD) || (v >= 0x10000 && v <= 0x10FFFF));
        }
        if (!ok) {
            return Bad("unknown reference");
        }
        p_ = end + 1;
        return true;
    }
    // Name="value" or Name='value' pairs, each name once, values without "<".
    bool Attributes() {
        std::vector<std::string> seen;
        for (;;) {
            const std::size_t before = p_;
            SkipSpace();
            if (AtEnd() || Starts(">") || Starts("/>")) {
                return true;
            }
            if (p_ == before) {
                return Bad("space expected before attribute");
            }
            std::string name;
            if (!Name(&name)) {
                return false;
            }
            if (std::find(seen.begin(), seen.end(), name) != seen.end()) {
                return Bad("attribute " + name + " repeated");
            }
            seen.push_back(name);
            SkipSpace();
            if (!Starts("=")) {
                return Bad("= expected");
            }
            ++p_;
            SkipSpace();
            if (AtEnd() || (s_[p_] != '"' && s_[p_] != '\'')) {
                return Bad("quoted value expected");
            }
            const char quote = s_[p_++];
            for (;;) {
                if (AtEnd()) {
                    return Bad("unterminated attribute value");
                }
                if (s_[p_] == quote) {
                    ++p_;
                    break;
                }
                if (s_[p_] == '<') {
                    return Bad("< in attribute value");
                }
                if (s_[p_] == '&') {
                    if (!Reference()) {
                        return false;
                    }
                } else {
                    ++p_;
                }
            }
        }
    }

    bool Element() {
        ++p_;
        std::string name;
        if (!Name(&name)) {
            return false;
        }
        if (!Attributes()) {
            return false;
        }
        if (Starts("/>")) {
            p_ += 2;
            return true;
        }
        if (!Starts(">")) {
            return Bad("> expected");
        }
        ++p_;
        for (;;) {
            if (AtEnd()) {
                return Bad("unclosed element " + name);
            }
            if (Starts("</")) {
                p_ += 2;
                std::string end;
                if (!Name(&end)) {
                    return false;
                }
                if (end != name) {
                    return Bad("end tag " + end + " does not match " + name);
                }
                SkipSpace();
                if (!Starts(">")) {
                    return Bad("> expected");
                }
                ++p_;
                return true;
            }
            if (Starts("<?")) {
                if (!Pi(false)) {
                    return false;
                }
            } else if (Starts("<!")) {
                return Bad("comment, CDATA or declaration in content");
            } else if (Starts("<")) {
                if (!Element()) {
                    return false;
                }
            } else if (Starts("&")) {
                if (!Reference()) {
                    return false;
                }
            } else if (Starts("]]>")) {
                return Bad("]]> in content");
            } else {
                ++p_;
            }
        }
    }

    std::string_view s_;
    std::size_t p_ = 0;
    std::string error_;
};

inline std::string WellFormednessError(std::string_view doc) {
    return Checker(doc).Check();
}

}  // namespace xml_check
