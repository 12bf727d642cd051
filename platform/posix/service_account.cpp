// The Linux service's account (see service_account.h). What the account may do is tried as
// the account itself, in a child that takes its identity, so permissions, groups and access
// lists all count as they will for the service.
#include "platform/posix/service_account.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>

#include "platform/files.h"
#include "platform/files_backend.h"
#include "platform/process.h"

namespace platform::service_account {
namespace {

constexpr std::uint32_t kUseraddWaitMs = 30000;

struct Account {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
};

bool LookUp(const std::string& name, Account* account) {
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr) {
        return false;
    }
    account->uid = entry.pw_uid;
    account->gid = entry.pw_gid;
    int count = 32;
    account->groups.resize(static_cast<std::size_t>(count));
    while (getgrouplist(name.c_str(), entry.pw_gid, account->groups.data(), &count) < 0) {
        account->groups.resize(static_cast<std::size_t>(count) + 1);
        count = static_cast<int>(account->groups.size());
    }
    account->groups.resize(static_cast<std::size_t>(count));
    return true;
}

// A system account with a group of its own, no home and no login.
bool Create(const std::string& name, const std::string& root) {
    const std::string useradd = ProgramUnder(root, {"/usr/sbin/useradd", "/sbin/useradd"});
    if (geteuid() != 0 || useradd.empty()) {
        return false;
    }
    std::string shell = "/bin/false";
    for (const char* nologin : {"/usr/sbin/nologin", "/sbin/nologin"}) {
        if (access(nologin, X_OK) == 0) {
            shell = nologin;
            break;
        }
    }
    return RunProgram({useradd, "--system", "--user-group", "--no-create-home", "--home-dir",
                       "/nonexistent", "--shell", shell, name},
                      kUseraddWaitMs) == 0;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

std::string WithoutSeparator(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// The first thing the calling identity cannot do of what the service does, empty when none.
std::string FirstProblem(const ServiceData& data) {
    if (access(data.installation.c_str(), R_OK | W_OK | X_OK) != 0) {
        return "cannot write " + data.installation;
    }
    for (const std::string& folder : data.logFolders) {
        if (!IsDirectory(folder)) {
            continue;  // the proxy has not made it yet
        }
        if (access(folder.c_str(), R_OK | W_OK | X_OK) != 0) {
            return "cannot write " + folder;
        }
        DIR* dir = opendir(folder.c_str());
        if (dir == nullptr) {
            return "cannot list " + folder;
        }
        std::string problem;
        while (struct dirent* e = readdir(dir)) {
            struct stat st {};
            if (fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISREG(st.st_mode) && faccessat(dirfd(dir), e->d_name, R_OK, 0) != 0) {
                problem = "cannot read " + AppendPath(folder, std::string("/") + e->d_name);
                break;
            }
        }
        closedir(dir);
        if (!problem.empty()) {
            return problem;
        }
    }
    for (const std::string& file : data.readFiles) {
        if (Exists(file) && access(file.c_str(), R_OK) != 0) {
            return "cannot read " + file;
        }
    }
    for (const std::string& file : data.runFiles) {
        if (Exists(file) && access(file.c_str(), X_OK) != 0) {
            return "cannot run " + file;
        }
    }
    return {};
}

// check's answer as the account: in a child that has taken the account's identity, or here
// when this process already is the account. Only root can take another identity.
std::string AsAccount(const Account& account, const std::function<std::string()>& check) {
    if (geteuid() == account.uid) {
        return check();
    }
    if (geteuid() != 0) {
        return "cannot be tried: only root can take its identity";
    }
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        return "cannot be tried";
    }
    const pid_t child = fork();
    if (child == 0) {
        close(pipeFds[0]);
        std::string answer = "cannot be taken on";
        if (setgroups(account.groups.size(), account.groups.data()) == 0 &&
            setgid(account.gid) == 0 && setuid(account.uid) == 0) {
            answer = check();
        }
        (void)!write(pipeFds[1], answer.data(), answer.size());
        _exit(0);
    }
    close(pipeFds[1]);
    std::string answer;
    char buffer[512];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
        answer.append(buffer, static_cast<std::size_t>(n > 0 ? n : 0));
    }
    close(pipeFds[0]);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return "cannot be tried";
    }
    return answer;
}

