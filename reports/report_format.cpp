// The XML report documents and their files. A report that cannot be written is dropped
// quietly: WriteReportFile returns false and adds no send-list entry.
#include "reports/report_format.h"

#include <string>

#include "common/layout.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/text_mode.h"
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
         true, true},
        {"Weekly Website Traffic", "/bwfp/template.xsl", layout::kWeeklyTrafficReport, false, false,
         false},
        {"Monthly Website Traffic", "/bwfp/template.xsl", layout::kMonthlyTrafficReport, false,
         false, false},
        {"Daily Filter Activity - ", "/bwfp/template_filter.xsl", layout::kDailyFilterReportStem,
         true, true, false},
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

std::string StripXmlSpecials(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (!IsXmlSpecial(c)) {
            out.push_back(c);
        }
    }
    return out;
}

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

std::string FormatMegabytes(std::int64_t byteTotal) {
    // Integer arithmetic gives the exact decimal value of kilobytes / 1024, so the rounding
    // of halves (0.125 -> 0.13) does not depend on the C library's printf.
    const std::int64_t kilobytes = byteTotal / 1024;
    const std::uint64_t magnitude = kilobytes < 0 ? 0 - static_cast<std::uint64_t>(kilobytes)
                                                  : static_cast<std::uint64_t>(kilobytes);
    std::uint64_t whole = magnitude / 1024;
    std::uint64_t cents = ((magnitude % 1024) * 100 + 512) / 1024;
    if (cents == 100) {
        ++whole;
        cents = 0;
    }
    std::string out = kilobytes < 0 ? "-" : "";
    out += std::to_string(whole);
    out += '.';
    out += static_cast<char>('0' + cents / 10);
    out += static_cast<char>('0' + cents % 10);
    return out;
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

std::string BuildReportDocument(ReportKind kind, int day, int month, int year,
                                std::string_view body) {
    const KindInfo& info = Info(kind);
    std::string doc = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>";
    if (info.filter) {
        doc += "\n";
    }
    doc += "<?xml-stylesheet href='";
    doc += kStylesheetHost;
    doc += info.stylesheet;
    doc += "' type='text/xsl' ?>\n<log>\n<type><lg>";
    doc += info.title;
    if (info.daily) {
        std::string parts[3];
        DateParts(info, day, month, year, parts);
        doc += parts[0] + "/" + parts[1] + "/" + parts[2];
    }
    doc += "</lg></type>\n";
    doc += body;
    doc += "</log>";
    return doc;
}

bool WriteReportFile(const stats::LogContext& ctx, ReportKind kind, int day, int month, int year,
                     std::string_view body, std::string& sendList) {
    const std::string& appPath = ctx.settings.appPath;
    if (appPath.empty()) {
        return false;  // the file would land outside the installation
    }
    const std::string literal = ReportFileLiteral(kind, day, month, year);
    const std::string path = platform::AppendPath(appPath, "\\" + literal);
    if (!platform::ReplaceTextFile(path, BuildReportDocument(kind, day, month, year, body))) {
        return false;
    }
    sendList += platform::AppendPath(appPath, literal);
    sendList += ',';
    return true;
}

}  // namespace reports
