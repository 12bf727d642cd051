// Starting programs on POSIX. The mail sender: a double fork, so the program runs in its own
// session with its standard streams on /dev/null, and the intermediate child is reaped at
// once, so no zombie is left and nobody waits for the sender itself. Every wait here has a
// bound: a child that outlives it is killed and reaped.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/process.h"

namespace platform {

const char kSenderProgram[] = "postvane";

namespace {

// The intermediate child only forks and exits; the exec is confirmed through the pipe.
constexpr int kForkWaitMs = 5000;
constexpr int kExecWaitMs = 10000;

std::int64_t MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Reaps child within timeoutMs, killing it when it has not ended by then. False when it had
// to be killed (or could not be waited for).
bool ReapWithin(pid_t child, std::int64_t timeoutMs, int* status) {
    const std::int64_t deadline = MonotonicMs() + timeoutMs;
    int pauseMs = 1;
    for (;;) {
        const pid_t rc = waitpid(child, status, WNOHANG);
        if (rc == child) {
            return true;
        }
        if (rc < 0 && errno != EINTR) {
            return false;
        }
        if (MonotonicMs() >= deadline) {
            kill(child, SIGKILL);
            while (waitpid(child, status, 0) < 0 && errno == EINTR) {
            }
            return false;
        }
        const timespec pause{0, static_cast<long>(pauseMs) * 1000000L};
        nanosleep(&pause, nullptr);
        pauseMs = pauseMs < 50 ? pauseMs * 2 : 50;
    }
}

// Standard streams on /dev/null and the signal mask cleared, in a child before exec.
void PrepareChild() {
    // The service blocks its stop signals; the child must not inherit that.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        if (null > 2) {
            close(null);
        }
    }
}

}  // namespace

bool StartDetached(const std::string& path, const std::vector<std::string>& args) {
    struct stat st {};
    if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        access(path.c_str(), X_OK) != 0) {
        return false;
    }
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) {
        return false;
    }
    pid_t child = fork();
    if (child < 0) {
        close(ready[0]);
        close(ready[1]);
        return false;
    }
    if (child == 0) {
        close(ready[0]);
        setsid();
        pid_t grandchild = fork();
        if (grandchild != 0) {
            _exit(grandchild < 0 ? 1 : 0);
        }
        PrepareChild();
        std::vector<char*> argv{const_cast<char*>(path.c_str())};
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        execv(path.c_str(), argv.data());
        // Tell the starter that exec failed; the pipe closes on a successful exec.
        char failed = 1;
        (void)!write(ready[1], &failed, 1);
        _exit(127);
    }
    close(ready[1]);
    int status = 0;
    const bool reaped = ReapWithin(child, kForkWaitMs, &status);
    // The pipe closes at the exec (or says it failed); a start not confirmed in time counts
    // as failed.
    pollfd p{ready[0], POLLIN, 0};
    int polled;
    while ((polled = poll(&p, 1, kExecWaitMs)) < 0 && errno == EINTR) {
    }
    char failed = 0;
    ssize_t n = -1;
    if (polled > 0) {
        while ((n = read(ready[0], &failed, 1)) < 0 && errno == EINTR) {
        }
    }
    close(ready[0]);
    return reaped && WIFEXITED(status) && WEXITSTATUS(status) == 0 && n == 0;
}

int RunProgram(const std::vector<std::string>& argv, std::uint32_t timeoutMs) {
    if (argv.empty() || access(argv[0].c_str(), X_OK) != 0) {
        return -1;
    }
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        return -1;
    }
    if (child == 0) {
        PrepareChild();
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    if (!ReapWithin(child, timeoutMs, &status) || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

std::string CurrentProgramPath() {
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

void SetEnvironmentValue(const std::string& name, const std::string& value) {
    if (value.empty()) {
        unsetenv(name.c_str());
    } else {
        setenv(name.c_str(), value.c_str(), 1);
    }
}

namespace {

// A "Field:   1234 kB" line of /proc/self/status, in bytes.
std::uint64_t StatusBytes(const char* field) {
    std::ifstream status("/proc/self/status");
    const std::size_t n = std::strlen(field);
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, n, field) == 0) {
            return std::strtoull(line.c_str() + n, nullptr, 10) * 1024;
        }
    }
    return 0;
}

}  // namespace

std::uint64_t ResidentBytes() {
    return StatusBytes("VmRSS:");
}

std::uint64_t PeakResidentBytes() {
    if (const std::uint64_t peak = StatusBytes("VmHWM:")) {
        return peak;
    }
    // Without /proc: the peak since the start, from the kernel's accounting.
    rusage usage{};
    if (::getrusage(RUSAGE_SELF, &usage) != 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;  // in kB
}

bool ResetPeakResident() {
    // Linux: writing 5 to clear_refs sets the peak back to the resident size.
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

double ThreadCpuSeconds() {
    timespec t{};
    if (::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t) != 0) {
        return 0;
    }
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace platform
