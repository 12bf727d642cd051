// The service facilities on Linux. systemd is the service manager: installing writes a unit
// file under TALLY_SYSTEMD_ROOT (default "/"): the packaged unit with the values of this
// installation, the account it allows (service_account.h) and the folders it may write.
// Removing it first stops and disables the unit with that root's systemctl where systemd
// runs (each call waited for within a bound). A program started by systemd (INVOCATION_ID in
// its environment) counts as started by the dispatcher. SIGTERM and SIGINT are the stop
// control: the dispatcher thread hands them to the control handler, or, without one, they end
// the message loop. The quit request is an eventfd, so one posted before the loop runs is kept.
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/posix/service_account.h"
#include "platform/posix/unit_template.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/service.h"

namespace platform {
namespace {

std::atomic<ControlHandlerFunction> controlHandler{nullptr};

int QuitEvent() {
    static int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return fd;
}

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

int SignalFd() {
    static int fd = [] {
        sigset_t set = StopSignals();
        return signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    }();
    return fd;
}

// Waits on the given descriptors; returns the index of the first one ready.
int WaitAny(const int* fds, int count) {
    pollfd p[2];
    for (int i = 0; i < count; ++i) {
        p[i] = {fds[i], POLLIN, 0};
    }
    for (;;) {
        int rc = poll(p, static_cast<nfds_t>(count), -1);
        if (rc < 0 && errno == EINTR) {
            continue;
        }
        if (rc < 0) {
            return -1;
        }
        for (int i = 0; i < count; ++i) {
            if (p[i].revents & POLLIN) {
                return i;
            }
        }
    }
}

void Drain(int fd, std::size_t size) {
    char buffer[sizeof(signalfd_siginfo)];
    while (read(fd, buffer, size) > 0) {
    }
}

// Longest wait for one systemctl call before it is given up on.
constexpr std::uint32_t kSystemctlWaitMs = 15000;

std::string SystemdRoot() {
    const char* root = std::getenv("TALLY_SYSTEMD_ROOT");
    return root != nullptr && *root != '\0' ? root : "/";
}

std::string UnitName(const std::string& name) {
    std::string lower;
    for (char c : name) {
        lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
    return lower + ".service";
}

std::string UnitPath(const std::string& name) {
    return AppendPath(SystemdRoot(), "/etc/systemd/system/" + UnitName(name));
}

// One word of a unit file line, quoted so that spaces, quotes, backslashes, specifiers (%)
// and, where the line expands them, variables ($) reach the program as they are.
std::string UnitQuoted(const std::string& word, bool expandsVariables) {
    std::string out = "\"";
    for (char c : word) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
        } else if (c == '%' || (c == '$' && expandsVariables)) {
            out.push_back(c);
        }
        out.push_back(c);
    }
    return out + "\"";
}

// Runs the root's systemctl where systemd is the running manager (as sd_booted tells it);
// false when there is none or the call fails.
bool Systemctl(const std::vector<std::string>& args, std::uint32_t waitMs) {
    const std::string root = SystemdRoot();
    std::vector<std::string> argv = {
        service_account::ProgramUnder(root, {"/usr/bin/systemctl", "/bin/systemctl"})};
    if (argv[0].empty() || !FileExists(AppendPath(root, "/run/systemd/system"))) {
        return false;
    }
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, waitMs) == 0;
}

// The unit with the value of each named setting ("Key=value" lines) replaced.
std::string WithValues(const std::string& unit,
                       const std::vector<std::pair<std::string, std::string>>& values) {
    std::string out;
    std::size_t start = 0;
    while (start < unit.size()) {
        std::size_t end = unit.find('\n', start);
        end = end == std::string::npos ? unit.size() : end + 1;
        std::string line = unit.substr(start, end - start);
        for (const auto& [key, value] : values) {
            if (line.rfind(key + "=", 0) == 0) {
                line = key + "=" + value + "\n";
            }
        }
        out += line;
        start = end;
    }
    return out;
}

}  // namespace

void PrepareServiceProcess() {
    sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    SignalFd();
    QuitEvent();
}

std::string FullCommandLine(int argc, char** argv) {
    std::string line;
    for (int i = 0; i < argc; ++i) {
        if (i > 0) {
            line.push_back(' ');
        }
        line += argv[i];
    }
    return line;
}

