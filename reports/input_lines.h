// Reading the report writers' inputs (the client list, the user list, today's filter log and
// the summary files) one decoded line at a time, so a report's input may be of any size: what
// is held is one line, never the file. A line longer than the log store's limit
// (stats::kMaxLineBytes) is skipped whole, but in a filter input, where it is read as the
// filter event it holds with its fields cut (stats::LongFilterLine).
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "platform/files.h"
#include "stats/line_reader.h"
#include "stats/long_filter_line.h"

namespace reports {

// What a reader makes of a line over the limit.
enum class LongLines {
    Skip,
    KeepFilterEvent,  // the event of a filter log or extract, its fields cut
};

// One input file, opened at construction (text mode, the given sharing).
class DecodedLineReader {
  public:
    DecodedLineReader(const std::string& path, platform::ShareMode share,
                      LongLines longLines = LongLines::Skip);
    ~DecodedLineReader();
    DecodedLineReader(const DecodedLineReader&) = delete;
    DecodedLineReader& operator=(const DecodedLineReader&) = delete;

    // False when the file cannot be opened; Next then has no lines.
    bool Opened() const { return file_ != nullptr; }
    // The next decoded line (cut at its first zero byte, as a C string ends) into *line.
    // False at the end of the file or on a read error; Failed() tells the two apart.
    bool Next(std::string* line);
    bool Failed() const { return failed_; }
    // Back to the first line of the file, still held as opened. False when it cannot be.
    bool Rewind();
    // The lines over the limit read as cut filter events since the last Rewind.
    std::size_t LongLinesKept() const { return longLinesKept_; }

  private:
    void StartLines();

    std::unique_ptr<platform::File> file_;
    std::unique_ptr<stats::LongFilterLine> longLines_;  // with KeepFilterEvent
    std::size_t longLinesKept_ = 0;
    std::unique_ptr<stats::LineReader> lines_;
    std::string raw_;
    bool failed_ = false;
};

// Hands each decoded line of the file to onLine, in file order. False when the file cannot
// be opened or a read fails; in the latter case after the lines before the failure.
bool ForEachDecodedLine(const std::string& path, platform::ShareMode share,
                        const std::function<void(const std::string&)>& onLine);

}  // namespace reports
