// The mail sender's failures, one row each, keyed by code: the phase of the run it belongs to
// (and so the exit status), the words the administrator reads, whether it may pass (a later
// try can succeed: the outbox retries those, never the others) and what the failure's text
// holds. A code without a row of its own falls to its facility's row (socket errors, the NTLM
// package's statuses) or to the row of unknown failures, so every failure has an answer.
// Adding a failure kind is adding a row to SMTP_FAILURES; nothing else lists them.
#pragma once

#include <cstdint>
#include <string>

#include "platform/tls.h"

class CSMTPException;

// Exit status of Postvane, one per phase that can fail.
enum SenderExit : int {
    kSenderSent = 0,             // the mail was accepted by the server
    kSenderUnexpected = 1,       // a failure of no known kind
    kSenderSocketStartup = 2,    // the socket library could not be started
    kSenderBuild = 3,            // the message could not be built
    kSenderConnect = 4,          // the server could not be reached, or the connection broke
    kSenderGreeting = 5,         // greeting or HELO/EHLO refused
    kSenderAuthentication = 6,   // authentication failed
    kSenderTransfer = 7,         // MAIL FROM, RCPT TO, DATA or the message itself failed
    kSenderTls = 8,              // no TLS: STARTTLS not offered or refused, handshake failed,
                                 // SMTPTLS or SMTPCAFile unusable
    kSenderCertificate = 9,      // the server's certificate failed verification
    kSenderTokenEndpoint = 10,   // no OAuth token: the token endpoint is unreachable or gave none
    kSenderTokenGrant = 11,      // the token endpoint refused the grant, or the OAuth settings
                                 // are unusable
    kSenderTokenLogin = 12,      // the refresh token is no longer valid: the login must be repeated
    kSenderKept = 13,            // not sent yet: kept in the outbox for another try
    kSenderBusy = 14,            // another sender is at work; the mail waits in the outbox
    kSenderOutboxUnusable = 15,  // the outbox cannot be read or written, or holds a damaged entry
    kSenderArguments = 16,       // an argument of no known kind
};

// The phases of a run. Step stands for whichever of Connect and Transfer was running: a
// connection can break during either.
enum class SenderPhase {
    Sent,
    Unexpected,
    SocketStartup,
    Build,
    Connect,
    Greeting,
    Authentication,
    Transfer,
    Tls,
    Certificate,
    TokenEndpoint,
    TokenGrant,
    TokenLogin,
    Step,
};

// Whether a later try may succeed: always, never, or as the server's reply says (a 4xx reply
// may pass, a 5xx or any other reply not, no whole reply at all may).
enum class Passing { Transient, Permanent, ByReply };

// What the failure's text is: the server's last reply, or our own detail (the TLS library's
// reason, the setting that is wrong), shown in parentheses.
enum class FailureText { Reply, Detail };

