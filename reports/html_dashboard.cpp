// The dashboard of the summary files; see html_dashboard.h.
#include "reports/html_dashboard.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <vector>

#include "common/outbox.h"
#include "platform/clock.h"
#include "reports/filter_line.h"
#include "reports/html_page.h"
#include "reports/report_format.h"
#include "stats/base64.h"
#include "stats/log_store.h"
#include "stats/statistics.h"
#include "stats/summary_lines.h"

namespace reports {

namespace {

using stats::Kind;
using stats::Period;

using html::Html;
using html::kChartBars;
using html::Markup;
using html::Text;

// A byte figure as the reports show megabytes.
std::string Megabytes(std::int64_t bytes) {
    return html::Megabytes(MegabyteCents(bytes));
}

// Calls take(decoded line) for every non-empty line of a summary file.
template <typename Take>
void ForEachLine(std::string_view bytes, Take take) {
    stats::ForEachSummaryLine(bytes, [&](std::string_view line) {
        if (!line.empty()) {
            take(stats::Base64DecodeText(line));
        }
    });
}

// A traffic or client line: its slots' bytes and their sum. Totals are shown from the sum of
// bytes, as tallyctl show has them, not from the rounded figures of the slots.
struct Row {
    std::string name;
    std::vector<std::int64_t> slots;
    std::int64_t total = 0;
};

Row RowOf(stats::SlotLine line) {
    Row row{std::move(line.name), std::move(line.slots), 0};
    for (std::int64_t bytes : row.slots) {
        row.total = stats::SaturatingAdd(row.total, bytes);
    }
    return row;
}

// What the page shows, read from the files once.
struct Summary {
    std::array<std::optional<Row>, stats::kPeriodCount> traffic;
    std::array<std::vector<Row>, stats::kPeriodCount> clients;
    // Events per filter category, per period, and in all of the periods.
    std::map<std::string, std::array<std::int64_t, stats::kPeriodCount>> filters;
    std::array<std::int64_t, stats::kPeriodCount> events{};
    std::array<const SummaryFileText*, stats::kStatisticCount> files{};
    // False when no period has any traffic, client or filter event: nothing to show.
    bool anything = false;
};

Summary Read(const SummaryTexts& texts) {
    Summary s;
    for (std::size_t i = 0; i < stats::kStatisticCount; ++i) {
        const stats::Statistic& statistic = stats::kStatistics[i];
        const SummaryFileText& file = texts[SummaryFileIndex(statistic.summaryFile)];
        s.files[i] = &file;
    }
    const SummaryFileText& trf = texts[SummaryFileIndex(layout::kTrafficSummaryFile)];
    ForEachLine(trf.bytes, [&](const std::string& decoded) {
        stats::SlotLine line;
        if (!stats::ParseSlotLine(decoded, &line)) {
            return;
        }
        // A line is known by its label: a task that failed leaves its line out.
        if (const stats::Statistic* statistic = stats::TrafficStatisticNamed(line.name)) {
            s.traffic[static_cast<std::size_t>(statistic->period)] = RowOf(line);
        }
    });
    for (const stats::PeriodInfo& period : stats::kPeriods) {
        const auto p = static_cast<std::size_t>(period.period);
        const SummaryFileText* clients = s.files[stats::IndexOf(Kind::Client, period.period)];
        ForEachLine(clients->bytes, [&](const std::string& decoded) {
            stats::SlotLine line;
            if (stats::ParseSlotLine(decoded, &line)) {
                s.clients[p].push_back(RowOf(line));
            }
        });
        const SummaryFileText* filters = s.files[stats::IndexOf(Kind::Filter, period.period)];
        FilterFields fields;
        ForEachLine(filters->bytes, [&](const std::string& decoded) {
            SplitFilterLine(decoded, fields);
            ++s.filters[fields.filter.empty() ? "(no filter named)" : fields.filter][p];
            ++s.events[p];
        });
    }
    for (const std::optional<Row>& row : s.traffic) {
        s.anything = s.anything || (row && row->total != 0);
    }
    for (std::size_t p = 0; p < stats::kPeriodCount; ++p) {
        s.anything = s.anything || !s.clients[p].empty() || s.events[p] != 0;
    }
    return s;
}

const char* Title(Kind kind, Period period) {
    return stats::StatisticOf(kind, period).title;
}

// A note in place of a statistic whose file is missing or empty; empty when it has content.
Html FileNote(const Summary& s, Kind kind, Period period) {
    const stats::Statistic& statistic = stats::StatisticOf(kind, period);
    const SummaryFileText* file = s.files[stats::IndexOf(kind, period)];
    const Html name = Text(statistic.summaryFile);
    if (!file->present) {
        return "<p class=\"note\">" + name + " is missing.</p>\n";
    }
    if (file->bytes.empty()) {
        return "<p class=\"note\">" + name + " is empty.</p>\n";
    }
    return {};
}

Html SectionStart(Kind kind, Markup id) {
    return "<section id=\"" + Html(id) + "\">\n<h2>" + Text(stats::InfoOf(kind).title) + "</h2>\n";
}

// A period without figures: its heading, and why (its file's state, else `otherwise`).
Html NoFigures(const Summary& s, Kind kind, Period period, Markup otherwise) {
    const Html note = FileNote(s, kind, period);
    return "<h3>" + Text(Title(kind, period)) + "</h3>\n" +
           (note.Empty() ? "<p class=\"note\">" + Html(otherwise) + "</p>\n" : note);
}

Html TrafficSection(const Summary& s) {
    const stats::KindInfo& kind = stats::InfoOf(Kind::Traffic);
    Html out = SectionStart(Kind::Traffic, "traffic");
    for (const stats::PeriodInfo& period : stats::kPeriods) {
        const std::optional<Row>& row = s.traffic[static_cast<std::size_t>(period.period)];
        const Html title = Text(Title(Kind::Traffic, period.period));
        if (!row) {
            out += NoFigures(s, Kind::Traffic, period.period, "No figures for this period.");
            continue;
        }
        out += "<h3>" + title + ": " + Text(Megabytes(row->total)) + "</h3>\n";
        const std::vector<std::string> labels = stats::SlotLabels(period.period);
        std::vector<html::Bar> columns;
        for (std::size_t i = 0; i < row->slots.size(); ++i) {
            const std::string label = i < labels.size() ? labels[i] : std::to_string(i + 1);
            const std::int64_t cents = MegabyteCents(row->slots[i]);
            columns.push_back({label, cents, html::GroupedCents(cents)});
        }
        out += html::ColumnChart(
            std::string(kind.title) + ", " + Title(Kind::Traffic, period.period) + ", " + kind.unit,
            columns);
    }
    out += "</section>\n";
    return out;
}

Html ClientSection(const Summary& s, const DashboardExtras& extras) {
    const bool names = static_cast<bool>(extras.userName);
    const stats::KindInfo& kind = stats::InfoOf(Kind::Client);
    Html out = SectionStart(Kind::Client, "clients");
    for (const stats::PeriodInfo& period : stats::kPeriods) {
        const std::vector<Row>& rows = s.clients[static_cast<std::size_t>(period.period)];
        const Html title = Text(Title(Kind::Client, period.period));
        if (rows.empty()) {
            out += NoFigures(s, Kind::Client, period.period, "No clients.");
            continue;
        }
        std::int64_t total = 0;
        std::vector<html::Bar> bars;
        for (const Row& r : rows) {
            total = stats::SaturatingAdd(total, r.total);
            bars.push_back({r.name, r.total, Megabytes(r.total)});
        }
        const std::string clients =
            html::Counted(static_cast<std::int64_t>(rows.size()), "client", "clients");
        out += "<h3>" + title + ": " + Text(clients + ", " + Megabytes(total)) + "</h3>\n";
        out += "<div class=\"grid\">\n<div>\n";
        out += html::BarChart(std::string(kind.title) + ", " + Title(Kind::Client, period.period) +
                                  ", largest clients, " + kind.unit,
                              html::Largest(bars, kChartBars, "other clients", Megabytes));
        out += Markup("</div>\n<div>\n<table>\n<thead><tr><th>Client</th>");
        if (names) {
            out += Markup("<th>User name</th>");
        }
        out += Markup(
            "<th class=\"n\">Traffic (MB)</th><th class=\"n\">Share</th></tr></thead>\n"
            "<tbody>\n");
        for (const Row& r : rows) {
            char share[16];
            std::snprintf(share, sizeof share, "%.1f %%",
                          total > 0
                              ? 100.0 * static_cast<double>(r.total) / static_cast<double>(total)
                              : 0.0);
            out += "<tr><td class=\"wrap\">" + Text(r.name) + "</td>";
            if (names) {
                out += "<td class=\"wrap\">" + Text(extras.userName(r.name)) + "</td>";
            }
            out += "<td class=\"n\">" + Text(html::GroupedCents(MegabyteCents(r.total))) +
                   "</td><td class=\"n\">" + Text(share) + "</td></tr>\n";
        }
        out += Markup("</tbody>\n<tfoot><tr><td>Total</td>");
        if (names) {
            out += Markup("<td></td>");
        }
        out += "<td class=\"n\">" + Text(html::GroupedCents(MegabyteCents(total))) +
               "</td><td></td></tr></tfoot>\n</table>\n</div>\n</div>\n";
    }
    out += "</section>\n";
    return out;
}

Html FilterSection(const Summary& s) {
    const stats::KindInfo& kind = stats::InfoOf(Kind::Filter);
    Html out = SectionStart(Kind::Filter, "filters");
    for (const stats::PeriodInfo& period : stats::kPeriods) {
        out += FileNote(s, Kind::Filter, period.period);
    }
    if (s.filters.empty()) {
        out += "<p class=\"note\">No filter events in any period.</p>\n</section>\n";
        return out;
    }
    // Categories by their largest count in any period, then by name.
    std::vector<const std::string*> order;
    for (const auto& [name, counts] : s.filters) {
        order.push_back(&name);
    }
    const auto peak = [&](const std::string* name) {
        const auto& counts = s.filters.at(*name);
        return *std::max_element(counts.begin(), counts.end());
    };
    std::stable_sort(order.begin(), order.end(),
                     [&](const std::string* a, const std::string* b) { return peak(a) > peak(b); });
    out += "<table>\n<thead><tr><th>Filter category</th>";
    for (const stats::PeriodInfo& period : stats::kPeriods) {
        out += "<th class=\"n\">" + Text(Title(Kind::Filter, period.period)) + "</th>";
    }
    out += "</tr></thead>\n<tbody>\n";
    for (const std::string* name : order) {
        out += "<tr><td class=\"wrap\">" + Text(*name) + "</td>";
        for (std::int64_t c : s.filters.at(*name)) {
            out += "<td class=\"n\">" + Text(html::Grouped(c)) + "</td>";
        }
        out += "</tr>\n";
    }
    out += "</tbody>\n<tfoot><tr><td>All categories</td>";
    for (std::int64_t c : s.events) {
        out += "<td class=\"n\">" + Text(html::Grouped(c)) + "</td>";
    }
    out += "</tr></tfoot>\n</table>\n<div class=\"grid\">\n";
    for (const stats::PeriodInfo& period : stats::kPeriods) {
        const auto p = static_cast<std::size_t>(period.period);
        if (s.events[p] == 0) {
            continue;
        }
        std::vector<html::Bar> bars;
        for (const std::string* name : order) {
            bars.push_back({*name, s.filters.at(*name)[p], html::Grouped(s.filters.at(*name)[p])});
        }
        bars.erase(std::remove_if(bars.begin(), bars.end(),
                                  [](const html::Bar& b) { return b.value == 0; }),
                   bars.end());
        const std::string title = Title(Kind::Filter, period.period);
        out += "<div>\n<h3>" + Text(title + ": " + html::Counted(s.events[p], "event", "events")) +
               "</h3>\n";
        out += html::BarChart(std::string(kind.title) + ", " + title,
                              html::Largest(bars, kChartBars, "other categories", html::Grouped));
        out += "</div>\n";
    }
    out += "</div>\n</section>\n";
    return out;
}

Html AlertSection(const DashboardExtras& extras) {
    Html out(Markup("<section id=\"alerts\">\n<h2>Alerts today</h2>\n"));
    if (extras.alertsToday.empty()) {
        return out + Markup("<p class=\"note\">No alerts today.</p>\n</section>\n");
    }
    out += Markup(
        "<table>\n<thead><tr><th>Time</th><th>Client</th><th>User name</th><th>Rule</th>"
        "<th>Figure</th></tr></thead>\n<tbody>\n");
    for (const DashboardAlert& a : extras.alertsToday) {
        out += "<tr><td>" + Text(a.time) + "</td><td class=\"wrap\">" + Text(a.client) +
               "</td><td class=\"wrap\">" + Text(a.userName) + "</td><td>" + Text(a.rule) +
               "</td><td>" + Text(a.figure) + "</td></tr>\n";
    }
    return out + Markup("</tbody>\n</table>\n</section>\n");
}

}  // namespace

std::size_t SummaryFileIndex(std::string_view name) {
    for (std::size_t i = 0; i < layout::kSummaryFileCount; ++i) {
        if (name == layout::kSummaryFiles[i]) {
            return i;
        }
    }
    return 0;  // only the table's own names are asked for
}

std::string PageTime(std::time_t when) {
    const platform::LocalDate d = platform::BreakDown(when);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", d.year, d.month, d.day, d.hour,
                  d.minute);
    return text;
}

