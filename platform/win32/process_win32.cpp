// Starting the mail sender on Windows: through the shell, hidden, with its arguments; the
// shell's result above 32 means it started. CurrentProgramPath is empty when Windows cannot
// tell the module's file name.
#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>
// psapi.h needs windows.h first.
#include <psapi.h>
#include <stdlib.h>

#include "platform/process.h"

namespace platform {

const char kSenderProgram[] = "Postvane.exe";

namespace {

// Each argument quoted, as the C runtime splits a command line back.
std::string CommandLine(std::vector<std::string>::const_iterator first,
                        std::vector<std::string>::const_iterator last) {
    std::string line;
    for (auto arg = first; arg != last; ++arg) {
        if (!line.empty()) {
            line.push_back(' ');
        }
        line.push_back('"');
        for (char c : *arg) {
            if (c == '"') {
                line.push_back('\\');
            }
            line.push_back(c);
        }
        line.push_back('"');
    }
    return line;
}

}  // namespace

bool StartDetached(const std::string& path, const std::vector<std::string>& args) {
    const std::string parameters = CommandLine(args.begin(), args.end());
    HINSTANCE result =
        ::ShellExecuteA(nullptr, nullptr, path.c_str(), args.empty() ? nullptr : parameters.c_str(),
                        nullptr, SW_HIDE);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

int RunProgram(const std::vector<std::string>& argv, std::uint32_t timeoutMs) {
    if (argv.empty()) {
        return -1;
    }
    std::string line = CommandLine(argv.begin(), argv.end());
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(argv[0].c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                          nullptr, nullptr, &startup, &process)) {
        return -1;
    }
    ::CloseHandle(process.hThread);
    DWORD code = 0;
    int result = -1;
    if (::WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        if (::GetExitCodeProcess(process.hProcess, &code)) {
            result = static_cast<int>(code);
        }
    } else {
        ::TerminateProcess(process.hProcess, 1);
        ::WaitForSingleObject(process.hProcess, 1000);
    }
    ::CloseHandle(process.hProcess);
    return result;
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

namespace {

PROCESS_MEMORY_COUNTERS MemoryCounters() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
        counters = {};
    }
    return counters;
}

}  // namespace

std::uint64_t ResidentBytes() {
    return MemoryCounters().WorkingSetSize;
}

std::uint64_t PeakResidentBytes() {
    return MemoryCounters().PeakWorkingSetSize;
}

bool ResetPeakResident() {
    return false;  // the peak working set cannot be set back
}

double ThreadCpuSeconds() {
    FILETIME created{}, ended{}, kernel{}, user{};
    if (!GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user)) {
        return 0;
    }
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;  // 100 ns ticks
}

}  // namespace platform
