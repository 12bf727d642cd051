// `tallyctl html [DIR] [--out FILE]`: the dashboard page of an installation's summary files.
// Returns the process exit status: 0 written, 1 no installation found or the page could not
// be written, 2 usage error.
#pragma once

#include <string>
#include <vector>

// args are the words after "html".
int RunHtmlCommand(const std::vector<std::string>& args);
