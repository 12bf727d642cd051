// Text mode as the system's files have it on every platform: a line feed in memory is
// CR LF on disk, and reading drops a CR that stands before a LF.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

std::string ToTextMode(std::string_view text);
std::string FromTextMode(std::string_view bytes);

// Writes text in text mode, replacing the file atomically (see ReplaceFileBytes).
bool ReplaceTextFile(const std::string& path, std::string_view text);

// Splits bytes read from a text-mode file into lines without their line ends. The last line
// is returned even without a line end. A line longer than maxLine is reported as too long
// and skipped whole.
class LineSplitter {
  public:
    explicit LineSplitter(std::string_view bytes, std::size_t maxLine = 1 << 20)
        : bytes_(bytes), maxLine_(maxLine) {}

    enum class Result { Line, TooLong, End };
    Result Next(std::string_view* line);

  private:
    std::string_view bytes_;
    std::size_t pos_ = 0;
    std::size_t maxLine_;
};

}  // namespace platform