std::string NameOf(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
}

// A folder that holds nothing but the registry file (by either of its names: the configured
// one, a link, and the file it leads to), its lock and its temporaries is the registry's own
// and may be given to the account.
bool HoldsOnlyTheRegistry(const std::string& folder, const std::vector<std::string>& files) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return false;
    }
    bool only = true;
    struct dirent* e = nullptr;
    while (only && (e = readdir(dir)) != nullptr) {
        const std::string name = e->d_name;
        bool ours = name == "." || name == "..";
        for (const std::string& file : files) {
            ours = ours || name == file || name == file + ".lock" ||
                   (name.rfind(file + ".tmp", 0) == 0 && detail::TemporaryOwner(name) != 0);
        }
        only = ours;
    }
    closedir(dir);
    return only;
}

// Gives path (not a link) to the account, keeping its permissions.
bool Give(const std::string& path, const Account& account) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT;
    }
    const bool given = fchown(fd, account.uid, account.gid) == 0;
    close(fd);
    return given;
}

// The file a registry path names, a link followed.
std::string Resolved(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    const std::string file = resolved != nullptr ? resolved : path;
    std::free(resolved);
    return file;
}

// Makes the registry the account's: its folders writable and the file (and lock) its own.
std::string HandOverRegistry(const Setup& setup, const Account& account) {
    const std::string file = Resolved(setup.registryFile);
    const std::string lock = setup.registryFile + ".lock";
    for (const std::string& path : {file, lock}) {
        const std::string folder = WithoutSeparator(DirectoryOf(path));
        const auto writable = [&] {
            return access(folder.c_str(), W_OK | X_OK) == 0 ? "" : "cannot write " + folder;
        };
        std::string problem = AsAccount(account, writable);
        if (!problem.empty() && geteuid() == 0 &&
            HoldsOnlyTheRegistry(folder, {NameOf(setup.registryFile), NameOf(file)}) &&
            Give(folder, account)) {
            problem = AsAccount(account, writable);
        }
        if (!problem.empty()) {
            return problem;
        }
    }
    if (geteuid() == 0 && !(Give(file, account) && Give(lock, account))) {
        return "cannot give " + file + " to the account";
    }
    return AsAccount(account, [&] {
        return access(file.c_str(), F_OK) != 0 || access(file.c_str(), R_OK | W_OK) == 0
                   ? ""
                   : "cannot read and write " + file;
    });
}

}  // namespace

std::string ProgramUnder(const std::string& root, const std::vector<const char*>& candidates) {
    for (const char* candidate : candidates) {
        const std::string program = AppendPath(root, candidate);
        if (access(program.c_str(), X_OK) == 0) {
            return program;
        }
    }
    return {};
}

Choice Prepare(const Setup& setup) {
    Choice choice;
    choice.user = "root";
    // The lock lies beside the configured path, the file where a link leads.
    for (const std::string& folder : {setup.data.installation, DirectoryOf(setup.registryFile),
                                      DirectoryOf(Resolved(setup.registryFile))}) {
        const std::string path = WithoutSeparator(folder);
        if (!path.empty() && std::find(choice.readWritePaths.begin(), choice.readWritePaths.end(),
                                       path) == choice.readWritePaths.end()) {
            choice.readWritePaths.push_back(path);
        }
    }
    if (setup.data.installation.empty()) {
        choice.reason = "the installation directory (apppath) is not set";
        return choice;
    }
    Account account;
    if (!LookUp(setup.account, &account) &&
        !(Create(setup.account, setup.root) && LookUp(setup.account, &account))) {
        choice.reason = "there is no account " + setup.account + " and it could not be created";
        return choice;
    }
    if (account.uid == 0) {
        choice.reason = "the account " + setup.account + " is root";
        return choice;
    }
    choice.reason = AsAccount(account, [&] { return FirstProblem(setup.data); });
    if (choice.reason.empty()) {
        choice.reason = HandOverRegistry(setup, account);
    }
    if (choice.reason.empty()) {
        choice.user = setup.account;
    } else {
        choice.reason = "the account " + setup.account + " " + choice.reason;
    }
    return choice;
}

}  // namespace platform::service_account
