// The building blocks of the pages people read: the report twins and the dashboard of the
// summary files. A page is one standalone UTF-8 file: inline style, inline SVG charts, no
// script and nothing fetched from elsewhere. It is written as well-formed XHTML-compatible
// markup, so an XML parser can check it. Every text that came from a log goes through
// Text, which escapes it; nothing here fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace reports::html {

// The page style; the XSL stylesheets carry the same text, so a document looks the same
// whether it is opened as a twin or through its stylesheet.
extern const char kStyle[];

// A log's 8-bit text as page text: converted to UTF-8 as the XML documents convert it, the
// markup characters written as references, control characters dropped (a tab shown as a
// blank). Any byte sequence gives well-formed text.
std::string Text(std::string_view ansi);
// The same appended to out (the long tables' way: no text of its own per field).
void AppendText(std::string& out, std::string_view ansi);
// The same cut to at most maxBytes bytes of the original, an ellipsis marking the cut.
std::string ShortText(std::string_view ansi, std::size_t maxBytes);

// 100000 -> "100,000".
std::string Grouped(std::int64_t number);
// Hundredths of a megabyte with grouped thousands: 2760544 -> "27,605.44".
std::string GroupedCents(std::int64_t cents);
// Hundredths of a megabyte as the pages show them: 2760544 -> "27,605.44 MB".
std::string Megabytes(std::int64_t cents);
// "1 client", "3 clients".
std::string Counted(std::int64_t number, std::string_view one, std::string_view many);

// The page up to the opening of its main part, and the rest. title and subtitle are page
// text (escaped by the caller); nav, when not empty, is markup for the header's links.
std::string PageStart(std::string_view title, std::string_view subtitle, std::string_view nav = {});
std::string PageEnd();

// Figures in boxes above the sections: each a caption and a value, both page text.
struct Figure {
    std::string caption;
    std::string value;
};
std::string Figures(const std::vector<Figure>& figures);

// One bar of a chart: label as a log's text (escaped and shortened by the chart), the value
// that sets its length, and the value as shown.
struct Bar {
    std::string label;
    std::int64_t value = 0;
    std::string shown;
    bool other = false;  // the bar that sums what the chart leaves out
};
// Horizontal bars, one row each, the label left and the shown value right of the bar. The
// caption names the chart for screen readers and as its tooltip.
std::string BarChart(std::string_view caption, const std::vector<Bar>& bars);
// Vertical bars in a row (a period's days or months), the label under each column and the
// shown value above it; zero columns show no value.
std::string ColumnChart(std::string_view caption, const std::vector<Bar>& columns);

// How many of the largest entries a chart shows before its bar for the rest.
inline constexpr std::size_t kChartBars = 12;
// The `keep` largest bars, larger first (equal ones in their given order), and one bar
// summing the rest under `otherLabel` with its value shown by `show`.
std::vector<Bar> Largest(std::vector<Bar> bars, std::size_t keep, std::string_view otherLabel,
                         std::string (*show)(std::int64_t));

}  // namespace reports::html
