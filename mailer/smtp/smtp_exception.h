// CSMTPException: the one failure type of the mail sender. It carries a 32-bit error code in
// HRESULT layout (bit 31 set, facility in bits 16-28, code in bits 0-15) and the server's last
// reply. Socket failures use the system facility (7) with the Windows Sockets error number and
// an empty text; protocol failures use the interface facility (4) with the codes below and the
// reply that was being waited for. Thrown and caught by value.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

// Builds the HRESULT-style value of a protocol failure (interface facility).
constexpr std::uint32_t SmtpInterfaceError(std::uint32_t code) {
    return 0x80040000u | (code & 0xFFFFu);
}
// Builds the HRESULT-style value of a socket failure (system facility).
constexpr std::uint32_t SmtpSocketError(std::uint32_t wsaError) {
    return 0x80070000u | (wsaError & 0xFFFFu);
}

// TLS failure codes (the 16-bit part, interface facility). The exception text is the server's
// reply for the first two, the TLS library's reason for the others.
enum SmtpTlsFailure : std::uint32_t {
    kSmtpTlsNotOffered = 544,     // STARTTLS is required but the EHLO reply does not offer it
    kSmtpTlsRefused = 545,        // STARTTLS not answered with 220
    kSmtpTlsHandshake = 546,      // the TLS handshake failed or timed out
    kSmtpTlsExpired = 547,        // a certificate has expired or is not yet valid
    kSmtpTlsUnknownIssuer = 548,  // the chain does not end at a trusted root
    kSmtpTlsNameMismatch = 549,   // the certificate is not for the server's name or address
    kSmtpTlsCertificate = 550,    // the certificate is refused for another reason
    kSmtpTlsCaFile = 551,         // the SMTPCAFile roots cannot be read
    kSmtpTlsSetting = 552,        // SMTPTLS is not none, starttls or tls
};

// Protocol failure codes (the 16-bit part).
enum SmtpFailure : std::uint32_t {
    kSmtpGreeting = 512,         // greeting is not 220
    kSmtpPartHeader = 513,       // a body part header cannot be rendered
    kSmtpPartBody = 514,         // a body part body cannot be rendered
    kSmtpPartFooter = 515,       // a closing delimiter cannot be rendered
    kSmtpHeloAuth = 516,         // HELO not answered with 250 (authentication requested)
    kSmtpHeloNoAuth = 517,       // HELO not answered with 250 (no authentication)
    kSmtpQuit = 518,             // QUIT not answered with 221
    kSmtpMailFrom = 519,         // MAIL FROM not answered with 250
    kSmtpData = 520,             // DATA not answered with 354
    kSmtpEndOfData = 521,        // end of data not answered with 250
    kSmtpNoRecipient = 522,      // no recipient is left to send to: nothing was sent
    kSmtpRcptTo = 524,           // RCPT TO not answered with 250
    kSmtpLoginStart = 525,       // AUTH LOGIN not answered with 334
    kSmtpLoginUserPrompt = 526,  // first LOGIN prompt is not "username:"
    kSmtpLoginUser = 527,        // LOGIN user name not answered with 334
    kSmtpLoginPassPrompt = 528,  // second LOGIN prompt is not "password:"
    kSmtpLoginPass = 529,        // LOGIN password not answered with 235
    kSmtpPlainStart = 530,       // AUTH PLAIN not answered with 334
    kSmtpPlainUserPrompt = 531,  // first PLAIN prompt is not "username:"
    kSmtpPlainUser = 532,        // PLAIN user name not answered with 334
    kSmtpPlainPassPrompt = 533,  // second PLAIN prompt is not "password:"
    kSmtpPlainPass = 534,        // PLAIN password (or RFC 4616 response) not answered with 235
    kSmtpCramStart = 535,        // AUTH CRAM-MD5 not answered with 334
    kSmtpCramAnswer = 536,       // CRAM-MD5 answer not answered with 235
    kSmtpNtlm = 538,             // NTLM challenge not 334, or response token not answered with 235
};

class CSMTPException {
  public:
    explicit CSMTPException(std::uint32_t errorCode, std::string responseText = {})
        : errorCode_(errorCode), responseText_(std::move(responseText)) {}
    virtual ~CSMTPException() = default;

    // The full 32-bit value, e.g. 0x80040200 for a refused greeting.
    std::uint32_t Code() const { return errorCode_; }
    // Bits 16 to 28 and 0 to 15 of the value.
    std::uint32_t Facility() const { return (errorCode_ >> 16) & 0x1FFFu; }
    std::uint32_t ShortCode() const { return errorCode_ & 0xFFFFu; }
    // The server's last reply for protocol failures; empty for socket failures.
    const std::string& Response() const { return responseText_; }

    // "code 0x80040200, last reply: 554 no" (the reply part only when there is one).
    std::string Describe() const;

  private:
    std::uint32_t errorCode_;
    std::string responseText_;
};

// Shorthand for a protocol failure carrying the reply text.
inline CSMTPException SmtpProtocolFailure(std::uint32_t code, std::string responseText) {
    return CSMTPException(SmtpInterfaceError(code), std::move(responseText));
}
