// The service shell of Tallyvane: command line, registration, run mode, the service's
// status and control handler, and LogMessage. One process-wide object.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/pacer.h"
#include "platform/service.h"

class AggregatorWorker;

enum class CommandKeyword { None, UnregServer, RegServer, Service };

// After every "-" or "/" the rest of the line is compared, case-insensitively, with the
// keywords; the first match decides. A keyword thus only matches as the last thing.
CommandKeyword ScanCommandLine(std::string_view commandLine);

// The operating-system calls the module makes, replaceable for tests.
struct ServicePlatform {
    std::function<bool(const std::string&, platform::ServiceMainFunction)> startDispatcher =
        platform::StartServiceDispatcher;
    std::function<bool(const std::string&, platform::ControlHandlerFunction)> registerHandler =
        platform::RegisterControlHandler;
    std::function<void(const platform::ServiceStatus&)> reportStatus =
        platform::ReportServiceStatus;
    std::function<bool(const std::string&)> isInstalled = platform::IsServiceInstalled;
    std::function<platform::ScmResult(const std::string&, const std::string&,
                                      const platform::ServiceData&)>
        install = platform::InstallService;
    std::function<platform::ScmResult(const std::string&)> uninstall = platform::UninstallService;
    std::function<void(const std::string&, const std::string&)> messageBox =
        platform::ShowMessageBox;
    std::function<bool(const std::string&, const std::string&)> installEventSource =
        platform::InstallEventSource;
    std::function<bool(const std::string&)> removeEventSource = platform::RemoveEventSource;
    std::function<void(const std::string&)> eventLog;  // default: the event log / syslog
    std::function<void(const std::string&)> console;   // default: standard output
    std::function<std::string()> programPath;          // default: this program
};

class ServiceModule {
  public:
    static constexpr char kAppId[] = "{1B9D4CC0-FE54-418D-BDDF-036639A2A4FE}";
    static constexpr char kTypeLibId[] = "{C9E6C24E-05EA-41F2-8E33-7306D958BDEF}";

    explicit ServiceModule(ServicePlatform platform = {});
    ~ServiceModule();

    // The program entry after the worker exists: returns the process exit code.
    int Main(std::string_view commandLine, AggregatorWorker& worker);

    long RegisterServer(bool asService);
    long UnregisterServer();

    void LogMessage(const std::string& text);
    // The worker's quit request: ends the message loop as soon as it runs.
    void RequestQuit();

    // The service routines (public for the dispatcher's plain-function callbacks).
    void ServiceMain();
    void RunService();
    void Handler(std::uint32_t control);

    bool ServiceMode() const { return serviceMode_; }

    static ServiceModule* Instance() { return instance_; }

  private:
    bool Install();
    bool Uninstall();
    void InstallEventSources(const std::string& program);
    void SetServiceStatus(std::uint32_t state);
    void RemoveStaleTemporaries();

    ServicePlatform os_;
    std::string serviceName_;
    platform::ServiceStatus status_;
    bool handlerInstalled_ = false;
    std::atomic<std::uint32_t> mainThreadId_{0};
    std::atomic<bool> quitPending_{false};
    bool serviceMode_ = true;
    AggregatorWorker* worker_ = nullptr;
    static ServiceModule* instance_;
};
