// The XML report documents: the six report kinds with their headers, file names and send-list
// entries, the record templates, the size format and the one procedure that writes a report
// file. WriteReportFile reports a failed write only by its result (false) and by leaving
// sendList unchanged; nothing here throws.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "stats/log_context.h"

namespace reports {

enum class ReportKind {
    DailyTraffic,
    WeeklyTraffic,
    MonthlyTraffic,
    DailyFilter,
    WeeklyFilter,
    MonthlyFilter,
};
inline constexpr ReportKind kReportKinds[] = {
    ReportKind::DailyTraffic, ReportKind::WeeklyTraffic, ReportKind::MonthlyTraffic,
    ReportKind::DailyFilter,  ReportKind::WeeklyFilter,  ReportKind::MonthlyFilter,
};

// Host of the stylesheet URLs the documents name, unless the installation names its own.
inline constexpr char kStylesheetHost[] = "http://reports.example.com";

// The filter kinds list filter events; the others list clients with their traffic.
bool IsFilterReport(ReportKind kind);

// Makes a field safe for the document whatever the logs hold: the five specials removed, the
// control characters XML forbids removed, and 8-bit text (Windows-1252) converted to UTF-8,
// which the declaration names. Pure ASCII without specials or controls comes out unchanged.
std::string ToXmlText(std::string_view text);

// Whole kilobytes of byteTotal as megabytes with two decimals, halves away from zero
// (1572864 -> "1.50", 131072 -> "0.13").
std::string FormatMegabytes(std::int64_t byteTotal);
// The same figure in hundredths of a megabyte (150 for 1572864), so that totals of shown
// figures add up exactly; FormatCents prints such a figure as FormatMegabytes does.
std::int64_t MegabyteCents(std::int64_t byteTotal);
std::string FormatCents(std::int64_t cents);

std::string FormatTrafficRecord(std::string_view client, std::string_view userName,
                                std::int64_t byteTotal);
std::string FormatFilterRecord(std::string_view date, std::string_view client,
                               std::string_view userName, std::string_view time,
                               std::string_view url, std::string_view filter);

// The file of a kind below the application directory ("Logs\day_12_07_2026.xml");
// day, month and year matter for the daily kinds only.
std::string ReportFileLiteral(ReportKind kind, int day, int month, int year);
// Its HTML twin: the same name with the HTML extension ("Logs\day_12_07_2026.html").
std::string HtmlTwinLiteral(ReportKind kind, int day, int month, int year);

// The title of a kind's document ("Daily Website Traffic - 12/07/2026").
std::string ReportTitle(ReportKind kind, int day, int month, int year);

// The document of a kind up to its first record, and what follows its last; the records
// stand between them as the record templates make them (line ends as "\n"). styleBase is the
// URL the stylesheet paths are appended to.
std::string ReportDocumentHead(ReportKind kind, int day, int month, int year,
                               std::string_view styleBase = kStylesheetHost);
inline constexpr char kReportDocumentEnd[] = "</log>";

// The whole document of a kind around the given records.
std::string BuildReportDocument(ReportKind kind, int day, int month, int year,
                                std::string_view body,
                                std::string_view styleBase = kStylesheetHost);

// Writes the report file (replacing an older one atomically, in text mode) and on success
// appends its full path and "," to sendList. False, with sendList untouched, on failure.
bool WriteReportFile(const stats::LogContext& ctx, ReportKind kind, int day, int month, int year,
                     std::string_view body, std::string& sendList,
                     std::string_view styleBase = kStylesheetHost);

// Writes text as the file literal names below the application directory, in the same way,
// with the same send-list entry on success.
bool WriteListedFile(const stats::LogContext& ctx, const std::string& literal,
                     std::string_view text, std::string& sendList);
// The same for a file of any size: fill writes it piece by piece (in text mode) and says
// whether it is whole; when it is not, or a write fails, the old file stays as it was. fill
// is not called when the file cannot be replaced at all.
bool WriteListedFile(const stats::LogContext& ctx, const std::string& literal,
                     const std::function<bool(platform::FileReplacement&)>& fill,
                     std::string& sendList);

}  // namespace reports
