// CQuillSMTPConnection: connection set-up, reply reading, message transmission and QUIT.
// Failures are CSMTPExceptions: the step's protocol code with the last reply, or the socket
// error. A failure inside Connect closes the connection (with QUIT) before it leaves; one in
// the middle of message data drops it without QUIT, so no half message is delivered.
#include "mailer/smtp/smtp_connection.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "mailer/smtp/smtp_exception.h"
#include "platform/nocase.h"
#include "platform/socket.h"

namespace {

constexpr char kChosenGreeting[] = "auto";

// A name that is a host's place in the DNS: dotted, not a number, and none of the names every
// machine has for itself.
bool IsFullyQualified(const std::string& name) {
    if (!IsDomainName(name) || name.find('.') == std::string::npos ||
        platform::EqualNoCase(name, "localhost") ||
        platform::StartsWithNoCase(name, "localhost.") ||
        platform::EndsWithNoCase(name, ".localdomain")) {
        return false;
    }
    const std::string_view last = std::string_view(name).substr(name.rfind('.') + 1);
    return last.find_first_not_of("0123456789") != std::string_view::npos;
}

// True when an EHLO reply lists keyword ("250-STARTTLS", "250 starttls ...").
bool OffersExtension(const std::string& reply, std::string_view keyword) {
    std::size_t start = 0;
    while (start < reply.size()) {
        std::size_t end = reply.find("\r\n", start);
        if (end == std::string::npos) {
            end = reply.size();
        }
        if (end - start >= 4) {
            std::string_view line(reply.data() + start + 4, end - start - 4);
            if (platform::EqualNoCase(line.substr(0, line.find(' ')), keyword)) {
                return true;
            }
        }
        start = end + 2;
    }
    return false;
}

using Clock = std::chrono::steady_clock;
using State = SmtpReplyParser::State;

// Bytes taken from the socket at a time while a reply is read.
constexpr std::size_t kReceiveChunk = 4096;

// Milliseconds until deadline, 0 once it has passed.
std::uint32_t MillisecondsUntil(Clock::time_point deadline) {
    const Clock::time_point now = Clock::now();
    if (deadline <= now) {
        return 0;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    return left > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(left);
}

}  // namespace

void CQuillSMTPConnection::RefuseLineBreak(const std::string& text, const char* what) {
    // A command argument holding a line break would smuggle a second command onto the wire.
    if (text.find_first_of("\r\n", 0, 3) != std::string::npos) {
        throw SmtpProtocolFailure(kSmtpLineBreak, std::string(what) + " holds a line break");
    }
}

std::string CQuillSMTPConnection::ChooseGreetingName(const std::string& fullName,
                                                     const std::string& addressLiteral) {
    if (IsFullyQualified(fullName)) {
        return fullName;
    }
    if (!addressLiteral.empty()) {
        return addressLiteral;
    }
    return IsDomainName(fullName) ? fullName : std::string("localhost");
}

void RefuseTokenInClear(AuthMethod method, TlsMode mode) {
    if (IsOAuthMethod(method) && mode == TlsMode::None) {
        throw SmtpProtocolFailure(kSmtpOAuthNoTls,
                                  "SMTPAUTH is an OAuth method and SMTPTLS is none");
    }
}

CQuillSMTPConnection::CQuillSMTPConnection(const std::string& heloName)
    : heloHost(heloName),
      chooseGreeting(heloName == kChosenGreeting),
      nameLookup(platform::LocalFullyQualifiedName),
      ntlmFactory(MakeNtlmProvider) {}

CQuillSMTPConnection::~CQuillSMTPConnection() {
    if (connected) {
        try {
            Disconnect(true);
        } catch (const CSMTPException&) {
            // Nothing can be done about a failed QUIT at this point.
        }
    }
}

void CQuillSMTPConnection::Fail(std::uint32_t code) const {
    throw CSMTPException(SmtpInterfaceError(code), lastResponse, lastReplyCode);
}

void CQuillSMTPConnection::Connect(const std::string& host, AuthMethod method,
                                   const std::string& user, const std::string& password,
                                   std::uint32_t port, const std::string& bindAddress) {
    RefuseTokenInClear(method, tlsMode);
    serverHost = host;
    serverPort = port;
    sessionEnd = Clock::now() + std::chrono::milliseconds(sessionLimit);
    socket.SetTimeout(replyTimeout);
    socket.Create();
    socket.Connect(host, port, bindAddress);
    if (chooseGreeting) {
        // The address literal is of this connection's own end, known only now.
        heloHost = ChooseGreetingName(nameLookup ? nameLookup() : std::string(),
                                      socket.LocalAddressLiteral());
    }
    if (tlsMode == TlsMode::Implicit) {
        socket.StartTls(host, tlsCaFile);  // nothing said yet, so a failure needs no QUIT
    }
    connected = true;
    try {
        if (!ExpectReply(220)) {
            Fail(kSmtpGreeting);
        }
        if (tlsMode == TlsMode::StartTls) {
            StartTls(host, method);
        }
        Greet(method);
        RunAuthentication(method, user, password);
    } catch (const CSMTPException& failure) {
        try {
            if (socket.IsOpen()) {
                Disconnect(true);
            } else {
                connected = false;  // a failed handshake closed it: nothing can be said
            }
        } catch (const CSMTPException&) {
            // The original failure is the one worth reporting.
        }
        throw failure;
    }
}

void CQuillSMTPConnection::StartTls(const std::string& host, AuthMethod method) {
    RefuseLineBreak(heloHost, "host name");
    SendCommand("EHLO " + heloHost + "\r\n");
    if (!ExpectReply(250)) {
        Fail(method == AuthNone ? kSmtpHeloNoAuth : kSmtpHeloAuth);
    }
    if (!OffersExtension(lastResponse, "STARTTLS")) {
        Fail(kSmtpTlsNotOffered);
    }
    SendCommand("STARTTLS\r\n");
    if (!ExpectReply(220)) {
        Fail(kSmtpTlsRefused);
    }
    // Bytes already read past the 220 were sent in clear by someone: never let them pass
    // for protected replies.
    if (!unreadInput.empty()) {
        socket.Close();
        throw SmtpProtocolFailure(kSmtpTlsHandshake, "data arrived before the TLS handshake");
    }
    socket.StartTls(host, tlsCaFile);
}

void CQuillSMTPConnection::Greet(AuthMethod method) {
    RefuseLineBreak(heloHost, "host name");
    // Over TLS the extensions are asked for again (EHLO), whatever the method.
    if (method == AuthNone && !socket.IsTls()) {
        SendCommand("HELO " + heloHost + "\r\n");
        if (!ExpectReply(250)) {
            Fail(kSmtpHeloNoAuth);
        }
        return;
    }
    // AUTH is an EHLO extension: servers may refuse it after HELO, so try EHLO first.
    SendCommand("EHLO " + heloHost + "\r\n");
    if (ExpectReply(250)) {
        return;
    }
    SendCommand("HELO " + heloHost + "\r\n");
    if (!ExpectReply(250)) {
        Fail(kSmtpHeloAuth);
    }
}

void CQuillSMTPConnection::RunAuthentication(AuthMethod method, const std::string& user,
                                             const std::string& password) {
    switch (method) {
        case AuthNone:
            return;
        case AuthLogin:
            AuthenticateLogin(user, password);
            return;
        case AuthPlain:
            AuthenticatePlain(user, password);
            return;
        case AuthCramMD5:
            AuthenticateCramMD5(user, password);
            return;
        case AuthNtlm:
            AuthenticateNtlm(user, password);
            return;
        case AuthXOAuth2:
        case AuthOAuthBearer:
            AuthenticateOAuth(method, user, password);
            return;
    }
    // An out-of-range method value is taken as LOGIN, the sender's own default.
    AuthenticateLogin(user, password);
}

bool CQuillSMTPConnection::ExpectReply(int code) {
    return ReadReply() && lastReplyCode == code;
}

bool CQuillSMTPConnection::ReadReply() {
    // The whole reply within the reply timeout, not each wait: a server that trickles a
    // byte at a time would otherwise hold us a timeout per byte.
    const Clock::time_point deadline =
        std::min(Clock::now() + std::chrono::milliseconds(replyTimeout), sessionEnd);
    SmtpReplyParser reply;
    std::size_t used = 0;
    for (;;) {
        while (used < unreadInput.size() && reply.Current() == State::NeedMore) {
            reply.Add(unreadInput[used++]);
        }
        if (reply.Current() != State::NeedMore) {
            break;
        }
        unreadInput.clear();
        used = 0;
        const std::uint32_t left = MillisecondsUntil(deadline);
        if (left == 0 || !socket.IsReadable(left)) {
            break;
        }
        char chunk[kReceiveChunk];
        const long count = socket.Receive(chunk, sizeof chunk);
        if (count <= 0) {
            break;
        }
        unreadInput.assign(chunk, static_cast<std::size_t>(count));
    }
    // What came after the reply is kept until our next command (see DropUnsolicitedInput).
    unreadInput.erase(0, used);
    lastResponse = reply.Text();
    if (reply.Current() != State::Complete) {
        lastReplyCode = 0;  // no reply to judge the failure by
        return false;
    }
    lastReplyCode = reply.Code();
    return true;
}

void CQuillSMTPConnection::DropUnsolicitedInput() {
    unreadInput.clear();
}

void CQuillSMTPConnection::SendCommand(const std::string& text) {
    DropUnsolicitedInput();
    socket.Send(text);
}

void CQuillSMTPConnection::SendMessage(CSMTPMessage& message) {
    // The envelope is checked whole before it starts: a mail that cannot go to anyone must
    // not reach the server's queue as far as DATA.
    const std::string& from = message.from.address;
    RefuseLineBreak(from, "sender address");
    std::vector<const std::string*> recipients;
    for (RecipientKind kind : {RecipientKind::To, RecipientKind::Cc, RecipientKind::Bcc}) {
        for (int i = 0; i < message.RecipientCount(kind); ++i) {
            const std::string& address = message.RecipientAt(i, kind)->address;
            RefuseLineBreak(address, "recipient address");
            recipients.push_back(&address);
        }
    }
    if (recipients.empty()) {
        throw CSMTPException(SmtpInterfaceError(kSmtpNoRecipient));
    }
    SendCommand("MAIL FROM:<" + from + ">\r\n");
    if (!ExpectReply(250)) {
        Fail(kSmtpMailFrom);
    }
    for (const std::string* address : recipients) {
        SendCommand("RCPT TO:<" + *address + ">\r\n");
        // 251, "not local, will forward", is a success too (RFC 5321 4.2.2).
        if (!ReadReply() || (lastReplyCode != 250 && lastReplyCode != 251)) {
            Fail(kSmtpRcptTo);
        }
    }
    SendCommand("DATA\r\n");
    if (!ExpectReply(354)) {
        Fail(kSmtpData);
    }
    try {
        stuffer = DotStuffer();
        SendData(message.BuildHeader());
        SendData("\r\n");
        const CSMTPBodyPart& root = message.Root();
        if (message.IsMime() || root.ChildCount() > 0) {
            SendBodyPart(root, true);
        } else {
            SendData(message.GetText());
        }
        // The one line that must not be stuffed.
        pendingData += "\r\n.\r\n";
        FlushData();
    } catch (...) {
        // Half a message is on the wire: dropping the connection is the only way to keep the
        // server from taking it as whole. A QUIT now would merely become part of the text.
        Abort();
        throw;
    }
    if (!ExpectReply(250)) {
        Fail(kSmtpEndOfData);
    }
}

void CQuillSMTPConnection::SendBodyPart(const CSMTPBodyPart& part, bool skipHeader) {
    std::string piece;
    if (!skipHeader) {
        if (!part.RenderHeader(&piece)) {
            throw CSMTPException(SmtpInterfaceError(kSmtpPartHeader));
        }
        SendData(piece);
    }
    if (!part.WriteBody([this](std::string_view bytes) { SendData(bytes); })) {
        throw CSMTPException(SmtpInterfaceError(kSmtpPartBody));
    }
    for (int i = 0; i < part.ChildCount(); ++i) {
        SendBodyPart(*part.ChildAt(i), false);
    }
    if (part.ChildCount() > 0) {
        if (!part.RenderFooter(&piece)) {
            throw CSMTPException(SmtpInterfaceError(kSmtpPartFooter));
        }
        SendData(piece);
    }
}

void CQuillSMTPConnection::SendData(std::string_view bytes) {
    stuffer.Append(bytes, &pendingData);
    if (pendingData.size() >= kDataBufferBytes) {
        FlushData();
    }
}

void CQuillSMTPConnection::FlushData() {
    const std::string_view data = pendingData;
    for (std::size_t at = 0; at < data.size(); at += kDataBufferBytes) {
        SendWithinSession(data.substr(at, kDataBufferBytes));
    }
    pendingData.clear();
}

void CQuillSMTPConnection::SendWithinSession(std::string_view bytes) {
    // A server that takes the message slowly is bounded by the session as a slow reply is.
    if (MillisecondsUntil(sessionEnd) == 0) {
        throw CSMTPException(SmtpSocketError(platform::kWsaTimedOut));
    }
    DropUnsolicitedInput();
    socket.Send(bytes.data(), bytes.size());
}

void CQuillSMTPConnection::Abort() {
    connected = false;
    pendingData.clear();
    unreadInput.clear();
    try {
        socket.Close();
    } catch (const CSMTPException&) {
        // Closing is all that is left to do; the failure that led here is the one to report.
    }
}

void CQuillSMTPConnection::Disconnect(bool graceful) {
    bool failed = false;
    std::uint32_t code = 0;
    std::string text;
    if (connected) {
        if (graceful) {
            try {
                SendCommand("QUIT\r\n");
            } catch (const CSMTPException& e) {
                failed = true;
                code = e.Code();
            }
        }
        try {
            if (!ExpectReply(221)) {
                failed = true;
                code = SmtpInterfaceError(kSmtpQuit);
                text = lastResponse;
            }
        } catch (const CSMTPException&) {
            // The connection is gone: nothing more to say on it.
            connected = false;
            socket.Close();
            throw;
        }
        connected = false;
    }
    socket.Close();
    if (failed) {
        throw CSMTPException(code, text);
    }
}
