// SMTP authentication of CQuillSMTPConnection: LOGIN, PLAIN (the clear-text prompt dialogue,
// or the RFC 4616 response when the server's prompt is empty), CRAM-MD5, NTLM with the
// AUTH NTLM lines as the exchange's transport, and the OAuth bearer methods. Each step that gets
// the wrong reply throws its own code (0x8004020D to 0x8004021A) with the server's last reply.
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "common/base64.h"
#include "mailer/mime/encoders.h"
#include "mailer/smtp/digests.h"
#include "mailer/smtp/oauth_sasl.h"
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

std::string XOAuth2Response(const std::string& user, const std::string& token) {
    return "user=" + user +
           "\x01"
           "auth=Bearer " +
           token + "\x01\x01";
}

std::string OAuthBearerResponse(const std::string& user, const std::string& host,
                                std::uint32_t port, const std::string& token) {
    std::string authzid;
    for (char c : user) {
        authzid += c == ','   ? std::string("=2C")
                   : c == '=' ? std::string("=3D")
                              : std::string(1, c);
    }
    return "n,a=" + authzid +
           ",\x01"
           "host=" +
           host +
           "\x01"
           "port=" +
           std::to_string(port) +
           "\x01"
           "auth=Bearer " +
           token + "\x01\x01";
}

std::string ErrorChallengeStatus(std::string_view decoded) {
    const nlohmann::json challenge = nlohmann::json::parse(decoded, nullptr, false);
    if (!challenge.is_object() || !challenge.contains("status") ||
        !challenge["status"].is_string()) {
        return {};
    }
    std::string status = challenge["status"].get<std::string>().substr(0, 64);
    for (char& c : status) {
        if (static_cast<unsigned char>(c) < ' ' || static_cast<unsigned char>(c) > '~') {
            c = '?';
        }
    }
    return status;
}

bool CQuillSMTPConnection::TryOAuth(AuthMethod method, const std::string& user,
                                    const std::string& token, std::string* status) {
    const bool bearer = method == AuthOAuthBearer;
    const std::string response = bearer ? OAuthBearerResponse(user, serverHost, serverPort, token)
                                        : XOAuth2Response(user, token);
    SendCommand(std::string(bearer ? "AUTH OAUTHBEARER " : "AUTH XOAUTH2 ") +
                Base64Encode(response) + "\r\n");
    const bool whole = ReadReply();
    if (whole && lastReplyCode == 235) {
        return true;
    }
    if (whole && lastReplyCode == 334) {
        // An error challenge: the exchange must be ended by us (an empty response for
        // XOAUTH2, a single 0x01 for OAUTHBEARER) before the server gives its final reply.
        *status = ErrorChallengeStatus(DecodeBase64(PromptText()));
        SendCommand(bearer ? Base64Encode("\x01") + "\r\n" : std::string("\r\n"));
        return !ReadReply() ? false : lastReplyCode == 235;
    }
    if (whole && lastReplyCode == 535) {
        return false;
    }
    Fail(kSmtpOAuthStart);
}

void CQuillSMTPConnection::AuthenticateOAuth(AuthMethod method, const std::string& user,
                                             const std::string& token) {
    std::string status;
    if (TryOAuth(method, user, token, &status)) {
        return;
    }
    // A cached token may have been revoked before its time: one fresh token, one more try.
    if (tokenRenewal) {
        const std::string fresh = tokenRenewal();
        status.clear();
        if (TryOAuth(method, user, fresh, &status)) {
            return;
        }
    }
    throw CSMTPException(
        SmtpInterfaceError(kSmtpOAuthRefused),
        status.empty() ? lastResponse : lastResponse + " (token status: " + status + ")",
        lastReplyCode);
}
