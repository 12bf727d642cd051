// The OAuth mechanisms on the wire, over TLS to the loopback TLS server: the exact AUTH lines,
// the answer to an error challenge, exactly one fresh token after a refusal and never a
// second, and no AUTH at all without TLS.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/base64.h"
#include "mailer/smtp/oauth_sasl.h"
#include "mailer/smtp/smtp_connection.h"
#include "mailer/smtp/smtp_exception.h"
#include "tests/platform/tls_test_server.h"
#include "tests/support/test_env.h"

namespace {

std::string ReadLine(testing_support::TlsServerConnection& connection) {
    std::string line;
    while (line.size() < 4096 && (line.size() < 2 || line.substr(line.size() - 2) != "\r\n")) {
        const std::string byte = connection.Read(1, 5000);
        if (byte.empty()) {
            break;
        }
        line += byte;
    }
    return line;
}

std::string Challenge(const std::string& json) {
    return "334 " + Base64Encode(json) + "\r\n";
}

TEST(OAuthExchange, RefusedTokenIsRenewedOnceAndOnlyOnce) {
    testing_support::ScratchDir scratch;
    testing_support::TlsTestCa ca("Test Root");
    ca.WritePem(scratch / "ca.pem");
    const std::string xoauth = "AUTH XOAUTH2 " + Base64Encode(XOAuth2Response("a@b.test", "old"));
    const std::string xoauthFresh =
        "AUTH XOAUTH2 " + Base64Encode(XOAuth2Response("a@b.test", "fresh"));
    // The OAUTHBEARER lines name the server's port, known only once it listens.
    const std::string bearer = "BEARER old";
    const std::string bearerFresh = "BEARER fresh";
    const std::string invalid = Challenge(R"({"status":"invalid_token","scope":"smtp"})");
    const struct {
        const char* what;
        AuthMethod method;
        std::vector<std::string> replies;  // after the greeting, one per line the client sends
        std::vector<std::string> lines;    // what the client must send, QUIT included
        int renewals;
        std::uint32_t code;  // 0: authenticated
        const char* text;
    } cases[] = {
        {"accepted",
         AuthXOAuth2,
         {"250 AUTH XOAUTH2\r\n", "235 ok\r\n", "221 bye\r\n"},
         {"EHLO client.test", xoauth, "QUIT"},
         0,
         0,
         ""},
        {"error challenge, then a fresh token",
         AuthXOAuth2,
         {"250 AUTH XOAUTH2\r\n", Challenge(R"({"status":"401"})"), "535 5.7.8 no\r\n",
          "235 ok\r\n", "221 bye\r\n"},
         {"EHLO client.test", xoauth, "", xoauthFresh, "QUIT"},
         1,
         0,
         ""},
        {"refused twice",
         AuthOAuthBearer,
         {"250 AUTH OAUTHBEARER\r\n", invalid, "535 5.7.8 no\r\n", invalid,
          "535 5.7.8 still no\r\n", "221 bye\r\n"},
         {"EHLO client.test", bearer, "AQ==", bearerFresh, "AQ==", "QUIT"},
         1,
         kSmtpOAuthRefused,
         "535 5.7.8 still no (token status: invalid_token)"},
        {"a plain 535, then a fresh token",
         AuthOAuthBearer,
         {"250 AUTH OAUTHBEARER\r\n", "535 5.7.8 no\r\n", "235 ok\r\n", "221 bye\r\n"},
         {"EHLO client.test", bearer, bearerFresh, "QUIT"},
         1,
         0,
         ""},
        {"mechanism unknown",
         AuthXOAuth2,
         {"250 AUTH PLAIN\r\n", "504 5.5.4 unknown mechanism\r\n", "221 bye\r\n"},
         {"EHLO client.test", xoauth, "QUIT"},
         0,
         kSmtpOAuthStart,
         "504 5.5.4 unknown mechanism"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testing_support::TlsTestServer server;
        std::vector<std::string> heard;
        server.StartTls(ca.Issue({}, {"127.0.0.1"}),
                        [&](testing_support::TlsServerConnection& connection) {
                            connection.Write("220 mx\r\n");
                            for (const std::string& reply : c.replies) {
                                const std::string line = ReadLine(connection);
                                if (line.empty()) {
                                    return;
                                }
                                heard.push_back(line.substr(0, line.size() - 2));
                                connection.Write(reply);
                            }
                        });
        const std::uint16_t port = server.Port();
        int renewals = 0;
        std::uint32_t code = 0;
        std::string text;
        {
            CQuillSMTPConnection connection("client.test");
            connection.SetTls(TlsMode::Implicit, scratch / "ca.pem");
            connection.SetReplyTimeout(3000);
            connection.SetTokenRenewal([&] {
                ++renewals;
                return std::string("fresh");
            });
            try {
                connection.Connect("127.0.0.1", c.method, "a@b.test", "old", port);
            } catch (const CSMTPException& failure) {
                code = failure.Code();
                text = failure.Response();
            }
        }
        server.Finish();
        EXPECT_EQ(renewals, c.renewals);
        EXPECT_EQ(code, c.code ? SmtpInterfaceError(c.code) : 0u);
        EXPECT_EQ(text, c.text);
        std::vector<std::string> expected = c.lines;
        for (std::string& line : expected) {
            if (line.rfind("BEARER ", 0) == 0) {
                line = "AUTH OAUTHBEARER " + Base64Encode(OAuthBearerResponse(
                                                 "a@b.test", "127.0.0.1", port, line.substr(7)));
            }
        }
        EXPECT_EQ(heard, expected);
    }
}

TEST(OAuthExchange, NoTokenWithoutTls) {
    CQuillSMTPConnection connection("client.test");
    connection.SetTls(TlsMode::None, "");
    try {
        // Nothing listens on port 9: a connection attempt would fail with a socket error.
        connection.Connect("127.0.0.1", AuthOAuthBearer, "a@b.test", "token", 9);
        ADD_FAILURE() << "connected";
    } catch (const CSMTPException& failure) {
        EXPECT_EQ(failure.Code(), SmtpInterfaceError(kSmtpOAuthNoTls));
    }
}

}  // namespace
