// CSMTPException: the one failure type of the mail sender. It carries a 32-bit error code in
// HRESULT layout (bit 31 set, facility in bits 16-28, code in bits 0-15), the server's last
// reply and that reply's code. Socket failures use the system facility (7) with the Windows
// Sockets error number and an empty text; protocol failures use the interface facility (4)
// with the codes of the failure table (smtp_failures.h) and the reply that was being waited
// for; the NTLM package's statuses keep their own facility. Thrown and caught by value.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "mailer/smtp/smtp_failures.h"

constexpr std::uint32_t kFacilityInterface = 4;
constexpr std::uint32_t kFacilitySystem = 7;
constexpr std::uint32_t kFacilitySecurity = 9;

class CSMTPException {
  public:
    // replyCode: the code of the whole reply the failure is about, 0 when none came (or the
    // failure is about no reply).
    explicit CSMTPException(std::uint32_t errorCode, std::string responseText = {},
                            int replyCode = 0)
        : errorCode_(errorCode), responseText_(std::move(responseText)), replyCode_(replyCode) {}
    virtual ~CSMTPException() = default;

    // The parts of a 32-bit value: the one place that knows the layout.
    static constexpr std::uint32_t Compose(std::uint32_t facility, std::uint32_t shortCode) {
        return 0x80000000u | (facility & 0x1FFFu) << 16 | (shortCode & 0xFFFFu);
    }
    static constexpr std::uint32_t FacilityOf(std::uint32_t code) { return (code >> 16) & 0x1FFFu; }
    static constexpr std::uint32_t ShortCodeOf(std::uint32_t code) { return code & 0xFFFFu; }

    // The full 32-bit value, e.g. 0x80040200 for a refused greeting.
    std::uint32_t Code() const { return errorCode_; }
    std::uint32_t Facility() const { return FacilityOf(errorCode_); }
    std::uint32_t ShortCode() const { return ShortCodeOf(errorCode_); }
    // The server's last reply for protocol failures; empty for socket failures.
    const std::string& Response() const { return responseText_; }
    int ReplyCode() const { return replyCode_; }

    // "code 0x80040200, last reply: 554 no" (the reply part only when there is one).
    std::string Describe() const;

  private:
    std::uint32_t errorCode_;
    std::string responseText_;
    int replyCode_;
};

// The HRESULT-style value of a protocol failure (interface facility).
constexpr std::uint32_t SmtpInterfaceError(std::uint32_t code) {
    return CSMTPException::Compose(kFacilityInterface, code);
}
// The HRESULT-style value of a socket failure (system facility).
constexpr std::uint32_t SmtpSocketError(std::uint32_t wsaError) {
    return CSMTPException::Compose(kFacilitySystem, wsaError);
}

// Shorthand for a protocol failure carrying a text of our own (no reply of the server's).
inline CSMTPException SmtpProtocolFailure(std::uint32_t code, std::string text) {
    return CSMTPException(SmtpInterfaceError(code), std::move(text));
}
