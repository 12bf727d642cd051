// `tallyctl alerts set|show|test`: the alert rules and the metrics file in the registry, the
// alerts fired today with their figures, and one test alert sent through the mail settings.
// Returns the process exit status: 0 done, 2 usage error or a value that cannot be used; for
// `test`, the mail sender's exit status.
#pragma once

#include <string>
#include <vector>

// args are the words after "alerts".
int RunAlertsCommand(const std::vector<std::string>& args);
