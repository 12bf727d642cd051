// The words of the alert mails and of the alert's line in the system log. Every field comes
// from the proxy's logs or its user list, so every one is made a single line of bounded
// length here: no CR or LF of a field reaches the subject or starts a line of its own. 8-bit
// bytes stay as they are; the mail sender encodes them. Nothing here fails.
#pragma once

#include <string>
#include <vector>

#include "aggregator/alert_rules.h"
#include "common/mail_file.h"

inline constexpr std::size_t kMaxClientText = 64;
inline constexpr std::size_t kMaxUserText = 64;
inline constexpr std::size_t kMaxUrlText = 200;
inline constexpr std::size_t kMaxFilterText = 64;

// What a mail says beside the alert itself.
struct AlertContext {
    std::string userName;  // from the user list, "Unknown" when it has none
    std::string when;      // "YYYY-MM-DD HH:MM" of the cycle
    const AlertRules* rules = nullptr;
};

// "Alert: <client> <rule>", and a text giving the figure, what it was compared with and the
// first matching events.
MailText ComposeAlertMail(const Alert& alert, const AlertContext& context);
// One mail for the alerts beyond the hour's allowance, one line each.
struct SummaryEntry {
    Alert alert;
    std::string userName;
    std::string time;  // HH:MM it fired
};
MailText ComposeSummaryMail(const std::vector<SummaryEntry>& entries, const std::string& hour);
// The mail of `tallyctl alerts test`.
MailText ComposeTestMail(const std::string& when);
// "Alert: <client> <rule>: <figure> (<compared>), user <name>", for the event log.
std::string AlertLogLine(const Alert& alert, const std::string& userName);
// The figure and what it was compared with, as people read them ("1,234.56 MB", "3 events").
std::string AlertFigureText(AlertRule rule, std::int64_t figure);
std::string AlertComparedText(AlertRule rule, std::int64_t compared);
