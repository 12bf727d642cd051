// POSIX files: "no sharing" is an exclusive non-blocking flock, so a second such opener fails
// as a Windows sharing violation would; atomic replacement goes through a temporary file and
// rename(2), refused while another opener holds the target locked. Every open is
// non-blocking and checks for a regular file, so a FIFO or device never holds a caller up.
// A symbolic link is never opened nor listed: the logs' folder is written by another program,
// and a link there must not make the service read (and publish) a file it points to.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>

#include "platform/dir_watch.h"
#include "platform/files.h"
#include "platform/files_backend.h"
#include "platform/wildcard.h"

namespace platform {

const char kPathSeparator = '/';

namespace {

int ToFd(std::intptr_t h) {
    return static_cast<int>(h);
}

bool LockExclusive(int fd) {
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool WriteAllFd(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Opens path without ever blocking (a FIFO without a writer would) and only if it is a
// regular file. -1 with errno set otherwise. O_NONBLOCK stays set: it changes nothing for a
// regular file's reads and writes, and clearing it would cost two system calls per log.
int OpenRegular(const std::string& path, int flags, mode_t mode = 0644,
                struct stat* info = nullptr) {
    const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, mode);
    if (fd < 0) {
        return -1;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        errno = err;
        return -1;
    }
    if (info != nullptr) {
        *info = st;
    }
    return fd;
}

bool ProcessAlive(std::uint64_t pid) {
    if (pid == 0 || pid > static_cast<std::uint64_t>(INT32_MAX)) {
        return false;
    }
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

ReplaceError FailureOf(int err) {
    return (err == EACCES || err == EPERM || err == EROFS) ? ReplaceError::AccessDenied
                                                           : ReplaceError::Failed;
}

}  // namespace

File::~File() {
    if (handle_ >= 0) {
        ::close(ToFd(handle_));
    }
}

std::unique_ptr<File> File::Open(const std::string& path, OpenMode mode, ShareMode share) {
    const int flags = (mode == OpenMode::Read ? O_RDONLY : (O_WRONLY | O_CREAT)) | O_NOFOLLOW;
    const int fd = OpenRegular(path, flags);
    if (fd < 0) {
        return nullptr;
    }
    if (share == ShareMode::None && !LockExclusive(fd)) {
        ::close(fd);
        return nullptr;
    }
    // Truncate only once the lock is held, so a refused open never destroys the content.
    if (mode == OpenMode::WriteTruncate && ftruncate(fd, 0) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<File>(new File(fd));
}

std::int64_t File::Read(void* buffer, std::size_t size) {
    for (;;) {
        ssize_t n = ::read(ToFd(handle_), buffer, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return n;
    }
}

bool File::Write(const void* data, std::size_t size) {
    return WriteAllFd(ToFd(handle_), static_cast<const char*>(data), size);
}

bool File::Rewind() {
    return ::lseek(ToFd(handle_), 0, SEEK_SET) == 0;
}

bool File::Seek(std::uint64_t offset) {
    return offset <= static_cast<std::uint64_t>(INT64_MAX) &&
           ::lseek(ToFd(handle_), static_cast<off_t>(offset), SEEK_SET) ==
               static_cast<off_t>(offset);
}

std::uint64_t File::Id() {
    struct stat st {};
    if (fstat(ToFd(handle_), &st) != 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(st.st_ino) ^ (static_cast<std::uint64_t>(st.st_dev) << 48);
}

std::int64_t File::Size() {
    struct stat st {};
    if (fstat(ToFd(handle_), &st) != 0) {
        return -1;
    }
    return st.st_size;
}

namespace detail {

// The temporary being written and the target it will replace, held locked meanwhile.
struct PendingReplacement {
    std::string path;
    std::string temp;
    int fd = -1;
    int target = -1;
};

PendingReplacement* BeginReplacement(const std::string& path, NewFileAccess access,
                                     ReplaceError* error) {
    static std::atomic<unsigned> counter{0};
    SweepDirectoryOnce(DirectoryOf(path));
    // The target as it is: its permissions and owner carry over, and one that someone holds
    // open without sharing keeps its content. A link is replaced, not followed.
    struct stat old {};
    const int target = OpenRegular(path, O_RDONLY | O_NOFOLLOW, 0, &old);
    if (target < 0 && errno != ENOENT && errno != ELOOP) {
        *error = FailureOf(errno);
        return nullptr;
    }
    if (target >= 0 && !LockExclusive(target)) {
        ::close(target);
        *error = ReplaceError::Failed;
        return nullptr;
    }
    // A fresh name nobody prepared: never follow or reuse what is already there. The temporary
    // is locked while written, so the stale-temporary sweep can tell it is in use. It is
    // private until given the target's permissions, and a new private file stays so.
    const mode_t created = target < 0 && access == NewFileAccess::Shared ? 0644 : 0600;
    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
        temp = TemporaryName(path, static_cast<std::uint64_t>(getpid()), counter.fetch_add(1));
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, created);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        *error = FailureOf(errno);
        if (target >= 0) {
            ::close(target);
        }
        return nullptr;
    }
    LockExclusive(fd);
    auto* pending = new PendingReplacement{path, std::move(temp), fd, target};
    if (target >= 0) {
        // Only root may give the file back to its owner; for anyone else it already is theirs.
        if (geteuid() == 0) {
            (void)!fchown(fd, old.st_uid, old.st_gid);
        }
        if (fchmod(fd, old.st_mode & 07777) != 0) {
            *error = FailureOf(errno);
            DiscardReplacement(pending);
            return nullptr;
        }
    }
    return pending;
}

ReplaceError AppendReplacement(PendingReplacement& pending, const char* data, std::size_t size) {
    return WriteAllFd(pending.fd, data, size) ? ReplaceError::None : FailureOf(errno);
}

ReplaceError FinishReplacement(PendingReplacement* pending) {
    bool ok = fsync(pending->fd) == 0;
    int err = errno;
    if (::close(pending->fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    pending->fd = -1;
    if (ok && ::rename(pending->temp.c_str(), pending->path.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    const std::string dir = DirectoryOf(pending->path);
    if (!ok) {
        DiscardReplacement(pending);
        return FailureOf(err);
    }
    if (pending->target >= 0) {
        ::close(pending->target);
    }
    delete pending;
    // Make the rename itself durable.
    const int dirFd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        ::close(dirFd);
    }
    return ReplaceError::None;
}

void DiscardReplacement(PendingReplacement* pending) {
    if (pending->fd >= 0) {
        ::close(pending->fd);
    }
    ::unlink(pending->temp.c_str());
    if (pending->target >= 0) {
        ::close(pending->target);
    }
    delete pending;
}

}  // namespace detail

std::size_t RemoveStaleTemporaries(const std::string& dir) {
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (d == nullptr) {
        return 0;
    }
    const int dfd = dirfd(d);
    std::size_t removed = 0;
    while (struct dirent* e = ::readdir(d)) {
        const std::uint64_t owner = detail::TemporaryOwner(e->d_name);
        if (owner == 0 || ProcessAlive(owner)) {
            continue;
        }
        // A writer holds its temporary locked; a file held by anyone is left alone.
        const int fd = ::openat(dfd, e->d_name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        struct stat st {};
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && LockExclusive(fd) &&
            ::unlinkat(dfd, e->d_name, 0) == 0) {
            ++removed;
        }
        ::close(fd);
    }
    ::closedir(d);
    return removed;
}

bool DeleteFileAt(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
        return false;
    }
    // Windows refuses to delete a file another process holds open without sharing.
    int fd = S_ISREG(st.st_mode) ? OpenRegular(path, O_RDONLY | O_NOFOLLOW) : -1;
    if (fd >= 0 && !LockExclusive(fd)) {
        ::close(fd);
        return false;
    }
    bool ok = ::unlink(path.c_str()) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return ok;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

bool CreateDirectories(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    std::string partial;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            if (!partial.empty() && partial != "/") {
                if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) {
                    return false;
                }
            }
        }
        if (i < path.size()) {
            partial.push_back(path[i]);
        }
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

// The listing's view of one name of an open directory: false for anything but a regular
// file (a link is no log, whatever it points to).
bool StatAt(int dfd, const char* name, DirEntry* entry) {
    struct stat st {};
    if (fstatat(dfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    entry->name = name;
    entry->size = static_cast<std::uint64_t>(st.st_size);
    entry->mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    entry->fileId =
        static_cast<std::uint64_t>(st.st_ino) ^ (static_cast<std::uint64_t>(st.st_dev) << 48);
    return true;
}

}  // namespace

bool ListDirectory(const std::string& dir, std::vector<DirEntry>* out) {
    out->clear();
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (d == nullptr) {
        return false;
    }
    int dfd = dirfd(d);
    DirEntry entry;
    while (struct dirent* e = ::readdir(d)) {
        if (StatAt(dfd, e->d_name, &entry)) {
            out->push_back(std::move(entry));
        }
    }
    ::closedir(d);
    detail::SortListing(out);
    return true;
}

bool StatDirEntry(const std::string& dir, const std::string& name, DirEntry* out) {
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
        return false;
    }
    std::string path = dir.empty() ? std::string("./") : dir;
    if (path.back() != '/') {
        path += '/';
    }
    path += name;
    if (!StatAt(AT_FDCWD, path.c_str(), out)) {
        return false;
    }
    out->name = name;
    return true;
}

std::string AppendPath(const std::string& base, std::string_view literal) {
    std::string tail(literal);
    std::replace(tail.begin(), tail.end(), '\\', '/');
    std::string out = base;
    if (!out.empty() && out.back() == '/' && !tail.empty() && tail.front() == '/') {
        out.pop_back();
    }
    out += tail;
    // Collapse doubled separators the joint or the literal may hold ("Logs//x").
    std::string clean;
    clean.reserve(out.size());
    for (char c : out) {
        if (c == '/' && !clean.empty() && clean.back() == '/') {
            continue;
        }
        clean.push_back(c);
    }
    return clean;
}

std::string DirectoryOf(const std::string& path) {
    std::size_t cut = path.find_last_of('/');
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

}  // namespace platform
