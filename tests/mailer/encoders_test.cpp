// Tests of the mail sender's quoted-printable, header words and UTF-8 conversion.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "mailer/mime/encoders.h"

namespace {

TEST(QPEncode, EscapesWhatIsNotPlainText) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"a=b", "a=3Db"},
        {"\xE9", "=E9"},
        {"a\tb c", "a\tb c"},
        {"\x7f\x01", "=7F=01"},
        {"x\r\ny\n", "x\r\ny\n"},
        {"~!<>", "~!<>"},
        // Blanks that end a line, or the text, are escaped; others stay.
        {"a \r\nb\t\nc ", "a=20\r\nb=09\nc=20"},
        {" \t", " =09"},
        {"a \rb", "a=20\rb"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(QPEncode(c.in), c.out) << c.in;
    }
}

TEST(QPEncode, SoftBreaksKeepLinesWithin76) {
    const std::string a70(70, 'a');
    const struct {
        const char* what;
        std::string in, out;
    } cases[] = {
        {"no space: cut after 75", std::string(100, 'x'),
         std::string(75, 'x') + "=\r\n" + std::string(25, 'x')},
        {"exactly 76 fits", std::string(76, 'x') + "\r\n", std::string(76, 'x') + "\r\n"},
        {"hard breaks restart the count", a70 + "\r\n" + a70, a70 + "\r\n" + a70},
        {"after the last space", a70 + " " + std::string(10, 'b'),
         a70 + " =\r\n" + std::string(10, 'b')},
        {"escape not split (=E at 74)", std::string(74, 'a') + "\xE9" + "bbbbb",
         std::string(74, 'a') + "=\r\n=E9bbbbb"},
        {"escape not split (= at 73)", std::string(73, 'a') + "\xE9" + "b",
         std::string(73, 'a') + "=\r\n=E9b"},
        {"after the last complete escape", std::string(60, 'a') + "\xE9" + std::string(20, 'b'),
         std::string(60, 'a') + "=E9=\r\n" + std::string(20, 'b')},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(QPEncode(c.in), c.out) << c.what;
    }
}

// Reverses quoted-printable, for the property test below.
std::string QPDecode(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '=') {
            out += text[i];
        } else if (text.compare(i, 3, "=\r\n") == 0) {
            i += 2;
        } else {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        }
    }
    return out;
}

TEST(QPEncode, AnyInputStaysShortAndReversible) {
    std::mt19937 random(11);
    const char pool[] = {' ', '\t', '=', '\xE9', '\x01', '.', '?', '\xFF'};
    for (int round = 0; round < 300; ++round) {
        std::string text(random() % 600, 'a');
        for (char& c : text) {
            // Mostly letters so that long lines occur; line ends rarely.
            const unsigned pick = random() % 300;
            c = pick < 2    ? "\r\n"[pick]
                : pick < 40 ? pool[pick % sizeof(pool)]
                            : static_cast<char>('a' + pick % 26);
        }
        const std::string encoded = QPEncode(text);
        std::size_t lineLength = 0;
        for (std::size_t i = 0; i < encoded.size(); ++i) {
            const char c = encoded[i];
            lineLength = (c == '\r' || c == '\n') ? 0 : lineLength + 1;
            ASSERT_LE(lineLength, 76u) << encoded;
            // No line ends in a blank: transports may strip it.
            const bool lastOfLine =
                i + 1 == encoded.size() || encoded[i + 1] == '\r' || encoded[i + 1] == '\n';
            ASSERT_FALSE(lastOfLine && (c == ' ' || c == '\t')) << encoded;
        }
        // Encoded lines are separated by the original line ends; a soft break is "=\r\n".
        ASSERT_EQ(QPDecode(encoded), text);
    }
}

