// The installation's report settings and the one procedure that writes a report in the form
// they ask for. Nothing is reported: a file that cannot be written is simply not listed.
#include "reports/report_output.h"

#include "common/layout.h"
#include "common/registry_value.h"
#include "platform/nocase.h"
#include "reports/html_report.h"

namespace reports {

namespace {

constexpr std::size_t kMaxStyleBase = 1024;

bool IsUrlByte(char c) {
    const auto byte = static_cast<unsigned char>(c);
    // Printable ASCII less what would end or confuse the instruction's quoted value.
    return byte > 0x20 && byte < 0x7F && c != '\'' && c != '"' && c != '<' && c != '>' &&
           c != '&' && c != '\\';
}

}  // namespace

bool ParseOutputFormat(std::string_view text, OutputFormat* format) {
    for (OutputFormat candidate : {OutputFormat::Xml, OutputFormat::XmlAndHtml}) {
        if (platform::EqualNoCase(text, OutputFormatName(candidate))) {
            *format = candidate;
            return true;
        }
    }
    return false;
}

const char* OutputFormatName(OutputFormat format) {
    return format == OutputFormat::XmlAndHtml ? "xml+html" : "xml";
}

bool IsUsableStyleBase(std::string_view url) {
    if (url.size() > kMaxStyleBase || !(platform::StartsWithNoCase(url, "http://") ||
                                        platform::StartsWithNoCase(url, "https://"))) {
        return false;
    }
    for (char c : url) {
        if (!IsUrlByte(c)) {
            return false;
        }
    }
    return url.find("?>") == std::string_view::npos;
}

std::string NormalisedStyleBase(std::string_view url) {
    while (!url.empty() && url.back() == '/') {
        url.remove_suffix(1);
    }
    return std::string(url);
}

ReportSettings ReadReportSettings() {
    ReportSettings settings;
    RegistryString format(layout::SettingPath(layout::setting::kReportFormat), "");
    ParseOutputFormat(format.Get(), &settings.format);
    RegistryString style(layout::SettingPath(layout::setting::kReportStyleUrl), "");
    const std::string base = style.Get();
    if (IsUsableStyleBase(base)) {
        settings.styleBase = NormalisedStyleBase(base);
    }
    return settings;
}

std::string XmlRecords(const ReportContent& content) {
    std::string body;
    for (const TrafficRecord& r : content.traffic) {
        body += FormatTrafficRecord(r.client, r.userName, r.bytes);
    }
    for (const FilterFields& e : content.events) {
        body += FormatFilterRecord(e.date, e.client, e.userName, e.time, e.url, e.filter);
    }
    return body;
}

namespace {

class HeldEvents : public FilterEventSource {
  public:
    explicit HeldEvents(const std::vector<FilterFields>& events) : events_(events) {}
    bool ForEach(const std::function<bool(const FilterFields&)>& onEvent) override {
        for (const FilterFields& e : events_) {
            if (!onEvent(e)) {
                return false;
            }
        }
        return true;
    }

  private:
    const std::vector<FilterFields>& events_;
};

}  // namespace

bool WriteReport(const stats::LogContext& ctx, const ReportContent& content,
                 const ReportSettings& settings, std::string& sendList) {
    if (content.Empty()) {
        return false;
    }
    if (IsFilterReport(content.kind)) {
        HeldEvents events(content.events);
        return WriteFilterReport(ctx, content.Heading(), events, settings, sendList);
    }
    const int d = content.day, m = content.month, y = content.year;
    if (!WriteReportFile(ctx, content.kind, d, m, y, XmlRecords(content), sendList,
                         settings.styleBase)) {
        return false;
    }
    if (settings.format == OutputFormat::XmlAndHtml) {
        WriteListedFile(ctx, HtmlTwinLiteral(content.kind, d, m, y), RenderHtmlReport(content),
                        sendList);
    }
    return true;
}

bool WriteFilterReport(const stats::LogContext& ctx, const ReportHeading& heading,
                       FilterEventSource& source, const ReportSettings& settings,
                       std::string& sendList) {
    const ReportKind kind = heading.kind;
    const int d = heading.day, m = heading.month, y = heading.year;
    const bool twin = settings.format == OutputFormat::XmlAndHtml;
    FilterFigures figures;  // only a twin needs them
    std::int64_t events = 0;
    const bool written = WriteListedFile(
        ctx, ReportFileLiteral(kind, d, m, y),
        [&](platform::FileReplacement& out) {
            return out.Write(ReportDocumentHead(kind, d, m, y, settings.styleBase)) &&
                   source.ForEach([&](const FilterFields& e) {
                       ++events;
                       if (twin) {
                           figures.Add(e);
                       }
                       return out.Write(FormatFilterRecord(e.date, e.client, e.userName, e.time,
                                                           e.url, e.filter));
                   }) &&
                   events > 0 && out.Write(kReportDocumentEnd);  // no event, no report
        },
        sendList);
    if (!written || !twin) {
        return written;
    }
    WriteListedFile(
        ctx, HtmlTwinLiteral(kind, d, m, y),
        [&](platform::FileReplacement& out) {
            std::int64_t rows = 0;
            html::Html row;
            // The page shows exactly the events its figures counted.
            return out.Write(FilterPageStart(heading, figures).Str()) &&
                   source.ForEach([&](const FilterFields& e) {
                       row.Clear();
                       AppendFilterRow(row, ++rows, e);
                       return rows <= events && out.Write(row.Str());
                   }) &&
                   rows == events && out.Write(FilterPageEnd(figures).Str());
        },
        sendList);
    return true;
}

}  // namespace reports
