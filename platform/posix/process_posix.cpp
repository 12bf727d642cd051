// Starting the mail sender on POSIX: a double fork, so the program runs in its own session
// with its standard streams on /dev/null, and the intermediate child is reaped at once, so
// no zombie is left and nobody waits for the sender itself.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/process.h"

namespace platform {

const char kSenderProgram[] = "postvane";

bool StartDetached(const std::string& path) {
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
        // The service blocks its stop signals; the sender must not inherit that.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        setsid();
        pid_t grandchild = fork();
        if (grandchild != 0) {
            _exit(grandchild < 0 ? 1 : 0);
        }
        int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
            if (null > 2) {
                close(null);
            }
        }
        char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
        execv(path.c_str(), argv);
        // Tell the starter that exec failed; the pipe closes on a successful exec.
        char failed = 1;
        (void)!write(ready[1], &failed, 1);
        _exit(127);
    }
    close(ready[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    char failed = 0;
    ssize_t n;
    while ((n = read(ready[0], &failed, 1)) < 0 && errno == EINTR) {
    }
    close(ready[0]);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && n == 0;
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

}  // namespace platform
