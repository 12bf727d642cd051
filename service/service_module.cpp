// The service shell. Registration writes the AppID and type-library keys through the registry
// layer (the same keys on every platform) and installs the service through the platform's
// manager; running hands the main thread to the dispatcher or, when that is refused, runs the
// service routine as an ordinary process. Failures of registration steps are message boxes;
// everything else goes through LogMessage.
#include "service/service_module.h"

#include "aggregator/aggregator_worker.h"
#include "common/layout.h"
#include "common/registry_value.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "platform/nocase.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "service/service_events.h"

ServiceModule* ServiceModule::instance_ = nullptr;

namespace {

constexpr unsigned kServiceNameResource = 100;
constexpr std::uint32_t kControlStop = 1;
constexpr std::uint32_t kControlPause = 2;
constexpr std::uint32_t kControlContinue = 3;
constexpr std::uint32_t kControlInterrogate = 4;
constexpr std::uint32_t kControlShutdown = 5;
constexpr std::size_t kMessageBufferChars = 256;
constexpr std::uint32_t kLocalServiceBuffer = 260;

void StaticServiceMain() {
    ServiceModule::Instance()->ServiceMain();
}
void StaticHandler(std::uint32_t control) {
    ServiceModule::Instance()->Handler(control);
}

long SetString(platform::RegKey key, const std::string& name, const std::string& value) {
    return platform::RegSetValue(key, name, platform::kRegSz,
                                 reinterpret_cast<const unsigned char*>(value.c_str()),
                                 static_cast<std::uint32_t>(value.size() + 1));
}

// Creates root\subKey and sets one string value in it ("" is the default value).
long CreateWithValue(const std::string& subKey, const std::string& name, const std::string& value) {
    platform::RegKeyHandle key;
    long rc = platform::RegCreateKey(platform::RegClassesRoot(), subKey, key.Receive());
    if (rc != platform::kErrorSuccess) {
        return rc;
    }
    return SetString(key.Get(), name, value);
}

std::string AppIdKey() {
    return std::string("AppID\\") + ServiceModule::kAppId;
}

// Opens HKCR\AppID, then the application's key below it, as the registration script does.
long OpenAppId(platform::RegAccess access, platform::RegKeyHandle* appId) {
    platform::RegKeyHandle appIds;
    long rc = platform::RegOpenKey(platform::RegClassesRoot(), "AppID", access, appIds.Receive());
    if (rc != platform::kErrorSuccess) {
        return rc;
    }
    return platform::RegOpenKey(appIds.Get(), ServiceModule::kAppId, access, appId->Receive());
}
std::string TypeLibKey() {
    return std::string("TypeLib\\") + ServiceModule::kTypeLibId;
}

}  // namespace

CommandKeyword ScanCommandLine(std::string_view commandLine) {
    for (std::size_t i = 0; i < commandLine.size(); ++i) {
        if (commandLine[i] != '-' && commandLine[i] != '/') {
            continue;
        }
        std::string_view rest = commandLine.substr(i + 1);
        if (platform::EqualNoCase(rest, "UnregServer")) {
            return CommandKeyword::UnregServer;
        }
        if (platform::EqualNoCase(rest, "RegServer")) {
            return CommandKeyword::RegServer;
        }
        if (platform::EqualNoCase(rest, "Service")) {
            return CommandKeyword::Service;
        }
    }
    return CommandKeyword::None;
}

ServiceModule::ServiceModule(ServicePlatform os) : os_(std::move(os)) {
    if (!os_.eventLog) {
        os_.eventLog = [this](const std::string& text) {
            platform::WriteEventMessage(serviceName_, ServiceEventFor(text), text);
        };
    }
    if (!os_.console) {
        os_.console = platform::WriteConsoleMessage;
    }
    if (!os_.programPath) {
        os_.programPath = platform::CurrentProgramPath;
    }
    serviceName_ = platform::LoadResourceString(kServiceNameResource, "Tallyvane");
    instance_ = this;
}

ServiceModule::~ServiceModule() {
    if (instance_ == this) {
        instance_ = nullptr;
    }
}

