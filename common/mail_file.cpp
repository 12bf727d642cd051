// The mail file's two parts; see mail_file.h.
#include "common/mail_file.h"

namespace {

constexpr std::string_view kSubjectField = "Subject: ";

// The next line of text from *at, without its CR LF or LF; false at the end.
bool NextLine(std::string_view text, std::size_t* at, std::string_view* line) {
    if (*at >= text.size()) {
        return false;
    }
    std::size_t end = text.find('\n', *at);
    std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
    if (end == std::string_view::npos) {
        end = text.size();
    }
    std::string_view l = text.substr(*at, end - *at);
    if (!l.empty() && l.back() == '\r') {
        l.remove_suffix(1);
    }
    *line = l;
    *at = next;
    return true;
}

}  // namespace

std::string OneLine(std::string_view text, std::size_t maxBytes) {
    std::string out;
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        const char kept = (u < 0x20 || u == 0x7f) ? ' ' : c;
        if (kept == ' ' && (out.empty() || out.back() == ' ')) {
            continue;
        }
        out.push_back(kept);
    }
    while (!out.empty() && out.back() == ' ') {
        out.pop_back();
    }
    if (out.size() > maxBytes) {
        const std::size_t keep = maxBytes > 3 ? maxBytes - 3 : 0;
        out.resize(keep);
        out += "...";
        out.resize(maxBytes);
    }
    return out;
}

std::string FormatMailFile(const MailText& mail) {
    std::string out(kSubjectField);
    out += OneLine(mail.subject, kMaxSubjectBytes);
    out += "\n\n";
    std::size_t at = 0;
    std::string_view line;
    while (NextLine(mail.body, &at, &line)) {
        out.append(line);
        out.push_back('\n');
    }
    return out;
}

bool ParseMailFile(std::string_view bytes, MailText* out) {
    if (bytes.size() > kMaxMailFileBytes) {
        return false;
    }
    std::size_t at = 0;
    std::string_view line;
    if (!NextLine(bytes, &at, &line) || line.substr(0, kSubjectField.size()) != kSubjectField) {
        return false;
    }
    MailText mail;
    mail.subject = OneLine(line.substr(kSubjectField.size()), kMaxSubjectBytes);
    if (!NextLine(bytes, &at, &line) || !line.empty()) {
        return false;
    }
    while (NextLine(bytes, &at, &line)) {
        // A stray CR or other control byte inside a line would reach the wire as it is.
        for (char c : line) {
            const unsigned char u = static_cast<unsigned char>(c);
            mail.body.push_back((u < 0x20 && c != '\t') || u == 0x7f ? ' ' : c);
        }
        mail.body.push_back('\n');
    }
    *out = std::move(mail);
    return true;
}
