// Page building blocks; see html_page.h.
#include "reports/html_page.h"

#include <algorithm>
#include <cstdio>

#include "platform/codepage.h"
#include "reports/report_format.h"

namespace reports::html {

const char kStyle[] =
    "body{margin:0;background:#f3f5f8;color:#1f2933;"
    "font:14px/1.45 \"Segoe UI\",Roboto,\"Helvetica Neue\",Arial,\"Liberation Sans\",sans-serif}\n"
    "header{background:#1f3a5f;color:#fff;padding:18px 32px 16px}\n"
    "header h1{margin:0;font-size:22px;font-weight:600}\n"
    "header p{margin:4px 0 0;color:#c8d5e6}\n"
    "header nav{margin-top:10px}\n"
    "header nav a{color:#fff;margin-right:16px;text-decoration:none;"
    "border-bottom:1px solid #6f8fb8}\n"
    "main{max-width:1120px;margin:0 auto;padding:20px 32px 40px}\n"
    "section{background:#fff;border:1px solid #dbe2ea;border-radius:6px;"
    "padding:16px 20px;margin:0 0 20px}\n"
    "h2{font-size:17px;margin:0 0 12px;color:#1f3a5f}\n"
    "h3{font-size:14px;margin:18px 0 6px;color:#243b53}\n"
    ".figures{display:flex;flex-wrap:wrap;gap:12px;margin:0 0 20px}\n"
    ".figure{flex:1 1 180px;background:#fff;border:1px solid #dbe2ea;border-radius:6px;"
    "padding:10px 16px}\n"
    ".figure span{display:block;color:#52606d;font-size:12px;text-transform:uppercase;"
    "letter-spacing:.04em}\n"
    ".figure b{display:block;font-size:21px;color:#1f3a5f;font-weight:600;"
    "overflow-wrap:anywhere}\n"
    "table{border-collapse:collapse;width:100%;font-variant-numeric:tabular-nums}\n"
    "th,td{padding:4px 8px;border-bottom:1px solid #e4e8ee;text-align:left;"
    "vertical-align:top}\n"
    "th{background:#eef2f7;color:#334e68;font-weight:600;white-space:nowrap}\n"
    "tbody tr:nth-child(even){background:#f8fafc}\n"
    "th.n,td.n{text-align:right;white-space:nowrap}\n"
    "td.wrap{overflow-wrap:anywhere}\n"
    "tfoot td{font-weight:700;border-top:2px solid #bcccdc;border-bottom:0}\n"
    "table.events{table-layout:fixed}\n"
    "table.events th.c1{width:56px}\n"
    "table.events th.c2{width:88px}\n"
    "table.events th.c3{width:72px}\n"
    "table.events th.c4{width:118px}\n"
    "table.events th.c5{width:104px}\n"
    "table.events th.c7{width:140px}\n"
    "svg.chart{display:block;max-width:100%;height:auto;margin:4px 0 10px}\n"
    ".grid{display:grid;grid-template-columns:repeat(auto-fit,minmax(440px,1fr));"
    "gap:4px 28px}\n"
    ".note{color:#52606d;margin:4px 0 10px}\n"
    ".empty{padding:28px;text-align:center;color:#52606d;font-size:15px}\n"
    "@media print{body{background:#fff}section,.figure{border-color:#bbb}}\n";

namespace {

// Bar charts sit in half a page (a grid cell), column charts across the whole of it.
constexpr int kBarChartWidth = 560;
constexpr int kColumnChartWidth = 1076;
constexpr char kBarColour[] = "#3d6fa8";
constexpr char kOtherColour[] = "#9aa5b1";
constexpr char kLabelColour[] = "#334e68";
constexpr char kValueColour[] = "#1f2933";
constexpr std::size_t kMaxLabelBytes = 30;
constexpr char kEllipsis[] = "\xE2\x80\xA6";

// A coordinate or size of a chart, one decimal.
Html Num(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return Text(text);
}

Html Int(int value) {
    return Text(std::to_string(value));
}

// Appends UTF-8 text escaped for element content and attribute values alike.
void AppendEscaped(std::string& out, std::string_view utf8) {
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const char c = utf8[i];
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '&':
                out += "&amp;";
                continue;
            case '<':
                out += "&lt;";
                continue;
            case '>':
                out += "&gt;";
                continue;
            case '"':
                out += "&quot;";
                continue;
            case '\'':
                out += "&#39;";
                continue;
            case '\t':
                out += ' ';
                continue;
            default:
                break;
        }
        if (byte < 0x20 || byte == 0x7F) {
            continue;  // no control character means anything on a page
        }
        // The C1 controls (U+0080 to U+009F), which the code page leaves for unassigned bytes.
        if (byte == 0xC2 && i + 1 < utf8.size()) {
            const auto next = static_cast<unsigned char>(utf8[i + 1]);
            if (next >= 0x80 && next <= 0x9F) {
                ++i;
                continue;
            }
        }
        out.push_back(c);
    }
}

