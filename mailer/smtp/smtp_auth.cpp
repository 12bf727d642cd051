// SMTP authentication of CQuillSMTPConnection: LOGIN, PLAIN (the clear-text prompt dialogue,
// or the RFC 4616 response when the server's prompt is empty), CRAM-MD5, and NTLM with the
// AUTH NTLM lines as the exchange's transport. Each step that gets the wrong reply throws its
// own code (0x8004020D to 0x8004021A) with the server's last reply.
#include <cstring>
#include <string>

#include "common/base64.h"
#include "mailer/mime/encoders.h"
#include "mailer/smtp/digests.h"
#include "mailer/smtp/smtp_connection.h"
#include "mailer/smtp/smtp_exception.h"
#include "platform/nocase.h"

namespace {

// Server prompts are decoded leniently, as mail clients always have: a sloppy server's
// prompt still gets its answer, and a wrong one fails at the comparison that follows.
std::string DecodeBase64(std::string_view text) {
    std::string decoded;
    Base64Decode(text, Base64Decoding::Lenient, &decoded);
    return decoded;
}

// Up to the first zero byte, as the text would be seen by C string functions.
std::string UpToZero(const std::string& bytes) {
    return bytes.substr(0, std::strlen(bytes.c_str()));
}

}  // namespace

std::string CQuillSMTPConnection::PromptText() const {
    return lastResponse.size() > 4 ? lastResponse.substr(4) : std::string();
}

void CQuillSMTPConnection::AuthenticateLogin(const std::string& user, const std::string& password) {
    SendCommand("AUTH LOGIN\r\n");
    if (!ExpectReply(334)) {
        Fail(kSmtpLoginStart);
    }
    if (!platform::EqualNoCase(UpToZero(DecodeBase64(PromptText())), "username:")) {
        Fail(kSmtpLoginUserPrompt);
    }
    SendCommand(Base64Encode(user) + "\r\n");
    if (!ExpectReply(334)) {
        Fail(kSmtpLoginUser);
    }
    if (!platform::EqualNoCase(UpToZero(DecodeBase64(PromptText())), "password:")) {
        Fail(kSmtpLoginPassPrompt);
    }
    SendCommand(Base64Encode(password) + "\r\n");
    if (!ExpectReply(235)) {
        Fail(kSmtpLoginPass);
    }
}

void CQuillSMTPConnection::AuthenticatePlain(const std::string& user, const std::string& password) {
    SendCommand("AUTH PLAIN\r\n");
    if (!ExpectReply(334)) {
        Fail(kSmtpPlainStart);
    }
    std::string prompt = PromptText();
    if (prompt.empty()) {
        // RFC 4616: one base64 message of authorisation id (empty), user name and password.
        std::string message;
        message += '\0';
        message += user;
        message += '\0';
        message += password;
        SendCommand(Base64Encode(message) + "\r\n");
        if (!ExpectReply(235)) {
            Fail(kSmtpPlainPass);
        }
        return;
    }
    if (!platform::EqualNoCase(prompt, "username:")) {
        Fail(kSmtpPlainUserPrompt);
    }
    // Sent as they are, so a line break inside would end the line early.
    RefuseLineBreak(user, "user name");
    SendCommand(user + "\r\n");
    if (!ExpectReply(334)) {
        Fail(kSmtpPlainUser);
    }
    if (!platform::EqualNoCase(PromptText(), "password:")) {
        Fail(kSmtpPlainPassPrompt);
    }
    RefuseLineBreak(password, "password");
    SendCommand(password + "\r\n");
    if (!ExpectReply(235)) {
        Fail(kSmtpPlainPass);
    }
}

void CQuillSMTPConnection::AuthenticateCramMD5(const std::string& user,
                                               const std::string& password) {
    SendCommand("AUTH CRAM-MD5\r\n");
    if (!ExpectReply(334)) {
        Fail(kSmtpCramStart);
    }
    std::string challenge = UpToZero(DecodeBase64(PromptText()));
    Digest16 digest = HmacMd5(UpToZero(password), challenge);
    SendCommand(Base64Encode(user + " " + DigestHex(digest)) + "\r\n");
    if (!ExpectReply(235)) {
        Fail(kSmtpCramAnswer);
    }
}

class CQuillSMTPConnection::NtlmLines final : public NtlmTransport {
  public:
    explicit NtlmLines(CQuillSMTPConnection& smtp) : connection(smtp) {}

    // The first token travels on the AUTH line itself; no reply is read here.
    platform::SecurityStatus SendInitialToken(const unsigned char* token,
                                              std::size_t length) override {
        std::string bytes(reinterpret_cast<const char*>(token), length);
        connection.SendCommand("AUTH NTLM " + Base64Encode(bytes) + "\r\n");
        return platform::kSecOk;
    }

    platform::SecurityStatus ReadChallenge(unsigned char* buffer, std::size_t capacity,
                                           std::size_t* length) override {
        if (!connection.ExpectReply(334)) {
            connection.Fail(kSmtpNtlm);
        }
        std::string decoded = DecodeBase64(connection.PromptText());
        if (decoded.size() >= capacity) {
            *length = 0;
            return platform::kSecInsufficientMemory;
        }
        std::memcpy(buffer, decoded.data(), decoded.size());
        *length = decoded.size();
        return platform::kSecOk;
    }

    platform::SecurityStatus SendResponseToken(const unsigned char* token,
                                               std::size_t length) override {
        std::string bytes(reinterpret_cast<const char*>(token), length);
        connection.SendCommand(Base64Encode(bytes) + "\r\n");
        if (!connection.ExpectReply(235)) {
            connection.Fail(kSmtpNtlm);
        }
        return platform::kSecOk;
    }

  private:
    CQuillSMTPConnection& connection;
};

void CQuillSMTPConnection::AuthenticateNtlm(const std::string& user, const std::string& password) {
    std::unique_ptr<NtlmProvider> provider = ntlmFactory(user, password);
    NtlmLines lines(*this);
    platform::SecurityStatus status = CNTLMAuthenticator(lines).Authenticate(*provider);
    if (status < 0) {
        throw CSMTPException(static_cast<std::uint32_t>(status), lastResponse);
    }
}
