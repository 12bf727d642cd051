// Windows messages: one event per message through an event source named by the caller, with
// the message table's ID and the matching type (nothing is reported when the source cannot be
// opened), or a line on standard output. The event source's registration lives under the
// event log's Application key; failures to write or remove it come back as false.
#include <windows.h>

#include <cstdio>

#include "platform/messages.h"

namespace platform {

namespace {

constexpr char kApplicationLog[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
// Error, warning and information: every type this table uses.
constexpr DWORD kTypesSupported =
    EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;

WORD ReportType(EventType type) {
    switch (type) {
        case EventType::Error:
            return EVENTLOG_ERROR_TYPE;
        case EventType::Warning:
            return EVENTLOG_WARNING_TYPE;
        case EventType::Information:
            return EVENTLOG_INFORMATION_TYPE;
    }
    return EVENTLOG_INFORMATION_TYPE;
}

}  // namespace

void WriteEventMessage(const std::string& source, EventId event, const std::string& text) {
    HANDLE eventSource = ::RegisterEventSourceA(nullptr, source.c_str());
    if (eventSource == nullptr) {
        return;
    }
    LPCSTR strings[1] = {text.c_str()};
    ::ReportEventA(eventSource, ReportType(event.type), 0, MessageTableId(event), nullptr, 1, 0,
                   strings, nullptr);
    ::DeregisterEventSource(eventSource);
}

void WriteConsoleMessage(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

bool InstallEventSource(const std::string& source, const std::string& messageFile) {
    HKEY key = nullptr;
    const std::string path = kApplicationLog + source;
    if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                          &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    // An expandable string, as the event log reads it, so a path may hold %SystemRoot% and
    // the like.
    bool ok = ::RegSetValueExA(key, "EventMessageFile", 0, REG_EXPAND_SZ,
                               reinterpret_cast<const BYTE*>(messageFile.c_str()),
                               static_cast<DWORD>(messageFile.size() + 1)) == ERROR_SUCCESS;
    ok = ::RegSetValueExA(key, "TypesSupported", 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&kTypesSupported),
                          sizeof kTypesSupported) == ERROR_SUCCESS &&
         ok;
    ::RegCloseKey(key);
    return ok;
}

bool RemoveEventSource(const std::string& source) {
    const std::string path = kApplicationLog + source;
    const LONG rc = ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

}  // namespace platform
