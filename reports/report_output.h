// How the installation wants its reports: as XML only (what the proxy's interface reads) or
// with an HTML twin beside each document, and where the stylesheets the documents name are
// served. WriteReport writes a report's content in that form. A report that cannot be
// written is dropped quietly, as WriteReportFile does; a twin that cannot be written leaves
// its XML document listed alone.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "reports/report_content.h"
#include "stats/log_context.h"

namespace reports {

enum class OutputFormat { Xml, XmlAndHtml };

struct ReportSettings {
    OutputFormat format = OutputFormat::Xml;
    std::string styleBase = kStylesheetHost;  // the stylesheet paths are appended to it
};

// "xml" or "xml+html", in any case. False for any other text.
bool ParseOutputFormat(std::string_view text, OutputFormat* format);
const char* OutputFormatName(OutputFormat format);

// A base URL that can stand inside the documents' stylesheet instruction: an http or https
// URL of printable ASCII without blanks, quotes, "<", ">", "&" or "\", at most 1024 bytes.
bool IsUsableStyleBase(std::string_view url);
// The base as the documents use it: without a final "/", since the paths begin with one.
std::string NormalisedStyleBase(std::string_view url);

// ReportFormat and ReportStyleURL from the registry. Absent, empty or unusable values give
// today's defaults, so an installation that never set them keeps its documents byte for byte.
ReportSettings ReadReportSettings();

// The XML records of the content, in order.
std::string XmlRecords(const ReportContent& content);

// Writes the XML document (and with XmlAndHtml its HTML twin, after it) and appends one
// send-list entry per file written. False when the XML document was not written; its twin
// is then not written either. An empty content writes nothing.
bool WriteReport(const stats::LogContext& ctx, const ReportContent& content,
                 const ReportSettings& settings, std::string& sendList);

// The events of a filter report as its writer reads them: every pass hands out the same
// events in the same order, so a report of any size is written without holding them.
class FilterEventSource {
  public:
    virtual ~FilterEventSource() = default;
    // Calls onEvent for each event from the first while it returns true. False when the
    // events could not all be read or onEvent stopped the pass.
    virtual bool ForEach(const std::function<bool(const FilterFields&)>& onEvent) = 0;
};

// WriteReport for a filter report whose events come from source: the document is written
// event by event in one pass, which also gathers the twin's figures; the twin's table is
// written in a second pass. A pass that fails leaves its file as it was.
bool WriteFilterReport(const stats::LogContext& ctx, const ReportHeading& heading,
                       FilterEventSource& source, const ReportSettings& settings,
                       std::string& sendList);

}  // namespace reports
