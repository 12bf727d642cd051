// The mail sender's failure table as the run reads it: the exit status and line of a failure
// in each phase, whether it may pass, and the TLS set-up failures each with a row of its own.
#include <gtest/gtest.h>

#include <string>

#include "mailer/smtp/smtp_exception.h"
#include "mailer/smtp/smtp_failures.h"

namespace {

TEST(FailureTable, EachFailureHasItsStatusLineAndPassing) {
    const struct {
        std::uint32_t code;
        const char* text;
        int replyCode;
        SenderPhase step;
        SenderExit exit;
        const char* line;
        bool mayPass;
    } cases[] = {
        {SmtpInterfaceError(kSmtpGreeting), "554 busy", 554, SenderPhase::Connect, kSenderGreeting,
         "greeting the mail server failed: the server's greeting is not 220, code 0x80040200, "
         "last reply: 554 busy",
         false},
        {SmtpInterfaceError(kSmtpGreeting), "421 later", 421, SenderPhase::Connect, kSenderGreeting,
         "greeting the mail server failed: the server's greeting is not 220, code 0x80040200, "
         "last reply: 421 later",
         true},
        // No whole reply (a time-out) may pass; what came of it is shown all the same.
        {SmtpInterfaceError(kSmtpLoginPass), "220-half", 0, SenderPhase::Connect,
         kSenderAuthentication,
         "authenticating with the mail server failed: the server refused the user name or "
         "password, code 0x80040211, last reply: 220-half",
         true},
        {SmtpInterfaceError(kSmtpLoginPass), "535 5.7.8 no", 535, SenderPhase::Connect,
         kSenderAuthentication,
         "authenticating with the mail server failed: the server refused the user name or "
         "password, code 0x80040211, last reply: 535 5.7.8 no",
         false},
        // A broken connection belongs to the step that met it.
        {SmtpSocketError(10061), "", 0, SenderPhase::Connect, kSenderConnect,
         "connecting to the mail server failed: the server refused the connection (nothing "
         "listens at SMTPSRV on SMTPPORT), code 0x8007274D",
         true},
        {SmtpSocketError(10054), "", 0, SenderPhase::Transfer, kSenderTransfer,
         "sending the report mail failed: the server reset the connection, code 0x80072746", true},
        {SmtpSocketError(10013), "", 0, SenderPhase::Connect, kSenderConnect,
         "connecting to the mail server failed: a network failure, code 0x8007271D", true},
        {SmtpSocketError(10022), "", 0, SenderPhase::Connect, kSenderConnect,
         "connecting to the mail server failed: SMTPSRV or SMTPPORT cannot be used, code "
         "0x80072726",
         false},
        // The NTLM package's own status.
        {0x8009030Cu, "", 0, SenderPhase::Connect, kSenderAuthentication,
         "authenticating with the mail server failed: the NTLM package refused the exchange, "
         "code 0x8009030C",
         false},
        // TLS: the server's reply, or the library's reason in parentheses.
        {SmtpInterfaceError(kSmtpTlsNotOffered), "250-mx\r\n250 AUTH", 250, SenderPhase::Connect,
         kSenderTls,
         "setting up TLS with the mail server failed: the server does not offer STARTTLS, code "
         "0x80040220, last reply: 250-mx | 250 AUTH",
         false},
        {SmtpInterfaceError(kSmtpTlsRefused), "454 not now", 454, SenderPhase::Connect, kSenderTls,
         "setting up TLS with the mail server failed: the server refused STARTTLS, code "
         "0x80040221, last reply: 454 not now",
         true},
        {SmtpInterfaceError(kSmtpTlsHandshake), "", 0, SenderPhase::Connect, kSenderTls,
         "setting up TLS with the mail server failed: the TLS handshake failed, code 0x80040222",
         true},
        {SmtpInterfaceError(kSmtpTlsUnknownIssuer), "unable to get local issuer certificate", 0,
         SenderPhase::Connect, kSenderCertificate,
         "verifying the mail server's certificate failed: unknown issuer (not signed by a "
         "trusted authority), code 0x80040224 (unable to get local issuer certificate)",
         false},
        {SmtpInterfaceError(kSmtpTlsSetting), "SMTPTLS is 'ssl'", 0, SenderPhase::Build, kSenderTls,
         "setting up TLS with the mail server failed: SMTPTLS is not none, starttls or tls, code "
         "0x80040228 (SMTPTLS is 'ssl')",
         false},
        // Found while sending, but a fault of the mail as built.
        {SmtpInterfaceError(kSmtpNoRecipient), "", 0, SenderPhase::Transfer, kSenderBuild,
         "building the report mail failed: no recipient is left to send to (EmailAddress is "
         "empty or holds no usable address), code 0x8004020A",
         false},
        {SmtpInterfaceError(kSmtpLineBreak), "password holds a line break", 0, SenderPhase::Connect,
         kSenderBuild,
         "building the report mail failed: a value that would go on a command line holds a "
         "line break, code 0x8004020B (password holds a line break)",
         false},
        {SmtpInterfaceError(0x299), "", 0, SenderPhase::Transfer, kSenderTransfer,
         "sending the report mail failed: a failure of no known kind, code 0x80040299", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const SenderVerdict verdict =
            JudgeFailure(CSMTPException(c.code, c.text, c.replyCode), c.step);
        EXPECT_EQ(verdict.exit, c.exit);
        EXPECT_EQ(verdict.line, c.line);
        EXPECT_EQ(verdict.mayPass, c.mayPass);
    }
}

TEST(FailureTable, EveryTlsSetUpFailureHasARowOfItsOwn) {
    using platform::TlsFailure;
    const struct {
        TlsFailure kind;
        std::uint32_t code;
    } cases[] = {
        {TlsFailure::Expired, kSmtpTlsExpired},
        {TlsFailure::UnknownIssuer, kSmtpTlsUnknownIssuer},
        {TlsFailure::NameMismatch, kSmtpTlsNameMismatch},
        {TlsFailure::Certificate, kSmtpTlsCertificate},
        {TlsFailure::CaFile, kSmtpTlsCaFile},
        {TlsFailure::Handshake, kSmtpTlsHandshake},
        {TlsFailure::None, kSmtpTlsHandshake},  // never reported; the handshake's if it were
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TlsFailureCode(c.kind), SmtpInterfaceError(c.code));
    }
}

}  // namespace
