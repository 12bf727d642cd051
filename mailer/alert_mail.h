// Postvane's second job: a plain mail handed over as a file (`-mail FILE`, written by the
// service for an alert), sent to the configured recipients with the configured mail
// settings, with no attachments. The file is read within bounds and refused when it is not
// a mail file; its subject can hold no line break (common/mail_file.h).
#pragma once

#include <string>

#include "common/mail_file.h"
#include "mailer/mime/smtp_message.h"

// The command line's mail file: the argument after "-mail" or "/mail"; empty for a run that
// mails the reports. False for a command line of any other shape.
bool MailFileArgument(int argc, const char* const* argv, std::string* path);

// False when the file cannot be read or is not a mail file.
bool ReadMailFile(const std::string& path, MailText* mail);

// The message: the recipients, the subject and the text, nothing attached.
void BuildPlainMessage(CSMTPMessage& message, const std::string& recipients, const MailText& mail);
