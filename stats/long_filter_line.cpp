// The event of a filter-log line too long to read whole; see long_filter_line.h.
#include "stats/long_filter_line.h"

#include <algorithm>

#include "common/control_bytes.h"
#include "stats/base64.h"

namespace stats {

void LongFilterLine::Begin() {
    kept_.clear();
    field_.clear();
    fieldOver_ = false;
    fields_ = 0;
    done_ = false;
    fieldCut_ = false;
    pending_ = 0;
    lineBytes_ = 0;
    last_ = beforeLast_ = 0;
}

void LongFilterLine::Take(std::string_view bytes) {
    if (bytes.empty()) {
        return;
    }
    lineBytes_ += bytes.size();
    beforeLast_ = bytes.size() >= 2 ? bytes[bytes.size() - 2] : last_;
    last_ = bytes.back();
    // Completes a group left from the last piece, then decodes the whole groups in place.
    while (!done_ && pending_ > 0 && !bytes.empty()) {
        group_[pending_++] = bytes.front();
        bytes.remove_prefix(1);
        if (pending_ == 4) {
            pending_ = 0;
            Decode(std::string_view(group_, 4));
        }
    }
    if (done_ || pending_ > 0) {
        return;  // ended, or the piece did not complete the group
    }
    const std::size_t whole = bytes.size() / 4 * 4;
    Decode(bytes.substr(0, whole));
    if (!done_) {
        pending_ = bytes.size() - whole;
        std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(whole), bytes.end(), group_);
    }
}

void LongFilterLine::Decode(std::string_view base64) {
    Base64Decode(base64, &decoded_);
    // Fewer bytes than whole groups give means decoding stopped at a byte it cannot use (the
    // line end counts as one).
    const bool stopped = decoded_.size() != base64.size() / 4 * 3;
    Split(decoded_);
    done_ = done_ || stopped;
}

void LongFilterLine::Split(std::string_view decoded) {
    static constexpr std::string_view kEnds(" \0", 2);
    while (!done_ && !decoded.empty()) {
        const std::size_t end = decoded.find_first_of(kEnds);
        const std::string_view text = decoded.substr(0, end);
        const std::size_t room = kMaxCutFieldBytes - field_.size();
        field_.append(text.substr(0, room));
        fieldOver_ = fieldOver_ || text.size() > room;
        if (end == std::string_view::npos) {
            return;
        }
        if (decoded[end] == '\0') {
            done_ = true;  // the text ends at a zero byte, as a decoded line does
            return;
        }
        EndField();
        decoded.remove_prefix(end + 1);
    }
}

void LongFilterLine::EndField() {
    kept_ += field_;
    if (fieldOver_) {
        kept_ += kCutMarker;
        fieldCut_ = true;
    }
    kept_ += ' ';
    field_.clear();
    fieldOver_ = false;
    done_ = ++fields_ == kFields;  // what follows the sixth field is dropped
}

std::string LongFilterLine::Encoded() const {
    std::string line = Base64Encode(kept_);
    if (last_ == '\n') {
        line += beforeLast_ == '\r' ? "\r\n" : "\n";
    }
    return line;
}

std::string LongLinesNote(std::string_view logName, std::size_t kept) {
    return "kept " + std::to_string(kept) + (kept == 1 ? " filter event" : " filter events") +
           " of " + EscapeControlBytes(logName) + " from " + (kept == 1 ? "a line" : "lines") +
           " longer than " + std::to_string(kMaxLineBytes) + " bytes, " +
           (kept == 1 ? "its" : "their") + " fields cut to at most " +
           std::to_string(kMaxCutFieldBytes) + " bytes (a cut one ends in " + kCutMarker + ")";
}

}  // namespace stats