bool IsAscii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

Html SvgOpen(std::string_view text, int width, int height) {
    const Html caption = Text(text);
    Html out = Markup("<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"chart\" viewBox=\"0 0 ");
    out += Int(width) + " " + Int(height) + "\" width=\"" + Int(width) + "\" height=\"" +
           Int(height) + "\" role=\"img\" aria-label=\"";
    out += caption;
    out +=
        "\" font-family=\"Segoe UI, Roboto, Helvetica Neue, Arial, Liberation Sans, "
        "sans-serif\">\n<title>";
    out += caption;
    out += "</title>\n";
    return out;
}

std::int64_t MaxValue(const std::vector<Bar>& bars) {
    std::int64_t most = 0;
    for (const Bar& b : bars) {
        most = std::max(most, b.value);
    }
    return most;
}

std::string GroupDigits(std::string_view digits) {
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            out += ',';
        }
        out += digits[i];
    }
    return out;
}

}  // namespace

void AppendText(Html& out, std::string_view ansi) {
    // ASCII is the same in every code page: most fields need no conversion.
    if (IsAscii(ansi)) {
        AppendEscaped(out.text_, ansi);
    } else {
        AppendEscaped(out.text_, platform::AnsiToUtf8(ansi));
    }
}

Html Text(std::string_view ansi) {
    Html out;
    AppendText(out, ansi);
    return out;
}

Html ShortText(std::string_view ansi, std::size_t maxBytes) {
    if (ansi.size() <= maxBytes) {
        return Text(ansi);
    }
    return Text(ansi.substr(0, maxBytes)) + Markup(kEllipsis);
}

std::string Grouped(std::int64_t number) {
    const std::uint64_t magnitude =
        number < 0 ? 0 - static_cast<std::uint64_t>(number) : static_cast<std::uint64_t>(number);
    return (number < 0 ? "-" : "") + GroupDigits(std::to_string(magnitude));
}

std::string GroupedCents(std::int64_t cents) {
    const std::string plain = FormatCents(cents);  // "-27605.44"
    const std::size_t sign = plain[0] == '-' ? 1 : 0;
    const std::size_t point = plain.size() - 3;
    return plain.substr(0, sign) + GroupDigits(plain.substr(sign, point - sign)) +
           plain.substr(point);
}

std::string Megabytes(std::int64_t cents) {
    return GroupedCents(cents) + " MB";
}

std::string Counted(std::int64_t number, std::string_view one, std::string_view many) {
    return Grouped(number) + " " + std::string(number == 1 ? one : many);
}

Html PageStart(const Html& title, const Html& subtitle, const Html& nav) {
    Html out = Markup(
        "<!DOCTYPE html>\n"
        "<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"en\">\n<head>\n"
        "<meta charset=\"utf-8\" />\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\" />\n"
        // Nothing on the page may run or load: a last guard should escaping ever fail.
        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
        "style-src 'unsafe-inline'\" />\n<title>");
    out += title;
    out += "</title>\n<style>\n";
    out += Markup(kStyle);
    out += "</style>\n</head>\n<body>\n<header>\n<h1>";
    out += title;
    out += "</h1>\n<p>";
    out += subtitle;
    out += "</p>\n";
    if (!nav.Empty()) {
        out += "<nav>";
        out += nav;
        out += "</nav>\n";
    }
    out += "</header>\n<main>\n";
    return out;
}

Html PageEnd() {
    return Markup("</main>\n</body>\n</html>\n");
}

Html Figures(const std::vector<Figure>& figures) {
    Html out = Markup("<div class=\"figures\">\n");
    for (const Figure& f : figures) {
        out += "<div class=\"figure\"><span>" + Html(f.caption) + "</span><b>" + f.value +
               "</b></div>\n";
    }
    out += "</div>\n";
    return out;
}

