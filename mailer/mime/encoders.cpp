// Text encoders of the mail sender: quoted-printable (RFC 2045) with soft breaks at 76
// characters, Q encoded words (RFC 2047) for header texts, extended parameter values
// (RFC 2231), and ANSI to UTF-8.
// Nothing here fails; every input gives an output.
#include "mailer/mime/encoders.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "platform/codepage.h"
#include "platform/nocase.h"

namespace {

constexpr char kHex[] = "0123456789ABCDEF";
constexpr std::size_t kMaxLine = 76;      // characters per quoted-printable line
constexpr std::size_t kHeaderPiece = 70;  // bytes per encoded-word piece

void AppendEscape(std::string& out, unsigned char c, char mark = '=') {
    out += mark;
    out += kHex[c >> 4];
    out += kHex[c & 15];
}

bool QPLiteral(unsigned char c) {
    return (c >= 33 && c <= 60) || (c >= 62 && c <= 126) || c == '\t' || c == '\n' || c == '\r' ||
           c == ' ';
}

// Where an over-long line (kMaxLine + 1 characters) is broken: after the last whitespace or
// the last complete escape that leaves room for the "=" of the soft break; failing both,
// after character 75, moved back so that no escape is split.
std::size_t BreakPoint(const std::string& line) {
    const std::size_t limit = kMaxLine - 1;
    std::size_t best = 0;
    for (std::size_t i = 0; i < limit && i < line.size(); ++i) {
        if (line[i] == ' ' || line[i] == '\t') {
            best = i + 1;
        } else if (line[i] == '=' && i + 3 <= limit) {
            best = i + 3;
        }
    }
    if (best > 0) {
        return best;
    }
    std::size_t cut = limit;
    if (line[cut - 1] == '=') {
        cut -= 1;
    } else if (line[cut - 2] == '=') {
        cut -= 2;
    }
    return cut;
}

// Encoded-word bytes: 8-bit bytes, the word's own syntax characters and controls (a CR or
// LF left bare would end the header line).
bool NeedsQEscape(unsigned char c) {
    return c >= 128 || c == '=' || c == '?' || c == '_' || c < 32 || c == 127;
}

bool PieceNeedsEncoding(std::string_view piece) {
    for (unsigned char c : piece) {
        if (c >= 128 || c == '\r' || c == '\n') {
            return true;
        }
    }
    return false;
}

// Bytes left as they are in a word of EncodeWords (RFC 2047 5(3) allows these in a phrase).
bool IsWordSafe(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view(".-+!*").find(static_cast<char>(c)) != std::string_view::npos;
}

// RFC 2231 attribute-char: any printable ASCII but the blank, "*'%" and the tspecials.
bool IsAttributeChar(unsigned char c) {
    return c > ' ' && c < 127 &&
           std::string_view("*'%()<>@,;:\\\"/[]?=").find(static_cast<char>(c)) ==
               std::string_view::npos;
}

// The bytes of one character: a UTF-8 sequence stays whole, any other text goes byte by byte.
std::size_t CharacterLength(std::string_view text, bool utf8) {
    std::size_t n = 1;
    while (utf8 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) {
        ++n;
    }
    return n;
}

// Length of the first piece of a UTF-8 text: at most kHeaderPiece bytes, moved back so that
// no character is split between two encoded words.
std::size_t Utf8PieceLength(std::string_view text) {
    std::size_t n = kHeaderPiece;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) {
        --n;
    }
    return n > 0 ? n : kHeaderPiece;
}

}  // namespace

std::string QPEncode(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size() + text.size() / 8);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        // A blank that ends a line would be dropped by transports that strip trailing white
        // space (RFC 2045 6.7, rule 3), so it is written as an escape.
        const bool endsLine = i + 1 == text.size() || text[i + 1] == '\r' || text[i + 1] == '\n';
        if (QPLiteral(c) && !((c == ' ' || c == '\t') && endsLine)) {
            escaped += static_cast<char>(c);
        } else {
            AppendEscape(escaped, c);
        }
    }

    std::string out;
    out.reserve(escaped.size() + escaped.size() / 50 + 3);
    std::string line;
    for (char c : escaped) {
        if (c == '\r' || c == '\n') {
            out += line;
            out += c;
            line.clear();
            continue;
        }
        line += c;
        if (line.size() > kMaxLine) {
            const std::size_t cut = BreakPoint(line);
            out.append(line, 0, cut);
            out += "=\r\n";
            line.erase(0, cut);
        }
    }
    out += line;
    return out;
}

