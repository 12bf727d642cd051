// Whole-file reading of the report inputs. A file that cannot be read gives false and no
// lines; an over-long line is skipped and the rest of the file still read.
#include "reports/input_lines.h"

#include <string_view>

#include "platform/text_mode.h"
#include "stats/base64.h"

namespace reports {

bool ReadDecodedLines(const std::string& path, platform::ShareMode share,
                      std::vector<std::string>* lines) {
    lines->clear();
    std::string bytes;
    if (!platform::ReadFileBytes(path, share, &bytes, kMaxInputBytes)) {
        return false;
    }
    platform::LineSplitter splitter(bytes, kMaxInputLine);
    std::string_view line;
    for (;;) {
        const auto result = splitter.Next(&line);
        if (result == platform::LineSplitter::Result::End) {
            break;
        }
        if (result == platform::LineSplitter::Result::Line) {
            lines->push_back(stats::Base64DecodeText(line));
        }
    }
    return true;
}

}  // namespace reports
