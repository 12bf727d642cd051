// The alert mails' words; see alert_text.h.
#include "aggregator/alert_text.h"

#include "reports/report_format.h"

namespace {

std::string Megabytes(std::int64_t bytes) {
    return reports::FormatMegabytes(bytes) + " MB";
}

std::string Subject(const Alert& alert) {
    return "Alert: " + OneLine(alert.client, kMaxClientText) + " " + InfoOf(alert.rule).name;
}

void Field(std::string& body, const char* label, const std::string& value) {
    body += label;
    body += value;
    body += '\n';
}

}  // namespace

std::string AlertFigureText(AlertRule rule, std::int64_t figure) {
    return rule == AlertRule::Filters ? std::to_string(figure) + " events" : Megabytes(figure);
}

std::string AlertComparedText(AlertRule rule, std::int64_t compared) {
    switch (rule) {
        case AlertRule::DailyLimit:
            return "limit " + Megabytes(compared);
        case AlertRule::Spike:
            return "median day " + Megabytes(compared);
        case AlertRule::Filters:
            return "at least " + std::to_string(compared) + " events";
    }
    return std::string();
}

MailText ComposeAlertMail(const Alert& alert, const AlertContext& context) {
    MailText mail;
    mail.subject = Subject(alert);
    std::string& b = mail.body;
    b += "An alert rule of the web proxy's reports fired.\n\n";
    Field(b, "Client:     ", OneLine(alert.client, kMaxClientText));
    Field(b, "User:       ", OneLine(context.userName, kMaxUserText));
    Field(b, "Rule:       ", InfoOf(alert.rule).name);
    Field(b, "Today:      ", AlertFigureText(alert.rule, alert.figure));
    switch (alert.rule) {
        case AlertRule::DailyLimit:
            Field(b, "Limit:      ", Megabytes(alert.compared));
            break;
        case AlertRule::Spike: {
            Field(b, "Median day: ",
                  Megabytes(alert.compared) + " over the previous " +
                      std::to_string(kSpikeHistoryDays) + " days");
            if (context.rules != nullptr) {
                Field(b, "Threshold:  ",
                      std::to_string(context.rules->spikeFactor) + " x the median, at least " +
                          std::to_string(context.rules->spikeMinMb) + " MB");
            }
            break;
        }
        case AlertRule::Filters:
            Field(b, "Threshold:  ", "at least " + std::to_string(alert.compared) + " events");
            if (context.rules != nullptr) {
                Field(b, "Filters:    ", OneLine(context.rules->filtersText, kMaxUrlText));
            }
            break;
    }
    Field(b, "Checked at: ", OneLine(context.when, 32));
    if (!alert.events.empty()) {
        b += "\nFirst matching events:\n";
        for (const AlertEvent& e : alert.events) {
            b += "  " + OneLine(e.time, 16) + "  " + OneLine(e.filter, kMaxFilterText) + "  " +
                 OneLine(e.url, kMaxUrlText) + "\n";
        }
    }
    b += "\nEach rule alerts once per client and day.\n";
    return mail;
}

MailText ComposeSummaryMail(const std::vector<SummaryEntry>& entries, const std::string& hour) {
    MailText mail;
    mail.subject = "Alert: " + std::to_string(entries.size()) + " more alerts in the hour " +
                   OneLine(hour, 16) + ":00";
    std::string& b = mail.body;
    b += "More alerts fired in the hour than AlertMaxPerHour allows mails for; here they are in "
         "one mail.\n\n";
    for (const SummaryEntry& e : entries) {
        b += OneLine(e.time, 8) + "  " + OneLine(e.alert.client, kMaxClientText) + "  " +
             OneLine(e.userName, kMaxUserText) + "  " + InfoOf(e.alert.rule).name + "  " +
             AlertFigureText(e.alert.rule, e.alert.figure) + " (" +
             AlertComparedText(e.alert.rule, e.alert.compared) + ")\n";
    }
    return mail;
}

MailText ComposeTestMail(const std::string& when) {
    MailText mail;
    mail.subject = "Alert: test";
    mail.body = "A test of the alert mails, sent at " + OneLine(when, 32) +
                " with the mail settings of the reports. No rule fired.\n";
    return mail;
}

std::string AlertLogLine(const Alert& alert, const std::string& userName) {
    return Subject(alert) + ": " + AlertFigureText(alert.rule, alert.figure) + " (" +
           AlertComparedText(alert.rule, alert.compared) + "), user " +
           OneLine(userName, kMaxUserText);
}
