// The XML report documents and their files. A report that cannot be written is dropped
// quietly: WriteReportFile returns false and adds no send-list entry.
#include "reports/report_format.h"

#include <string>

#include "common/layout.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "stats/log_names.h"

namespace reports {

namespace {

struct KindInfo {
    const char* title;       // title text (daily kinds: followed by the date)
    const char* stylesheet;  // path on the stylesheet host
    const char* file;        // in the log folder (daily kinds: the stem before the date)
    bool filter;             // filter kinds put the stylesheet on a line of its own
    bool daily;
    bool monthFirst;  // the daily traffic report names the month first
};

const KindInfo& Info(ReportKind kind) {
    static const KindInfo kInfo[] = {
        {"Daily Website Traffic - ", "/bwfp/template.xsl", layout::kDailyTrafficReportStem, false,
         true, layout::kDailyTrafficReportMonthFirst},
        {"Weekly Website Traffic", "/bwfp/template.xsl", layout::kWeeklyTrafficReport, false, false,
         false},
        {"Monthly Website Traffic", "/bwfp/template.xsl", layout::kMonthlyTrafficReport, false,
         false, false},
        {"Daily Filter Activity - ", "/bwfp/template_filter.xsl", layout::kDailyFilterReportStem,
         true, true, layout::kDailyFilterReportMonthFirst},
        {"Weekly Filter Activity", "/bwfp/template_filter.xsl", layout::kWeeklyFilterReport, true,
         false, false},
        {"Monthly Filter Activity", "/bwfp/template_filter.xsl", layout::kMonthlyFilterReport, true,
         false, false},
    };
    return kInfo[static_cast<int>(kind)];
}

// The three date parts of a daily kind in the kind's order.
void DateParts(const KindInfo& info, int day, int month, int year, std::string parts[3]) {
    parts[0] = stats::DatePart(info.monthFirst ? month : day);
    parts[1] = stats::DatePart(info.monthFirst ? day : month);
    parts[2] = stats::YearPart(year);
}

bool IsXmlSpecial(char c) {
    return c == '<' || c == '>' || c == '&' || c == '\'' || c == '"';
}

// Control characters that XML 1.0 does not allow anywhere in a document.
bool IsForbiddenControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 && c != '\t' && c != '\n' && c != '\r';
}

}  // namespace

std::string ToXmlText(std::string_view text) {
    std::string kept;
    kept.reserve(text.size());
    for (char c : text) {
        if (!IsXmlSpecial(c) && !IsForbiddenControl(c)) {
            kept.push_back(c);
        }
    }
    return platform::AnsiToUtf8(kept);
}

std::int64_t MegabyteCents(std::int64_t byteTotal) {
    // Integer arithmetic gives the exact decimal value of kilobytes / 1024, so the rounding
    // of halves (0.125 -> 0.13) does not depend on the C library's printf.
    const std::int64_t kilobytes = byteTotal / 1024;
    const std::uint64_t magnitude = kilobytes < 0 ? 0 - static_cast<std::uint64_t>(kilobytes)
                                                  : static_cast<std::uint64_t>(kilobytes);
    const std::uint64_t cents = magnitude / 1024 * 100 + ((magnitude % 1024) * 100 + 512) / 1024;
    return kilobytes < 0 ? -static_cast<std::int64_t>(cents) : static_cast<std::int64_t>(cents);
}

std::string FormatCents(std::int64_t cents) {
    const std::uint64_t magnitude =
        cents < 0 ? 0 - static_cast<std::uint64_t>(cents) : static_cast<std::uint64_t>(cents);
    std::string out = cents < 0 ? "-" : "";
    out += std::to_string(magnitude / 100);
    out += '.';
    out += static_cast<char>('0' + magnitude % 100 / 10);
    out += static_cast<char>('0' + magnitude % 10);
    return out;
}

std::string FormatMegabytes(std::int64_t byteTotal) {
    return FormatCents(MegabyteCents(byteTotal));
}

std::string FormatTrafficRecord(std::string_view client, std::string_view userName,
                                std::int64_t byteTotal) {
    std::string out = "<data>\n<ip>";
    out += ToXmlText(client);
    out += "</ip>\n<name>";
    out += ToXmlText(userName);
    out += "</name>\n<size>";
    out += FormatMegabytes(byteTotal);
    out += "</size>\n</data>\n";
    return out;
}

