// The mail message of the sender: header building (addresses, subject, MIME lines, the Date
// line with the local zone) and the rendering of body parts into wire pieces. Rendering a
// part reports false when an attachment cannot be opened, measured or read completely, is
// larger than maxAttachmentSize, or ends early or grows while it is read; the SMTP
// connection turns that into its failure codes.
#include "mailer/mime/smtp_message.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "common/base64.h"
#include "mailer/mime/content_type.h"
#include "mailer/mime/encoders.h"
#include "platform/files.h"
#include "platform/nocase.h"
#include "platform/timezone.h"
#include "platform/uuid.h"

namespace {

constexpr std::size_t kBase64Line = 76;       // characters of a base64 body line
constexpr std::size_t kBase64LineBytes = 57;  // the bytes those characters carry
// Bytes of an attachment read and encoded at a time: whole lines, about 57 KiB.
constexpr std::size_t kAttachmentPiece = 1024 * kBase64LineBytes;
constexpr char kPreamble[] = "This is a multi-part message in MIME format";

bool IsTrimmed(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsTrimmed(static_cast<unsigned char>(text.front()))) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsTrimmed(static_cast<unsigned char>(text.back()))) {
        text.remove_suffix(1);
    }
    return text;
}

// The first of chars at or after from that stands outside quoted strings ("..." with
// backslash pairs), npos when none does. A quote that is never closed quotes nothing.
std::size_t FindUnquoted(std::string_view text, std::string_view chars, std::size_t from = 0) {
    for (std::size_t i = from; i < text.size(); ++i) {
        if (chars.find(text[i]) != std::string_view::npos) {
            return i;
        }
        if (text[i] != '"') {
            continue;
        }
        std::size_t end = i + 1;
        while (end < text.size() && text[end] != '"') {
            end += text[end] == '\\' ? 2 : 1;
        }
        if (end >= text.size()) {
            return text.find_first_of(chars, i + 1);
        }
        i = end;
    }
    return std::string_view::npos;
}

// Entries of a list closed by "," or ";" (outside quoted strings when quotes count) or the
// end, each trimmed.
template <typename Visit>
void ForEachEntry(std::string_view list, bool quotesCount, Visit visit) {
    for (std::size_t start = 0;;) {
        const std::size_t end =
            quotesCount ? FindUnquoted(list, ",;", start) : list.find_first_of(",;", start);
        visit(Trim(list.substr(start, end == std::string_view::npos ? end : end - start)));
        if (end == std::string_view::npos) {
            return;
        }
        start = end + 1;
    }
}

bool HasControl(std::string_view text) {
    for (unsigned char c : text) {
        if (c < 32 || c == 127) {
            return true;
        }
    }
    return false;
}

// Base64 lines of 76 characters (57 bytes each), each ending in CR LF, appended to *out;
// the last line is shorter when the bytes run out. Encoding 57 bytes at a time gives the
// same text as cutting the encoding of the whole, so a file can go out piece by piece.
void AppendBase64Lines(std::string_view bytes, std::string* out) {
    out->reserve(out->size() + (bytes.size() / kBase64LineBytes + 1) * (kBase64Line + 2));
    for (std::size_t at = 0; at < bytes.size(); at += kBase64LineBytes) {
        Base64EncodeAppend(bytes.substr(at, kBase64LineBytes), out);
        *out += "\r\n";
    }
}

// The name of an attachment in its Content-Type: quoted as it is when plain and short enough
// for a line of its own, else as encoded words, each short enough for one.
std::string NameParameter(const std::string& title, const std::string& charset) {
    constexpr std::string_view kAttribute = "name=\"";
    // A blank before, and the closing quote and a ";" after.
    constexpr std::size_t kRoom = kHeaderLineLength - kAttribute.size() - 3;
    return std::string(kAttribute) +
           (IsPlainParameter(title) && title.size() <= kRoom ? title
                                                             : EncodeWords(title, charset, kRoom)) +
           "\"";
}

