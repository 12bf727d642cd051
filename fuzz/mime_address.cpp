// Fuzzes the mail sender's reading of addresses: a recipient list and a sender text as the
// settings hold them, and a subject. Checked: every recipient taken is a usable mailbox
// (not empty, no control character, no list separator outside a quoted string, where
// "Doe, Jane" <j@x> and "a,b"@x keep theirs); a named address reads back from
// the form the header shows; an encoded name decodes to the name; and the header built of
// it all is lines ending in CR LF, each a field or a field's continuation, so no text can
// add a field or a line of its own.
//
// Input: a flag byte (bit 0: UTF-8 instead of ISO-8859-1), then the recipient list, the
// sender and the subject, separated by NUL bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/check.h"
#include "mailer/mime/encoders.h"
#include "mailer/mime/smtp_message.h"
#include "platform/clock.h"

namespace {

std::string_view NextField(std::string_view* input) {
    const std::size_t nul = input->find('\0');
    const std::string_view field = input->substr(0, nul);
    input->remove_prefix(nul == std::string_view::npos ? input->size() : nul + 1);
    return field;
}

bool HasControl(std::string_view text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) {
            return true;
        }
    }
    return false;
}

// A list separator outside the quoted strings; a quote never closed quotes nothing, as
// the list is split.
bool HasUnquotedSeparator(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ',' || text[i] == ';') {
            return true;
        }
        if (text[i] != '"') {
            continue;
        }
        std::size_t end = i + 1;
        while (end < text.size() && text[end] != '"') {
            end += text[end] == '\\' ? 2 : 1;
        }
        if (end >= text.size()) {
            return text.find_first_of(",;", i + 1) != std::string_view::npos;
        }
        i = end;
    }
    return false;
}

int HexValue(char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// The text of a header value with its Q encoded words of the charset decoded; false when
// an encoded word is broken.
bool DecodeWords(std::string_view text, std::string_view charset, std::string* out) {
    const std::string open = "=?" + std::string(charset) + "?q?";
    out->clear();
    for (std::size_t at = text.find(open); at != std::string_view::npos; at = text.find(open)) {
        out->append(text.substr(0, at));
        text.remove_prefix(at + open.size());
        const std::size_t close = text.find("?=");
        if (close == std::string_view::npos) {
            return false;
        }
        const std::string_view word = text.substr(0, close);
        for (std::size_t i = 0; i < word.size(); ++i) {
            if (word[i] == '_') {
                out->push_back(' ');
            } else if (word[i] != '=') {
                out->push_back(word[i]);
            } else if (i + 2 < word.size() && HexValue(word[i + 1]) >= 0 &&
                       HexValue(word[i + 2]) >= 0) {
                out->push_back(
                    static_cast<char>(HexValue(word[i + 1]) * 16 + HexValue(word[i + 2])));
                i += 2;
            } else {
                return false;
            }
        }
        text.remove_prefix(close + 2);
    }
    out->append(text);
    return true;
}

void CheckRecipient(const CSMTPAddress& r, std::string_view charset) {
    FUZZ_CHECK(!r.address.empty());
    FUZZ_CHECK(!HasControl(r.address) && !HasControl(r.name));
    FUZZ_CHECK(!HasUnquotedSeparator(r.address) && !HasUnquotedSeparator(r.name));
    if (!r.name.empty()) {
        CSMTPAddress again;
        again.Parse(r.DisplayForm(false, charset));
        FUZZ_CHECK(again.name == r.name && again.address == r.address);
    }
    // The address stands as the settings give it; the name is made 7-bit for the header.
    const std::string encoded = EncodeHeaderText(r.name, charset);
    for (unsigned char c : encoded) {
        FUZZ_CHECK(c >= 0x20 && c < 0x7F);
    }
    FUZZ_CHECK(r.DisplayForm(true, charset) ==
               (r.name.empty() ? r.address : encoded + " <" + r.address + ">"));
    // A name that itself looks like an encoded word cannot be told from one.
    if (!r.name.empty() && r.name.find("=?") == std::string::npos) {
        std::string decoded;
        FUZZ_CHECK(DecodeWords(encoded, charset, &decoded));
        FUZZ_CHECK(decoded == (charset == "UTF-8" ? AnsiToUtf8(r.name) : r.name));
    }
}

bool IsFieldNameChar(char c) {
    return c > 0x20 && c < 0x7F && c != ':';
}

void CheckHeader(const std::string& header) {
    FUZZ_CHECK(header.size() >= 2 && header.compare(header.size() - 2, 2, "\r\n") == 0);
    std::size_t start = 0;
    while (start < header.size()) {
        const std::size_t end = header.find("\r\n", start);
        FUZZ_CHECK(end != std::string::npos);
        const std::string_view line(header.data() + start, end - start);
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string_view::npos);
        const bool continued = !line.empty() && (line[0] == ' ' || line[0] == '\t');
        if (!continued) {
            std::size_t name = 0;
            while (name < line.size() && IsFieldNameChar(line[name])) {
                ++name;
            }
            FUZZ_CHECK(name > 0 && name < line.size() && line[name] == ':');
        }
        start = end + 2;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string charset = (data[0] & 1) != 0 ? "UTF-8" : "iso-8859-1";
    std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string_view list = NextField(&input);
    const std::string_view sender = NextField(&input);
    const std::string_view subject = NextField(&input);

    CSMTPMessage message;
    message.SetCharset(charset);
    const bool added = message.AddRecipients(list);
    FUZZ_CHECK(added == (message.RecipientCount() > 0));
    std::size_t entries = 1;
    for (char c : list) {
        entries += c == ',' || c == ';';
    }
    FUZZ_CHECK(static_cast<std::size_t>(message.RecipientCount()) <= entries);
    for (int i = 0; i < message.RecipientCount(); ++i) {
        CheckRecipient(*message.RecipientAt(i), charset);
    }

    message.from.Parse(sender);
    // The connection refuses a sender address with a line break before it sends a header.
    if (message.from.address.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
        return 0;
    }
    message.subject = std::string(subject);
    static const platform::FixedClock clock(1785484800);  // a Friday in July 2026
    message.SetClock(&clock);
    CheckHeader(message.BuildHeader());
    return 0;
}
