// The one base64 codec: standard encodings, and both decoding policies with their quirks
// (the log store's statuses through its own names, the mail sender's lenient decoding).
#include "common/base64.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "stats/base64.h"

namespace {

TEST(Base64Test, EncodesStandardBase64WithPadding) {
    struct Case {
        std::string plain, encoded;
    } cases[] = {
        {"", ""},
        {"a", "YQ=="},
        {"ab", "YWI="},
        {"abc", "YWJj"},
        {"abcd", "YWJjZA=="},
        {"Last 1 Week: |0|", "TGFzdCAxIFdlZWs6IHwwfA=="},
        {"\xff\xfe", "//4="},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(stats::Base64Encode(c.plain), c.encoded) << c.plain;
    }
}

TEST(Base64Test, EncodeGroupPadsShortGroupsWithoutReadingPastThem) {
    const unsigned char one[1] = {'a'};
    const unsigned char two[2] = {'a', 'b'};
    char out[4];
    stats::Base64EncodeGroup(one, out, 1);
    EXPECT_EQ(std::string(out, 4), "YQ==");
    stats::Base64EncodeGroup(two, out, 2);
    EXPECT_EQ(std::string(out, 4), "YWI=");
}

TEST(Base64Test, DecoderStatusesAndQuirks) {
    struct Case {
        std::string text;
        int status;
        std::string bytes;  // every decoded byte, zero bytes included
    } cases[] = {
        {"", stats::kBase64Empty, ""},
        {"YWJj", stats::kBase64Stopped, "abc"},
        {"YWI=", stats::kBase64Stopped, std::string("ab\0", 3)},
        {"QQ==", stats::kBase64Stopped, std::string("A\0\0", 3)},
        {"YWJjZA", stats::kBase64Incomplete, "abc"},  // incomplete last group dropped
        {"YWJjZ", stats::kBase64Incomplete, "abc"},
        {"YWJj!YWJj", stats::kBase64Stopped, "abc"},  // stops at the first foreign byte
        {"YWJj\r", stats::kBase64Stopped, "abc"},
        {"YWJj\x80YWJj", stats::kBase64HighByte, "abc"},
        {"YW\x80", stats::kBase64Incomplete, ""},  // high byte inside a group
        {std::string("YWJj\0YWJj", 9), stats::kBase64Stopped, "abc"},
    };
    for (const Case& c : cases) {
        std::string out = "junk";
        EXPECT_EQ(stats::Base64Decode(c.text, &out), c.status) << c.text;
        EXPECT_EQ(out, c.bytes) << c.text;
    }
}

TEST(Base64Test, DecodedTextEndsAtTheFirstZeroByte) {
    EXPECT_EQ(stats::Base64DecodeText("QQ=="), "A");
    EXPECT_EQ(stats::Base64DecodeText("QQ==YWJj"), "A");
    EXPECT_EQ(stats::Base64DecodeText("YWJj"), "abc");
}

TEST(Base64Test, RoundTripsEveryByteValue) {
    std::string all;
    for (int i = 0; i < 256; ++i) {
        all.push_back(static_cast<char>(i));
    }
    for (std::size_t len = 0; len <= all.size(); len += 37) {
        std::string decoded;
        stats::Base64Decode(stats::Base64Encode(all.substr(0, len)), &decoded);
        // Padding decodes as zero bytes after the original ones.
        ASSERT_EQ(decoded.size(), (len + 2) / 3 * 3);
        EXPECT_EQ(decoded.substr(0, len), all.substr(0, len));
        EXPECT_EQ(decoded.find_first_not_of('\0', len), std::string::npos);
    }
}

TEST(Base64Test, LenientDecodingTakesWhatItCan) {
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
        {"", ""},
    };
    for (const auto& c : cases) {
        std::string out = "junk";
        EXPECT_EQ(Base64Decode(c.in, Base64Decoding::Lenient, &out),
                  c.in.empty() ? kBase64Empty : kBase64Stopped)
            << c.in;
        EXPECT_EQ(out, c.out) << c.in;
    }
}

TEST(Base64Test, BothPoliciesRoundTripEveryLength) {
    std::mt19937 random(7);
    for (std::size_t n = 0; n < 300; ++n) {
        std::string bytes(n, '\0');
        for (char& b : bytes) {
            b = static_cast<char>(random());
        }
        const std::string encoded = Base64Encode(bytes);
        ASSERT_EQ(encoded.size(), (n + 2) / 3 * 4);
        std::string appended = "x";
        Base64EncodeAppend(bytes, &appended);
        ASSERT_EQ(appended, "x" + encoded);
        std::string decoded;
        Base64Decode(encoded, Base64Decoding::Lenient, &decoded);
        ASSERT_EQ(decoded, bytes) << n;
        // Strict decoding reads the padding as zero bytes after the original ones.
        Base64Decode(encoded, Base64Decoding::StopAtFirstBadByte, &decoded);
        ASSERT_EQ(decoded.substr(0, n), bytes) << n;
    }
}

}  // namespace
