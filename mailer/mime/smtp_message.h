// The mail that the sender transmits: addresses, header fields and a tree of body parts.
// The message builds its own header; each part renders its header and closing delimiter as
// buffers and writes its body piece by piece (an attachment is streamed from its file), all
// of which the SMTP connection sends in order, dot-stuffed as one stream. Rendering reports failure
// by returning false (an attachment that cannot be read, is too large or changes while read);
// nothing here throws for bad input.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"

enum class MessagePriority {
    NoPriority = 0,
    LowPriority = 1,
    NormalPriority = 2,
    HighPriority = 3
};

enum class RecipientKind { To = 0, Cc = 1, Bcc = 2 };

// Where rendered wire bytes go, piece by piece.
using WireSink = std::function<void(std::string_view)>;

class CSMTPAddress {
  public:
    CSMTPAddress() = default;
    explicit CSMTPAddress(std::string addressText, std::string nameText = {})
        : name(std::move(nameText)), address(std::move(addressText)) {}

    // "Name <mailbox>" or a bare mailbox; the name may be quoted, and then hold brackets.
    // See the unit for the exact rule.
    void Parse(std::string_view text);
    // The mailbox alone, or "name <mailbox>" with the name Q-encoded when encodeName is set.
    std::string DisplayForm(bool encodeName, std::string_view charset) const;

    std::string name;
    std::string address;
};

class CSMTPBodyPart {
  public:
    static constexpr std::uint32_t kDefaultMaxAttachmentSize = 52428800;

    CSMTPBodyPart();
    CSMTPBodyPart(const CSMTPBodyPart& other);  // deep: children, flags, limit, boundary
    CSMTPBodyPart& operator=(const CSMTPBodyPart& other);
    virtual ~CSMTPBodyPart();

    // Makes the part an attachment of the file (opened only when rendered); the title is the
    // file name with extension, the content type the one its extension stands for
    // (content_type.h). Always true.
    bool SetFilename(const std::string& path);
    const std::string& GetFilename() const { return filePath; }
    const std::string& GetTitle() const { return title; }
    void SetTitle(const std::string& value) { title = value; }
    bool IsAttachment() const { return !filePath.empty(); }

    // Stores the text with every line end as CR LF; the content type becomes "text/plain".
    void SetText(std::string_view value);
    const std::string& GetText() const { return text; }

    const std::string& GetContentType() const { return contentType; }
    void SetContentType(const std::string& value) { contentType = value; }
    const std::string& GetCharset() const { return charset; }
    void SetCharset(const std::string& value) { charset = value; }

    bool GetQuotedPrintable() const { return quotedPrintable; }
    void SetQuotedPrintable(bool on) { quotedPrintable = on; }
    bool GetBase64() const { return base64; }  // wins over quoted-printable
    void SetBase64(bool on) { base64 = on; }

    // Appends a deep copy of part whose parent is this part; returns its index.
    int AddChild(const CSMTPBodyPart& part);
    void RemoveChild(int index);  // an index out of range does nothing
    int ChildCount() const { return static_cast<int>(children.size()); }
    CSMTPBodyPart* ChildAt(int index);  // null out of range
    const CSMTPBodyPart* ChildAt(int index) const;
    // First child whose content type equals type exactly, or null.
    CSMTPBodyPart* FindChildByType(std::string_view type);
    CSMTPBodyPart* GetParent() const { return parent; }

    // Each fills *out with one piece of the wire form; false on failure (*out then empty).
    bool RenderHeader(std::string* out) const;
    bool RenderBody(std::string* out) const;
    bool RenderFooter(std::string* out) const;
    // The body handed to write piece by piece as it is encoded (an attachment is never held
    // whole); false when it cannot be completed, possibly after some pieces were written.
    bool WriteBody(const WireSink& write) const;

    std::string boundary;  // delimiter of this part's children: a fresh UUID text
    std::uint32_t maxAttachmentSize = kDefaultMaxAttachmentSize;  // largest file, bytes

