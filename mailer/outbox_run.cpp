// The outbox runs of Postvane (see the header): lock, entry by entry oldest first, the record
// kept up to date after every try, and one line per entry's outcome.
#include "mailer/outbox_run.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "common/layout.h"
#include "common/registry_value.h"
#include "mailer/mime/smtp_message.h"
#include "mailer/sender_app.h"
#include "mailer/smtp/smtp_settings.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/pacer.h"

namespace {

// Exit statuses of outcomes that are no failure of the mail itself.
bool IsError(int status) {
    return status != kSenderSent && status != kSenderKept && status != kSenderBusy;
}

// The run's status: an error wins over a mail kept, which wins over one left for later.
int Graver(int current, int next) {
    const auto rank = [](int status) {
        return IsError(status) ? 3 : status == kSenderKept ? 2 : status == kSenderBusy ? 1 : 0;
    };
    return rank(next) >= rank(current) ? next : current;
}

std::string LocalText(std::int64_t t) {
    const platform::LocalDate d = platform::BreakDown(static_cast<std::time_t>(t));
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", d.year % 10000, d.month, d.day,
                  d.hour, d.minute);
    return text;
}

std::string ReportMailWords(const OutboxMail& mail) {
    return mail.subject.empty() ? "the report mail" : "the mail \"" + mail.subject + "\"";
}

class OutboxSender {
  public:
    OutboxSender(CSenderApp& app, const platform::Clock& clock, std::uint32_t retryHours,
                 std::string logsDir)
        : app_(app), clock_(clock), retryHours_(retryHours), logsDir_(std::move(logsDir)) {}

    // Every due entry, and the one of ownId whatever its time, oldest first. ownSeen (when
    // given) tells whether ownId was still there: a Postvane before this one may have taken it.
    int SendDue(const std::string& ownId, bool* ownSeen = nullptr) {
        std::vector<outbox::Entry> entries;
        if (!outbox::ListEntries(logsDir_, false, &entries)) {
            Report(kSenderOutboxUnusable,
                   "the outbox (" + outbox::OutboxFolder(logsDir_) + ") cannot be read");
            return status_;
        }
        for (outbox::Entry& entry : entries) {
            if (entry.damaged) {
                Fail(&entry, kSenderOutboxUnusable,
                     "outbox entry " + entry.id + " cannot be read: " + entry.problem);
                continue;
            }
            if (ownSeen != nullptr && entry.id == ownId) {
                *ownSeen = true;
            }
            if (entry.nextAttempt <= clock_.Now() || entry.id == ownId) {
                Try(&entry, entry.id == ownId);
            }
        }
        return status_;
    }

    void Report(int status, const std::string& line) {
        status_ = Graver(status_, status);
        app_.Report(status, line);
    }

    int Status() const { return status_; }

  private:
    void Try(outbox::Entry* entry, bool own) {
        const SendOutcome outcome = app_.Send([entry](CSMTPMessage& message) {
            std::vector<std::string> paths;
            for (std::size_t i = 0; i < entry->mail.attachments.size(); ++i) {
                paths.push_back(outbox::CopyPath(*entry, i));
            }
            CSenderApp::ComposeMessage(
                message, entry->mail.recipients, entry->mail.subject, entry->mail.body, paths,
                entry->mail.attachments,
                platform::BreakDown(static_cast<std::time_t>(entry->created)));
        });
        const std::int64_t now = clock_.Now();
        switch (RecordTry(entry, outcome, now, retryHours_)) {
            case EntryFate::Sent: {
                outbox::RemoveEntry(*entry);
                std::string line = "the report mail was sent";
                if (!own || entry->attempts > 1) {
                    line += " (outbox entry " + entry->id + ", try " +
                            std::to_string(entry->attempts) + ")";
                }
                Report(kSenderSent, line);
                break;
            }
            case EntryFate::Kept: {
                const bool saved = outbox::SaveEntry(*entry);
                std::string line = outcome.verdict.line + "; kept in the outbox as " + entry->id +
                                   ", next try at " + LocalText(entry->nextAttempt);
                if (!saved) {
                    line += " (its record could not be updated)";
                }
                Report(kSenderKept, line);
                break;
            }
            case EntryFate::Failed: {
                const bool ranOut = outcome.verdict.mayPass;
                std::string line = outcome.verdict.line +
                                   (ranOut ? "; not sent within " + std::to_string(retryHours_) +
                                                 " hours of its first try"
                                           : "; not tried again");
                Fail(entry, outcome.verdict.exit, line);
                break;
            }
        }
    }

    void Fail(outbox::Entry* entry, int status, const std::string& line) {
        if (!entry->damaged) {
            entry->lastReason = line;
        }
        const bool moved = outbox::MoveToFailed(logsDir_, entry);
        Report(status,
               line + (moved ? "; " + ReportMailWords(entry->mail) + " is kept in " + entry->folder
                             : "; it could not be moved to " + outbox::FailedFolder(logsDir_)));
    }

    CSenderApp& app_;
    const platform::Clock& clock_;
    std::uint32_t retryHours_;
    std::string logsDir_;
    int status_ = kSenderSent;
};

// The Logs folder of the installation; empty when apppath is not set.
std::string InstalledLogsDir() {
    const std::string appPath =
        RegistryString(layout::SettingPath(layout::setting::kAppPath), "").Get();
    return appPath.empty() ? std::string() : outbox::LogsDirOf(appPath);
}

