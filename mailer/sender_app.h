// CSenderApp: the whole run of Postvane. InitInstance reads the settings, builds the one
// report mail and hands it to the SMTP connection, then returns false so the program ends.
// A failure is not reported as success: ExitStatus tells the failing phase (SenderExit, in
// the failure table) and one line naming the failure, its code and the server's last reply
// goes to standard error and the system log (the event log on Windows), where a mail sent
// is noted too. Unless SMTPRetryHours is 0, the mail goes through the outbox (outbox_run.h):
// a failure that may pass keeps it for a later try.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mailer/mime/smtp_message.h"
#include "mailer/oauth/token_endpoint.h"
#include "mailer/smtp/smtp_connection.h"
#include "mailer/smtp/smtp_failures.h"
#include "platform/clock.h"

inline constexpr char kSenderCharset[] = "iso-8859-1";

// What one try of one mail came to.
struct SendOutcome {
    bool sent = false;
    SenderVerdict verdict{kSenderSent, std::string(), false};
    std::uint32_t code = 0;  // the failure's code
    std::string reply;       // the server's last reply
};

// Postvane's arguments: none (the report mail of ToSendFile), "-outbox" (send what the outbox
// holds that is due), "-mail FILE" (the subject and text of a mail file, alert_mail.h, instead
// of the reports), "-at SECONDS" (the run's clock, for tests).
struct SenderArguments {
    bool outbox = false;
    std::string mailFile;
    bool haveTime = false;
    std::int64_t at = 0;
};
// False, with the line to report, for an argument of no known kind.
bool ParseSenderArguments(const std::vector<std::string>& args, SenderArguments* parsed,
                          std::string* problem);

class CSenderApp {
  public:
    CSenderApp();
    // The default reporter refers to this object's exit status.
    CSenderApp(const CSenderApp&) = delete;
    CSenderApp& operator=(const CSenderApp&) = delete;

    // The start sequence; false in every case, as the framework expects of a program
    // without a message loop.
    bool InitInstance();
    // The run asked for by the command line (before InitInstance).
    void SetArguments(const SenderArguments& value);

    int ExitStatus() const { return exitStatus; }
    void SetExitStatus(int status) { exitStatus = status; }

    // Tests: where the run's line goes (default: the system log as the exit status's event,
    // a failure line also on standard error; the mail sent is one line too), and
    // settings of the connection that the registry does not hold.
    void SetReporter(std::function<void(const std::string&)> reporter) {
        report = std::move(reporter);
    }
    void SetReplyTimeout(std::uint32_t milliseconds) { replyTimeout = milliseconds; }
    void SetHeloHost(const std::string& value) { heloHost = value; }
    // How long a mail run waits for another Postvane's hold on the outbox before it leaves
    // its mail there for the service's next cycle.
    void SetLockWait(std::uint32_t milliseconds) { lockWait = milliseconds; }
    std::uint32_t LockWait() const { return lockWait; }
    // The run's time: the report date of the mail's words and its Date line. Not owned.
    void SetClock(const platform::Clock* value) { clock = value; }
    // How the OAuth token endpoint is reached (default: the platform's HTTPS client).
    void SetHttpPost(HttpPost post) { httpPost = std::move(post); }
    // Mails this file's subject and text (alert_mail.h) instead of the reports; the file is
    // removed once the mail is sent.
    void SetMailFile(const std::string& path) { mailFile = path; }

    // The mail of one run, from the recipient and attachment lists and the run's local date
    // (report_mail_text.h); its sender is chosen once the user name is known (ChooseSender).
    static void BuildMessage(CSMTPMessage& message, const std::string& recipients,
                             const std::string& attachments, const platform::LocalDate& date);
    // The same on today's date.
    static void BuildMessage(CSMTPMessage& message, const std::string& recipients,
                             const std::string& attachments);
    // The mail of given words (both empty: the report mail's own, of the names and date), with
    // the files at paths attached under the names titles.
    static void ComposeMessage(CSMTPMessage& message, const std::string& recipients,
                               const std::string& subject, const std::string& body,
                               const std::vector<std::string>& paths,
                               const std::vector<std::string>& titles,
                               const platform::LocalDate& date);
    // The sender of the mail: SMTPFrom ("Name <address>" or a bare address) when set; else
    // the authentication user name when it is a mail address; else the first recipient;
    // the undeliverable placeholder only when there is none of these.
    static CSMTPAddress ChooseSender(const std::string& fromSetting, const std::string& user,
                                     const CSMTPMessage& message);

    // Builds one mail with build and sends it with the registry's server settings.
    SendOutcome Send(const std::function<void(CSMTPMessage&)>& build);

    // Keeps the exit status and reports the line (the program's name is put before it).
    void Report(int status, const std::string& line);

  private:
    void Run();
    // The mail file's words to the recipients, through the outbox when it is on; the file is
    // removed once the mail is sent or kept.
    void RunMailFile(std::uint32_t retryHours);
    // Keeps the exit status and reports the line.
    void RecordFailure(SenderExit status, const std::string& line);

    int exitStatus = kSenderSent;
    std::function<void(const std::string&)> report;
    std::uint32_t replyTimeout = 60000;
    std::string heloHost = "auto";
    // Long enough for a few mails to a slow server; the cycle's alerts start one sender each.
    std::uint32_t lockWait = 120000;
    platform::SystemClock systemClock;
    const platform::Clock* clock = &systemClock;
    HttpPost httpPost = platform::HttpPostForm;
    std::string mailFile;
    std::unique_ptr<platform::FixedClock> argumentClock;
    bool outboxRun = false;
};
