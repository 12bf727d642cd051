// The two report families as pages; see html_report.h.
#include "reports/html_report.h"

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "reports/html_page.h"

namespace reports {

namespace {

using html::Html;
using html::kChartBars;
using html::Megabytes;
using html::Text;

Html Title(const ReportHeading& h) {
    return Text(ReportTitle(h.kind, h.day, h.month, h.year));
}

Html TrafficPage(const ReportContent& content) {
    // The total is the sum of the figures as shown, so the column adds up to it exactly.
    std::int64_t total = 0;
    std::vector<html::Bar> bars;
    bars.reserve(content.traffic.size());
    for (const TrafficRecord& r : content.traffic) {
        const std::int64_t cents = MegabyteCents(r.bytes);
        total += cents;
        bars.push_back({r.client, cents, Megabytes(cents)});
    }
    const std::string clients =
        html::Counted(static_cast<std::int64_t>(content.traffic.size()), "client", "clients");
    Html out = html::PageStart(
        Title(content.Heading()),
        Text("Website traffic per client: " + clients + ", " + Megabytes(total) + " in all"));
    const std::vector<html::Bar> largest =
        html::Largest(bars, kChartBars, "other clients", Megabytes);
    out += html::Figures({
        {"Clients", Text(html::Grouped(static_cast<std::int64_t>(content.traffic.size())))},
        {"Total traffic", Text(Megabytes(total))},
        {"Largest client", largest.empty() ? Html("-") : Text(largest.front().label)},
    });
    out += "<section>\n<h2>Largest clients</h2>\n";
    out += html::BarChart("Traffic of the largest clients in MB", largest);
    out +=
        "</section>\n<section>\n<h2>Clients</h2>\n<table>\n<thead><tr><th class=\"n\">#</th>"
        "<th>Client address</th><th>User name</th><th class=\"n\">Traffic (MB)</th></tr>"
        "</thead>\n<tbody>\n";
    std::size_t row = 0;
    for (const TrafficRecord& r : content.traffic) {
        out += "<tr><td class=\"n\">" + Text(std::to_string(++row)) + "</td><td class=\"wrap\">" +
               Text(r.client) + "</td><td class=\"wrap\">" + Text(r.userName) +
               "</td><td class=\"n\">" + Text(html::GroupedCents(MegabyteCents(r.bytes))) +
               "</td></tr>\n";
    }
    out += "</tbody>\n<tfoot><tr><td></td><td colspan=\"2\">Total, " + Text(clients) +
           "</td><td class=\"n\">" + Text(html::GroupedCents(total)) +
           "</td></tr></tfoot>\n</table>\n"
           "</section>\n";
    out += html::PageEnd();
    return out;
}

std::string FilterName(const FilterFields& e) {
    return e.filter.empty() ? "(no filter named)" : e.filter;
}

std::vector<html::Bar> Bars(const std::vector<std::string>& keys,
                            const std::vector<std::int64_t>& counts) {
    std::vector<html::Bar> bars;
    bars.reserve(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        bars.push_back({keys[i], counts[i], html::Grouped(counts[i])});
    }
    return bars;
}

Html FilterPage(const ReportContent& content) {
    FilterFigures figures;
    for (const FilterFields& e : content.events) {
        figures.Add(e);
    }
    Html out = FilterPageStart(content.Heading(), figures);
    // The long table is built in place: a field costs no text of its own.
    out.Reserve(out.Size() + content.events.size() * 256);
    std::int64_t row = 0;
    for (const FilterFields& e : content.events) {
        AppendFilterRow(out, ++row, e);
    }
    out += FilterPageEnd(figures);
    return out;
}

}  // namespace

std::size_t FilterFigures::Tally::Add(const std::string& key) {
    auto [it, added] = index.try_emplace(key, keys.size());
    if (added) {
        keys.push_back(key);
        counts.push_back(0);
    }
    ++counts[it->second];
    return it->second;
}

void FilterFigures::Add(const FilterFields& event) {
    ++events_;
    filters_.Add(FilterName(event));
    if (clients_.Add(event.client) == userOfClient_.size()) {
        userOfClient_.push_back(event.userName);
    }
}

Html FilterPageStart(const ReportHeading& heading, const FilterFigures& figures) {
    const std::int64_t events = figures.events_;
    const auto clientCount = static_cast<std::int64_t>(figures.clients_.keys.size());
    Html out = html::PageStart(Title(heading),
                               Text("Filter activity: " + html::Counted(events, "event", "events") +
                                    " of " + html::Counted(clientCount, "client", "clients")));
    const std::vector<html::Bar> byFilter =
        html::Largest(Bars(figures.filters_.keys, figures.filters_.counts), kChartBars,
                      "other categories", html::Grouped);
    const std::vector<html::Bar> byClient =
        html::Largest(Bars(figures.clients_.keys, figures.clients_.counts), kChartBars,
                      "other clients", html::Grouped);
    out += html::Figures({
        {"Filter events", Text(html::Grouped(events))},
        {"Clients", Text(html::Grouped(clientCount))},
        {"Filter categories",
         Text(html::Grouped(static_cast<std::int64_t>(figures.filters_.keys.size())))},
        {"Most frequent", byFilter.empty() ? Html("-") : Text(byFilter.front().label)},
    });
    out += "<div class=\"grid\">\n<section>\n<h2>Events per filter category</h2>\n";
    out += html::BarChart("Filter events per category", byFilter);
    out += "</section>\n<section>\n<h2>Events per client</h2>\n";
    out += html::BarChart("Filter events per client", byClient);
    out += "</section>\n</div>\n";

    out +=
        "<section>\n<h2>Clients</h2>\n<table>\n<thead><tr><th>Client address</th>"
        "<th>User name</th><th class=\"n\">Events</th></tr></thead>\n<tbody>\n";
    const FilterFigures::Tally& clients = figures.clients_;
    for (std::size_t i = 0; i < clients.keys.size(); ++i) {
        out += "<tr><td class=\"wrap\">" + Text(clients.keys[i]) + "</td><td class=\"wrap\">" +
               Text(figures.userOfClient_[i]) + "</td><td class=\"n\">" +
               Text(html::Grouped(clients.counts[i])) + "</td></tr>\n";
    }
    out += "</tbody>\n</table>\n</section>\n";

    out +=
        "<section>\n<h2>Events</h2>\n<table class=\"events\">\n<thead><tr>"
        "<th class=\"n c1\">#</th><th class=\"c2\">Date</th><th class=\"c3\">Time</th>"
        "<th class=\"c4\">Client</th><th class=\"c5\">User</th><th>URL</th>"
        "<th class=\"c7\">Filter</th></tr></thead>\n<tbody>\n";
    return out;
}

void AppendFilterRow(Html& out, std::int64_t row, const FilterFields& event) {
    out += "<tr><td class=\"n\">";
    html::AppendText(out, std::to_string(row));
    for (const std::string* field :
         {&event.date, &event.time, &event.client, &event.userName, &event.url, &event.filter}) {
        out += "</td><td class=\"wrap\">";
        html::AppendText(out, *field);
    }
    out += "</td></tr>\n";
}

Html FilterPageEnd(const FilterFigures& figures) {
    return "</tbody>\n<tfoot><tr><td></td><td colspan=\"6\">Total, " +
           Text(html::Counted(figures.events_, "event", "events")) +
           "</td></tr></tfoot>\n</table>\n</section>\n" + html::PageEnd();
}

std::string RenderHtmlReport(const ReportContent& content) {
    return (IsFilterReport(content.kind) ? FilterPage(content) : TrafficPage(content)).Take();
}

}  // namespace reports
