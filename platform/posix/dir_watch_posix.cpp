// The directory watch on inotify: one instance and one watch per directory, read without
// blocking when asked. Per-write events (IN_MODIFY) are left out on purpose: a proxy appending
// to a thousand logs between two looks would overflow the queue every time, while the close
// after writing (IN_CLOSE_WRITE) comes once per writer. The directory's identity is checked
// at every look, so one replaced under the same path is noticed even when no event says so.
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/dir_watch.h"

namespace platform {

namespace {

constexpr std::uint32_t kEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                  IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF |
                                  IN_ONLYDIR;

// File systems whose changes may come from other machines, which inotify never hears of.
bool IsShared(const std::string& dir) {
    struct statfs fs {};
    if (::statfs(dir.empty() ? "." : dir.c_str(), &fs) != 0) {
        return true;  // unknown: not to be trusted
    }
    switch (static_cast<unsigned long>(fs.f_type)) {
        case 0x6969UL:      // NFS
        case 0x517BUL:      // SMB
        case 0xFF534D42UL:  // CIFS
        case 0xFE534D42UL:  // SMB2
        case 0x65735546UL:  // FUSE
        case 0x01021997UL:  // 9P
        case 0x00C36400UL:  // Ceph
        case 0x47504653UL:  // GPFS
            return true;
        default:
            return false;
    }
}

bool Identity(const std::string& dir, struct stat* st) {
    return ::stat(dir.empty() ? "." : dir.c_str(), st) == 0 && S_ISDIR(st->st_mode);
}

class InotifyWatch final : public DirWatch {
  public:
    InotifyWatch(int fd, std::string dir, const struct stat& st)
        : fd_(fd), dir_(std::move(dir)), dev_(st.st_dev), ino_(st.st_ino) {}
    ~InotifyWatch() override { ::close(fd_); }

    bool Take(std::vector<std::string>* names, std::string* reason) override {
        if (spent_) {
            *reason = reason_;
            return false;
        }
        // Aligned for the event headers the kernel writes into it.
        alignas(struct inotify_event) char buffer[16384];
        for (;;) {
            const ssize_t got = ::read(fd_, buffer, sizeof buffer);
            if (got < 0) {
                if (errno == EINTR) {
                    continue;
                }
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    break;
                }
                return Spend(std::string("the change notifications could not be read: ") +
                                 std::strerror(errno),
                             reason);
            }
            if (got == 0) {
                break;
            }
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
                if ((event->mask & IN_Q_OVERFLOW) != 0) {
                    return Spend("the change notifications overflowed", reason);
                }
                if ((event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT)) !=
                    0) {
                    return Spend("the log folder was removed, moved or replaced", reason);
                }
                if (event->len != 0) {
                    names->emplace_back(event->name);  // NUL-padded by the kernel
                }
            }
        }
        struct stat st {};
        if (!Identity(dir_, &st) || st.st_dev != dev_ || st.st_ino != ino_) {
            return Spend("the log folder was removed, moved or replaced", reason);
        }
        return true;
    }

  private:
    bool Spend(std::string why, std::string* reason) {
        spent_ = true;
        reason_ = std::move(why);
        *reason = reason_;
        return false;
    }

    int fd_;
    std::string dir_;
    dev_t dev_;
    ino_t ino_;
    bool spent_ = false;
    std::string reason_;
};

}  // namespace

std::unique_ptr<DirWatch> WatchDirectory(const std::string& dir, std::string* reason) {
    struct stat st {};
    if (!Identity(dir, &st)) {
        *reason = "the log folder cannot be examined";
        return nullptr;
    }
    if (IsShared(dir)) {
        *reason =
            "no change notifications: the log folder is on a network or user-space "
            "file system";
        return nullptr;
    }
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) {
        *reason = std::string("no change notifications: ") + std::strerror(errno);
        return nullptr;
    }
    if (::inotify_add_watch(fd, dir.empty() ? "." : dir.c_str(), kEvents) < 0) {
        const int error = errno;
        ::close(fd);
        *reason = error == ENOSPC ? std::string("no change notifications: no watches left")
                                  : std::string("no change notifications for the log folder: ") +
                                        std::strerror(error);
        return nullptr;
    }
    // The watch must be on the directory examined: one swapped in between is caught at the
    // first look, by its identity.
    return std::make_unique<InotifyWatch>(fd, dir, st);
}

}  // namespace platform