// The first bytes of a file, at most limit; what could be read when it cannot be read whole.
std::string FileStart(const std::string& path, std::size_t limit) {
    std::string start;
    auto file = platform::File::Open(path, platform::OpenMode::Read, platform::ShareMode::None);
    if (!file) {
        return start;
    }
    start.resize(limit);
    std::size_t got = 0;
    while (got < limit) {
        const std::int64_t n = file->Read(start.data() + got, limit - got);
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    start.resize(got);
    return start;
}

// An attachment read and encoded a piece at a time, so memory stays a few buffers whatever
// the file's size. The file is held open without sharing (no writer gets in meanwhile where
// the system enforces it) and must hold exactly the bytes it had when opened: one that ends
// early or grows was being written, and a mail of it would claim a content it never had.
bool WriteAttachment(const std::string& path, std::uint32_t limit, const WireSink& write) {
    auto file = platform::File::Open(path, platform::OpenMode::Read, platform::ShareMode::None);
    if (!file) {
        return false;
    }
    const std::int64_t size = file->Size();
    if (size < 0 || static_cast<std::uint64_t>(size) > limit) {
        return false;
    }
    std::string bytes(std::min<std::uint64_t>(static_cast<std::uint64_t>(size), kAttachmentPiece),
                      '\0');
    std::string lines;
    for (std::uint64_t left = static_cast<std::uint64_t>(size); left > 0;) {
        const std::size_t piece =
            static_cast<std::size_t>(std::min<std::uint64_t>(left, bytes.size()));
        for (std::size_t got = 0; got < piece;) {
            const std::int64_t n = file->Read(bytes.data() + got, piece - got);
            if (n <= 0) {
                return false;  // an error, or the file shrank while being read
            }
            got += static_cast<std::size_t>(n);
        }
        lines.clear();
        AppendBase64Lines(std::string_view(bytes.data(), piece), &lines);
        write(lines);
        left -= piece;
    }
    char more;
    return file->Read(&more, 1) == 0;
}

}  // namespace

std::vector<std::string> AttachmentPaths(std::string_view list) {
    std::vector<std::string> paths;
    // Paths: a quote is a character like any other.
    ForEachEntry(list, false, [&](std::string_view entry) {
        if (!entry.empty()) {
            paths.emplace_back(entry);
        }
    });
    return paths;
}

std::string FileTitle(std::string_view path) {
    // Everything after the drive and the last directory separator.
    const std::size_t cut = path.find_last_of("\\/:");
    return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

bool IsDomainName(std::string_view text) {
    if (text.empty() || text.front() == '.' || text.back() == '.' ||
        text.find("..") != std::string_view::npos) {
        return false;
    }
    for (unsigned char c : text) {
        const bool letterOrDigit =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!letterOrDigit && c != '-' && c != '.') {
            return false;
        }
    }
    return true;
}

// ---- CSMTPAddress ----

void CSMTPAddress::Parse(std::string_view text) {
    text = Trim(text);
    // A quoted display name may hold brackets: "x \" <e@e>" <a@x> is a mail to a@x.
    const std::size_t open = FindUnquoted(text, "<");
    const std::size_t close = FindUnquoted(text, ">");
    if (open != std::string_view::npos && close != std::string_view::npos && close >= open + 2) {
        address = std::string(text.substr(open + 1, close - open - 1));
        name = std::string(Trim(text.substr(0, open)));
    } else {
        address = std::string(text);
        name.clear();
    }
}

std::string CSMTPAddress::DisplayForm(bool encodeName, std::string_view charset) const {
    if (name.empty()) {
        return address;
    }
    return (encodeName ? EncodeHeaderText(name, charset) : name) + " <" + address + ">";
}

// ---- CSMTPBodyPart ----

CSMTPBodyPart::CSMTPBodyPart() : boundary(platform::NewUuidText()) {}

CSMTPBodyPart::CSMTPBodyPart(const CSMTPBodyPart& other) {
    CopyFrom(other);
}

CSMTPBodyPart& CSMTPBodyPart::operator=(const CSMTPBodyPart& other) {
    if (this != &other) {
        CopyFrom(other);
    }
    return *this;
}

CSMTPBodyPart::~CSMTPBodyPart() = default;

