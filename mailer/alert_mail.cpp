// The mail file run of Postvane; see alert_mail.h.
#include "mailer/alert_mail.h"

#include "mailer/mime/encoders.h"
#include "mailer/sender_app.h"
#include "platform/files.h"

bool ReadMailFile(const std::string& path, MailText* mail) {
    std::string bytes;
    return platform::ReadFileBytes(path, platform::ShareMode::None, &bytes, kMaxMailFileBytes) &&
           ParseMailFile(bytes, mail);
}

void BuildPlainMessage(CSMTPMessage& message, const std::string& recipients, const MailText& mail) {
    message.SetCharset(kSenderCharset);
    message.AddRecipients(recipients, RecipientKind::To);
    message.subject = mail.subject;
    // A single-part message goes out as its text stands, so the text is made 7-bit here:
    // quoted-printable carries the 8-bit bytes of names and URLs and keeps every line short.
    std::string wire;
    for (char c : mail.body) {
        if (c == '\n') {
            wire += "\r\n";
        } else {
            wire += c;
        }
    }
    message.AddTextBody(QPEncode(wire));
    message.extraHeaders.push_back("Content-Transfer-Encoding: quoted-printable");
}
