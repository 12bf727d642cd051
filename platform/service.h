// The service control manager, COM start-up, message boxes and the service thread's message
// loop. On Windows these are the real facilities. Elsewhere: the "manager" is systemd (a unit
// file under TALLY_SYSTEMD_ROOT, default "/", run as its own system account where the
// installation allows), a program started by systemd counts as started by the dispatcher,
// SIGTERM and SIGINT arrive at the control handler as the stop control, and a message box is
// a line on standard error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Service states and the status record reported to the manager.
constexpr std::uint32_t kServiceStopped = 1;
constexpr std::uint32_t kServiceStartPending = 2;
constexpr std::uint32_t kServiceStopPending = 3;
constexpr std::uint32_t kServiceRunning = 4;

struct ServiceStatus {
    std::uint32_t serviceType = 16;  // own process
    std::uint32_t currentState = kServiceStopped;
    std::uint32_t controlsAccepted = 1;  // stop only
    std::uint32_t win32ExitCode = 0;
    std::uint32_t serviceSpecificExitCode = 0;
    std::uint32_t checkPoint = 0;
    std::uint32_t waitHint = 0;
};

using ServiceMainFunction = void (*)();
using ControlHandlerFunction = void (*)(std::uint32_t control);

// Hands the calling thread to the dispatcher, which runs serviceMain on a thread of its own
// and returns when the service has stopped. False when the program was not started by the
// service control manager.
bool StartServiceDispatcher(const std::string& name, ServiceMainFunction serviceMain);
bool RegisterControlHandler(const std::string& name, ControlHandlerFunction handler);
void ReportServiceStatus(const ServiceStatus& status);

// What the service reads and writes besides the registry. On Linux the unit's account and
// the folders it may write follow from it; the Windows service runs as local system.
struct ServiceData {
    std::string installation;             // reports are written here; empty when not set
    std::vector<std::string> logFolders;  // listed; their files read, replaced and deleted
    std::vector<std::string> readFiles;   // read when present (the user list)
    std::vector<std::string> runFiles;    // started when present (the mail sender)
};

// Installation. The message-box texts are the callers'; these report which step failed.
enum class ScmResult { Ok, NoManager, CannotCreate, CannotOpen, CannotDelete };
bool IsServiceInstalled(const std::string& name);
ScmResult InstallService(const std::string& name, const std::string& programPath,
                         const ServiceData& data);
ScmResult UninstallService(const std::string& name);

// COM start-up of a thread and process-wide security (no-ops where there is no COM).
long ComInitialize();
void ComUninitialize();
void ComInitializeSecurity();

void ShowMessageBox(const std::string& caption, const std::string& text);

// The message loop of the thread that runs the service: returns when a quit request has
// been posted to it (or, on POSIX, when the process has been asked to stop by a signal and
// no control handler takes signals).
std::uint32_t CurrentThreadId();
void RunMessageLoop();
void PostQuit(std::uint32_t threadId);

// The string resource with this id, or the fallback where resources don't exist.
std::string LoadResourceString(unsigned id, const std::string& fallback);

}  // namespace platform

namespace platform {

// Blocks the stop signals before any thread starts, so that only the message loop or the
// dispatcher receives them (no-op on Windows).
void PrepareServiceProcess();

// The program's whole command line, as the service shell scans it.
std::string FullCommandLine(int argc, char** argv);

}  // namespace platform
