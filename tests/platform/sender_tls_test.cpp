// Postvane's whole run over implicit TLS against the loopback TLS server: a refused
// certificate and an unusable TLS setting end the run with their own exit status and one line
// saying why, before anything (the password least of all) is sent.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mailer/sender_app.h"
#include "mailer/smtp/smtp_settings.h"
#include "tests/platform/tls_test_server.h"
#include "tests/support/test_env.h"

using testing_support::SetRegDword;
using testing_support::SetRegString;

namespace {

class SenderTlsTest : public testing_support::RegistryTest {};

TEST_F(SenderTlsTest, RefusalsHaveTheirOwnStatusAndReason) {
    testing_support::TlsTestCa ca("Test Root");
    ca.WritePem(scratch_ / "ca.pem");
    struct Case {
        const char* what;
        const char* tls;
        const char* server;
        std::string caFile;
        int status;
        const char* reason;
        bool listens;  // a TLS server waits (a refusal must come from the certificate)
    };
    const Case cases[] = {
        {"unknown issuer", "tls", "127.0.0.1", "", kSenderCertificate, "unknown issuer", true},
        {"name mismatch", "tls", "localhost", scratch_ / "ca.pem", kSenderCertificate,
         "name mismatch", true},
        {"roots file missing", "tls", "127.0.0.1", scratch_ / "none.pem", kSenderTls, "SMTPCAFile",
         true},
        // A mistyped mode must not mean clear text: nothing is even connected.
        {"mistyped mode", "ssl", "127.0.0.1", "", kSenderTls, "SMTPTLS is 'ssl'", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testing_support::TlsTestServer server;
        std::string heard;
        if (c.listens) {
            server.StartTls(ca.Issue({}, {"127.0.0.1"}),
                            [&](testing_support::TlsServerConnection& connection) {
                                connection.Write("220 hi\r\n");
                                heard = connection.Read(1, 2000);
                            });
        }
        SetRegString("SMTPSRV", ShiftSetting(c.server));
        SetRegDword("SMTPPORT", server.Port());
        SetRegString("SMTPAUTH", ShiftSetting("AUTH LOGIN"));
        SetRegString("SMTPEmailAddress4Server", ShiftSetting("bob"));
        SetRegString("SMTPPass4MailServer", ShiftSetting("secret"));
        SetRegString("EmailAddress", ShiftSetting("desk@test"));
        SetRegString("SMTPTLS", c.tls);
        SetRegString("SMTPCAFile", c.caFile);
        std::vector<std::string> reported;
        CSenderApp app;
        app.SetReplyTimeout(30000);  // a hang guard: each case ends by a refusal at once
        app.SetHeloHost("client.test");
        app.SetReporter([&](const std::string& line) { reported.push_back(line); });
        app.InitInstance();
        EXPECT_EQ(app.ExitStatus(), c.status);
        ASSERT_EQ(reported.size(), 1u);
        EXPECT_NE(reported[0].find(c.reason), std::string::npos) << reported[0];
        if (c.listens) {
            EXPECT_FALSE(server.Finish()) << "the handshake must not have succeeded";
        }
        EXPECT_EQ(heard, "");
    }
}

}  // namespace