// The outbox's lock, waiting up to waitMs while another Postvane holds it.
std::unique_ptr<platform::FolderLock> AcquireWaiting(const std::string& path,
                                                     std::uint32_t waitMs) {
    constexpr std::uint32_t kPollMs = 100;
    platform::StoppablePacer pacer;
    for (std::uint32_t waited = 0;; waited += kPollMs) {
        std::unique_ptr<platform::FolderLock> lock = platform::FolderLock::TryAcquire(path);
        if (lock || waited >= waitMs) {
            return lock;
        }
        pacer.Pause(kPollMs);
    }
}

}  // namespace

EntryFate RecordTry(outbox::Entry* entry, const SendOutcome& outcome, std::int64_t now,
                    std::uint32_t retryHours) {
    ++entry->attempts;
    if (entry->firstAttempt == 0) {
        entry->firstAttempt = now;
    }
    entry->lastAttempt = now;
    if (outcome.sent) {
        return EntryFate::Sent;
    }
    entry->lastCode = outcome.code;
    entry->lastReason = outcome.verdict.line;
    entry->lastReply = outcome.reply;
    if (!outcome.verdict.mayPass) {
        return EntryFate::Failed;
    }
    entry->nextAttempt = now + outbox::RetryDelaySeconds(entry->attempts);
    return entry->nextAttempt > entry->firstAttempt + RetryWindowSeconds(retryHours)
               ? EntryFate::Failed
               : EntryFate::Kept;
}

bool RunThroughOutbox(CSenderApp& app, const platform::Clock& clock, std::uint32_t retryHours,
                      const OutboxMail& mail, const std::string& what) {
    const std::string logsDir = InstalledLogsDir();
    const std::int64_t now = clock.Now();

    std::unique_ptr<platform::FolderLock> lock;
    std::string id;
    bool kept = false;
    if (!logsDir.empty() && platform::CreatePrivateFolder(outbox::OutboxFolder(logsDir))) {
        // Kept first, so the mail is safe while this run waits for the one before it, which
        // may take it along with its own.
        kept = outbox::Enqueue(logsDir, mail, now, &id);
        if (kept) {
            lock = AcquireWaiting(outbox::LockPath(logsDir), app.LockWait());
        }
    }
    OutboxSender sender(app, clock, retryHours, logsDir);
    if (kept && lock) {
        bool ownSeen = false;
        sender.SendDue(id, &ownSeen);
        if (!ownSeen) {
            sender.Report(kSenderSent, what + " (outbox entry " + id +
                                           ") was taken from the outbox by the Postvane before "
                                           "this one, which reports what became of it");
        }
        app.SetExitStatus(sender.Status());
        return true;
    }
    if (kept) {
        sender.Report(kSenderBusy, "another Postvane is sending; " + what +
                                       " waits in the outbox as " + id +
                                       " and goes with the service's next cycle");
        app.SetExitStatus(sender.Status());
        return true;
    }
    // Without an outbox the mail is sent as it stands, once.
    const platform::LocalDate date = platform::BreakDown(static_cast<std::time_t>(now));
    std::vector<std::string> titles;
    for (const std::string& path : mail.attachments) {
        titles.push_back(FileTitle(path));
    }
    const SendOutcome outcome = app.Send([&](CSMTPMessage& message) {
        CSenderApp::ComposeMessage(message, mail.recipients, mail.subject, mail.body,
                                   mail.attachments, titles, date);
    });
    if (outcome.sent) {
        sender.Report(kSenderSent, what + " was sent");
    } else if (!outcome.verdict.mayPass) {
        sender.Report(outcome.verdict.exit, outcome.verdict.line);  // no outbox would keep it
    } else {
        const std::string where =
            logsDir.empty() ? "apppath is not set" : outbox::OutboxFolder(logsDir);
        sender.Report(kSenderOutboxUnusable, outcome.verdict.line +
                                                 "; the outbox cannot be used (" + where +
                                                 "), so the mail is not kept for another try");
    }
    app.SetExitStatus(sender.Status());
    return outcome.sent;
}

void RunReportThroughOutbox(CSenderApp& app, const platform::Clock& clock,
                            std::uint32_t retryHours) {
    OutboxMail mail;
    mail.recipients = ReadShiftedSetting(layout::setting::kEmailAddress);
    mail.attachments = AttachmentPaths(ReadPlainSetting(layout::setting::kToSendFile));
    RunThroughOutbox(app, clock, retryHours, mail, "the report mail");
}

void RunOutbox(CSenderApp& app, const platform::Clock& clock, std::uint32_t retryHours) {
    const std::string logsDir = InstalledLogsDir();
    OutboxSender sender(app, clock, retryHours, logsDir);
    if (logsDir.empty() || !platform::FileExists(outbox::OutboxFolder(logsDir))) {
        app.SetExitStatus(kSenderSent);  // nothing was ever kept
        return;
    }
    std::unique_ptr<platform::FolderLock> lock =
        platform::FolderLock::TryAcquire(outbox::LockPath(logsDir));
    if (!lock) {
        sender.Report(kSenderBusy,
                      "another Postvane is sending; the outbox waits for the "
                      "service's next cycle");
    } else {
        outbox::RemoveAbandonedStaging(logsDir);
        sender.SendDue(std::string());
    }
    app.SetExitStatus(sender.Status());
}
