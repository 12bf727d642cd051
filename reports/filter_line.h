// The six fields of one decoded filter-log line. Splitting never fails: a short line simply
// leaves the later fields empty.
#pragma once

#include <string>
#include <string_view>

namespace reports {

struct FilterFields {
    std::string date;
    std::string client;
    std::string userName;
    std::string time;
    std::string url;
    std::string filter;
};

// Fills the fields from the blank-terminated tokens of line, in order; a last token without a
// blank behind it and tokens from the seventh on are dropped, and every "_" of the filter
// token becomes a blank. All six fields are cleared first, so a short line never shows the
// previous line's values.
void SplitFilterLine(std::string_view line, FilterFields& fields);

}  // namespace reports