int ServiceModule::Main(std::string_view commandLine, AggregatorWorker& worker) {
    worker_ = &worker;
    switch (ScanCommandLine(commandLine)) {
        case CommandKeyword::UnregServer:
            return static_cast<int>(UnregisterServer());
        case CommandKeyword::RegServer:
            return static_cast<int>(RegisterServer(false));
        case CommandKeyword::Service:
            return static_cast<int>(RegisterServer(true));
        case CommandKeyword::None:
            break;
    }

    platform::RegKeyHandle appId;
    long rc = OpenAppId(platform::RegAccess::Read, &appId);
    if (rc != platform::kErrorSuccess) {
        return static_cast<int>(rc);
    }
    unsigned char buffer[kLocalServiceBuffer];
    std::uint32_t size = sizeof buffer;
    serviceMode_ = platform::RegQueryValue(appId.Get(), "LocalService", nullptr, buffer, &size) ==
                   platform::kErrorSuccess;
    appId.Close();

    if (serviceMode_) {
        if (!os_.startDispatcher(serviceName_, &StaticServiceMain)) {
            serviceMode_ = false;
            RunService();
        }
    } else {
        RunService();
    }
    return static_cast<int>(status_.win32ExitCode);
}

long ServiceModule::RegisterServer(bool asService) {
    long rc = platform::ComInitialize();
    if (rc < 0) {
        return rc;
    }
    Uninstall();

    // The registration script's keys.
    CreateWithValue(AppIdKey(), "", serviceName_);
    CreateWithValue("AppID\\" + serviceName_ + ".EXE", "AppID", kAppId);

    platform::RegKeyHandle appId;
    rc = OpenAppId(platform::RegAccess::Write, &appId);
    if (rc != platform::kErrorSuccess) {
        return rc;
    }
    platform::RegDeleteValue(appId.Get(), "LocalService");
    if (asService) {
        SetString(appId.Get(), "LocalService", serviceName_);
        SetString(appId.Get(), "ServiceParameters", "-Service");
        appId.Close();
        Install();
    } else {
        appId.Close();
    }

    std::string program = os_.programPath();
    InstallEventSources(program);

    // The type library holds no types; its registration is these keys.
    std::string version = TypeLibKey() + "\\1.0";
    rc = CreateWithValue(version, "", "Tallyvane 1.0 Type Library");
    if (rc == platform::kErrorSuccess) {
        rc = CreateWithValue(version + "\\0\\win32", "", program);
    }
    if (rc == platform::kErrorSuccess) {
        rc = CreateWithValue(version + "\\FLAGS", "", "0");
    }
    if (rc == platform::kErrorSuccess) {
        rc = CreateWithValue(version + "\\HELPDIR", "", platform::DirectoryOf(program));
    }
    platform::ComUninitialize();
    return rc;
}

long ServiceModule::UnregisterServer() {
    long rc = platform::ComInitialize();
    if (rc < 0) {
        return rc;
    }
    platform::RegDeleteTree(platform::RegClassesRoot(), AppIdKey());
    platform::RegDeleteTree(platform::RegClassesRoot(), "AppID\\" + serviceName_ + ".EXE");
    Uninstall();
    os_.removeEventSource(serviceName_);
    os_.removeEventSource(platform::kSenderEventSource);
    platform::RegDeleteTree(platform::RegClassesRoot(), TypeLibKey());
    platform::ComUninitialize();
    return 0;
}

bool ServiceModule::Install() {
    if (os_.isInstalled(serviceName_)) {
        return true;
    }
    // What the service will read and write, so the manager can let it do just that.
    platform::ServiceData data;
    data.installation = RegistryString(layout::SettingPath(layout::setting::kAppPath), "").Get();
    if (!data.installation.empty()) {
        data.logFolders = {platform::AppendPath(data.installation, layout::InLogsFolder(""))};
        data.readFiles = {platform::AppendPath(data.installation, layout::kUserList)};
        data.runFiles = {platform::AppendPath(data.installation, platform::kSenderProgram)};
    }
    switch (os_.install(serviceName_, os_.programPath(), data)) {
        case platform::ScmResult::Ok:
            return true;
        case platform::ScmResult::NoManager:
            os_.messageBox(serviceName_, "Couldn't open service manager");
            return false;
        default:
            os_.messageBox(serviceName_, "Couldn't create service");
            return false;
    }
}

