// Tests of MD5, MD4 and HMAC-MD5 against the vectors of their RFCs.
#include <gtest/gtest.h>

#include <string>

#include "mailer/smtp/digests.h"

namespace {

const std::string kAlnum = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
const std::string kDigits =
    "12345678901234567890123456789012345678901234567890123456789012345678901234567890";

TEST(Md5, Rfc1321Suite) {
    const struct {
        std::string in, hex;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {kAlnum, "d174ab98d277d9f5a5611c2c9f419d9f"},
        {kDigits, "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DigestHex(Md5(c.in)), c.hex) << c.in;
    }
}

TEST(Md4, Rfc1320Suite) {
    const struct {
        std::string in, hex;
    } cases[] = {
        {"", "31d6cfe0d16ae931b73c59d7e0c089c0"},
        {"a", "bde52cb31de33e46245e05fbdbd6fb24"},
        {"abc", "a448017aaf21d8525fc10ae87aa6729d"},
        {"message digest", "d9130a8164549fe818874806e1c7014b"},
        {"abcdefghijklmnopqrstuvwxyz", "d79e1c308aa5bbcdeea8ed63df412da9"},
        {kAlnum, "043f8582f241db351ce627e153e7f0e4"},
        {kDigits, "e33b4ddc9c38f2199c3e7b164fcc0536"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DigestHex(Md4(c.in)), c.hex) << c.in;
    }
}

// Block boundaries: feeding the input in two pieces at every split gives the same digest.
TEST(Md5, IncrementalEqualsOneShot) {
    std::string data;
    for (int i = 0; i < 200; ++i) {
        data += static_cast<char>(i * 7);
    }
    const Digest16 md5 = Md5(data);
    const Digest16 md4 = Md4(data);
    for (std::size_t split = 0; split <= data.size(); ++split) {
        Md5Context c5;
        c5.Update(data.substr(0, split));
        c5.Update(data.substr(split));
        ASSERT_EQ(c5.Final(), md5) << split;
        Md4Context c4;
        c4.Update(data.substr(0, split));
        c4.Update(data.substr(split));
        ASSERT_EQ(c4.Final(), md4) << split;
    }
    Md5Context reused;  // Final leaves a fresh context behind
    reused.Update("x");
    reused.Final();
    reused.Update("abc");
    EXPECT_EQ(DigestHex(reused.Final()), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(HmacMd5, Rfc2202Suite) {
    std::string key4;
    for (int i = 1; i <= 25; ++i) {
        key4 += static_cast<char>(i);
    }
    const struct {
        std::string key, data, hex;
    } cases[] = {
        {std::string(16, '\x0b'), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
        {"Jefe", "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738"},
        {std::string(16, '\xaa'), std::string(50, '\xdd'), "56be34521d144c88dbb8c733f0e8b3f6"},
        {key4, std::string(50, '\xcd'), "697eaf0aca3a3aea3a75164746ffaa79"},
        {std::string(16, '\x0c'), "Test With Truncation", "56461ef2342edc00f9bab995690efd4c"},
        {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
         "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
        {std::string(80, '\xaa'),
         "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
         "6f630fad67cda0ee1fb1f562db3aa53e"},
        // The CRAM-MD5 example of RFC 2195.
        {"tanstaaftanstaaf", "<1896.697170952@postoffice.reston.mci.net>",
         "b913a602c7eda7a495b4e6e7334d3890"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DigestHex(HmacMd5(c.key, c.data)), c.hex) << c.data;
        Digest16 raw;
        HmacMd5(reinterpret_cast<const unsigned char*>(c.data.data()), c.data.size(),
                reinterpret_cast<const unsigned char*>(c.key.data()), c.key.size(), raw.data());
        EXPECT_EQ(DigestHex(raw), c.hex) << "data first, then key";
    }
}

}  // namespace