Html BarChart(std::string_view caption, const std::vector<Bar>& bars) {
    constexpr int kLabelWidth = 190;
    constexpr int kValueWidth = 100;
    constexpr int kRow = 24;
    constexpr int kBar = 16;
    const int height = static_cast<int>(bars.size()) * kRow + 8;
    const double room = kBarChartWidth - kLabelWidth - kValueWidth;
    const std::int64_t most = MaxValue(bars);
    Html out = SvgOpen(caption, kBarChartWidth, height);
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const Bar& b = bars[i];
        const int top = 4 + static_cast<int>(i) * kRow;
        double width = most > 0 ? room * static_cast<double>(std::max<std::int64_t>(b.value, 0)) /
                                      static_cast<double>(most)
                                : 0;
        if (b.value > 0 && width < 1) {
            width = 1;  // a small figure still shows
        }
        const Html textY = Num(top + kBar / 2.0 + 4.5);
        out += "<g><title>" + Text(b.label) + ": " + Text(b.shown) + "</title>";
        out += "<text x=\"" + Int(kLabelWidth - 8) + "\" y=\"" + textY +
               "\" text-anchor=\"end\" font-size=\"12\" fill=\"" + Markup(kLabelColour) + "\">" +
               ShortText(b.label, kMaxLabelBytes) + "</text>";
        out += "<rect x=\"" + Int(kLabelWidth) + "\" y=\"" + Int(top) + "\" width=\"" + Num(width) +
               "\" height=\"" + Int(kBar) + "\" rx=\"2\" fill=\"" +
               (b.other ? Markup(kOtherColour) : Markup(kBarColour)) + "\" />";
        out += "<text x=\"" + Num(kLabelWidth + width + 6) + "\" y=\"" + textY +
               "\" font-size=\"12\" fill=\"" + Markup(kValueColour) + "\">" + Text(b.shown) +
               "</text></g>\n";
    }
    out += "</svg>\n";
    return out;
}

Html ColumnChart(std::string_view caption, const std::vector<Bar>& columns) {
    const std::size_t n = std::max<std::size_t>(columns.size(), 1);
    const double colWidth = (kColumnChartWidth - 16) / static_cast<double>(n);
    const bool upright = colWidth < 46;  // narrow columns get their values turned upright
    const int plotTop = upright ? 66 : 22;
    constexpr int kPlotHeight = 150;
    const int plotBottom = plotTop + kPlotHeight;
    const int height = plotBottom + 24;
    const double barWidth = std::max(4.0, colWidth * 0.62);
    const std::int64_t most = MaxValue(columns);
    Html out = SvgOpen(caption, kColumnChartWidth, height);
    out += "<line x1=\"8\" y1=\"" + Int(plotBottom) + "\" x2=\"" + Int(kColumnChartWidth - 8) +
           "\" y2=\"" + Int(plotBottom) + "\" stroke=\"#bcccdc\" />\n";
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const Bar& c = columns[i];
        const double centre = 8 + colWidth * (static_cast<double>(i) + 0.5);
        double h = most > 0
                       ? kPlotHeight * static_cast<double>(std::max<std::int64_t>(c.value, 0)) /
                             static_cast<double>(most)
                       : 0;
        if (c.value > 0 && h < 1) {
            h = 1;
        }
        const double top = plotBottom - h;
        out += "<g><title>" + Text(c.label) + ": " + Text(c.shown) + "</title>";
        out += "<rect x=\"" + Num(centre - barWidth / 2) + "\" y=\"" + Num(top) + "\" width=\"" +
               Num(barWidth) + "\" height=\"" + Num(h) + "\" rx=\"2\" fill=\"" +
               Markup(kBarColour) + "\" />";
        if (c.value != 0) {
            if (upright) {
                const Html x = Num(centre + 4), y = Num(top - 5);
                out += "<text x=\"" + x + "\" y=\"" + y + "\" transform=\"rotate(-90 " + x + " " +
                       y + ")\" font-size=\"10\" fill=\"" + Markup(kValueColour) + "\">" +
                       Text(c.shown) + "</text>";
            } else {
                out += "<text x=\"" + Num(centre) + "\" y=\"" + Num(top - 5) +
                       "\" text-anchor=\"middle\" font-size=\"11\" fill=\"" + Markup(kValueColour) +
                       "\">" + Text(c.shown) + "</text>";
            }
        }
        out += "<text x=\"" + Num(centre) + "\" y=\"" + Int(plotBottom + 16) +
               "\" text-anchor=\"middle\" font-size=\"" +
               (colWidth < 30 ? Markup("10") : Markup("11")) + "\" fill=\"" + Markup(kLabelColour) +
               "\">" + ShortText(c.label, 10) + "</text></g>\n";
    }
    out += "</svg>\n";
    return out;
}

std::vector<Bar> Largest(std::vector<Bar> bars, std::size_t keep, std::string_view otherLabel,
                         std::string (*show)(std::int64_t)) {
    std::stable_sort(bars.begin(), bars.end(),
                     [](const Bar& a, const Bar& b) { return a.value > b.value; });
    if (bars.size() <= keep + 1) {
        return bars;  // one more bar costs less than an "other" bar hiding a single entry
    }
    std::int64_t rest = 0;
    for (std::size_t i = keep; i < bars.size(); ++i) {
        rest += bars[i].value;
    }
    const std::size_t left = bars.size() - keep;
    bars.resize(keep);
    Bar other;
    other.label = std::string(otherLabel) + " (" + Grouped(static_cast<std::int64_t>(left)) + ")";
    other.value = rest;
    other.shown = show(rest);
    other.other = true;
    bars.push_back(std::move(other));
    return bars;
}

}  // namespace reports::html