bool ServiceModule::Uninstall() {
    if (!os_.isInstalled(serviceName_)) {
        return true;
    }
    switch (os_.uninstall(serviceName_)) {
        case platform::ScmResult::Ok:
            return true;
        case platform::ScmResult::NoManager:
            os_.messageBox(serviceName_, "Couldn't open service manager");
            return false;
        case platform::ScmResult::CannotOpen:
            os_.messageBox(serviceName_, "Couldn't open service");
            return false;
        default:
            os_.messageBox(serviceName_, "Service could not be deleted");
            return false;
    }
}

// Without its source's registration an event shows only "description cannot be found". A
// failure (no administrator) leaves that and nothing else, so registration goes on.
void ServiceModule::InstallEventSources(const std::string& program) {
    os_.installEventSource(serviceName_, program);
    // The sender's texts are in its own program when it sits beside this one; this one
    // carries the same table otherwise.
    const std::string sender =
        platform::AppendPath(platform::DirectoryOf(program), platform::kSenderProgram);
    os_.installEventSource(platform::kSenderEventSource,
                           platform::FileExists(sender) ? sender : program);
}

void ServiceModule::LogMessage(const std::string& text) {
    std::string bounded = text.substr(0, kMessageBufferChars - 1);
    if (serviceMode_) {
        os_.eventLog(bounded);
    } else {
        os_.console(bounded);
    }
}

void ServiceModule::RequestQuit() {
    quitPending_ = true;
    if (std::uint32_t id = mainThreadId_.load()) {
        platform::PostQuit(id);
    }
}

void ServiceModule::SetServiceStatus(std::uint32_t state) {
    status_.currentState = state;
    os_.reportStatus(status_);
}

void ServiceModule::ServiceMain() {
    status_.currentState = platform::kServiceStartPending;
    handlerInstalled_ = os_.registerHandler(serviceName_, &StaticHandler);
    if (!handlerInstalled_) {
        LogMessage(service_event::kHandlerNotInstalled.text);
        return;
    }
    SetServiceStatus(platform::kServiceStartPending);
    status_.win32ExitCode = 0;
    status_.checkPoint = 0;
    status_.waitHint = 0;
    RunService();
    SetServiceStatus(platform::kServiceStopped);
    LogMessage(service_event::kStopped.text);
}

void ServiceModule::RunService() {
    mainThreadId_ = platform::CurrentThreadId();
    platform::ComInitialize();
    platform::ComInitializeSecurity();
    LogMessage(service_event::kStarted.text);
    if (serviceMode_) {
        SetServiceStatus(platform::kServiceRunning);
    }
    RemoveStaleTemporaries();
    if (worker_ != nullptr) {
        worker_->Start(0);
    }
    // A quit asked for before the loop existed (no application path) ends it at once.
    if (quitPending_) {
        platform::PostQuit(mainThreadId_);
    }
    platform::RunMessageLoop();
    if (worker_ != nullptr) {
        worker_->Stop(true);
    }
    platform::ComUninitialize();
}

void ServiceModule::RemoveStaleTemporaries() {
    // A run killed in the middle of a write leaves its temporary beside the registry file,
    // the reports (in the installation directory) or the summary files (in Logs).
    platform::RemoveRegistryTemporaries();
    RegistryString appPath(layout::SettingPath(layout::setting::kAppPath), "");
    const std::string app = appPath.Get();
    if (!app.empty()) {
        platform::RemoveStaleTemporaries(app);
        platform::RemoveStaleTemporaries(platform::AppendPath(app, layout::InLogsFolder("")));
    }
}

void ServiceModule::Handler(std::uint32_t control) {
    switch (control) {
        case kControlStop:
            SetServiceStatus(platform::kServiceStopPending);
            platform::PostQuit(mainThreadId_);
            break;
        case kControlPause:
        case kControlContinue:
        case kControlInterrogate:
        case kControlShutdown:
            break;
        default:
            LogMessage(service_event::kBadRequest.text);
            break;
    }
}
