// The mail sender's failure table and the verdicts read from it (see the header). Lookups
// never fail: a code of no row gets its facility's row or the unknown failure's.
#include "mailer/smtp/smtp_failures.h"

#include "mailer/smtp/smtp_exception.h"
#include "platform/socket.h"

namespace {

using platform::TlsFailure;

constexpr SmtpFailureRow kRows[] = {
#define SMTP_FAILURE_ROW(name, number, phase, passing, text, tls, words) \
    {SmtpInterfaceError(number), SenderPhase::phase, Passing::passing,   \
     FailureText::text,          TlsFailure::tls,    words},
    SMTP_FAILURES(SMTP_FAILURE_ROW)
#undef SMTP_FAILURE_ROW
    // Socket errors, by class; a broken connection is as likely to pass as to stay.
    {SmtpSocketError(platform::kWsaTimedOut), SenderPhase::Step, Passing::Transient,
     FailureText::Detail, TlsFailure::None, "the server did not answer in time"},
    {SmtpSocketError(platform::kWsaConnRefused), SenderPhase::Step, Passing::Transient,
     FailureText::Detail, TlsFailure::None,
     "the server refused the connection (nothing listens at SMTPSRV on SMTPPORT)"},
    {SmtpSocketError(platform::kWsaConnAborted), SenderPhase::Step, Passing::Transient,
     FailureText::Detail, TlsFailure::None, "the connection was broken off"},
    {SmtpSocketError(platform::kWsaConnReset), SenderPhase::Step, Passing::Transient,
     FailureText::Detail, TlsFailure::None, "the server reset the connection"},
    {SmtpSocketError(platform::kWsaNotConnected), SenderPhase::Step, Passing::Transient,
     FailureText::Detail, TlsFailure::None, "the connection is gone"},
    {SmtpSocketError(platform::kWsaShutdown), SenderPhase::Step, Passing::Transient,
     FailureText::Detail, TlsFailure::None, "the server closed the connection"},
    {SmtpSocketError(platform::kWsaNetUnreachable), SenderPhase::Step, Passing::Transient,
     FailureText::Detail, TlsFailure::None, "the network does not reach the server"},
    {SmtpSocketError(platform::kWsaHostUnreachable), SenderPhase::Step, Passing::Transient,
     FailureText::Detail, TlsFailure::None, "no route to the server"},
    // A name that does not resolve may be a resolver that is down for a while.
    {SmtpSocketError(platform::kWsaHostNotFound), SenderPhase::Step, Passing::Transient,
     FailureText::Detail, TlsFailure::None, "the server's name (SMTPSRV) cannot be resolved"},
    {SmtpSocketError(platform::kWsaInvalidArgument), SenderPhase::Step, Passing::Permanent,
     FailureText::Detail, TlsFailure::None, "SMTPSRV or SMTPPORT cannot be used"},
};

// A code twice would leave its second row unread.
constexpr bool CodesAreDistinct() {
    for (const SmtpFailureRow& a : kRows) {
        int seen = 0;
        for (const SmtpFailureRow& b : kRows) {
            seen += a.code == b.code ? 1 : 0;
        }
        if (seen != 1) {
            return false;
        }
    }
    return true;
}
static_assert(CodesAreDistinct(), "two failure rows share a code");

constexpr SmtpFailureRow kAnySocketFailure = {0,
                                              SenderPhase::Step,
                                              Passing::Transient,
                                              FailureText::Detail,
                                              TlsFailure::None,
                                              "a network failure"};
// The NTLM package's own statuses (the system's, or our provider's).
constexpr SmtpFailureRow kAnySecurityFailure = {0,
                                                SenderPhase::Authentication,
                                                Passing::Permanent,
                                                FailureText::Reply,
                                                TlsFailure::None,
                                                "the NTLM package refused the exchange"};
constexpr SmtpFailureRow kUnknownFailure = {0,
                                            SenderPhase::Step,
                                            Passing::Permanent,
                                            FailureText::Reply,
                                            TlsFailure::None,
                                            "a failure of no known kind"};

constexpr SenderPhaseRow kPhases[] = {
    {SenderPhase::Sent, kSenderSent, "sending the report mail"},
    {SenderPhase::Unexpected, kSenderUnexpected, "running"},
    {SenderPhase::SocketStartup, kSenderSocketStartup, "starting the socket library"},
    {SenderPhase::Build, kSenderBuild, "building the report mail"},
    {SenderPhase::Connect, kSenderConnect, "connecting to the mail server"},
    {SenderPhase::Greeting, kSenderGreeting, "greeting the mail server"},
    {SenderPhase::Authentication, kSenderAuthentication, "authenticating with the mail server"},
    {SenderPhase::Transfer, kSenderTransfer, "sending the report mail"},
    {SenderPhase::Tls, kSenderTls, "setting up TLS with the mail server"},
    {SenderPhase::Certificate, kSenderCertificate, "verifying the mail server's certificate"},
    {SenderPhase::TokenEndpoint, kSenderTokenEndpoint, "fetching an OAuth token"},
    {SenderPhase::TokenGrant, kSenderTokenGrant, "getting an OAuth token granted"},
    {SenderPhase::TokenLogin, kSenderTokenLogin, "refreshing the OAuth login"},
};

}  // namespace

const SmtpFailureRow& FailureRowOf(std::uint32_t code) {
    for (const SmtpFailureRow& row : kRows) {
        if (row.code == code) {
            return row;
        }
    }
    switch (CSMTPException::FacilityOf(code)) {
        case kFacilitySystem:
            return kAnySocketFailure;
        case kFacilitySecurity:
            return kAnySecurityFailure;
        default:
            return kUnknownFailure;
    }
}

const SenderPhaseRow& PhaseRowOf(SenderPhase phase) {
    for (const SenderPhaseRow& row : kPhases) {
        if (row.phase == phase) {
            return row;
        }
    }
    return PhaseRowOf(SenderPhase::Unexpected);  // Step: the caller names the step instead
}

std::uint32_t TlsFailureCode(platform::TlsFailure kind) {
    for (const SmtpFailureRow& row : kRows) {
        if (row.tls == kind && kind != TlsFailure::None) {
            return row.code;
        }
    }
    return SmtpInterfaceError(kSmtpTlsHandshake);
}

bool MayPass(const SmtpFailureRow& row, int replyCode) {
    switch (row.passing) {
        case Passing::Transient:
            return true;
        case Passing::Permanent:
            return false;
        case Passing::ByReply:
            break;
    }
    return replyCode == 0 || (replyCode >= 400 && replyCode < 500);
}

SenderVerdict JudgeFailure(const CSMTPException& failure, SenderPhase step) {
    const SmtpFailureRow& row = FailureRowOf(failure.Code());
    const SenderPhaseRow& phase = PhaseRowOf(row.phase == SenderPhase::Step ? step : row.phase);
    std::string line = std::string(phase.doing) + " failed: " + row.words + ", ";
    if (row.text == FailureText::Reply || failure.Response().empty()) {
        line += failure.Describe();
    } else {
        line += CSMTPException(failure.Code()).Describe() + " (" + failure.Response() + ")";
    }
    return {phase.exit, line, MayPass(row, failure.ReplyCode())};
}
