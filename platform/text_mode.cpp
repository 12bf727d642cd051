// Text-mode conversion shared by every platform, so files are byte-identical everywhere.
#include "platform/text_mode.h"

#include "platform/files.h"

namespace platform {

std::string ToTextMode(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16 + 8);
    for (char c : text) {
        if (c == '\n') {
            out.push_back('\r');
        }
        out.push_back(c);
    }
    return out;
}

std::string FromTextMode(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            continue;
        }
        out.push_back(bytes[i]);
    }
    return out;
}

bool ReplaceTextFile(const std::string& path, std::string_view text) {
    FileReplacement replacement(path, FileReplacement::Mode::Text);
    replacement.Write(text);
    return replacement.Commit() == ReplaceError::None;
}

LineSplitter::Result LineSplitter::Next(std::string_view* line) {
    while (pos_ < bytes_.size()) {
        std::size_t end = bytes_.find('\n', pos_);
        std::size_t next = end == std::string_view::npos ? bytes_.size() : end + 1;
        std::size_t stop = end == std::string_view::npos ? bytes_.size() : end;
        if (stop > pos_ && end != std::string_view::npos && bytes_[stop - 1] == '\r') {
            --stop;
        }
        std::size_t start = pos_;
        pos_ = next;
        if (stop - start > maxLine_) {
            return Result::TooLong;
        }
        *line = bytes_.substr(start, stop - start);
        return Result::Line;
    }
    return Result::End;
}

}  // namespace platform
