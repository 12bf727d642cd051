// Messages on POSIX: syslog stands in for the event log; the console is standard output.
#include <syslog.h>

#include <cstdio>

#include "platform/messages.h"

namespace platform {

void WriteEventMessage(const std::string& source, const std::string& text) {
    openlog(source.c_str(), LOG_PID, LOG_DAEMON);
    syslog(LOG_INFO, "%s", text.c_str());
    closelog();
}

void WriteConsoleMessage(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace platform
