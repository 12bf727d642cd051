// Windows messages: one information event per message through an event source named by the
// caller (nothing is reported when the source cannot be registered), or a line on standard
// output.
#include <windows.h>

#include <cstdio>

#include "platform/messages.h"

namespace platform {

void WriteEventMessage(const std::string& source, const std::string& text) {
    HANDLE eventSource = ::RegisterEventSourceA(nullptr, source.c_str());
    if (eventSource == nullptr) {
        return;
    }
    LPCSTR strings[1] = {text.c_str()};
    ::ReportEventA(eventSource, EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
    ::DeregisterEventSource(eventSource);
}

void WriteConsoleMessage(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace platform
