// The reply parser on its own: the shape of every line, where a reply ends, the text and code
// callers see, and both limits at their edges.
#include <gtest/gtest.h>

#include <string>

#include "mailer/smtp/smtp_reply.h"

namespace {

using State = SmtpReplyParser::State;

// Feeds bytes until the parser stops taking them; returns how many it took.
std::size_t Feed(SmtpReplyParser& parser, const std::string& bytes) {
    std::size_t taken = 0;
    while (taken < bytes.size() && parser.Current() == State::NeedMore) {
        parser.Add(bytes[taken++]);
    }
    return taken;
}

TEST(SmtpReplyParser, ShapesOfReplies) {
    const struct {
        const char* what;
        std::string bytes;
        State state;
        int code;          // when complete
        std::string text;  // what callers see
    } cases[] = {
        {"one line", "250 ok\r\n", State::Complete, 250, "250 ok"},
        {"code alone", "250\r\n", State::Complete, 250, "250"},
        {"bare LF", "221 bye\n", State::Complete, 221, "221 bye"},
        {"multi-line", "250-a\r\n250-b\r\n250 c\r\n", State::Complete, 250,
         "250-a\r\n250-b\r\n250 c"},
        {"hyphen and nothing else", "250-\r\n250 \r\n", State::Complete, 250, "250-\r\n250 "},
        {"final code wins", "220-a\r\n554 no\r\n", State::Complete, 554, "220-a\r\n554 no"},
        {"no line end yet", "250 ok", State::NeedMore, 0, "250 ok"},
        {"continuation pending", "250-a\r\n", State::NeedMore, 0, "250-a\r\n"},
        {"letter in the code", "25x ok\r\n", State::Malformed, 0, "25x"},
        {"no separator", "2500 ok\r\n", State::Malformed, 0, "2500"},
        {"short line", "25\r\n", State::Malformed, 0, "25\r"},
        {"empty line", "\r\n", State::Malformed, 0, "\r"},
        {"bad second line", "250-a\r\nhello\r\n", State::Malformed, 0, "250-a\r\nh"},
        {"CR that ends no line", "250\rx\n", State::Malformed, 0, "250\rx\n"},
        {"leading space", " 250 ok\r\n", State::Malformed, 0, " "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SmtpReplyParser parser;
        Feed(parser, c.bytes);
        EXPECT_EQ(parser.Current(), c.state);
        EXPECT_EQ(parser.Text(), c.text);
        if (c.state == State::Complete) {
            EXPECT_EQ(parser.Code(), c.code);
        }
    }
}

TEST(SmtpReplyParser, StopsTakingBytesAtTheEndOfTheReply) {
    SmtpReplyParser parser;
    EXPECT_EQ(Feed(parser, "250 ok\r\n354 next\r\n"), 8u);
    EXPECT_EQ(parser.Add('x'), State::Complete);
    EXPECT_EQ(parser.Text(), "250 ok");
}

TEST(SmtpReplyParser, LimitsAtTheirEdges) {
    // A line of exactly the longest length, its CR LF included, and one byte more.
    const std::string text = "250 " + std::string(kMaxReplyLineBytes - 6, 'x');
    const struct {
        const char* what;
        std::string bytes;
        State state;
    } cases[] = {
        {"longest line", text + "\r\n", State::Complete},
        {"line one byte too long", text + "y\r\n", State::TooLong},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SmtpReplyParser parser;
        Feed(parser, c.bytes);
        EXPECT_EQ(parser.Current(), c.state);
    }

    // Continuation lines up to exactly the longest reply, then a final line of 8 bytes.
    const std::string line = "250-" + std::string(58, 'x') + "\r\n";  // 64 bytes
    std::string body;
    while (body.size() + line.size() <= kMaxReplyBytes - 8) {
        body += line;
    }
    body += "250-" + std::string(kMaxReplyBytes - 8 - body.size() - 6, 'z') + "\r\n";
    ASSERT_EQ(body.size(), kMaxReplyBytes - 8);
    for (const auto& [final, state] : {std::pair<std::string, State>{"250 end\n", State::Complete},
                                       {"250 end\r\n", State::TooLong}}) {
        SmtpReplyParser parser;
        const std::size_t taken = Feed(parser, body + final);
        EXPECT_EQ(parser.Current(), state) << final.size();
        EXPECT_LE(taken, kMaxReplyBytes + 1);
    }
}

}  // namespace
