// The two report families as pages; see html_report.h.
#include "reports/html_report.h"

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "reports/html_page.h"

namespace reports {

namespace {

constexpr std::size_t kChartBars = 12;

std::string Megabytes(std::int64_t cents) {
    return html::GroupedCents(cents) + " MB";
}
std::string Events(std::int64_t count) {
    return html::Grouped(count);
}

std::string Title(const ReportContent& c) {
    return html::Text(ReportTitle(c.kind, c.day, c.month, c.year));
}

std::string TrafficPage(const ReportContent& content) {
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
    std::string out = html::PageStart(Title(content), "Website traffic per client: " + clients +
                                                          ", " + Megabytes(total) + " in all");
    const std::vector<html::Bar> largest =
        html::Largest(bars, kChartBars, "other clients", Megabytes);
    out += html::Figures({
        {"Clients", html::Grouped(static_cast<std::int64_t>(content.traffic.size()))},
        {"Total traffic", Megabytes(total)},
        {"Largest client", largest.empty() ? "-" : html::Text(largest.front().label)},
    });
    out += "<section>\n<h2>Largest clients</h2>\n";
    out += html::BarChart("Traffic of the largest clients in MB", largest);
    out +=
        "</section>\n<section>\n<h2>Clients</h2>\n<table>\n<thead><tr><th class=\"n\">#</th>"
        "<th>Client address</th><th>User name</th><th class=\"n\">Traffic (MB)</th></tr>"
        "</thead>\n<tbody>\n";
    std::size_t row = 0;
    for (const TrafficRecord& r : content.traffic) {
        out += "<tr><td class=\"n\">" + std::to_string(++row) + "</td><td class=\"wrap\">" +
               html::Text(r.client) + "</td><td class=\"wrap\">" + html::Text(r.userName) +
               "</td><td class=\"n\">" + html::GroupedCents(MegabyteCents(r.bytes)) +
               "</td></tr>\n";
    }
    out += "</tbody>\n<tfoot><tr><td></td><td colspan=\"2\">Total, " + clients +
           "</td><td class=\"n\">" + html::GroupedCents(total) +
           "</td></tr></tfoot>\n</table>\n"
           "</section>\n";
    out += html::PageEnd();
    return out;
}

// Counts in the order each key first appears.
class Tally {
  public:
    std::size_t Add(const std::string& key) {
        auto [it, added] = index_.try_emplace(key, keys_.size());
        if (added) {
            keys_.push_back(key);
            counts_.push_back(0);
        }
        ++counts_[it->second];
        return it->second;
    }
    std::size_t Size() const { return keys_.size(); }
    const std::string& Key(std::size_t i) const { return keys_[i]; }
    std::int64_t Count(std::size_t i) const { return counts_[i]; }
    std::vector<html::Bar> Bars() const {
        std::vector<html::Bar> bars;
        bars.reserve(keys_.size());
        for (std::size_t i = 0; i < keys_.size(); ++i) {
            bars.push_back({keys_[i], counts_[i], Events(counts_[i])});
        }
        return bars;
    }

  private:
    std::unordered_map<std::string, std::size_t> index_;
    std::vector<std::string> keys_;
    std::vector<std::int64_t> counts_;
};

std::string FilterName(const FilterFields& e) {
    return e.filter.empty() ? "(no filter named)" : e.filter;
}

std::string FilterPage(const ReportContent& content) {
    Tally filters;
    Tally clients;
    std::vector<std::string> userOfClient;  // the first user name seen for each client
    for (const FilterFields& e : content.events) {
        filters.Add(FilterName(e));
        if (clients.Add(e.client) == userOfClient.size()) {
            userOfClient.push_back(e.userName);
        }
    }
    const auto events = static_cast<std::int64_t>(content.events.size());
    std::string out = html::PageStart(
        Title(content),
        "Filter activity: " + html::Counted(events, "event", "events") + " of " +
            html::Counted(static_cast<std::int64_t>(clients.Size()), "client", "clients"));
    const std::vector<html::Bar> byFilter =
        html::Largest(filters.Bars(), kChartBars, "other categories", Events);
    const std::vector<html::Bar> byClient =
        html::Largest(clients.Bars(), kChartBars, "other clients", Events);
    out += html::Figures({
        {"Filter events", html::Grouped(events)},
        {"Clients", html::Grouped(static_cast<std::int64_t>(clients.Size()))},
        {"Filter categories", html::Grouped(static_cast<std::int64_t>(filters.Size()))},
        {"Most frequent", byFilter.empty() ? "-" : html::Text(byFilter.front().label)},
    });
    out += "<div class=\"grid\">\n<section>\n<h2>Events per filter category</h2>\n";
    out += html::BarChart("Filter events per category", byFilter);
    out += "</section>\n<section>\n<h2>Events per client</h2>\n";
    out += html::BarChart("Filter events per client", byClient);
    out += "</section>\n</div>\n";

    out +=
        "<section>\n<h2>Clients</h2>\n<table>\n<thead><tr><th>Client address</th>"
        "<th>User name</th><th class=\"n\">Events</th></tr></thead>\n<tbody>\n";
    for (std::size_t i = 0; i < clients.Size(); ++i) {
        out += "<tr><td class=\"wrap\">" + html::Text(clients.Key(i)) + "</td><td class=\"wrap\">" +
               html::Text(userOfClient[i]) + "</td><td class=\"n\">" + Events(clients.Count(i)) +
               "</td></tr>\n";
    }
    out += "</tbody>\n</table>\n</section>\n";

    out +=
        "<section>\n<h2>Events</h2>\n<table class=\"events\">\n<thead><tr>"
        "<th class=\"n c1\">#</th><th class=\"c2\">Date</th><th class=\"c3\">Time</th>"
        "<th class=\"c4\">Client</th><th class=\"c5\">User</th><th>URL</th>"
        "<th class=\"c7\">Filter</th></tr></thead>\n<tbody>\n";
    // The long table is built in place: a field costs no text of its own.
    out.reserve(out.size() + content.events.size() * 256);
    std::int64_t row = 0;
    for (const FilterFields& e : content.events) {
        out += "<tr><td class=\"n\">";
        out += std::to_string(++row);
        for (const std::string* field :
             {&e.date, &e.time, &e.client, &e.userName, &e.url, &e.filter}) {
            out += "</td><td class=\"wrap\">";
            html::AppendText(out, *field);
        }
        out += "</td></tr>\n";
    }
    out += "</tbody>\n<tfoot><tr><td></td><td colspan=\"6\">Total, " +
           html::Counted(events, "event", "events") + "</td></tr></tfoot>\n</table>\n</section>\n";
    out += html::PageEnd();
    return out;
}

}  // namespace

std::string RenderHtmlReport(const ReportContent& content) {
    return IsFilterReport(content.kind) ? FilterPage(content) : TrafficPage(content);
}

}  // namespace reports