void CSMTPBodyPart::CopyFrom(const CSMTPBodyPart& other) {
    // Children first into a fresh list: other may be one of our own descendants.
    std::vector<std::unique_ptr<CSMTPBodyPart>> copies;
    copies.reserve(other.children.size());
    for (const auto& child : other.children) {
        copies.push_back(std::make_unique<CSMTPBodyPart>(*child));
        copies.back()->parent = this;
    }
    boundary = other.boundary;
    maxAttachmentSize = other.maxAttachmentSize;
    filePath = other.filePath;
    title = other.title;
    contentType = other.contentType;
    charset = other.charset;
    text = other.text;
    quotedPrintable = other.quotedPrintable;
    base64 = other.base64;
    children = std::move(copies);
}

bool CSMTPBodyPart::SetFilename(const std::string& path) {
    filePath = path;
    title = FileTitle(path);
    contentType = MediaTypeForName(title);
    return true;
}

void CSMTPBodyPart::SetText(std::string_view value) {
    text.clear();
    text.reserve(value.size() + value.size() / 32);
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\r') {
            if (i + 1 < value.size() && value[i + 1] == '\n') {
                ++i;
            }
            text += "\r\n";
        } else if (c == '\n') {
            text += "\r\n";
        } else {
            text += c;
        }
    }
    contentType = "text/plain";
}

int CSMTPBodyPart::AddChild(const CSMTPBodyPart& part) {
    auto copy = std::make_unique<CSMTPBodyPart>(part);
    copy->parent = this;
    children.push_back(std::move(copy));
    return static_cast<int>(children.size()) - 1;
}

void CSMTPBodyPart::RemoveChild(int index) {
    if (index >= 0 && index < ChildCount()) {
        children.erase(children.begin() + index);
    }
}

CSMTPBodyPart* CSMTPBodyPart::ChildAt(int index) {
    return index >= 0 && index < ChildCount() ? children[static_cast<std::size_t>(index)].get()
                                              : nullptr;
}

const CSMTPBodyPart* CSMTPBodyPart::ChildAt(int index) const {
    return index >= 0 && index < ChildCount() ? children[static_cast<std::size_t>(index)].get()
                                              : nullptr;
}

CSMTPBodyPart* CSMTPBodyPart::FindChildByType(std::string_view type) {
    for (const auto& child : children) {
        if (child->contentType == type) {
            return child.get();
        }
    }
    return nullptr;
}

std::string CSMTPBodyPart::TransferEncodingLine() const {
    if (base64) {
        return "Content-Transfer-Encoding: base64\r\n";
    }
    if (quotedPrintable) {
        return "Content-Transfer-Encoding: quoted-printable\r\n";
    }
    return {};
}

bool CSMTPBodyPart::RenderHeader(std::string* out) const {
    // A part outside a tree has no delimiter of its own to stand after; its own boundary
    // keeps the output well-formed.
    const std::string& delimiter = parent != nullptr ? parent->boundary : boundary;
    const std::string nested = ChildCount() > 0 ? "; Boundary=\"" + boundary + "\"" : "";
    std::string h;
    if (IsAttachment()) {
        // The title comes from a path in the registry: one holding line ends or quotes would
        // otherwise end the header, or the message data itself, where it stands. The charset
        // is the file's own, when it names one a client must know.
        const bool utf8 = DeclaresUtf8(contentType, FileStart(filePath, kCharsetProbeBytes));
        h = "\r\n\r\n--" + delimiter + "\r\n" +
            FoldHeaderField("Content-Type: " + contentType + (utf8 ? "; charset=utf-8" : "") +
                            "; " + NameParameter(title, charset) + nested) +
            "\r\nContent-Transfer-Encoding: base64\r\n" +
            FoldHeaderField("Content-Disposition: attachment; " +
                            FileNameParameter("filename", title, charset)) +
            "\r\n";
    } else {
        h = "\r\n--" + delimiter + "\r\n" +
            FoldHeaderField("Content-Type: " + contentType + "; charset=" + charset + nested) +
            "\r\n" + TransferEncodingLine();
    }
    h += "\r\n";
    *out = std::move(h);
    return true;
}

std::string CSMTPBodyPart::TextForWire() const {
    return platform::EqualNoCase(charset, "UTF-8") ? AnsiToUtf8(text) : text;
}

