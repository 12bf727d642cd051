// The mail file between the service and the mail sender: what comes back is what went in,
// hostile subjects and texts cannot add a header line, and files of another shape are refused.
#include "common/mail_file.h"

#include <gtest/gtest.h>

namespace {

TEST(MailFile, RoundTripInBothLineEnds) {
    const MailText mail{"Alert: 10.0.0.1 traffic spike",
                        "Client: 10.0.0.1\n\nUser: b\xe9"
                        "a\n"};
    const std::string file = FormatMailFile(mail);
    EXPECT_EQ(file,
              "Subject: Alert: 10.0.0.1 traffic spike\n\nClient: 10.0.0.1\n\nUser: b\xe9"
              "a\n");
    std::string crlf;
    for (char c : file) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    for (const std::string& bytes : {file, crlf}) {
        MailText back;
        ASSERT_TRUE(ParseMailFile(bytes, &back));
        EXPECT_EQ(back.subject, mail.subject);
        EXPECT_EQ(back.body, mail.body);
    }
}

TEST(MailFile, NoFieldBreaksTheSubjectOrTheLines) {
    struct Case {
        const char* name;
        std::string text;
        std::size_t max;
        std::string line;
    } cases[] = {
        {"header injection", "a\r\nBcc: x@example.com", 100, "a Bcc: x@example.com"},
        {"bare CR and LF", "a\rb\nc", 100, "a b c"},
        {"controls and tabs", std::string("a\0\t\x1b[2Jb\x7f", 9), 100, "a [2Jb"},
        {"8-bit kept", "J\xfcrgen", 100, "J\xfcrgen"},
        {"cut with a mark", std::string(300, 'u'), 10, "uuuuuuu..."},
        {"only blanks", "\r\n \t", 10, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OneLine(c.text, c.max), c.line) << c.name;
    }
    MailText back;
    ASSERT_TRUE(ParseMailFile(FormatMailFile({"x\r\nBcc: y", "line\rX: y\n"}), &back));
    EXPECT_EQ(back.subject, "x Bcc: y");
    EXPECT_EQ(back.body, "line X: y\n");
}

TEST(MailFile, RefusesOtherShapes) {
    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"no subject field", "Alert\n\nbody\n"},
        {"no empty line", "Subject: a\nbody\n"},
        {"too long", "Subject: a\n\n" + std::string(kMaxMailFileBytes, 'x')},
    };
    for (const Case& c : cases) {
        MailText mail{"kept", "kept"};
        EXPECT_FALSE(ParseMailFile(c.bytes, &mail)) << c.name;
        EXPECT_EQ(mail.subject, "kept") << c.name;
    }
}

}  // namespace
