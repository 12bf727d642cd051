// SmtpReplyParser: one SMTP reply, checked line by line as its bytes arrive. Every line must
// be three digits followed by a space, a hyphen or the line end; a hyphen means more lines
// follow, anything else ends the reply. A reply that breaks this shape, or whose line or
// whole size passes the limits below, is refused at the byte that shows it, so a hostile
// server can neither grow our memory nor keep us reading something that is no reply.
#pragma once

#include <cstddef>
#include <string>

// Longest reply line, its line end included. RFC 5321 allows 512 for ordinary replies, but a
// 334 line carries a whole authentication challenge in base64: an NTLM challenge may take up
// to 16000 characters before its token limit (12000 bytes) refuses it, so that must fit.
inline constexpr std::size_t kMaxReplyLineBytes = 20 * 1024;
// Longest whole reply, line ends included (the longest EHLO lists are a few hundred bytes).
inline constexpr std::size_t kMaxReplyBytes = 64 * 1024;

class SmtpReplyParser {
  public:
    enum class State {
        NeedMore,   // the reply goes on
        Complete,   // the final line has arrived
        Malformed,  // a line is not three digits and a separator
        TooLong,    // a line or the whole reply passed its limit
    };

    // Takes the next byte of the reply. Once the state is no longer NeedMore, further bytes
    // are not taken.
    State Add(char c);
    State Current() const { return state; }

    // The code of the final line (valid once Complete).
    int Code() const { return code; }
    // Everything received; for a complete reply without its final line end, which is the
    // form callers report.
    std::string Text() const;

  private:
    State Refuse(State why);

    std::string received;
    std::size_t lineStart = 0;
    int code = 0;
    State state = State::NeedMore;
};