std::string FormatFilterRecord(std::string_view date, std::string_view client,
                               std::string_view userName, std::string_view time,
                               std::string_view url, std::string_view filter) {
    std::string out = "<data>\n<date>";
    out += ToXmlText(date);
    out += "</date>\n<ip>";
    out += ToXmlText(client);
    out += "</ip>\n<name>";
    out += ToXmlText(userName);
    out += "</name>\n<time>";
    out += ToXmlText(time);
    out += "</time>\n<url>";
    out += ToXmlText(url);
    out += "</url>\n<filter>";
    out += ToXmlText(filter);
    out += "</filter>\n</data>\n";
    return out;
}

bool IsFilterReport(ReportKind kind) {
    return Info(kind).filter;
}

std::string ReportFileLiteral(ReportKind kind, int day, int month, int year) {
    const KindInfo& info = Info(kind);
    std::string literal = layout::kLogsFolder;
    literal += info.file;
    if (info.daily) {
        std::string parts[3];
        DateParts(info, day, month, year, parts);
        literal += "_" + parts[0] + "_" + parts[1] + "_" + parts[2] + layout::kReportExtension;
    }
    return literal;
}

std::string HtmlTwinLiteral(ReportKind kind, int day, int month, int year) {
    std::string literal = ReportFileLiteral(kind, day, month, year);
    literal.resize(literal.size() - std::string_view(layout::kReportExtension).size());
    return literal + layout::kHtmlReportExtension;
}

std::string ReportTitle(ReportKind kind, int day, int month, int year) {
    const KindInfo& info = Info(kind);
    std::string title = info.title;
    if (info.daily) {
        std::string parts[3];
        DateParts(info, day, month, year, parts);
        title += parts[0] + "/" + parts[1] + "/" + parts[2];
    }
    return title;
}

std::string ReportDocumentHead(ReportKind kind, int day, int month, int year,
                               std::string_view styleBase) {
    const KindInfo& info = Info(kind);
    std::string doc = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>";
    if (info.filter) {
        doc += "\n";
    }
    doc += "<?xml-stylesheet href='";
    doc += styleBase;
    doc += info.stylesheet;
    doc += "' type='text/xsl' ?>\n<log>\n<type><lg>";
    doc += ReportTitle(kind, day, month, year);
    doc += "</lg></type>\n";
    return doc;
}

std::string BuildReportDocument(ReportKind kind, int day, int month, int year,
                                std::string_view body, std::string_view styleBase) {
    std::string doc = ReportDocumentHead(kind, day, month, year, styleBase);
    doc += body;
    doc += kReportDocumentEnd;
    return doc;
}

bool WriteListedFile(const stats::LogContext& ctx, const std::string& literal,
                     std::string_view text, std::string& sendList) {
    return WriteListedFile(
        ctx, literal, [text](platform::FileReplacement& out) { return out.Write(text); }, sendList);
}

bool WriteListedFile(const stats::LogContext& ctx, const std::string& literal,
                     const std::function<bool(platform::FileReplacement&)>& fill,
                     std::string& sendList) {
    const std::string& appPath = ctx.settings.appPath;
    if (appPath.empty()) {
        return false;  // the file would land outside the installation
    }
    platform::FileReplacement out(platform::AppendPath(appPath, "\\" + literal),
                                  platform::FileReplacement::Mode::Text);
    // Whatever is left uncommitted, a failed fill included, is abandoned with out.
    if (!out.Good() || !fill(out) || out.Commit() != platform::ReplaceError::None) {
        return false;
    }
    sendList += platform::AppendPath(appPath, literal);
    sendList += ',';
    return true;
}

bool WriteReportFile(const stats::LogContext& ctx, ReportKind kind, int day, int month, int year,
                     std::string_view body, std::string& sendList, std::string_view styleBase) {
    return WriteListedFile(ctx, ReportFileLiteral(kind, day, month, year),
                           BuildReportDocument(kind, day, month, year, body, styleBase), sendList);
}

}  // namespace reports
