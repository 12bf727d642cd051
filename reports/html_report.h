// The HTML twin of a report: the same records as its XML document, laid out for people. A
// traffic report shows its clients as the XML lists them, their total and a chart of the
// largest; a filter report shows every event, and charts of the events per filter category
// and per client. Charts summarise (the largest entries and one "other" bar); tables are
// complete. Rendering never fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "reports/html_page.h"
#include "reports/report_content.h"

namespace reports {

std::string RenderHtmlReport(const ReportContent& content);

// A filter report's page is also made in parts, so its events table can be written row by row
// from the input: the figures gathered from every event first (they hold one entry per client
// and per filter category, never the events), then FilterPageStart, one row per event in the
// order counted, and FilterPageEnd. RenderHtmlReport puts the same parts together.
class FilterFigures {
  public:
    void Add(const FilterFields& event);
    std::int64_t Events() const { return events_; }

  private:
    friend html::Html FilterPageStart(const ReportHeading&, const FilterFigures&);
    friend html::Html FilterPageEnd(const FilterFigures&);

    // Counts in the order each key first appears.
    struct Tally {
        std::unordered_map<std::string, std::size_t> index;
        std::vector<std::string> keys;
        std::vector<std::int64_t> counts;
        std::size_t Add(const std::string& key);
    };
    Tally filters_;
    Tally clients_;
    std::vector<std::string> userOfClient_;  // the first user name seen for each client
    std::int64_t events_ = 0;
};

html::Html FilterPageStart(const ReportHeading& heading, const FilterFigures& figures);
// Appends the row of the event numbered row (from 1) to out.
void AppendFilterRow(html::Html& out, std::int64_t row, const FilterFields& event);
html::Html FilterPageEnd(const FilterFigures& figures);

}  // namespace reports
