// CQuillSMTPConnection: the blocking SMTP client of the mail sender. It connects, reads the
// greeting, says HELO (EHLO first when it is to authenticate), authenticates with LOGIN,
// PLAIN, CRAM-MD5, NTLM or an OAuth bearer token (XOAUTH2, OAUTHBEARER; TLS only), sends one
// CSMTPMessage and says QUIT. Every protocol or transport failure is thrown as a CSMTPException:
// protocol failures carry the code of the step (0x80040200 and up) and the server's last reply,
// socket failures the Windows Sockets error.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "mailer/mime/smtp_message.h"
#include "mailer/smtp/ntlm_authenticator.h"
#include "mailer/smtp/smtp_reply.h"
#include "mailer/smtp/smtp_socket.h"

enum AuthMethod {
    AuthNone = 0,
    AuthCramMD5 = 1,
    AuthLogin = 2,
    AuthPlain = 3,
    AuthNtlm = 4,
    AuthXOAuth2 = 5,      // a bearer token in place of the password
    AuthOAuthBearer = 6,  // the same in the standard form (RFC 7628)
};

// The OAuth methods send a bearer token, which is as good as a password: only over TLS.
constexpr bool IsOAuthMethod(AuthMethod method) {
    return method == AuthXOAuth2 || method == AuthOAuthBearer;
}
// Throws kSmtpOAuthNoTls for an OAuth method without TLS.
void RefuseTokenInClear(AuthMethod method, TlsMode mode);

class CQuillSMTPConnection {
  public:
    // Longest whole session, from Connect to the reply to QUIT. Each reply must come whole
    // within the reply timeout; this bounds the sum, so a server that trickles its replies
    // or takes the message slowly holds the sender at most this long.
    static constexpr std::uint32_t kSessionLimitMs = 30 * 60 * 1000;
    // Message data goes out in sends of about this size, whatever the message's size.
    static constexpr std::size_t kDataBufferBytes = 64 * 1024;

    // heloName "auto" stands for the name ChooseGreetingName picks at each Connect.
    explicit CQuillSMTPConnection(const std::string& heloName = "auto");
    // Sends QUIT when still connected; its failures are swallowed.
    virtual ~CQuillSMTPConnection();
    CQuillSMTPConnection(const CQuillSMTPConnection&) = delete;
    CQuillSMTPConnection& operator=(const CQuillSMTPConnection&) = delete;

    void Connect(const std::string& host, AuthMethod method, const std::string& user,
                 const std::string& password, std::uint32_t port,
                 const std::string& bindAddress = {});
    void Disconnect(bool graceful = true);
    void SendMessage(CSMTPMessage& message);

    // Reads one reply and tells whether it came whole and with the code expected.
    bool ExpectReply(int code);

    void AuthenticateLogin(const std::string& user, const std::string& password);
    void AuthenticatePlain(const std::string& user, const std::string& password);
    void AuthenticateCramMD5(const std::string& user, const std::string& password);
    // NTLM through the provider that the NTLM factory makes for user and password; a
    // failed step throws its SECURITY_STATUS as the code.
    void AuthenticateNtlm(const std::string& user, const std::string& password);
    // XOAUTH2 or OAUTHBEARER with token; a refused token is replaced once by the renewal's
    // fresh one and AUTH tried again, never more.
    void AuthenticateOAuth(AuthMethod method, const std::string& user, const std::string& token);
    // For the OAuth methods Connect's password is the access token; renewal (may throw)
    // gives a fresh one when the server refuses it.
    void SetTokenRenewal(std::function<std::string()> renewal) {
        tokenRenewal = std::move(renewal);
    }

    const std::string& LastResponse() const { return lastResponse; }
    void SetReplyTimeout(std::uint32_t milliseconds) { replyTimeout = milliseconds; }
    // TLS for the next Connect; caFile (a PEM file, may be empty) adds trusted roots.
    void SetTls(TlsMode mode, const std::string& caFile) {
        tlsMode = mode;
        tlsCaFile = caFile;
    }
    // Takes effect at the next Connect.
    void SetSessionLimit(std::uint32_t milliseconds) { sessionLimit = milliseconds; }