bool CSMTPBodyPart::WriteBody(const WireSink& write) const {
    if (IsAttachment()) {
        return WriteAttachment(filePath, maxAttachmentSize, write);
    }
    std::string body;
    if (base64) {
        AppendBase64Lines(TextForWire(), &body);
    } else if (quotedPrintable) {
        body = QPEncode(TextForWire());
    } else {
        body = TextForWire();
    }
    write(body);
    return true;
}

bool CSMTPBodyPart::RenderBody(std::string* out) const {
    std::string body;
    const bool written = WriteBody([&body](std::string_view piece) { body += piece; });
    *out = written ? std::move(body) : std::string();
    return written;
}

bool CSMTPBodyPart::RenderFooter(std::string* out) const {
    *out = "\r\n--" + boundary + "--";
    return true;
}

// ---- CSMTPMessage ----

CSMTPMessage::CSMTPMessage() : messageIdLeft(platform::NewUuidText()) {}
CSMTPMessage::~CSMTPMessage() = default;

std::vector<CSMTPAddress>& CSMTPMessage::ListOf(RecipientKind kind) {
    return kind == RecipientKind::Cc ? ccList : kind == RecipientKind::Bcc ? bccList : toList;
}

const std::vector<CSMTPAddress>& CSMTPMessage::ListOf(RecipientKind kind) const {
    return kind == RecipientKind::Cc ? ccList : kind == RecipientKind::Bcc ? bccList : toList;
}

int CSMTPMessage::AddRecipient(const CSMTPAddress& recipient, RecipientKind kind) {
    auto& list = ListOf(kind);
    list.push_back(recipient);
    return static_cast<int>(list.size()) - 1;
}

bool CSMTPMessage::AddRecipients(std::string_view list, RecipientKind kind) {
    bool added = false;
    ForEachEntry(list, true, [&](std::string_view entry) {
        CSMTPAddress recipient;
        recipient.Parse(entry);
        // A mailbox holding a control character would smuggle lines into the header or
        // commands into the SMTP dialogue; it can never be a valid mailbox anyway.
        if (!recipient.address.empty() && !HasControl(recipient.address) &&
            !HasControl(recipient.name)) {
            AddRecipient(recipient, kind);
            added = true;
        }
    });
    return added;
}

int CSMTPMessage::RecipientCount(RecipientKind kind) const {
    return static_cast<int>(ListOf(kind).size());
}

const CSMTPAddress* CSMTPMessage::RecipientAt(int index, RecipientKind kind) const {
    const auto& list = ListOf(kind);
    return index >= 0 && index < static_cast<int>(list.size())
               ? &list[static_cast<std::size_t>(index)]
               : nullptr;
}

void CSMTPMessage::SetMime(bool on) {
    if (mime == on) {
        return;
    }
    mime = on;
    while (root.ChildCount() > 0) {
        root.RemoveChild(root.ChildCount() - 1);
    }
    if (on) {
        const std::string kept = root.GetText();
        root.SetText(kPreamble);
        root.SetContentType("multipart/mixed");
        if (!kept.empty()) {
            AddTextBody(kept);
        }
    }
}

int CSMTPMessage::AddBodyPart(const CSMTPBodyPart& part) {
    SetMime(true);
    return root.AddChild(part);
}

int CSMTPMessage::AddAttachments(std::string_view list) {
    int added = 0;
    for (const std::string& path : AttachmentPaths(list)) {
        CSMTPBodyPart part;
        part.SetFilename(path);
        AddBodyPart(part);
        ++added;
    }
    return added;
}

void CSMTPMessage::AddTextBody(std::string_view text) {
    if (!mime) {
        root.SetText(text);
        return;
    }
    if (CSMTPBodyPart* existing = root.FindChildByType("text/plain")) {
        existing->SetText(text);
        return;
    }
    CSMTPBodyPart part;
    part.SetCharset(root.GetCharset());
    part.SetText(text);
    root.AddChild(part);
}

std::string CSMTPMessage::MessageId() const {
    // The right side names the sender's domain, as RFC 5322 3.6.4 recommends; a sender
    // without a usable one gets the reserved domain our placeholder sender uses.
    const std::size_t at = from.address.rfind('@');
    const std::string domain =
        at == std::string::npos ? std::string() : from.address.substr(at + 1);
    return "<" + messageIdLeft + "@" + (IsDomainName(domain) ? domain : "postvane.invalid") + ">";
}