TEST(EncodeHeaderText, EncodesOnlyPiecesThatNeedIt) {
    const std::string a70(70, 'a');
    const struct {
        std::string in, charset, out;
    } cases[] = {
        {"Report", "iso-8859-1", "Report"},
        {"Caf\xE9 au lait", "iso-8859-1", "=?iso-8859-1?q?Caf=E9_au_lait?="},
        {std::string(75, 'r'), "iso-8859-1", std::string(75, 'r')},
        {a70 + "bb\xE9", "iso-8859-1", a70 + "=?iso-8859-1?q?bb=E9?="},
        {"\xE9=?_", "iso-8859-1", "=?iso-8859-1?q?=E9=3D=3F=5F?="},
        {"\xE9", "utf-8", "=?utf-8?q?=C3=A9?="},
        // A UTF-8 character is never split between two words.
        {std::string(69, 'a') + "\xE9", "UTF-8", std::string(69, 'a') + "=?UTF-8?q?=C3=A9?="},
        // Line ends cannot start a new header line.
        {"a\r\nBcc: x", "iso-8859-1", "=?iso-8859-1?q?a=0D=0ABcc:_x?="},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EncodeHeaderText(c.in, c.charset), c.out) << c.in;
    }
}

TEST(EncodeWords, EscapesAllButTheSafeBytes) {
    const struct {
        std::string in, charset, out;
    } cases[] = {
        {"a b_c\"=?.xml", "iso-8859-1", "=?iso-8859-1?q?a_b=5Fc=22=3D=3F.xml?="},
        {"", "iso-8859-1",
         "=?iso-8859-1?q?"
         "?="},
        {"\xE9\r\n", "UTF-8", "=?UTF-8?q?=C3=A9=0D=0A?="},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EncodeWords(c.in, c.charset), c.out) << c.in;
    }
}

// Long texts: words of at most 75 characters, as full as that allows, no UTF-8 character
// split between two of them.
TEST(EncodeWords, SplitsIntoWordsOfAtMost75) {
    const struct {
        std::string in, charset;
        std::size_t words;
    } cases[] = {
        {std::string(19, '\xE9'), "iso-8859-1", 1},  // 15 + 19 * 3 + 2 = 74
        {std::string(20, '\xE9'), "iso-8859-1", 2},
        {std::string(58, 'a'), "iso-8859-1", 1},
        {std::string(59, 'a'), "iso-8859-1", 2},
        {std::string(21, '\xE9'), "UTF-8", 3},  // 10 characters (60 bytes) a word
    };
    for (const auto& c : cases) {
        const std::string out = EncodeWords(c.in, c.charset);
        std::size_t words = 0;
        for (std::size_t at = 0; at < out.size(); ++words) {
            const std::size_t end = std::min(out.find(' ', at), out.size());
            const std::string word = out.substr(at, end - at);
            EXPECT_LE(word.size(), 75u) << out;
            EXPECT_EQ(word.rfind("=?" + c.charset + "?q?", 0), 0u) << out;
            if (c.charset == "UTF-8") {
                EXPECT_EQ(word.substr(word.size() - 8), "=C3=A9?=") << out;  // ends whole
            }
            at = end + 1;
        }
        EXPECT_EQ(words, c.words) << out;
    }
}

TEST(EncodeExtendedValue, KeepsOnlyAttributeCharacters) {
    const struct {
        std::string in, charset, out;
    } cases[] = {
        {"week.xml", "iso-8859-1", "iso-8859-1''week.xml"},
        {"a b\"*'%;\r\n.xml", "iso-8859-1", "iso-8859-1''a%20b%22%2A%27%25%3B%0D%0A.xml"},
        {"M\xE4rz_~#.xml", "iso-8859-1", "iso-8859-1''M%E4rz_~#.xml"},
        {"M\xE4rz", "utf-8", "utf-8''M%C3%A4rz"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EncodeExtendedValue(c.in, c.charset), c.out) << c.in;
    }
}

TEST(AnsiToUtf8, ConvertsWindows1252) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"abc", "abc"},
        {"\xE9", "\xC3\xA9"},
        {"\xFF", "\xC3\xBF"},
        {"\x80", "\xE2\x82\xAC"},  // euro sign
        {"\x99", "\xE2\x84\xA2"},  // trade mark
        {"\x81", "\xC2\x81"},      // unassigned: kept as the control of that value
        {std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AnsiToUtf8(c.in), c.out) << c.in;
    }
}

}  // namespace