    // The name of the greeting (HELO and EHLO, RFC 5321 4.1.1.1): the machine's fully
    // qualified name when it has one, else the address literal of our end of the connection.
    static std::string ChooseGreetingName(const std::string& fullName,
                                          const std::string& addressLiteral);
    // Where an "auto" greeting takes the machine's full name from (default: the system's;
    // tests give a machine without a domain).
    using NameLookup = std::function<std::string()>;
    void SetNameLookup(NameLookup lookup) { nameLookup = std::move(lookup); }

    // The NTLM provider used by Connect (tests give one with a fixed clock and challenge).
    using NtlmFactory =
        std::function<std::unique_ptr<NtlmProvider>(const std::string&, const std::string&)>;
    void SetNtlmFactory(NtlmFactory factory) { ntlmFactory = std::move(factory); }

  protected:
    // Reads one reply (limits in smtp_reply.h); false when none came whole and well-formed
    // before the wait ran out or the server closed. Either way lastResponse holds what came
    // and lastReplyCode is set only by a whole reply.
    virtual bool ReadReply();

  private:
    class NtlmLines;  // the AUTH NTLM lines as the exchange's transport

    // Every command, after DropUnsolicitedInput.
    void SendCommand(const std::string& text);
    // We never pipeline, so bytes that arrived after a reply and before our next command
    // answer nothing we said; they are dropped when the next command or message data goes
    // out. After a switch to TLS this keeps what was sent in clear before the handshake
    // from being read as a protected reply.
    void DropUnsolicitedInput();
    void SendBodyPart(const CSMTPBodyPart& part, bool skipHeader);
    // Message data: dot-stuffed as one stream (headers included, so nothing a message holds
    // can end it early) and gathered into sends of up to kDataBufferBytes, each within the
    // session.
    void SendData(std::string_view bytes);
    void FlushData();
    void SendWithinSession(std::string_view bytes);
    // Closes the connection without QUIT (in the middle of a message, see SendMessage).
    void Abort();
    void Greet(AuthMethod method);
    // EHLO, STARTTLS and the handshake; never a fall-back to clear text.
    void StartTls(const std::string& host, AuthMethod method);
    void RunAuthentication(AuthMethod method, const std::string& user, const std::string& password);
    // One AUTH with token: true when accepted; false when the token was refused (*status:
    // the error challenge's status, if one came); other replies fail with kSmtpOAuthStart.
    bool TryOAuth(AuthMethod method, const std::string& user, const std::string& token,
                  std::string* status);
    // The text after "334 " of the last reply.
    std::string PromptText() const;
    [[noreturn]] void Fail(std::uint32_t code) const;
    // Throws the line-break failure, naming what, when text holds CR or LF.
    static void RefuseLineBreak(const std::string& text, const char* what);

    CSMTPSocket socket;
    bool connected = false;
    std::string lastResponse;
    std::string heloHost;
    bool chooseGreeting = false;  // heloHost is chosen at each Connect
    NameLookup nameLookup;
    std::uint32_t replyTimeout = 60000;
    std::uint32_t sessionLimit = kSessionLimitMs;
    std::chrono::steady_clock::time_point sessionEnd = std::chrono::steady_clock::time_point::max();
    std::string pendingData;  // message data not yet handed to the socket, stuffed
    DotStuffer stuffer;       // of the message being sent
    std::string unreadInput;  // received after the last reply's end
    int lastReplyCode = 0;
    NtlmFactory ntlmFactory;
    TlsMode tlsMode = TlsMode::None;
    std::string tlsCaFile;
    std::string serverHost;  // as given to Connect, for OAUTHBEARER
    std::uint32_t serverPort = 0;
    std::function<std::string()> tokenRenewal;
};
