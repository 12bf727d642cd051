// The proxy's log store as the statistics and reports read it: the traffic-record parser,
// the traffic-log reader, the two filter-log readers, the paced directory scan and the traffic
// scans that keep their sums across cycles. Readers report an unreadable file by returning
// false; the scan turns that into the caller's error policy. Totals are 64-bit and saturate
// instead of wrapping.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "stats/hour_totals.h"
#include "stats/log_context.h"

namespace stats {

// a + b, held at the int64 limits instead of wrapping.
std::int64_t SaturatingAdd(std::int64_t a, std::int64_t b);
std::int64_t SumOf(const HourTotals& hours);

// The C library's atoi rules (white space, sign, digits up to the first non-digit; none
// gives 0) on a counted text, held at the int64 limits.
std::int64_t ParseLeadingInt(std::string_view text);

// Adds the record's size (the number before the first "*") to the counter of its hour (the
// two characters after the first "Time:"). A record without "Time:" or whose hour is not
// 0 to 23 is dropped: false, nothing touched.
bool AccumulateByHour(std::string_view record, HourTotals& hourTotals);

// Reads every record of one client traffic log (opened without sharing) and adds the file's
// hour totals to hourTotals. False when the file cannot be opened or read; hourTotals is
// then left as it was, so an unreadable log is left out whole. Lines longer than
// kMaxLineBytes are skipped.
bool ReadTrafficFile(const std::string& path, HourTotals& hourTotals);

// ReadTrafficFile for a log found by a scan, through the context's result table when reuse
// is on: a log unchanged since it was last read (same size, modification time and identity)
// is not opened again. With reuse off this is ReadTrafficFile(file.Path(), ...).
struct LogFile;
bool ReadTrafficLog(LogContext& ctx, const LogFile& file, HourTotals& hourTotals);

// Filter-log readers: append the log's lines to text. A line over kMaxLineBytes is not
// dropped but replaced by the event it holds with its fields cut (LongFilterLine), so a long
// URL does not hide the event; *longLinesKept, when given, counts them.
// Text mode: each line without its line end, then "\n".
bool CopyFilterLines(const std::string& path, std::string& text,
                     std::size_t* longLinesKept = nullptr);
// Binary: each line with its line end as on disk (CR LF stays CR LF); a last line without a
// LF gets one, so the next log's first line never joins it.
bool CopyFilterBytes(const std::string& path, std::string& text,
                     std::size_t* longLinesKept = nullptr);

// Reads a filter log once, in CopyFilterBytes form, into *lines. False when it cannot be
// opened or read; the lines before a read error are then in *lines.
bool ReadFilterLog(const std::string& path, FilterLines* lines);

// Which of the two readers' output a filter task wants.
enum class FilterForm {
    Lines,  // as CopyFilterLines
    Bytes,  // as CopyFilterBytes
};

// CopyFilterLines or CopyFilterBytes for a log found by a scan, through the context's table of
// filter-log lines when reuse is on: the log is read at most once per listing, and not again
// while it is unchanged (today's log once per listing). The text is the same either way, and
// so is the verbose log's note of long lines kept cut.
bool CopyFilterLog(LogContext& ctx, const LogFile& file, FilterForm form, std::string& text);

enum class ErrorPolicy {
    Skip,            // leave an unreadable file out and go on
    Abandon,         // end the task at the first unreadable file
    AbandonOnFirst,  // end the task when the first file of the search is unreadable,
                     // skip unreadable later ones
};

enum class ScanResult {
    Completed,
    Abandoned,  // the error policy ended the task
    Stopped,    // a pause was cut short by a stop request
};

// One file a scan hands to its reader. The path is formed only by a reader that opens the
// file: most logs a steady cycle hands on are answered from kept results.
struct LogFile {
    const std::string& directory;  // ends in the separator
    const platform::DirEntry& entry;
    std::string Path() const { return directory + entry.name; }
};
using LogFileReader = std::function<bool(const LogFile&)>;

// Finds the files of the log directory matching pattern (a file-name pattern with "*" and
// "?") and hands each to reader, in directory order. With pacing: a 1000 ms pause after the
// search starts (also when nothing is found) and one after the first file. A non-zero
// pauseBeforeCloseMs is paused once after the last file (also when nothing is found).
// A file the reader fails on and that no longer exists vanished after the listing was taken:
// it counts as not found, so the error policy (and the pause after the first file) apply
// only to files a search made at that moment would have found.
ScanResult ScanLogFiles(LogContext& ctx, std::string_view pattern, bool pacing, ErrorPolicy policy,
                        const LogFileReader& reader, std::uint32_t pauseBeforeCloseMs = 0);

// The scan of one client's traffic logs of a stamp (a day, or with wildcards a month or a
// year), without pacing and skipping unreadable logs. The key is taken literally: a "*" or
// "?" in it matches only itself, so no key reaches the logs of other clients.
ScanResult ScanClientLogs(LogContext& ctx, std::string_view stamp, std::string_view key,
                          const LogFileReader& reader);

// A scan of ScanLogFiles's pattern, pacing and policy whose reader is ReadTrafficLog: the sum of
// every hour of the logs it finds (SumOf of their summed hour totals), in *total. With reuse
// on, the sum of the past logs is kept for the pattern, so a later cycle reads only today's
// logs again while the listing's names and the past logs stay the same; pauses, notes and the
// policy are those of the walk over every log. *total is meant for a completed scan.
ScanResult SumTrafficLogs(LogContext& ctx, std::string_view pattern, bool pacing,
                          ErrorPolicy policy, std::uint32_t pauseBeforeCloseMs,
                          std::int64_t* total);

// ScanClientLogs with ReadTrafficLog as its reader, the same way: the sum of every hour.
std::int64_t SumClientLogs(LogContext& ctx, std::string_view stamp, std::string_view key);

}  // namespace stats
