// Text form of a CSMTPException, used by the sender's one failure line. Never fails.
#include "mailer/smtp/smtp_exception.h"

#include <cstdio>

std::string CSMTPException::Describe() const {
    char code[32];
    std::snprintf(code, sizeof code, "code 0x%08X", static_cast<unsigned>(errorCode_));
    std::string text = code;
    if (!responseText_.empty()) {
        // One line: the reply's own line breaks become " | ".
        std::string reply;
        for (std::size_t i = 0; i < responseText_.size(); ++i) {
            char c = responseText_[i];
            if (c == '\r' && i + 1 < responseText_.size() && responseText_[i + 1] == '\n') {
                reply += " | ";
                ++i;
            } else if (static_cast<unsigned char>(c) < 0x20) {
                reply += ' ';
            } else {
                reply += c;
            }
        }
        text += ", last reply: " + reply;
    }
    return text;
}
