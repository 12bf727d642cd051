// CSenderApp: Postvane's start sequence. Settings come from the registry (shifted values
// unshifted), the mail carries the report files as attachments, the SMTP connection sends it.
// Every failure ends the run with the exit status and the line the failure table gives it
// (smtp_failures.h), on standard error and in the system log.
#include "mailer/sender_app.h"

#include <exception>
#include <iostream>
#include <string_view>
#include <vector>

#include "mailer/alert_mail.h"
#include "mailer/oauth/oauth_tokens.h"
#include "mailer/report_mail_text.h"
#include "mailer/sender_events.h"
#include "mailer/smtp/smtp_exception.h"
#include "mailer/smtp/smtp_settings.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "platform/socket.h"

namespace {

constexpr char kProgramName[] = "Postvane";

constexpr char kSentLine[] = "Postvane: the report mail was sent";
constexpr char kMailFileSentLine[] = "Postvane: the mail of the file was sent";

// The run's line, as the event of its exit status; a failure also on standard error.
void ReportToLogs(int exitStatus, const std::string& line) {
    if (exitStatus != kSenderSent) {
        std::cerr << line << std::endl;
    }
    platform::WriteEventMessage(platform::kSenderEventSource, SenderEventFor(exitStatus), line);
}

// local@domain with nothing that would need quoting: a user name like "DOMAIN\user" or
// "bob" is not one.
bool IsMailAddress(const std::string& text) {
    const std::size_t at = text.find('@');
    if (at == 0 || at == std::string::npos || at + 1 == text.size() ||
        text.find('@', at + 1) != std::string::npos) {
        return false;
    }
    for (unsigned char c : text) {
        if (c <= ' ' || c >= 127 ||
            std::string_view("<>()[],;:\\\"").find(static_cast<char>(c)) !=
                std::string_view::npos) {
            return false;
        }
    }
    return true;
}

// Socket library started for the run and stopped again however it ends.
class SocketLibrary {
  public:
    SocketLibrary() : started(platform::SocketStartup()) {}
    ~SocketLibrary() {
        if (started) {
            platform::SocketCleanup();
        }
    }
    SocketLibrary(const SocketLibrary&) = delete;
    SocketLibrary& operator=(const SocketLibrary&) = delete;
    bool Started() const { return started; }

  private:
    bool started;
};

}  // namespace

// Every path sets the exit status before it reports, so the line goes out as its event.
CSenderApp::CSenderApp()
    : report([this](const std::string& line) { ReportToLogs(exitStatus, line); }) {}

void CSenderApp::BuildMessage(CSMTPMessage& message, const std::string& recipients,
                              const std::string& attachments, const platform::LocalDate& date) {
    message.SetCharset(kSenderCharset);
    message.AddRecipients(recipients, RecipientKind::To);
    std::vector<std::string> names;
    for (const std::string& path : AttachmentPaths(attachments)) {
        names.push_back(FileTitle(path));
    }
    const ReportMailText text = ComposeReportMail(names, date.day, date.month, date.year);
    message.subject = text.subject;
    message.AddTextBody(text.body);
    if (!attachments.empty()) {
        message.AddAttachments(attachments);
    }
}

void CSenderApp::BuildMessage(CSMTPMessage& message, const std::string& recipients,
                              const std::string& attachments) {
    BuildMessage(message, recipients, attachments,
                 platform::BreakDown(platform::SystemClock().Now()));
}

CSMTPAddress CSenderApp::ChooseSender(const std::string& fromSetting, const std::string& user,
                                      const CSMTPMessage& message) {
    CSMTPAddress from;
    from.Parse(fromSetting);
    if (!from.address.empty()) {
        return from;
    }
    // Servers that enforce send-as accept the account's own address; mail to oneself is
    // what an administrator expects otherwise.
    if (IsMailAddress(user)) {
        return CSMTPAddress(user);
    }
    if (const CSMTPAddress* first = message.RecipientAt(0, RecipientKind::To)) {
        return CSMTPAddress(first->address);
    }
    return CSMTPAddress(kPlaceholderFrom);
}

void CSenderApp::RecordFailure(SenderExit status, const std::string& line) {
    exitStatus = status;
    if (report) {
        report(std::string(kProgramName) + ": " + line);
    }
}

void CSenderApp::Run() {
    SenderPhase phase = SenderPhase::Build;
    try {
        std::string recipients = ReadShiftedSetting(layout::setting::kEmailAddress);
        std::string attachments = ReadPlainSetting(layout::setting::kToSendFile);
        CQuillSMTPConnection connection(heloHost);
        connection.SetReplyTimeout(replyTimeout);
        CSMTPMessage message;
        message.SetClock(clock);
        if (mailFile.empty()) {
            BuildMessage(message, recipients, attachments, platform::BreakDown(clock->Now()));
        } else {
            MailText mail;
            if (!ReadMailFile(mailFile, &mail)) {
                RecordFailure(kSenderBuild, "the mail file '" + OneLine(mailFile, 260) +
                                                "' cannot be read or is not a mail file");
                return;
            }
            BuildPlainMessage(message, recipients, mail);
        }
        std::string server = ReadShiftedSetting(layout::setting::kSmtpServer);
        AuthMethod method = AuthMethodFromSetting(ReadShiftedSetting(layout::setting::kSmtpAuth));
        std::string user = ReadShiftedSetting(layout::setting::kSmtpUser);
        message.from = ChooseSender(ReadPlainSetting(layout::setting::kSmtpFrom), user, message);
        std::string password = ReadShiftedSetting(layout::setting::kSmtpPassword);
        std::uint32_t port = ReadDwordSetting(layout::setting::kSmtpPort);
        std::string tlsText = ReadPlainSetting(layout::setting::kSmtpTls);
        TlsMode tlsMode = TlsMode::None;
        if (!TlsModeFromSetting(tlsText, &tlsMode)) {
            throw SmtpProtocolFailure(kSmtpTlsSetting, "SMTPTLS is '" + tlsText + "'");
        }
        connection.SetTls(tlsMode, ReadPlainSetting(layout::setting::kSmtpCaFile));
        std::unique_ptr<OAuthTokens> tokens = StartOAuth(method, tlsMode, *clock, httpPost);
        if (tokens) {
            password = tokens->Current();  // a bearer token stands in for the password
            connection.SetTokenRenewal([&tokens] { return tokens->Fresh(); });
        }
        phase = SenderPhase::Connect;
        connection.Connect(server, method, user, password, port, std::string());
        phase = SenderPhase::Transfer;
        connection.SendMessage(message);
        // Leaving the scope says QUIT.
    } catch (const CSMTPException& failure) {
        const SenderVerdict verdict = JudgeFailure(failure, phase);
        RecordFailure(verdict.exit, verdict.line);
    } catch (const std::exception& failure) {
        RecordFailure(kSenderUnexpected, std::string("unexpected failure: ") + failure.what());
    } catch (...) {
        RecordFailure(kSenderUnexpected, "unexpected failure");
    }
}

bool CSenderApp::InitInstance() {
    exitStatus = kSenderSent;
    SocketLibrary sockets;
    if (!sockets.Started()) {
        exitStatus = kSenderSocketStartup;
        platform::ShowSocketStartupMessage(kProgramName, "Windows sockets initialization failed.");
        return false;
    }
    Run();
    if (exitStatus == kSenderSent && !mailFile.empty()) {
        platform::DeleteFileAt(mailFile);
    }
    if (exitStatus == kSenderSent && report) {
        report(mailFile.empty() ? kSentLine : kMailFileSentLine);
    }
    return false;
}
