// Failures of CQuillSMTPConnection that need no dialogue; every dialogue is a transcript
// (transcript_test.cpp).
#include <gtest/gtest.h>

#include <string>

#include "mailer/smtp/smtp_connection.h"
#include "mailer/smtp/smtp_exception.h"
#include "tests/support/scripted_smtp_server.h"

using testing_support::ScriptedSmtpServer;

namespace {

// Runs fn and returns the code of the CSMTPException it throws (0 when none).
template <typename Fn>
std::uint32_t CodeOf(Fn fn, std::string* text = nullptr) {
    try {
        fn();
    } catch (const CSMTPException& e) {
        if (text) {
            *text = e.Response();
        }
        return e.Code();
    }
    return 0;
}

}  // namespace

TEST(SmtpConnection, SocketFailuresCarryTheWinsockErrorInTheSystemFacility) {
    // A port nobody listens on: connection refused (WSAECONNREFUSED, 10061).
    std::uint16_t port;
    {
        ScriptedSmtpServer closed;
        port = closed.Port();
    }
    std::string text = "unset";
    EXPECT_EQ(CodeOf(
                  [&] {
                      CQuillSMTPConnection c("client.test");
                      c.Connect("127.0.0.1", AuthNone, "", "", port);
                  },
                  &text),
              0x8007274Du);
    EXPECT_EQ(text, "");
}
