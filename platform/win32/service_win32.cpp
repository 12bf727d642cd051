// The service facilities on Windows: the service control manager and dispatcher, COM
// start-up, message boxes, the service thread's message queue and the string resources.
// Manager failures come back as the ScmResult step that failed; everything else reports
// nothing, as the service shell expects.
#include <objbase.h>
#include <windows.h>

#include <atomic>

#include "platform/service.h"

namespace platform {
namespace {

// The dispatcher and the manager call plain WINAPI functions; these hold what they forward to.
std::atomic<ServiceMainFunction> gServiceMain{nullptr};
std::atomic<ControlHandlerFunction> gControlHandler{nullptr};
std::atomic<SERVICE_STATUS_HANDLE> gStatusHandle{nullptr};

// The dispatcher returns once the service has reported stopped, which the service routine
// does before it writes its last event; the process must not end before that event is
// written. Set when the routine has returned; waited for within kServiceMainEndWaitMs, far
// beyond the milliseconds it takes, so a routine stuck in the event log cannot hold the
// process for ever.
std::atomic<HANDLE> gServiceMainEnded{nullptr};
std::atomic<bool> gServiceMainEntered{false};
constexpr DWORD kServiceMainEndWaitMs = 30000;

VOID WINAPI ServiceMainEntry(DWORD, LPSTR*) {
    gServiceMainEntered = true;
    if (ServiceMainFunction serviceMain = gServiceMain.load()) {
        serviceMain();
    }
    if (HANDLE ended = gServiceMainEnded.load()) {
        ::SetEvent(ended);
    }
}

VOID WINAPI ControlHandlerEntry(DWORD control) {
    if (ControlHandlerFunction handler = gControlHandler.load()) {
        handler(control);
    }
}

// Closes a service manager handle on every path.
class ScHandle {
  public:
    explicit ScHandle(SC_HANDLE h) : h_(h) {}
    ~ScHandle() {
        if (h_ != nullptr) {
            ::CloseServiceHandle(h_);
        }
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    SC_HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }

  private:
    SC_HANDLE h_;
};

// A path with a blank must be quoted for the manager, or "C:\Program Files\x.exe" would
// also be tried as "C:\Program.exe".
std::string QuotedForManager(const std::string& path) {
    if (path.find(' ') == std::string::npos || (!path.empty() && path.front() == '"')) {
        return path;
    }
    return "\"" + path + "\"";
}

}  // namespace

void PrepareServiceProcess() {}

std::string FullCommandLine(int, char**) {
    const char* line = ::GetCommandLineA();
    return line != nullptr ? line : "";
}

bool StartServiceDispatcher(const std::string& name, ServiceMainFunction serviceMain) {
    gServiceMain = serviceMain;
    std::string serviceName = name;
    SERVICE_TABLE_ENTRYA table[] = {
        {serviceName.data(), &ServiceMainEntry},
        {nullptr, nullptr},
    };
    HANDLE ended = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    gServiceMainEnded = ended;
    const bool dispatched = ::StartServiceCtrlDispatcherA(table) != 0;
    if (dispatched && ended != nullptr && gServiceMainEntered.load()) {
        ::WaitForSingleObject(ended, kServiceMainEndWaitMs);
    }
    gServiceMainEnded = nullptr;
    if (ended != nullptr) {
        ::CloseHandle(ended);
    }
    return dispatched;
}

bool RegisterControlHandler(const std::string& name, ControlHandlerFunction handler) {
    gControlHandler = handler;
    SERVICE_STATUS_HANDLE h = ::RegisterServiceCtrlHandlerA(name.c_str(), &ControlHandlerEntry);
    gStatusHandle = h;
    return h != nullptr;
}

void ReportServiceStatus(const ServiceStatus& status) {
    SERVICE_STATUS_HANDLE h = gStatusHandle.load();
    if (h == nullptr) {
        return;  // not running under the manager
    }
    SERVICE_STATUS s{};
    s.dwServiceType = status.serviceType;
    s.dwCurrentState = status.currentState;
    s.dwControlsAccepted = status.controlsAccepted;
    s.dwWin32ExitCode = status.win32ExitCode;
    s.dwServiceSpecificExitCode = status.serviceSpecificExitCode;
    s.dwCheckPoint = status.checkPoint;
    s.dwWaitHint = status.waitHint;
    ::SetServiceStatus(h, &s);
}

bool IsServiceInstalled(const std::string& name) {
    ScHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        return false;
    }
    ScHandle service(::OpenServiceA(manager.get(), name.c_str(), SERVICE_QUERY_CONFIG));
    return static_cast<bool>(service);
}

ScmResult InstallService(const std::string& name, const std::string& programPath,
                         const ServiceData&) {
    if (IsServiceInstalled(name)) {
        return ScmResult::Ok;
    }
    ScHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        return ScmResult::NoManager;
    }
    const std::string command = QuotedForManager(programPath);
    // The dependency list ends with an empty entry: "RPCSS\0\0".
    static const char kDependencies[] = "RPCSS\0";
    ScHandle service(::CreateServiceA(manager.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                      SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                      SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr,
                                      kDependencies, nullptr, nullptr));
    return service ? ScmResult::Ok : ScmResult::CannotCreate;
}

ScmResult UninstallService(const std::string& name) {
    if (!IsServiceInstalled(name)) {
        return ScmResult::Ok;
    }
    ScHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        return ScmResult::NoManager;
    }
    ScHandle service(::OpenServiceA(manager.get(), name.c_str(), SERVICE_STOP | DELETE));
    if (!service) {
        return ScmResult::CannotOpen;
    }
    SERVICE_STATUS status{};
    ::ControlService(service.get(), SERVICE_CONTROL_STOP, &status);  // no wait for the stop
    return ::DeleteService(service.get()) ? ScmResult::Ok : ScmResult::CannotDelete;
}

long ComInitialize() {
    return ::CoInitialize(nullptr);
}

void ComUninitialize() {
    ::CoUninitialize();
}

void ComInitializeSecurity() {
    // The machine's default COM access permissions rather than an access list open to
    // everyone: the program serves no COM classes, so nobody needs more.
    ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT,
                           RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
}

void ShowMessageBox(const std::string& caption, const std::string& text) {
    ::MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK);
}

std::uint32_t CurrentThreadId() {
    // Make sure the thread has a message queue, so a quit posted to it before its loop runs
    // is kept rather than refused.
    MSG msg;
    ::PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    return ::GetCurrentThreadId();
}

void RunMessageLoop() {
    MSG msg;
    // GetMessage gives 0 for the quit message and -1 on failure; both end the loop.
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        ::DispatchMessageA(&msg);
    }
}

void PostQuit(std::uint32_t threadId) {
    ::PostThreadMessageA(threadId, WM_QUIT, 0, 0);
}

std::string LoadResourceString(unsigned id, const std::string& fallback) {
    char buffer[257] = {};  // the service name: at most 256 characters
    const int n = ::LoadStringA(::GetModuleHandleA(nullptr), id, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : fallback;
}

}  // namespace platform
