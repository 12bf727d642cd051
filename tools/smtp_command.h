// `tallyctl smtp set|show`: the mail sender's settings for an administrator. `set` writes the
// given settings as the proxy's configuration does (five of them shifted); `show` prints
// them in clear with the password masked. Returns the process exit status: 0 done, 2 usage
// error or a value that cannot be stored.
#pragma once

#include <string>
#include <vector>

// args are the words after "smtp".
int RunSmtpCommand(const std::vector<std::string>& args);
