// A plain mail handed from the service to the mail sender as a file: its subject and its text,
// nothing else (no addresses, no attachments; the sender adds those from its settings). The
// file is "Subject: " + subject, an empty line, then the text; written in text mode it has
// CR LF line ends, and reading accepts CR LF or LF. Reading distrusts the file: a subject
// loses every control byte, the whole file is bounded, and a file of any other shape is
// refused rather than guessed at.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct MailText {
    std::string subject;  // one line
    std::string body;     // lines ending in "\n"
};

inline constexpr std::size_t kMaxMailFileBytes = 256 * 1024;
inline constexpr std::size_t kMaxSubjectBytes = 200;

// The file's content with LF line ends (the writer's text mode adds the CRs).
std::string FormatMailFile(const MailText& mail);
// False when the bytes are not a mail file (no subject line, no empty line after it, too
// long); *out is then unchanged.
bool ParseMailFile(std::string_view bytes, MailText* out);
// One line of at most maxBytes made from text from outside: CR, LF and every other control
// byte become a space, runs of spaces one, and a cut text ends in "...". 8-bit bytes stay;
// the mail's encoders carry them.
std::string OneLine(std::string_view text, std::size_t maxBytes);
