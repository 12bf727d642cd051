// POSIX folders: mkdir/chmod for the private folder, rename(2) refusing an existing target
// (renameat2 RENAME_NOREPLACE, or link-free checks where that is missing), and flock on a
// lock file for the folder lock.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "platform/files.h"
#include "platform/folders.h"
#include "platform/nocase.h"

namespace platform {

namespace {

// Our folders hold files and at most one level of folders; deeper is not ours to remove.
constexpr int kMaxRemoveDepth = 4;

bool RemoveTree(const std::string& path, int depth) {
    DIR* d = ::opendir(path.c_str());
    if (d == nullptr) {
        return false;
    }
    const int dfd = dirfd(d);
    bool ok = true;
    while (struct dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        struct stat st {};
        if (fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            ok = false;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            ok = depth < kMaxRemoveDepth && RemoveTree(path + "/" + name, depth + 1) && ok;
        } else if (::unlinkat(dfd, e->d_name, 0) != 0) {
            ok = false;
        }
    }
    ::closedir(d);
    return ::rmdir(path.c_str()) == 0 && ok;
}

}  // namespace

bool CreatePrivateFolder(const std::string& path) {
    if (!CreateDirectories(path)) {
        return false;
    }
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return false;
    }
    return (st.st_mode & 077) == 0 || ::chmod(path.c_str(), 0700) == 0;
}

bool ListFolders(const std::string& dir, std::vector<std::string>* names) {
    names->clear();
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (d == nullptr) {
        return false;
    }
    const int dfd = dirfd(d);
    while (struct dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        struct stat st {};
        if (name != "." && name != ".." && fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(st.st_mode)) {
            names->push_back(name);
        }
    }
    ::closedir(d);
    std::sort(names->begin(), names->end(), [](const std::string& a, const std::string& b) {
        const int c = CompareNoCase(a, b);
        return c != 0 ? c < 0 : a < b;
    });
    return true;
}

bool MovePath(const std::string& from, const std::string& to) {
    struct stat st {};
    if (lstat(to.c_str(), &st) == 0 || errno != ENOENT) {
        return false;
    }
#ifdef RENAME_NOREPLACE
    const bool moved =
        ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
#else
    const bool moved = ::rename(from.c_str(), to.c_str()) == 0;
#endif
    // The move is only durable once the folder that now names it is synced.
    const std::string parent = DirectoryOf(to);
    const int dir =
        ::open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return moved;
}

bool RemoveFolder(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return false;
    }
    return RemoveTree(path, 0);
}

std::uint64_t CurrentProcessId() {
    return static_cast<std::uint64_t>(::getpid());
}

bool ProcessRunning(std::uint64_t pid) {
    if (pid == 0 || pid > static_cast<std::uint64_t>(INT32_MAX)) {
        return false;
    }
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

FolderLock::~FolderLock() {
    ::close(static_cast<int>(handle_));
}

std::unique_ptr<FolderLock> FolderLock::TryAcquire(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return nullptr;
    }
    // flock belongs to the open file, so a second open in this process is refused as well.
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EINTR) {
            ::close(fd);
            return nullptr;
        }
    }
    return std::unique_ptr<FolderLock>(new FolderLock(fd));
}

}  // namespace platform
