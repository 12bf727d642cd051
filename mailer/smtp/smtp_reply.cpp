// SmtpReplyParser: the shape check of SMTP replies, one byte at a time (see the header). A
// bare LF is taken as a line end as well as CR LF; nothing else is forgiven.
#include "mailer/smtp/smtp_reply.h"

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

SmtpReplyParser::State SmtpReplyParser::Refuse(State why) {
    state = why;
    return state;
}

SmtpReplyParser::State SmtpReplyParser::Add(char c) {
    if (state != State::NeedMore) {
        return state;
    }
    received += c;
    if (received.size() > kMaxReplyBytes || received.size() - lineStart > kMaxReplyLineBytes) {
        return Refuse(State::TooLong);
    }
    const std::size_t column = received.size() - 1 - lineStart;
    if (c != '\n') {
        // The shape is known from the first four bytes of a line: refuse at once rather than
        // wait for a line end that a hostile server may never send.
        if (column < 3 && !IsDigit(c)) {
            return Refuse(State::Malformed);
        }
        if (column == 3 && c != ' ' && c != '-' && c != '\r') {
            return Refuse(State::Malformed);
        }
        return state;
    }
    std::size_t end = received.size() - 1;
    if (end > lineStart && received[end - 1] == '\r') {
        --end;
    }
    const std::size_t length = end - lineStart;
    if (length < 3) {
        return Refuse(State::Malformed);
    }
    const char separator = length == 3 ? ' ' : received[lineStart + 3];
    if (separator == '-') {
        lineStart = received.size();
        return state;
    }
    if (separator != ' ') {
        return Refuse(State::Malformed);  // "250\rx": a CR that ends no line
    }
    code = (received[lineStart] - '0') * 100 + (received[lineStart + 1] - '0') * 10 +
           (received[lineStart + 2] - '0');
    state = State::Complete;
    return state;
}

std::string SmtpReplyParser::Text() const {
    if (state != State::Complete) {
        return received;
    }
    std::size_t end = received.size() - 1;  // the final LF
    if (end > 0 && received[end - 1] == '\r') {
        --end;
    }
    return received.substr(0, end);
}
