// Line-by-line reading of the report inputs; see input_lines.h.
#include "reports/input_lines.h"

#include "stats/base64.h"

namespace reports {

DecodedLineReader::DecodedLineReader(const std::string& path, platform::ShareMode share,
                                     LongLines longLines)
    : file_(platform::File::Open(path, platform::OpenMode::Read, share)) {
    if (longLines == LongLines::KeepFilterEvent) {
        longLines_ = std::make_unique<stats::LongFilterLine>();
    }
    if (file_) {
        StartLines();
    }
}

void DecodedLineReader::StartLines() {
    lines_ = std::make_unique<stats::LineReader>(*file_, stats::LineReader::Mode::Text,
                                                 stats::kMaxLineBytes, longLines_.get());
    longLinesKept_ = 0;
}

DecodedLineReader::~DecodedLineReader() = default;

bool DecodedLineReader::Next(std::string* line) {
    if (!lines_ || failed_) {
        return false;
    }
    for (;;) {
        switch (lines_->Next(&raw_)) {
            case stats::LineReader::Result::Line:
                *line = stats::Base64DecodeText(raw_);
                return true;
            case stats::LineReader::Result::TooLong:
                if (longLines_ && !longLines_->Decoded().empty()) {
                    *line = longLines_->Decoded();
                    ++longLinesKept_;
                    return true;
                }
                continue;
            case stats::LineReader::Result::Error:
                failed_ = true;
                return false;
            case stats::LineReader::Result::End:
                return false;
        }
    }
}

bool DecodedLineReader::Rewind() {
    if (!file_ || !file_->Rewind()) {
        failed_ = true;
        return false;
    }
    StartLines();
    failed_ = false;
    return true;
}

bool ForEachDecodedLine(const std::string& path, platform::ShareMode share,
                        const std::function<void(const std::string&)>& onLine) {
    DecodedLineReader reader(path, share);
    if (!reader.Opened()) {
        return false;
    }
    std::string line;
    while (reader.Next(&line)) {
        onLine(line);
    }
    return !reader.Failed();
}

}  // namespace reports
