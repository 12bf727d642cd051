// `tallyctl mail queue|retry|drop|failed`: the outbox of report mails that are not sent yet
// and of those that failed. Returns the process exit status: 0 done, 1 no such entry or a
// sender at work (try again), 2 usage error or no installation.
#pragma once

#include <string>
#include <vector>

// args are the words after "mail".
int RunMailCommand(const std::vector<std::string>& args);