std::string CSMTPMessage::BuildHeader() const {
    const std::string& charset = root.GetCharset();
    std::string h = "From: " + from.DisplayForm(true, charset) + "\r\nTo: ";
    for (std::size_t i = 0; i < toList.size(); ++i) {
        h += (i > 0 ? "," : "") + toList[i].DisplayForm(true, charset);
    }
    h += "\r\n";
    if (!ccList.empty()) {
        h += "Cc: ";
        for (std::size_t i = 0; i < ccList.size(); ++i) {
            h += (i > 0 ? "," : "") + ccList[i].DisplayForm(true, charset);
        }
        h += "\r\n";
    }
    h += FoldHeaderField("Subject: " + EncodeHeaderText(subject, charset));
    if (!xMailer.empty()) {
        h += "\r\nX-Mailer: " + xMailer;
    }
    h += "\r\n";
    if (mime) {
        if (root.ChildCount() > 0) {
            // A multipart entity allows no other encoding (RFC 2045 6.4); its parts carry
            // their own, and strict servers refuse anything else here.
            h += "Content-Transfer-Encoding: 7bit\r\n";
        } else if (root.GetBase64()) {
            h += "Content-Transfer-Encoding: base64\r\n";
        } else if (root.GetQuotedPrintable()) {
            h += "Content-Transfer-Encoding: quoted-printable\r\n";
        }
        h += "MIME-Version: 1.0\r\nContent-Type: " + root.GetContentType();
        if (root.ChildCount() > 0) {
            h += "; boundary=\"" + root.boundary + "\"";
        }
        h += "\r\n";
    } else {
        // The version line is what makes the charset count at all (RFC 2045 4).
        h += "MIME-Version: 1.0\r\nContent-Type: " + root.GetContentType() +
             ";\r\n\tcharset=" + charset + "\r\n";
    }
    if (!replyTo.address.empty()) {
        h += "Reply-To: " + replyTo.DisplayForm(true, charset) + "\r\n";
    }

    const platform::SystemClock systemClock;
    const std::time_t now = (clock != nullptr ? clock : &systemClock)->Now();
    std::tm local{};
    platform::LocalTime(now, &local);
    h += "Date: " + FormatMailDate(local) + FormatZoneOffset(platform::UtcOffsetMinutes(now)) +
         "\r\n";
    h += "Message-ID: " + MessageId() + "\r\n";

    switch (priority) {
        case MessagePriority::LowPriority:
            h += "X-Priority: 5\r\n";
            break;
        case MessagePriority::NormalPriority:
            h += "X-Priority: 3\r\n";
            break;
        case MessagePriority::HighPriority:
            h += "X-Priority: 1\r\n";
            break;
        case MessagePriority::NoPriority:
            break;
    }
    for (const auto& line : extraHeaders) {
        h += line + "\r\n";
    }
    return h;
}

// ---- free helpers ----

void DotStuffer::Append(std::string_view piece, std::string* out) {
    out->reserve(out->size() + piece.size() + 16);
    for (char c : piece) {
        if (lineStart && c == '.') {
            *out += '.';
        }
        *out += c;
        lineStart = c == '\n';
    }
}

std::string FormatMailDate(const std::tm& local) {
    // English names whatever the process locale: mail dates are not localised (RFC 5322).
    static const char* const kDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const int wday = local.tm_wday >= 0 && local.tm_wday < 7 ? local.tm_wday : 0;
    const int mon = local.tm_mon >= 0 && local.tm_mon < 12 ? local.tm_mon : 0;
    char text[128];
    std::snprintf(text, sizeof(text), "%s, %02d %s %04d %02d:%02d:%02d ", kDays[wday],
                  local.tm_mday, kMonths[mon], local.tm_year + 1900, local.tm_hour, local.tm_min,
                  local.tm_sec);
    return text;
}

std::string FormatZoneOffset(int offsetMinutes) {
    const char sign = offsetMinutes >= 0 ? '+' : '-';
    const long magnitude = offsetMinutes >= 0 ? offsetMinutes : -static_cast<long>(offsetMinutes);
    char text[16];
    std::snprintf(text, sizeof(text), "%c%02ld%02ld", sign, (magnitude / 60) % 100, magnitude % 60);
    return text;
}
