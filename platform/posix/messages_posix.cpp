// Messages on POSIX: syslog stands in for the event log, with the event's type as its
// priority (the line is the text alone, as before IDs existed); the console is standard
// output. Sources need no registration here.
#include <syslog.h>

#include <cstdio>

#include "platform/messages.h"

namespace platform {

namespace {

int SyslogPriority(EventType type) {
    switch (type) {
        case EventType::Error:
            return LOG_ERR;
        case EventType::Warning:
            return LOG_WARNING;
        case EventType::Information:
            return LOG_INFO;
    }
    return LOG_INFO;
}

}  // namespace

void WriteEventMessage(const std::string& source, EventId event, const std::string& text) {
    openlog(source.c_str(), LOG_PID, LOG_DAEMON);
    syslog(SyslogPriority(event.type), "%s", text.c_str());
    closelog();
}

void WriteConsoleMessage(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

bool InstallEventSource(const std::string&, const std::string&) {
    return true;
}

bool RemoveEventSource(const std::string&) {
    return true;
}

}  // namespace platform
