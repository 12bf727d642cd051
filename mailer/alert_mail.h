// Postvane's second job: a plain mail handed over as a file (`-mail FILE`, written by the
// service for an alert), sent to the configured recipients with the configured mail
// settings, with no attachments. The file is read within bounds and refused when it is not
// a mail file; its subject can hold no line break (common/mail_file.h).
#pragma once

#include <string>

#include "common/mail_file.h"
#include "mailer/mime/smtp_message.h"

// False when the file cannot be read or is not a mail file.
bool ReadMailFile(const std::string& path, MailText* mail);

// The message: the recipients, the subject and the text, nothing attached.
void BuildPlainMessage(CSMTPMessage& message, const std::string& recipients, const MailText& mail);
