// Postvane's runs through the outbox (common/outbox.h). The report mail is put in the outbox
// first and sent from there, so a failure that may pass keeps it, copies and all, for a later
// try; a run of `-outbox` sends what is due. Either sends the due entries oldest first, under
// the outbox's lock, so two senders never work side by side; a second one that finds the lock
// held leaves its mail in the outbox for the cycle to send. An entry leaves the outbox only
// after the server took the mail, or for outbox\failed when it never will (a permanent
// failure, its time run out, a damaged record), which is reported as an error. Each entry's
// outcome is one line; the run's exit status is the gravest of them.
#pragma once

#include <cstdint>
#include <string>

#include "common/outbox.h"
#include "platform/clock.h"

class CSenderApp;
struct SendOutcome;

// The time an entry is tried for: SMTPRetryHours in seconds.
constexpr std::int64_t RetryWindowSeconds(std::uint32_t retryHours) {
    return static_cast<std::int64_t>(retryHours) * 3600;
}

// Where an entry goes after a try at now.
enum class EntryFate { Sent, Kept, Failed };
// Records the try in entry (attempts, times, failure) and says where it goes; a failure that
// may pass is kept unless its next try would come after the window that began at its first.
EntryFate RecordTry(outbox::Entry* entry, const SendOutcome& outcome, std::int64_t now,
                    std::uint32_t retryHours);

// One mail through the outbox (retryHours > 0); what names it in the run's lines ("the report
// mail"). True when it was sent or kept in the outbox, so its source may go.
bool RunThroughOutbox(CSenderApp& app, const platform::Clock& clock, std::uint32_t retryHours,
                      const OutboxMail& mail, const std::string& what);
// The report mail of ToSendFile and EmailAddress, through the outbox.
void RunReportThroughOutbox(CSenderApp& app, const platform::Clock& clock,
                            std::uint32_t retryHours);
// The due entries of the outbox (Postvane -outbox).
void RunOutbox(CSenderApp& app, const platform::Clock& clock, std::uint32_t retryHours);