std::vector<UnsentMail> UnsentMails(const std::string& logsDir) {
    std::vector<outbox::Entry> entries;
    std::vector<UnsentMail> unsent;
    if (!outbox::ListEntries(logsDir, true, &entries)) {
        return unsent;
    }
    for (const outbox::Entry& e : entries) {
        UnsentMail mail;
        if (e.damaged) {
            mail = {"outbox entry " + e.id, "-", "its record cannot be read: " + e.problem};
        } else {
            for (const std::string& name : e.mail.attachments) {
                mail.what += (mail.what.empty() ? "" : ", ") + name;
            }
            if (!e.mail.subject.empty()) {
                mail.what = "\"" + e.mail.subject + "\"";
            } else if (mail.what.empty()) {
                mail.what = "the report mail without reports";
            }
            mail.when = e.lastAttempt != 0 ? PageTime(static_cast<std::time_t>(e.lastAttempt))
                                           : std::string("-");
            mail.why = e.lastReason;
        }
        unsent.push_back(std::move(mail));
    }
    return unsent;
}

std::string RenderDashboard(const SummaryTexts& files, std::string_view madeAt,
                            const DashboardExtras& extras) {
    const Summary s = Read(files);
    const Html title = Markup("Proxy summary");
    const Html subtitle = "The summary files as of " + Text(madeAt);
    // Shown first: the one thing on the page that asks the administrator to act.
    Html warnings;
    if (!extras.unsent.empty()) {
        warnings += Markup("<section>\n");
        for (const UnsentMail& mail : extras.unsent) {
            warnings += Markup("<p class=\"note\" style=\"color:#b42318\"><b>Mail not sent</b>: ") +
                        Text(mail.what) + Markup(", failed ") + Text(mail.when) + Markup(": ") +
                        Text(mail.why) + Markup("</p>\n");
        }
        warnings += Markup("</section>\n");
    }
    if (!s.anything) {
        return (html::PageStart(title, subtitle) + warnings +
                "<section>\n<p class=\"empty\">Nothing to show yet: no traffic, no client and no "
                "filter event in any period, or no cycle has written the summary files.</p>\n"
                "</section>\n" +
                (extras.alertsOn ? AlertSection(extras) : Html()) + html::PageEnd())
            .Take();
    }
    Html nav;
    if (extras.alertsOn) {
        nav += Markup("<a href=\"#alerts\">Alerts today</a>");
    }
    nav += Markup(
        "<a href=\"#traffic\">Traffic</a><a href=\"#clients\">Clients</a><a "
        "href=\"#filters\">Filter events</a>");
    Html out = html::PageStart(title, subtitle, nav);
    out += warnings;
    const auto total = [&](Period p) {
        const std::optional<Row>& row = s.traffic[static_cast<std::size_t>(p)];
        return row ? Text(Megabytes(row->total)) : Html("-");
    };
    std::size_t clients = 0;
    for (const std::vector<Row>& rows : s.clients) {
        clients = std::max(clients, rows.size());
    }
    out += html::Figures({
        {"Traffic this week", total(Period::Week)},
        {"Traffic this year", total(Period::Year)},
        {"Clients", Text(html::Grouped(static_cast<std::int64_t>(clients)))},
        {"Filter events this week",
         Text(html::Grouped(s.events[static_cast<std::size_t>(Period::Week)]))},
    });
    if (extras.alertsOn) {
        out += AlertSection(extras);
    }
    out += TrafficSection(s);
    out += ClientSection(s, extras);
    out += FilterSection(s);
    out += html::PageEnd();
    return std::move(out).Take();
}

}  // namespace reports
