// NTLM against the scripted loopback server: the NTLMv2 provider's messages checked against
// the published NTLMv2 example values, and its failures. The other methods' dialogues are
// transcripts (transcript_test.cpp).
#include <gtest/gtest.h>

#include "platform/ntlm.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/base64.h"
#include "mailer/smtp/digests.h"
#include "mailer/smtp/ntlm_v2.h"
#include "mailer/smtp/smtp_connection.h"
#include "mailer/smtp/smtp_exception.h"
#include "platform/clock.h"
#include "tests/support/scripted_smtp_server.h"

using testing_support::ScriptedSmtpServer;
using Lines = std::vector<std::string>;

namespace {

std::string B64(const std::string& bytes) {
    return Base64Encode(bytes);
}

std::string Unb64(const std::string& text) {
    std::string bytes;
    Base64Decode(text, Base64Decoding::Lenient, &bytes);
    return bytes;
}

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string Unhex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return out;
}

// Connects with the method and returns the code thrown (0 when authentication passed).
std::uint32_t ConnectWith(ScriptedSmtpServer& server, AuthMethod method, const std::string& user,
                          const std::string& password, std::string* text = nullptr,
                          CQuillSMTPConnection::NtlmFactory factory = nullptr) {
    server.Start();
    try {
        CQuillSMTPConnection c("client.test");
        c.SetReplyTimeout(3000);
        if (factory) {
            c.SetNtlmFactory(factory);
        }
        c.Connect("127.0.0.1", method, user, password, server.Port());
    } catch (const CSMTPException& e) {
        if (text) {
            *text = e.Response();
        }
        return e.Code();
    }
    return 0;
}

// The CHALLENGE message of the published NTLMv2 example: server challenge 0123456789abcdef,
// target "Server", target info NetBIOS domain "Domain" and computer "Server".
std::string ExampleChallenge() {
    return Unhex(
        "4e544c4d53535000020000000c000c003800000033828ae20123456789abcdef0000000000000000240024"
        "004400000006007017000000"
        "0f"
        "530065007200760065007200"
        "02000c0044006f006d00610069006e00"
        "01000c00530065007200760065007200"
        "00000000");
}

const platform::FixedClock kEpoch1601(-11644473600);

std::unique_ptr<NtlmProvider> ExampleProvider(const std::string& user, const std::string& pw) {
    auto provider = std::make_unique<NtlmV2Provider>(user, pw, kEpoch1601);
    provider->SetClientChallenge({0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa});
    return provider;
}

std::uint32_t U32(const std::string& m, std::size_t at) {
    return static_cast<unsigned char>(m[at]) | static_cast<unsigned char>(m[at + 1]) << 8 |
           static_cast<unsigned char>(m[at + 2]) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(m[at + 3])) << 24;
}

// The payload a (length, capacity, offset) field of an NTLM message points at.
std::string Field(const std::string& m, std::size_t at) {
    std::size_t length = static_cast<unsigned char>(m[at]) | static_cast<unsigned char>(m[at + 1])
                                                                 << 8;
    std::size_t offset = U32(m, at + 4);
    return m.substr(offset, length);
}

}  // namespace

TEST(NtlmV2, ResponseKeyMatchesThePublishedExample) {
    Digest16 key = NtlmV2Provider::ResponseKey("User", "Domain", "Password");
    EXPECT_EQ(DigestHex(key), "0c868a403bfd7a93a3001ef22ef02e3f");
}

TEST(SmtpAuth, NtlmExchangeCarriesTheExpectedNtlmV2Responses) {
    std::string negotiate, authenticate;
    ScriptedSmtpServer server;
    server.Say("220 hi\r\n")
        .Reply("250 ok\r\n")
        .Respond([&](const std::string& line) {
            negotiate = line;
            return "334 " + B64(ExampleChallenge()) + "\r\n";
        })
        .Respond([&](const std::string& line) {
            authenticate = line;
            return std::string("235 ok\r\n");
        })
        .Reply("221 bye\r\n");
    EXPECT_EQ(ConnectWith(server, AuthNtlm, "Domain\\User", "Password", nullptr, ExampleProvider),
              0u);
    server.Finish();

    // The first token travels on the AUTH line itself.
    ASSERT_EQ(negotiate.rfind("AUTH NTLM ", 0), 0u);
    std::string type1 = Unb64(negotiate.substr(10));
    ASSERT_GE(type1.size(), 32u);
    EXPECT_EQ(type1.substr(0, 12), std::string("NTLMSSP\0\1\0\0\0", 12));

    std::string type3 = Unb64(authenticate);
    ASSERT_GE(type3.size(), 64u);
    EXPECT_EQ(type3.substr(0, 12), std::string("NTLMSSP\0\3\0\0\0", 12));
    EXPECT_EQ(Field(type3, 28), std::string("D\0o\0m\0a\0i\0n\0", 12));
    EXPECT_EQ(Field(type3, 36), std::string("U\0s\0e\0r\0", 8));
    EXPECT_EQ(Hex(Field(type3, 12)), "86c35097ac9cec102554764a57cccc19aaaaaaaaaaaaaaaa");
    std::string nt = Field(type3, 20);
    EXPECT_EQ(Hex(nt.substr(0, 16)), "68cd0ab851e51c96aabc927bebef6a1c");
    EXPECT_EQ(Hex(nt.substr(16, 28)),
              "0101000000000000"
              "0000000000000000"
              "aaaaaaaaaaaaaaaa"
              "00000000");
}

TEST(SmtpAuth, NtlmFailuresEndWithTheProviderStatus) {
    struct Case {
        const char* name;
        std::string challenge;
        std::uint32_t code;
    };
    const Case cases[] = {
        // 12000 decoded bytes do not fit the 12000-byte input token.
        {"challenge too large", std::string(12000, 'x'), 0x80090300},
        {"not a challenge message", std::string("NTLMSSP\0\1\0\0\0", 12) + std::string(40, 0),
         0x80090308},
        {"target info out of bounds",
         ExampleChallenge().substr(0, 48) + std::string("\x02\x00\x0c\x00", 4), 0x80090308},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedSmtpServer server;
        server.Say("220 hi\r\n")
            .Reply("250 ok\r\n")
            .Reply("334 " + B64(c.challenge) + "\r\n")
            .Reply("221 bye\r\n");
        EXPECT_EQ(ConnectWith(server, AuthNtlm, "u", "p", nullptr, ExampleProvider), c.code);
        Lines heard = server.Finish();
        EXPECT_EQ(heard.back(), "QUIT");
    }
}
