// CSenderApp: Postvane's start sequence. Settings come from the registry (shifted values
// unshifted), the mail carries the report files as attachments, the SMTP connection sends it.
// Every failure ends the run with the exit status and the line the failure table gives it
// (smtp_failures.h), on standard error and in the system log.
#include "mailer/sender_app.h"

#include <exception>
#include <iostream>
#include <string_view>
#include <vector>

#include "common/registry_value.h"
#include "mailer/alert_mail.h"
#include "mailer/mime/content_type.h"
#include "mailer/oauth/oauth_tokens.h"
#include "mailer/outbox_run.h"
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

// SMTPRetryHours, absent meaning the default.
std::uint32_t ReadRetryHours() {
    return RegistryDword(layout::SettingPath(layout::setting::kSmtpRetryHours),
                         layout::setting::kDefaultSmtpRetryHours)
        .Get();
}

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
    std::vector<std::string> paths = AttachmentPaths(attachments);
    std::vector<std::string> titles;
    for (const std::string& path : paths) {
        titles.push_back(FileTitle(path));
    }
    ComposeMessage(message, recipients, std::string(), std::string(), paths, titles, date);
}

void CSenderApp::ComposeMessage(CSMTPMessage& message, const std::string& recipients,
                                const std::string& subject, const std::string& body,
                                const std::vector<std::string>& paths,
                                const std::vector<std::string>& titles,
                                const platform::LocalDate& date) {
    if (paths.empty() && !(subject.empty() && body.empty())) {
        BuildPlainMessage(message, recipients, MailText{subject, body});  // an alert's mail
        return;
    }
    message.SetCharset(kSenderCharset);
    message.AddRecipients(recipients, RecipientKind::To);
    if (subject.empty() && body.empty()) {
        const ReportMailText text = ComposeReportMail(titles, date.day, date.month, date.year);
        message.subject = text.subject;
        message.AddTextBody(text.body);
    } else {
        message.subject = subject;
        message.AddTextBody(body);
    }
    for (std::size_t i = 0; i < paths.size() && i < titles.size(); ++i) {
        CSMTPBodyPart part;
        part.SetFilename(paths[i]);
        // A kept copy has a name of its own on disk; the mail shows the report's.
        part.SetTitle(titles[i]);
        part.SetContentType(MediaTypeForName(titles[i]));
        message.AddBodyPart(part);
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
    Report(status, line);
}

void CSenderApp::Report(int status, const std::string& line) {
    exitStatus = status;
    if (report) {
        report(std::string(kProgramName) + ": " + line);
    }
}

void CSenderApp::SetArguments(const SenderArguments& value) {
    outboxRun = value.outbox;
    mailFile = value.mailFile;
    if (value.haveTime) {
        argumentClock = std::make_unique<platform::FixedClock>(static_cast<std::time_t>(value.at));
        clock = argumentClock.get();
    }
}

bool ParseSenderArguments(const std::vector<std::string>& args, SenderArguments* parsed,
                          std::string* problem) {
    *parsed = SenderArguments();
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-outbox") {
            parsed->outbox = true;
        } else if (args[i] == "-mail" && i + 1 < args.size() && !args[i + 1].empty()) {
            parsed->mailFile = args[++i];
        } else if (args[i] == "-at" && i + 1 < args.size()) {
            const std::string& text = args[++i];
            std::size_t used = 0;
            long long value = -1;
            try {
                value = std::stoll(text, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used != text.size() || value < 0) {
                *problem = "-at takes seconds since 1970, not '" + text + "'";
                return false;
            }
            parsed->haveTime = true;
            parsed->at = value;
        } else {
            *problem = "unknown argument '" + args[i] +
                       "' (usage: Postvane [-outbox | -mail FILE] [-at SECONDS])";
            return false;
        }
    }
    if (parsed->outbox && !parsed->mailFile.empty()) {
        *problem = "-outbox and -mail are runs of their own";
        return false;
    }
    return true;
}

SendOutcome CSenderApp::Send(const std::function<void(CSMTPMessage&)>& build) {
    SendOutcome outcome;
    SenderPhase phase = SenderPhase::Build;
    try {
        CQuillSMTPConnection connection(heloHost);
        connection.SetReplyTimeout(replyTimeout);
        CSMTPMessage message;
        message.SetClock(clock);
        build(message);
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
        // The server's 250 to the end of the data: the mail is sent, whatever QUIT brings.
        outcome.sent = true;
        // Leaving the scope says QUIT.
    } catch (const CSMTPException& failure) {
        outcome.verdict = JudgeFailure(failure, phase);
        outcome.code = failure.Code();
        outcome.reply = failure.Response();
    } catch (const std::exception& failure) {
        outcome.verdict = {kSenderUnexpected, std::string("unexpected failure: ") + failure.what(),
                           false};
    } catch (...) {
        outcome.verdict = {kSenderUnexpected, "unexpected failure", false};
    }
    return outcome;
}

void CSenderApp::Run() {
    const platform::LocalDate date = platform::BreakDown(clock->Now());
    const SendOutcome outcome = Send([&date](CSMTPMessage& message) {
        const std::string recipients = ReadShiftedSetting(layout::setting::kEmailAddress);
        const std::string attachments = ReadPlainSetting(layout::setting::kToSendFile);
        BuildMessage(message, recipients, attachments, date);
    });
    if (!outcome.sent) {
        RecordFailure(outcome.verdict.exit, outcome.verdict.line);
    }
}

void CSenderApp::RunMailFile(std::uint32_t retryHours) {
    MailText mail;
    if (!ReadMailFile(mailFile, &mail)) {
        RecordFailure(kSenderBuild, "the mail file '" + OneLine(mailFile, 260) +
                                        "' cannot be read or is not a mail file");
        return;
    }
    const std::string recipients = ReadShiftedSetting(layout::setting::kEmailAddress);
    bool done = false;
    if (retryHours != 0) {
        done = RunThroughOutbox(*this, *clock, retryHours,
                                OutboxMail{recipients, mail.subject, mail.body, {}},
                                "the mail of the file");
    } else {
        const SendOutcome outcome =
            Send([&](CSMTPMessage& message) { BuildPlainMessage(message, recipients, mail); });
        if (outcome.sent) {
            Report(kSenderSent, "the mail of the file was sent");
        } else {
            RecordFailure(outcome.verdict.exit, outcome.verdict.line);
        }
        done = outcome.sent;
    }
    // Sent, or kept in the outbox with its own copy of the words.
    if (done) {
        platform::DeleteFileAt(mailFile);
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
    const std::uint32_t retryHours = ReadRetryHours();
    if (outboxRun) {
        RunOutbox(*this, *clock, retryHours);
    } else if (!mailFile.empty()) {
        RunMailFile(retryHours);
    } else if (retryHours != 0) {
        RunReportThroughOutbox(*this, *clock, retryHours);
    } else {
        Run();
        if (exitStatus == kSenderSent && report) {
            report(kSentLine);
        }
    }
    return false;
}