// The protocol failures (interface facility): name, 16-bit code, phase, passing, text, the TLS
// set-up failure it stands for, and the words for the administrator.
#define SMTP_FAILURES(X)                                                                           \
    X(kSmtpGreeting, 512, Greeting, ByReply, Reply, None, "the server's greeting is not 220")      \
    X(kSmtpPartHeader, 513, Transfer, Permanent, Detail, None,                                     \
      "a part header of the mail cannot be written")                                               \
    X(kSmtpPartBody, 514, Transfer, Permanent, Detail, None,                                       \
      "a report file cannot be sent whole (missing, unreadable, too large or changed meanwhile)")  \
    X(kSmtpPartFooter, 515, Transfer, Permanent, Detail, None,                                     \
      "a closing delimiter of the mail cannot be written")                                         \
    X(kSmtpHeloAuth, 516, Greeting, ByReply, Reply, None, "the server refused EHLO and HELO")      \
    X(kSmtpHeloNoAuth, 517, Greeting, ByReply, Reply, None, "the server refused HELO")             \
    X(kSmtpQuit, 518, Transfer, ByReply, Reply, None, "the server did not answer QUIT with 221")   \
    X(kSmtpMailFrom, 519, Transfer, ByReply, Reply, None, "the server refused the sender")         \
    X(kSmtpData, 520, Transfer, ByReply, Reply, None, "the server refused DATA")                   \
    X(kSmtpEndOfData, 521, Transfer, ByReply, Reply, None, "the server did not take the mail")     \
    X(kSmtpNoRecipient, 522, Build, Permanent, Detail, None,                                       \
      "no recipient is left to send to (EmailAddress is empty or holds no usable address)")        \
    X(kSmtpLineBreak, 523, Build, Permanent, Detail, None,                                         \
      "a value that would go on a command line holds a line break")                                \
    X(kSmtpRcptTo, 524, Transfer, ByReply, Reply, None, "the server refused a recipient")          \
    X(kSmtpLoginStart, 525, Authentication, ByReply, Reply, None, "the server refused AUTH LOGIN") \
    X(kSmtpLoginUserPrompt, 526, Authentication, Permanent, Reply, None,                           \
      "the first AUTH LOGIN prompt is not \"username:\"")                                          \
    X(kSmtpLoginUser, 527, Authentication, ByReply, Reply, None,                                   \
      "the server refused the user name")                                                          \
    X(kSmtpLoginPassPrompt, 528, Authentication, Permanent, Reply, None,                           \
      "the second AUTH LOGIN prompt is not \"password:\"")                                         \
    X(kSmtpLoginPass, 529, Authentication, ByReply, Reply, None,                                   \
      "the server refused the user name or password")                                              \
    X(kSmtpPlainStart, 530, Authentication, ByReply, Reply, None, "the server refused AUTH PLAIN") \
    X(kSmtpPlainUserPrompt, 531, Authentication, Permanent, Reply, None,                           \
      "the first AUTH PLAIN prompt is not \"username:\"")                                          \
    X(kSmtpPlainUser, 532, Authentication, ByReply, Reply, None,                                   \
      "the server refused the user name")                                                          \
    X(kSmtpPlainPassPrompt, 533, Authentication, Permanent, Reply, None,                           \
      "the second AUTH PLAIN prompt is not \"password:\"")                                         \
    X(kSmtpPlainPass, 534, Authentication, ByReply, Reply, None,                                   \
      "the server refused the user name or password")                                              \
    X(kSmtpCramStart, 535, Authentication, ByReply, Reply, None,                                   \
      "the server refused AUTH CRAM-MD5")                                                          \
    X(kSmtpCramAnswer, 536, Authentication, ByReply, Reply, None,                                  \
      "the server refused the user name or password")                                              \
    X(kSmtpNtlm, 538, Authentication, ByReply, Reply, None,                                        \
      "the server refused the NTLM exchange")                                                      \
    X(kSmtpTlsNotOffered, 544, Tls, Permanent, Reply, None, "the server does not offer STARTTLS")  \
    X(kSmtpTlsRefused, 545, Tls, ByReply, Reply, None, "the server refused STARTTLS")              \
    X(kSmtpTlsHandshake, 546, Tls, Transient, Detail, Handshake, "the TLS handshake failed")       \
    X(kSmtpTlsExpired, 547, Certificate, Permanent, Detail, Expired, "expired or not yet valid")   \
    X(kSmtpTlsUnknownIssuer, 548, Certificate, Permanent, Detail, UnknownIssuer,                   \
      "unknown issuer (not signed by a trusted authority)")                                        \
    X(kSmtpTlsNameMismatch, 549, Certificate, Permanent, Detail, NameMismatch,                     \
      "name mismatch (not issued for the server's name or address)")                               \
    X(kSmtpTlsCertificate, 550, Certificate, Permanent, Detail, Certificate, "not acceptable")     \
    X(kSmtpTlsCaFile, 551, Tls, Permanent, Detail, CaFile, "the SMTPCAFile roots cannot be read")  \
    X(kSmtpTlsSetting, 552, Tls, Permanent, Detail, None, "SMTPTLS is not none, starttls or tls")  \
    X(kSmtpOAuthNoTls, 553, TokenGrant, Permanent, Detail, None,                                   \
      "a bearer token is a password and goes only over TLS: set SMTPTLS to starttls or tls")       \
    X(kSmtpOAuthStart, 554, Authentication, ByReply, Reply, None,                                  \
      "the server refused the OAuth mechanism (is it offered? check SMTPAUTH)")                    \
    X(kSmtpOAuthRefused, 555, Authentication, ByReply, Reply, None,                                \
      "the mail server refused the OAuth token, a fresh one too: check that the account may "      \
      "send as SMTPEmailAddress4Server (its SMTP permission and mailbox)")                         \
    X(kOAuthUnreachable, 556, TokenEndpoint, Transient, Detail, None,                              \
      "the token endpoint cannot be reached (check SMTPOAuthTokenURL and the network; a later "    \
      "try may pass)")                                                                             \
    X(kOAuthNoToken, 557, TokenEndpoint, Transient, Detail, None,                                  \
      "the token endpoint gave no usable token (a later try may pass)")                            \
    X(kOAuthGrantRefused, 558, TokenGrant, Permanent, Detail, None,                                \
      "the token endpoint refused the grant: check SMTPOAuthClientID, the client secret and "      \
      "SMTPOAuthScope")                                                                            \
    X(kOAuthInvalidGrant, 559, TokenLogin, Permanent, Detail, None,                                \
      "the refresh token is expired or revoked: repeat the login with tallyctl smtp oauth login")  \
    X(kOAuthSettings, 560, TokenGrant, Permanent, Detail, None,                                    \
      "the OAuth settings cannot be used: check them with tallyctl smtp show")                     \
    X(kOAuthSecretStore, 561, TokenGrant, Permanent, Detail, None,                                 \
      "an OAuth secret cannot be read or stored (the stored refresh token is kept)")

// The 16-bit codes of the protocol failures.
enum SmtpFailure : std::uint32_t {
#define SMTP_FAILURE_CODE(name, number, ...) name = number,
    SMTP_FAILURES(SMTP_FAILURE_CODE)
#undef SMTP_FAILURE_CODE
};

struct SmtpFailureRow {
    std::uint32_t code;  // the full 32-bit value
    SenderPhase phase;
    Passing passing;
    FailureText text;
    platform::TlsFailure tls;  // the TLS set-up failure this row reports, None for the others
    const char* words;
};

struct SenderPhaseRow {
    SenderPhase phase;
    SenderExit exit;
    const char* doing;  // "greeting the mail server"
};

// The row of code: its own, else its facility's, else the one of unknown failures.
const SmtpFailureRow& FailureRowOf(std::uint32_t code);
const SenderPhaseRow& PhaseRowOf(SenderPhase phase);
// The code that reports a TLS set-up failure (the handshake's for a kind without a row).
std::uint32_t TlsFailureCode(platform::TlsFailure kind);

// Whether a later try may succeed; replyCode is the server's reply to the step that failed,
// 0 when no whole reply came (a time-out, a closed connection).
bool MayPass(const SmtpFailureRow& row, int replyCode);

// A failure as the run reports it, in the phase the run was in (Connect or Transfer, for the
// rows whose phase is Step).
struct SenderVerdict {
    SenderExit exit;
    // "greeting the mail server failed: the server's greeting is not 220, code 0x80040200,
    // last reply: 554 busy"
    std::string line;
    bool mayPass;
};
SenderVerdict JudgeFailure(const CSMTPException& failure, SenderPhase step);