  private:
    void CopyFrom(const CSMTPBodyPart& other);
    std::string TransferEncodingLine() const;
    std::string TextForWire() const;  // the text, UTF-8 when the charset says so

    std::string filePath;
    std::string title;
    std::string contentType = "text/plain";
    std::string charset = "iso-8859-1";  // of the text; of an attachment: of its encoded name
    std::string text;
    std::vector<std::unique_ptr<CSMTPBodyPart>> children;
    CSMTPBodyPart* parent = nullptr;
    bool quotedPrintable = true;
    bool base64 = false;
};

class CSMTPMessage {
  public:
    CSMTPMessage();
    CSMTPMessage(const CSMTPMessage&) = default;
    CSMTPMessage& operator=(const CSMTPMessage&) = default;
    virtual ~CSMTPMessage();

    // The header text, ending in CR LF (the empty line that ends the header is the sender's).
    virtual std::string BuildHeader() const;

    int AddRecipient(const CSMTPAddress& recipient, RecipientKind kind = RecipientKind::To);
    // Entries separated by "," or ";" (not inside a quoted name); true when at least one
    // address was added.
    bool AddRecipients(std::string_view list, RecipientKind kind = RecipientKind::To);
    int RecipientCount(RecipientKind kind = RecipientKind::To) const;
    const CSMTPAddress* RecipientAt(int index, RecipientKind kind = RecipientKind::To) const;

    void SetCharset(const std::string& charset) { root.SetCharset(charset); }
    const std::string& GetCharset() const { return root.GetCharset(); }
    void SetMime(bool on);
    bool IsMime() const { return mime; }
    int AddBodyPart(const CSMTPBodyPart& part);
    // Paths separated by "," or ";"; returns the number of attachments added.
    int AddAttachments(std::string_view list);
    void AddTextBody(std::string_view text);
    const std::string& GetText() const { return root.GetText(); }

    CSMTPBodyPart& Root() { return root; }
    const CSMTPBodyPart& Root() const { return root; }

    // "<unique@domain>": unique to this message (a copy keeps it), the domain the sender's.
    std::string MessageId() const;

    // The clock of the Date line; null means the system clock. Not owned.
    void SetClock(const platform::Clock* value) { clock = value; }

    CSMTPAddress from;
    std::string subject;
    std::string xMailer = "CQuillSMTPConnection v2.49";
    CSMTPAddress replyTo;
    MessagePriority priority = MessagePriority::NoPriority;
    std::vector<std::string> extraHeaders;  // written as they are, each followed by CR LF

  private:
    std::vector<CSMTPAddress>& ListOf(RecipientKind kind);
    const std::vector<CSMTPAddress>& ListOf(RecipientKind kind) const;

    CSMTPBodyPart root;
    std::vector<CSMTPAddress> toList;
    std::vector<CSMTPAddress> ccList;
    std::vector<CSMTPAddress> bccList;
    bool mime = false;
    const platform::Clock* clock = nullptr;
    std::string messageIdLeft;  // a fresh UUID text
};

// The entries of an attachment list: closed by "," or ";" or the end, trimmed, empty ones
// skipped. A quote is a character like any other.
std::vector<std::string> AttachmentPaths(std::string_view list);
// The file name with its extension: a path without its drive and directories.
std::string FileTitle(std::string_view path);
// Letters, digits and hyphens in dot-separated labels: a name that may stand as a domain
// (right of the "@" of a message id, in a greeting) as it is.
bool IsDomainName(std::string_view text);

// SMTP transparency for message data sent in pieces: one more "." before every line that
// begins with "." (the first line, and each one after a LF), however the pieces are cut.
class DotStuffer {
  public:
    void Append(std::string_view piece, std::string* out);

  private:
    bool lineStart = true;
};

// "Date: " line pieces, exposed for tests: "%a, %d %b %Y %H:%M:%S " in English names, and
// the zone "+hhmm" / "-hhmm" of an offset from UTC in minutes.
std::string FormatMailDate(const std::tm& local);
std::string FormatZoneOffset(int offsetMinutes);
