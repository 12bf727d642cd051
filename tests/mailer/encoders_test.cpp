// Tests of the mail sender's base64 codec, quoted-printable, header words and UTF-8
// conversion.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "mailer/mime/base64_codec.h"
#include "mailer/mime/encoders.h"

namespace {

TEST(Base64Codec, EncodesGroupsWithPadding) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"abc", "YWJj"},
        {"ab", "YWI="},
        {"a", "YQ=="},
        {"", ""},
        {std::string("\0\xff\x10", 3), "AP8Q"},
        {"abcd", "YWJjZA=="},
    };
    for (const auto& c : cases) {
        CBase64Codec codec;
        codec.EncodeBytes(c.in);
        EXPECT_EQ(codec.EncodedString(), c.out) << c.in;
        EXPECT_EQ(codec.EncodedLength(), c.out.size());
        EXPECT_EQ(std::strlen(codec.EncodedText()), c.out.size()) << "zero-terminated";
    }
}

TEST(Base64Codec, DecodesLeniently) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"YW Jj\r\n", "abc"},                  // blanks and line ends are skipped
        {"YQ==", "a"},                         // one byte
        {"YWI=", "ab"},                        // two bytes
        {"YWI", "ab"},                         // incomplete group of 3 characters
        {"YQ", "a"},                           // incomplete group of 2
        {"YWJjY", "abc"},                      // a single leftover character gives nothing
        {"\xD9\xD7\xCA\xEA", "abc"},           // bit 7 set reads as the plain character
        {"**8=", std::string("\xfb\xef", 2)},  // unknown characters count as 62 ('+')
        {"YQ==YQ==", "aa"},                    // joined encodings leave no gap
        {"\tYQ\x0b=\x0c=", "a"},               // TAB, VT, FF skipped too
    };
    for (const auto& c : cases) {
        CBase64Codec codec;
        codec.DecodeText(c.in);
        EXPECT_EQ(codec.DecodedString(), c.out) << c.in;
        EXPECT_EQ(codec.DecodedData()[codec.DecodedLength()], 0) << "zero-terminated";
    }
}

TEST(Base64Codec, BuffersGrowInSteps) {
    CBase64Codec codec;
    EXPECT_STREQ(codec.EncodedText(), "");
    codec.Encode("a");
    EXPECT_EQ(codec.EncodedCapacity(), 4096u);
    EXPECT_EQ(codec.DecodedCapacity(), 4096u);
    codec.EncodeBytes(std::string(3000, 'x'));  // reserves 6000 for the text
    EXPECT_EQ(codec.EncodedCapacity(), 8192u);
    EXPECT_EQ(codec.EncodedLength(), 4000u);
    codec.Encode("a");  // reuses, never shrinks, and leaves no stale text behind
    EXPECT_EQ(codec.EncodedCapacity(), 8192u);
    EXPECT_STREQ(codec.EncodedText(), "YQ==");
    codec.DecodeText(std::string(4096, 'A'));  // 4096 is not more than the capacity
    EXPECT_EQ(codec.DecodedCapacity(), 4096u);
    EXPECT_EQ(codec.DecodedLength(), 3072u);
    codec.DecodeText(std::string(8192, 'A'));
    EXPECT_EQ(codec.DecodedCapacity(), 12288u);
    EXPECT_EQ(codec.DecodedLength(), 6144u);
    EXPECT_EQ(codec.DecodedData()[6144], 0);
}

TEST(Base64Codec, RoundTripsEveryLength) {
    std::mt19937 random(7);
    CBase64Codec encoder;
    CBase64Codec decoder;
    for (std::size_t n = 0; n < 300; ++n) {
        std::string bytes(n, '\0');
        for (char& b : bytes) {
            b = static_cast<char>(random());
        }
        encoder.EncodeBytes(bytes);
        ASSERT_EQ(encoder.EncodedLength(), (n + 2) / 3 * 4);
        decoder.Decode(encoder.EncodedText());
        ASSERT_EQ(decoder.DecodedString(), bytes) << n;
    }
}

TEST(QPEncode, EscapesWhatIsNotPlainText) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"a=b", "a=3Db"},       {"\xE9", "=E9"},          {"a\tb c", "a\tb c"},
        {"\x7f\x01", "=7F=01"}, {"x\r\ny\n", "x\r\ny\n"}, {"~!<>", "~!<>"},
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
        for (char c : encoded) {
            lineLength = (c == '\r' || c == '\n') ? 0 : lineLength + 1;
            ASSERT_LE(lineLength, 76u) << encoded;
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
