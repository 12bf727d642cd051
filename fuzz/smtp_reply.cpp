// Fuzzes the SMTP reply reader with what a server may send. The reader's verdict is checked
// against the shape of a reply written out line by line here: a complete reply is lines of
// three digits and a separator, all but the last continued; a refusal comes at the first
// byte that no well-formed reply could hold, or that passes a limit, and not before.
//
// The limits lie far beyond the inputs libFuzzer likes to make, so the input is expanded:
// the byte 0xFF followed by a count N stands for the byte before it N * 256 more times.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/check.h"
#include "mailer/smtp/smtp_reply.h"

namespace {

using State = SmtpReplyParser::State;

constexpr unsigned char kRepeat = 0xFF;

std::string Expand(std::string_view input) {
    std::string out;
    for (std::size_t i = 0; i < input.size(); ++i) {
        if (static_cast<unsigned char>(input[i]) == kRepeat && i + 1 < input.size()) {
            const char repeated = out.empty() ? 'x' : out.back();
            out.append(static_cast<unsigned char>(input[++i]) * std::size_t{256}, repeated);
            // Past this no limit is left to reach.
            if (out.size() > 2 * kMaxReplyBytes) {
                break;
            }
        } else {
            out.push_back(input[i]);
        }
    }
    return out;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string_view WithoutCr(std::string_view line) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

// A line as it ended (its LF removed): three digits, then its end, a blank or a hyphen.
bool IsReplyLine(std::string_view line) {
    line = WithoutCr(line);
    return line.size() >= 3 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]) &&
           (line.size() == 3 || line[3] == ' ' || line[3] == '-');
}

bool IsContinued(std::string_view line) {
    line = WithoutCr(line);
    return line.size() > 3 && line[3] == '-';
}

// A line still arriving that some ending could make a reply line.
bool CanBecomeReplyLine(std::string_view partial) {
    for (std::size_t i = 0; i < partial.size() && i < 3; ++i) {
        if (!IsDigit(partial[i])) {
            return false;
        }
    }
    if (partial.size() < 4) {
        return true;
    }
    // "250\rx" can never end well either, but the reader refuses it at its line end.
    return partial[3] == ' ' || partial[3] == '-' || partial[3] == '\r';
}

// Whether text is the start of a reply with no line yet ending it: within the limits,
// every finished line continued, the line in progress still acceptable.
bool IsReplyInProgress(std::string_view text) {
    if (text.size() > kMaxReplyBytes) {
        return false;
    }
    std::size_t start = 0;
    for (std::size_t lf = text.find('\n'); lf != std::string_view::npos;
         lf = text.find('\n', start)) {
        const std::string_view line = text.substr(start, lf - start);
        if (lf + 1 - start > kMaxReplyLineBytes || !IsReplyLine(line) || !IsContinued(line)) {
            return false;
        }
        start = lf + 1;
    }
    const std::string_view partial = text.substr(start);
    return partial.size() <= kMaxReplyLineBytes && CanBecomeReplyLine(partial);
}

// The last line of a text that ends with a LF, that LF included.
std::string_view LastLine(std::string_view withLf) {
    if (withLf.size() < 2) {
        return withLf;
    }
    const std::size_t lf = withLf.rfind('\n', withLf.size() - 2);
    return withLf.substr(lf == std::string_view::npos ? 0 : lf + 1);
}

void CheckComplete(const SmtpReplyParser& reply, std::string_view taken) {
    FUZZ_CHECK(taken.back() == '\n');
    const std::string_view last = LastLine(taken);
    FUZZ_CHECK(IsReplyInProgress(taken.substr(0, taken.size() - last.size())));
    FUZZ_CHECK(last.size() <= kMaxReplyLineBytes && taken.size() <= kMaxReplyBytes);
    const std::string_view content = WithoutCr(last.substr(0, last.size() - 1));
    FUZZ_CHECK(IsReplyLine(content) && !IsContinued(content));
    FUZZ_CHECK(reply.Code() == std::stoi(std::string(content.substr(0, 3))));
    // The text callers report: everything but the final line end.
    const std::size_t lineEnd = last.size() - content.size();
    FUZZ_CHECK(reply.Text() == taken.substr(0, taken.size() - lineEnd));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes = Expand(std::string_view(reinterpret_cast<const char*>(data), size));
    SmtpReplyParser reply;
    std::size_t taken = 0;
    while (taken < bytes.size() && reply.Current() == State::NeedMore) {
        reply.Add(bytes[taken++]);
    }
    const std::string_view got = std::string_view(bytes).substr(0, taken);
    const std::string_view before = got.substr(0, taken == 0 ? 0 : taken - 1);
    switch (reply.Current()) {
        case State::NeedMore:
            FUZZ_CHECK(taken == bytes.size() && IsReplyInProgress(got));
            FUZZ_CHECK(reply.Text() == got);
            return 0;
        case State::Complete:
            CheckComplete(reply, got);
            break;
        case State::Malformed:
            FUZZ_CHECK(IsReplyInProgress(before) && got.size() <= kMaxReplyBytes);
            if (got.back() == '\n') {
                FUZZ_CHECK(!IsReplyLine(LastLine(got).substr(0, LastLine(got).size() - 1)));
            } else {
                FUZZ_CHECK(!CanBecomeReplyLine(got.substr(got.rfind('\n') + 1)));
            }
            FUZZ_CHECK(reply.Text() == got);
            break;
        case State::TooLong: {
            FUZZ_CHECK(IsReplyInProgress(before));
            const std::size_t lineStart = before.rfind('\n') + 1;  // npos + 1 is 0
            FUZZ_CHECK(got.size() > kMaxReplyBytes || got.size() - lineStart > kMaxReplyLineBytes);
            FUZZ_CHECK(reply.Text() == got);
            break;
        }
    }
    // A verdict is final: later bytes are not taken.
    const std::string text = reply.Text();
    const State verdict = reply.Current();
    FUZZ_CHECK(reply.Add('2') == verdict && reply.Add('\n') == verdict && reply.Text() == text);
    return 0;
}
