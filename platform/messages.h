// Where the service's messages go: the event log (syslog elsewhere) in service mode, standard
// output otherwise.
#pragma once

#include <string>

namespace platform {

void WriteEventMessage(const std::string& source, const std::string& text);
void WriteConsoleMessage(const std::string& text);

}  // namespace platform