bool StartServiceDispatcher(const std::string&, ServiceMainFunction serviceMain) {
    if (std::getenv("INVOCATION_ID") == nullptr) {
        return false;  // not started by the service manager
    }
    int done = eventfd(0, EFD_CLOEXEC);
    std::thread service([serviceMain, done] {
        serviceMain();
        std::uint64_t one = 1;
        (void)!write(done, &one, sizeof one);
    });
    // This thread is the dispatcher: stop signals go to the control handler.
    int fds[2] = {done, SignalFd()};
    for (;;) {
        int which = WaitAny(fds, 2);
        if (which != 1) {
            break;
        }
        Drain(SignalFd(), sizeof(signalfd_siginfo));
        if (ControlHandlerFunction handler = controlHandler.load()) {
            handler(1);
        }
    }
    service.join();
    close(done);
    return true;
}

bool RegisterControlHandler(const std::string&, ControlHandlerFunction handler) {
    controlHandler = handler;
    return true;
}

void ReportServiceStatus(const ServiceStatus&) {}

bool IsServiceInstalled(const std::string& name) {
    return FileExists(UnitPath(name));
}

ScmResult InstallService(const std::string& name, const std::string& programPath,
                         const ServiceData& data) {
    std::string path = UnitPath(name);
    if (!CreateDirectories(DirectoryOf(path))) {
        return ScmResult::NoManager;
    }
    service_account::Setup setup;
    setup.data = data;
    setup.registryFile = RegistryFilePath();
    setup.root = SystemdRoot();
    const service_account::Choice choice = service_account::Prepare(setup);
    std::string writable;
    for (const std::string& folder : choice.readWritePaths) {
        // "-": a folder removed later does not keep the service from starting.
        writable += (writable.empty() ? "" : " ") + UnitQuoted("-" + folder, false);
    }
    const std::string unit = WithValues(
        kUnitTemplate,
        {
            {"ExecStart", UnitQuoted(programPath, true)},
            {"Environment", UnitQuoted("BRISKO_REGISTRY=" + setup.registryFile, false)},
            {"User", choice.user},
            // Root keeps only what it takes to read and write files it does not own.
            {"CapabilityBoundingSet",
             choice.reason.empty() ? ""
                                   : "CAP_CHOWN CAP_DAC_OVERRIDE CAP_DAC_READ_SEARCH CAP_FOWNER"},
            {"ReadWritePaths", writable},
        });
    if (!choice.reason.empty()) {
        std::fprintf(stderr, "%s: the service runs as root, with the unit's hardening: %s\n",
                     name.c_str(), choice.reason.c_str());
    }
    return ReplaceFileBytes(path, unit) ? ScmResult::Ok : ScmResult::CannotCreate;
}

ScmResult UninstallService(const std::string& name) {
    // A removed unit file would leave the service running and enabled, with nothing left
    // to stop it by.
    // The stop is asked for, not waited for, as the Windows manager's stop control is.
    const std::string unit = UnitName(name);
    Systemctl({"stop", "--no-block", unit}, kSystemctlWaitMs);
    Systemctl({"disable", unit}, kSystemctlWaitMs);
    if (!DeleteFileAt(UnitPath(name))) {
        return ScmResult::CannotDelete;
    }
    Systemctl({"daemon-reload"}, kSystemctlWaitMs);
    return ScmResult::Ok;
}

long ComInitialize() {
    return 0;
}
void ComUninitialize() {}
void ComInitializeSecurity() {}

void ShowMessageBox(const std::string& caption, const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

std::uint32_t CurrentThreadId() {
    return static_cast<std::uint32_t>(static_cast<std::uintptr_t>(pthread_self())) | 1u;
}

void RunMessageLoop() {
    int fds[2] = {QuitEvent(), SignalFd()};
    // With a control handler the dispatcher takes the signals; otherwise they end the loop.
    int count = controlHandler.load() != nullptr ? 1 : 2;
    WaitAny(fds, count);
    Drain(QuitEvent(), sizeof(std::uint64_t));
    if (count == 2) {
        Drain(SignalFd(), sizeof(signalfd_siginfo));
    }
}

void PostQuit(std::uint32_t) {
    std::uint64_t one = 1;
    (void)!write(QuitEvent(), &one, sizeof one);
}

std::string LoadResourceString(unsigned, const std::string& fallback) {
    return fallback;
}

}  // namespace platform
