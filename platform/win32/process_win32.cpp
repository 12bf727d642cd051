// Starting the mail sender on Windows: through the shell, hidden, without arguments; the
// shell's result above 32 means it started. CurrentProgramPath is empty when Windows cannot
// tell the module's file name.
#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>
#include <stdlib.h>

#include "platform/process.h"

namespace platform {

const char kSenderProgram[] = "Postvane.exe";

bool StartDetached(const std::string& path) {
    HINSTANCE result = ::ShellExecuteA(nullptr, nullptr, path.c_str(), nullptr, nullptr, SW_HIDE);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

std::string CurrentProgramPath() {
    // Long paths may exceed MAX_PATH; the name is cut (and the result equals the size) then.
    constexpr DWORD kLongestPath = 32768;
    std::string buffer(MAX_PATH, '\0');
    while (true) {
        const DWORD n =
            ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) {
            return {};
        }
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        if (buffer.size() >= kLongestPath) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
}

void SetEnvironmentValue(const std::string& name, const std::string& value) {
    // _putenv_s keeps the C library's copy (getenv) in step; an empty value removes it.
    ::_putenv_s(name.c_str(), value.c_str());
}

}  // namespace platform
