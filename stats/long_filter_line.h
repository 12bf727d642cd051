// A filter-log line too long to be read whole, kept as the filter event it holds, so that a
// long URL cannot hide a blocked access from the extracts, the reports and their counts. The
// line is decoded as it streams past (LongLineSink) and only its six blank-terminated fields
// are kept, each to at most kMaxCutFieldBytes; a field cut there ends in kCutMarker, which
// holds no blank, so the kept line splits into the same six fields as the whole line would,
// but for the cut text. Decoding follows the log store's rules: it ends at the first byte
// outside the base64 alphabet or the first zero byte. Nothing here fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "stats/line_reader.h"

namespace stats {

// What is kept of each field of a long line: room for any URL a browser sends, little enough
// that a page or document of many such events stays readable.
inline constexpr std::size_t kMaxCutFieldBytes = 8192;
// Follows the kept text of a field that was longer (8-bit text, like the field itself).
inline constexpr char kCutMarker[] = "[cut]";

class LongFilterLine : public LongLineSink {
  public:
    void Begin() override;
    void Take(std::string_view bytes) override;

    // The decoded text of the kept fields, each followed by its blank; empty when the line
    // held no blank-terminated field, that is no filter event.
    const std::string& Decoded() const { return kept_; }
    // The kept text as a log line: base64, then the line end the line had (LF, CR LF, or none
    // for a last line without one).
    std::string Encoded() const;
    // The length of the line as stored, its line end included, and whether a field was cut
    // (rather than only text after the sixth field dropped).
    std::uint64_t LineBytes() const { return lineBytes_; }
    bool FieldCut() const { return fieldCut_; }

  private:
    void Decode(std::string_view base64);  // whole groups of four only
    void Split(std::string_view decoded);
    void EndField();

    static constexpr std::size_t kFields = 6;
    std::string kept_;
    std::string field_;       // the field being read
    bool fieldOver_ = false;  // the field being read is longer than kept
    std::size_t fields_ = 0;  // fields kept so far
    bool done_ = true;        // decoding or splitting has ended: later bytes are only counted
    bool fieldCut_ = false;
    char group_[4] = {};
    std::size_t pending_ = 0;  // characters of group_ waiting for the rest of their group
    std::string decoded_;      // scratch
    std::uint64_t lineBytes_ = 0;
    char last_ = 0, beforeLast_ = 0;  // the last two bytes taken, for the line end
};

// The verbose log's note for the events kept from kept (one or more) long lines of a log.
std::string LongLinesNote(std::string_view logName, std::size_t kept);

}  // namespace stats
