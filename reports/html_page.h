// The building blocks of the pages people read: the report twins and the dashboard of the
// summary files. A page is one standalone UTF-8 file: inline style, inline SVG charts, no
// script and nothing fetched from elsewhere. It is written as well-formed XHTML-compatible
// markup, so an XML parser can check it. A page is built as Html, which only escaped text
// and the program's own markup make up; nothing here fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace reports::html {

// Markup written into the program: made only from a character array the compiler knows (a
// literal, or a constexpr array), so no text that came from outside can pass for markup.
class Markup {
  public:
    template <std::size_t N>
    consteval Markup(const char (&literal)[N]) : text_(literal, N - 1) {}
    constexpr std::string_view View() const { return text_; }

  private:
    std::string_view text_;
};

// Text that may stand in a page as it is: made only by escaping (Text, AppendText, ShortText)
// and from Markup, and joined from those. Whatever puts text into a page takes this type, so
// a text that was never escaped does not compile there, and one escaped already cannot be
// handed where plain text is expected and escaped twice.
class Html {
  public:
    Html() = default;
    Html(Markup markup) : text_(markup.View()) {}

    Html& operator+=(const Html& more) {
        text_ += more.text_;
        return *this;
    }
    Html& operator+=(Markup more) {
        text_ += more.View();
        return *this;
    }
    friend Html operator+(Html a, const Html& b) {
        a += b;
        return a;
    }
    friend Html operator+(Html a, Markup b) {
        a += b;
        return a;
    }
    friend Html operator+(Markup a, const Html& b) {
        Html joined(a);
        joined += b;
        return joined;
    }

    const std::string& Str() const { return text_; }
    std::string Take() && { return std::move(text_); }
    bool Empty() const { return text_.empty(); }
    std::size_t Size() const { return text_.size(); }
    void Reserve(std::size_t bytes) { text_.reserve(bytes); }
    void Clear() { text_.clear(); }

  private:
    friend void AppendText(Html& out, std::string_view ansi);
    std::string text_;
};

// The page style; the XSL stylesheets carry the same text, so a document looks the same
// whether it is opened as a twin or through its stylesheet.
extern const char kStyle[];

// A log's 8-bit text as page text: converted to UTF-8 as the XML documents convert it, the
// markup characters written as references, control characters dropped (a tab shown as a
// blank). Any byte sequence gives well-formed text.
Html Text(std::string_view ansi);
// The same appended to out (the long tables' way: no text of its own per field).
void AppendText(Html& out, std::string_view ansi);
// The same cut to at most maxBytes bytes of the original, an ellipsis marking the cut.
Html ShortText(std::string_view ansi, std::size_t maxBytes);

// 100000 -> "100,000".
std::string Grouped(std::int64_t number);
// Hundredths of a megabyte with grouped thousands: 2760544 -> "27,605.44".
std::string GroupedCents(std::int64_t cents);
// Hundredths of a megabyte as the pages show them: 2760544 -> "27,605.44 MB".
std::string Megabytes(std::int64_t cents);
// "1 client", "3 clients".
std::string Counted(std::int64_t number, std::string_view one, std::string_view many);

// The page up to the opening of its main part, and the rest; nav, when not empty, holds the
// header's links.
Html PageStart(const Html& title, const Html& subtitle, const Html& nav = {});
Html PageEnd();

// Figures in boxes above the sections: each a caption and a value.
struct Figure {
    Markup caption;
    Html value;
};
Html Figures(const std::vector<Figure>& figures);

// One bar of a chart: label as a log's text (plain: the chart escapes and shortens it), the
// value that sets its length, and the value as shown (plain text too).
struct Bar {
    std::string label;
    std::int64_t value = 0;
    std::string shown;
    bool other = false;  // the bar that sums what the chart leaves out
};
// Horizontal bars, one row each, the label left and the shown value right of the bar. The
// caption names the chart for screen readers and as its tooltip.
Html BarChart(std::string_view caption, const std::vector<Bar>& bars);
// Vertical bars in a row (a period's days or months), the label under each column and the
// shown value above it; zero columns show no value.
Html ColumnChart(std::string_view caption, const std::vector<Bar>& columns);

// How many of the largest entries a chart shows before its bar for the rest.
inline constexpr std::size_t kChartBars = 12;
// The `keep` largest bars, larger first (equal ones in their given order), and one bar
// summing the rest under `otherLabel` with its value shown by `show`.
std::vector<Bar> Largest(std::vector<Bar> bars, std::size_t keep, std::string_view otherLabel,
                         std::string (*show)(std::int64_t));

}  // namespace reports::html