std::string EncodeHeaderText(std::string_view text, std::string_view charset) {
    const bool utf8 = platform::EqualNoCase(charset, "UTF-8");
    std::string converted;
    if (utf8) {
        converted = AnsiToUtf8(text);
        text = converted;
    }
    std::string out;
    while (!text.empty()) {
        std::size_t length = text.size();
        if (length > kHeaderPiece) {
            length = utf8 ? Utf8PieceLength(text) : kHeaderPiece;
        }
        const std::string_view piece = text.substr(0, length);
        text.remove_prefix(length);
        if (!PieceNeedsEncoding(piece)) {
            out += piece;
            continue;
        }
        out += "=?";
        out += charset;
        out += "?q?";
        for (unsigned char c : piece) {
            if (c == ' ') {
                out += '_';
            } else if (NeedsQEscape(c)) {
                AppendEscape(out, c);
            } else {
                out += static_cast<char>(c);
            }
        }
        out += "?=";
    }
    return out;
}

std::string EncodeWords(std::string_view text, std::string_view charset, std::size_t maxWord) {
    const bool utf8 = platform::EqualNoCase(charset, "UTF-8");
    const std::string converted = utf8 ? AnsiToUtf8(text) : std::string(text);
    const std::string open = "=?" + std::string(charset) + "?q?";
    std::string out;
    std::string word;
    for (std::string_view rest = converted; !rest.empty();) {
        const std::size_t length = CharacterLength(rest, utf8);
        std::string encoded;
        for (unsigned char c : rest.substr(0, length)) {
            if (c == ' ') {
                encoded += '_';
            } else if (IsWordSafe(c)) {
                encoded += static_cast<char>(c);
            } else {
                AppendEscape(encoded, c);
            }
        }
        rest.remove_prefix(length);
        if (!word.empty() && open.size() + word.size() + encoded.size() + 2 > maxWord) {
            out += (out.empty() ? "" : " ") + open + word + "?=";
            word.clear();
        }
        word += encoded;
    }
    if (!word.empty() || out.empty()) {
        out += (out.empty() ? "" : " ") + open + word + "?=";
    }
    return out;
}

std::string EncodeExtendedValue(std::string_view text, std::string_view charset) {
    const std::string converted =
        platform::EqualNoCase(charset, "UTF-8") ? AnsiToUtf8(text) : std::string(text);
    std::string out = std::string(charset) + "''";
    for (unsigned char c : converted) {
        if (IsAttributeChar(c)) {
            out += static_cast<char>(c);
        } else {
            AppendEscape(out, c, '%');
        }
    }
    return out;
}

bool IsPlainParameter(std::string_view text) {
    for (unsigned char c : text) {
        if (c < ' ' || c >= 127 || c == '"' || c == '\\') {
            return false;
        }
    }
    return true;
}

std::string FileNameParameter(std::string_view attribute, std::string_view text,
                              std::string_view charset) {
    const bool plain = IsPlainParameter(text);
    const std::string value = plain ? std::string(text) : EncodeExtendedValue(text, charset);
    const std::string quote = plain ? "\"" : "";
    const std::string name(attribute);
    // On a line of its own a parameter has a blank before it and may have a ";" after it.
    const std::size_t room = kHeaderLineLength - 2;
    const std::string whole = name + (plain ? "=" : "*=") + quote + value + quote;
    if (whole.size() <= room) {
        return whole;
    }
    std::string out;
    std::size_t at = 0;
    for (int section = 0; at < value.size(); ++section) {
        const std::string head =
            name + "*" + std::to_string(section) + (plain ? "=" : "*=") + quote;
        std::size_t length = std::min(value.size() - at, room - head.size() - quote.size());
        if (!plain && at + length < value.size()) {
            const std::string_view end(value.data() + at + length - 2, 2);
            length -= end[1] == '%' ? 1 : end[0] == '%' ? 2 : 0;
        }
        out += (section > 0 ? "; " : "") + head + value.substr(at, length) + quote;
        at += length;
    }
    return out;
}

std::string FoldHeaderField(std::string_view field) {
    std::string out;
    out.reserve(field.size() + field.size() / 32);
    // Folding right after the field's name would gain nothing.
    const std::size_t colon = field.find(':');
    const std::size_t firstFold = colon == std::string_view::npos ? 1 : colon + 2;
    std::size_t lineStart = 0;
    std::size_t blank = std::string::npos;  // the last blank of the current line, in out
    for (char c : field) {
        if ((c == ' ' || c == '\t') && out.size() >= firstFold) {
            blank = out.size();
        }
        out += c;
        if (out.size() - lineStart > kHeaderLineLength && blank != std::string::npos &&
            blank > lineStart) {
            out.insert(blank, "\r\n");
            lineStart = blank + 2;
            blank = std::string::npos;
        }
    }
    return out;
}

std::string AnsiToUtf8(std::string_view text) {
    return platform::AnsiToUtf8(text);
}
