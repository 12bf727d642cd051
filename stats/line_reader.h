// Reads the lines of a log file through a fixed-size chunk buffer, so a file of any size is
// read in bounded memory. A line longer than the cap is reported as too long and skipped
// whole, so a hostile log cannot make a reader hold an unbounded line; a reader that wants to
// keep something of such a line is handed its bytes as they pass (LongLineSink). A read
// error is reported as such and ends the reading.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace stats {

// The longest line any reader of the log store accepts.
constexpr std::size_t kMaxLineBytes = std::size_t{1} << 20;
// The size of one read from the file.
constexpr std::size_t kChunkBytes = 64 * 1024;

// Receives a line longer than the cap: Begin, then the line's bytes as stored, in order and
// in pieces of bounded size, its line end (LF or CR LF) included when it has one. What the
// sink keeps of them is its own business and bound.
class LongLineSink {
  public:
    virtual ~LongLineSink() = default;
    virtual void Begin() = 0;
    virtual void Take(std::string_view bytes) = 0;
};

class LineReader {
  public:
    enum class Mode {
        Text,  // the line end is removed, and a CR standing before the LF with it
        Raw,   // the line keeps its bytes as on disk, its LF (and any CR) included
    };
    enum class Result { Line, TooLong, End, Error };

    // sink, when given, is handed every line that Next reports as TooLong.
    LineReader(platform::File& file, Mode mode, std::size_t maxLine = kMaxLineBytes,
               LongLineSink* sink = nullptr);

    // The next line into *line. The last line of a file is returned even without a LF.
    Result Next(std::string* line);

  private:
    bool Refill();  // false at the end of the file or on an error (see error_)
    // Hands the sink the bytes of a too-long line held so far.
    void BeginLongLine(std::string_view held);

    platform::File& file_;
    Mode mode_;
    std::size_t maxLine_;
    LongLineSink* sink_;
    std::unique_ptr<char[]> buffer_;  // kChunkBytes, not zeroed: it is always read into first
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
    bool eof_ = false;
    bool error_ = false;
};

}  // namespace stats
