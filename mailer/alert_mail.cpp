// The mail file run of Postvane; see alert_mail.h.
#include "mailer/alert_mail.h"

#include <cstring>

#include "mailer/sender_app.h"
#include "platform/files.h"

bool MailFileArgument(int argc, const char* const* argv, std::string* path) {
    path->clear();
    if (argc <= 1) {
        return true;
    }
    if (argc == 3 && (std::strcmp(argv[1], "-mail") == 0 || std::strcmp(argv[1], "/mail") == 0) &&
        argv[2][0] != '\0') {
        *path = argv[2];
        return true;
    }
    return false;
}

bool ReadMailFile(const std::string& path, MailText* mail) {
    std::string bytes;
    return platform::ReadFileBytes(path, platform::ShareMode::None, &bytes, kMaxMailFileBytes) &&
           ParseMailFile(bytes, mail);
}

void BuildPlainMessage(CSMTPMessage& message, const std::string& recipients, const MailText& mail) {
    message.SetCharset(kSenderCharset);
    message.AddRecipients(recipients, RecipientKind::To);
    message.subject = mail.subject;
    message.AddTextBody(mail.body);
}
