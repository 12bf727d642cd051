// Tokenising of filter-log lines for the filter activity reports.
#include "reports/filter_line.h"

#include <algorithm>
#include <iterator>

namespace reports {

void SplitFilterLine(std::string_view line, FilterFields& fields) {
    fields = FilterFields{};
    std::string* const slots[] = {&fields.date, &fields.client, &fields.userName,
                                  &fields.time, &fields.url,    &fields.filter};
    std::size_t token = 0;
    while (token < std::size(slots)) {
        const std::size_t blank = line.find(' ');
        if (blank == std::string_view::npos) {
            break;
        }
        slots[token]->assign(line.substr(0, blank));
        line.remove_prefix(blank + 1);
        ++token;
    }
    std::replace(fields.filter.begin(), fields.filter.end(), '_', ' ');
}

}  // namespace reports
