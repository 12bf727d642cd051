// CSenderApp: the whole run of Postvane. InitInstance reads the settings, builds the one
// report mail and hands it to the SMTP connection, then returns false so the program ends.
// A failure is not reported as success: ExitStatus tells the failing phase (SenderExit, in
// the failure table) and one line naming the failure, its code and the server's last reply
// goes to standard error and the system log (the event log on Windows), where a mail sent
// is noted too.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "mailer/mime/smtp_message.h"
#include "mailer/oauth/token_endpoint.h"
#include "mailer/smtp/smtp_connection.h"
#include "mailer/smtp/smtp_failures.h"
#include "platform/clock.h"

inline constexpr char kSenderCharset[] = "iso-8859-1";

class CSenderApp {
  public:
    CSenderApp();
    // The default reporter refers to this object's exit status.
    CSenderApp(const CSenderApp&) = delete;
    CSenderApp& operator=(const CSenderApp&) = delete;

    // The start sequence; false in every case, as the framework expects of a program
    // without a message loop.
    bool InitInstance();

    int ExitStatus() const { return exitStatus; }

    // Tests: where the run's line goes (default: the system log as the exit status's event,
    // a failure line also on standard error; the mail sent is one line too), and
    // settings of the connection that the registry does not hold.
    void SetReporter(std::function<void(const std::string&)> reporter) {
        report = std::move(reporter);
    }
    void SetReplyTimeout(std::uint32_t milliseconds) { replyTimeout = milliseconds; }
    void SetHeloHost(const std::string& value) { heloHost = value; }
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
    // The sender of the mail: SMTPFrom ("Name <address>" or a bare address) when set; else
    // the authentication user name when it is a mail address; else the first recipient;
    // the undeliverable placeholder only when there is none of these.
    static CSMTPAddress ChooseSender(const std::string& fromSetting, const std::string& user,
                                     const CSMTPMessage& message);

  private:
    void Run();
    // Keeps the exit status and reports the line.
    void RecordFailure(SenderExit status, const std::string& line);

    int exitStatus = kSenderSent;
    std::function<void(const std::string&)> report;
    std::uint32_t replyTimeout = 60000;
    std::string heloHost = "auto";
    platform::SystemClock systemClock;
    const platform::Clock* clock = &systemClock;
    HttpPost httpPost = platform::HttpPostForm;
    std::string mailFile;
};
