// The service facilities on Linux. systemd is the service manager: installing writes a unit
// file under TALLY_SYSTEMD_ROOT (default "/") and a program started by systemd (INVOCATION_ID
// in its environment) counts as started by the dispatcher. SIGTERM and SIGINT are the stop
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

#include "platform/files.h"
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
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc < 0)
            return -1;
        for (int i = 0; i < count; ++i) {
            if (p[i].revents & POLLIN)
                return i;
        }
    }
}

void Drain(int fd, std::size_t size) {
    char buffer[sizeof(signalfd_siginfo)];
    while (read(fd, buffer, size) > 0) {
    }
}

std::string UnitPath(const std::string& name) {
    const char* root = std::getenv("TALLY_SYSTEMD_ROOT");
    std::string base = root != nullptr && *root != '\0' ? root : "/";
    std::string lower;
    for (char c : name)
        lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    return AppendPath(base, "/etc/systemd/system/" + lower + ".service");
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
        if (i > 0)
            line.push_back(' ');
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
        if (which != 1)
            break;
        Drain(SignalFd(), sizeof(signalfd_siginfo));
        if (ControlHandlerFunction handler = controlHandler.load())
            handler(1);
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

ScmResult InstallService(const std::string& name, const std::string& programPath) {
    std::string path = UnitPath(name);
    if (!CreateDirectories(DirectoryOf(path)))
        return ScmResult::NoManager;
    std::string unit =
        "[Unit]\n"
        "Description=" +
        name +
        " Module\n"
        "After=network.target\n"
        "\n"
        "[Service]\n"
        "Type=simple\n"
        "ExecStart=" +
        programPath + "\n";
    if (const char* registry = std::getenv("BRISKO_REGISTRY")) {
        unit += std::string("Environment=BRISKO_REGISTRY=") + registry + "\n";
    }
    unit +=
        "KillSignal=SIGTERM\n"
        "TimeoutStopSec=15\n"
        "\n"
        "[Install]\n"
        "WantedBy=multi-user.target\n";
    return ReplaceFileBytes(path, unit) ? ScmResult::Ok : ScmResult::CannotCreate;
}

ScmResult UninstallService(const std::string& name) {
    return DeleteFileAt(UnitPath(name)) ? ScmResult::Ok : ScmResult::CannotDelete;
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
    if (count == 2)
        Drain(SignalFd(), sizeof(signalfd_siginfo));
}

void PostQuit(std::uint32_t) {
    std::uint64_t one = 1;
    (void)!write(QuitEvent(), &one, sizeof one);
}

std::string LoadResourceString(unsigned, const std::string& fallback) {
    return fallback;
}

}  // namespace platform
