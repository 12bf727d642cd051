// `tallyctl report set|show`: how reports and the summary files are presented (report
// format, the dashboard page, the stylesheets' base URL). Returns the process exit status:
// 0 done, 2 usage error or a value that cannot be used.
#pragma once

#include <string>
#include <vector>

// args are the words after "report".
int RunReportCommand(const std::vector<std::string>& args);
