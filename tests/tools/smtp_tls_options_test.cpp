// `tallyctl smtp set --tls/--ca-file`: a mode is stored in its one spelling, a mistyped mode
// is refused before anything is written, and the roots file can be cleared again.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_env.h"
#include "tools/smtp_command.h"

namespace {

class SmtpTlsOptionsTest : public testing_support::RegistryTest {};

TEST_F(SmtpTlsOptionsTest, StoresModesAndRefusesOthers) {
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* tls;     // SMTPTLS afterwards, null: absent
        const char* caFile;  // SMTPCAFile afterwards, null: absent
    };
    const Case cases[] = {
        {{"set", "--tls", " StartTLS "}, 0, "starttls", nullptr},
        {{"set", "--tls", "TLS", "--ca-file", "/etc/company-ca.pem"},
         0,
         "tls",
         "/etc/company-ca.pem"},
        {{"set", "--ca-file", ""}, 0, "tls", ""},
        {{"set", "--tls", "none"}, 0, "none", ""},
        // Nothing is written when one value is wrong, not even the good ones.
        {{"set", "--tls", "ssl", "--ca-file", "/x.pem"}, 2, "none", ""},
        {{"set", "--tls"}, 2, "none", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.size() > 2 ? c.args[2] : c.args[1]);
        EXPECT_EQ(RunSmtpCommand(c.args), c.status);
        std::string value;
        EXPECT_EQ(testing_support::GetRegString("SMTPTLS", &value), c.tls != nullptr);
        if (c.tls) {
            EXPECT_EQ(value, c.tls);
        }
        EXPECT_EQ(testing_support::GetRegString("SMTPCAFile", &value), c.caFile != nullptr);
        if (c.caFile) {
            EXPECT_EQ(value, c.caFile);
        }
    }
}

}  // namespace
