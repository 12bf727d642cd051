// The directory watch on ReadDirectoryChangesW: one overlapped read kept pending on the
// directory, collected without waiting when asked and then issued again, so the system
// records changes between two looks into the buffer of the read. A completed read of zero
// bytes or ERROR_NOTIFY_ENUM_DIR means the system's buffer overflowed and changes were lost.
// The directory's identity is checked at every look: a handle follows its directory when it
// is renamed, so one replaced under the same path would otherwise go unnoticed.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/dir_watch.h"

namespace platform {

namespace {

constexpr DWORD kFilter =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;
constexpr DWORD kBufferBytes = 64 * 1024;  // the largest a network redirector accepts
// How long a look waits for notifications still on their way after the directory's names
// changed (its last-write time moved): where they are delivered by another process, as under
// an emulation, a change made just before the look would otherwise be seen one look late.
constexpr DWORD kSettleMs = 50;

struct DirId {
    DWORD volume = 0;
    DWORD high = 0;
    DWORD low = 0;
    bool operator==(const DirId&) const = default;
};

std::uint64_t LastWriteOf(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h, &info)) {
        return 0;
    }
    return (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
           info.ftLastWriteTime.dwLowDateTime;
}

HANDLE OpenDirectory(const std::string& dir, DWORD access, DWORD flags) {
    return ::CreateFileA(dir.empty() ? "." : dir.c_str(), access,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
}

bool IdentityOf(HANDLE h, DirId* id) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return false;
    }
    *id = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return true;
}

bool IdentityOf(const std::string& dir, DirId* id) {
    HANDLE h = OpenDirectory(dir, 0, 0);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool known = IdentityOf(h, id);
    ::CloseHandle(h);
    return known;
}

// A network drive or a UNC path: changes made by other machines may never be reported.
bool IsRemote(const std::string& dir) {
    char full[MAX_PATH * 2];
    const DWORD n = ::GetFullPathNameA(dir.empty() ? "." : dir.c_str(), sizeof full, full, nullptr);
    if (n == 0 || n >= sizeof full) {
        return true;
    }
    if ((full[0] == '\\' || full[0] == '/') && (full[1] == '\\' || full[1] == '/')) {
        return true;
    }
    const char root[4] = {full[0], ':', '\\', '\0'};
    return ::GetDriveTypeA(root) == DRIVE_REMOTE;
}

class ChangesWatch final : public DirWatch {
  public:
    ChangesWatch(HANDLE dir, HANDLE event, std::string path, DirId id)
        : dir_(dir),
          event_(event),
          path_(std::move(path)),
          id_(id),
          buffer_(new DWORD[kBufferBytes / sizeof(DWORD)]),
          lastWrite_(LastWriteOf(dir)) {}
    ~ChangesWatch() override {
        if (pending_) {
            ::CancelIo(dir_);
            DWORD ignored = 0;
            ::GetOverlappedResult(dir_, &overlapped_, &ignored, TRUE);
        }
        ::CloseHandle(dir_);
        ::CloseHandle(event_);
        delete[] buffer_;
    }

    // Issues the read that collects changes until the next look.
    bool Arm() {
        std::memset(&overlapped_, 0, sizeof overlapped_);
        overlapped_.hEvent = event_;
        pending_ = ::ReadDirectoryChangesW(dir_, buffer_, kBufferBytes, FALSE, kFilter, nullptr,
                                           &overlapped_, nullptr) != 0;
        return pending_;
    }

    bool Take(std::vector<std::string>* names, std::string* reason) override {
        if (spent_) {
            *reason = reason_;
            return false;
        }
        const std::uint64_t lastWrite = LastWriteOf(dir_);
        const bool namesChanged = lastWrite != lastWrite_;
        lastWrite_ = lastWrite;
        for (;;) {
            // Waiting (if only for no time) lets a completion that is due be delivered.
            ::WaitForSingleObject(event_, namesChanged ? kSettleMs : 0);
            DWORD bytes = 0;
            if (!::GetOverlappedResult(dir_, &overlapped_, &bytes, FALSE)) {
                const DWORD error = ::GetLastError();
                if (error == ERROR_IO_INCOMPLETE) {
                    break;  // nothing more for now; the read stays pending
                }
                pending_ = false;
                return Spend(error == ERROR_NOTIFY_ENUM_DIR
                                 ? "the change notifications overflowed"
                                 : "the change notifications could not be read (error " +
                                       std::to_string(error) + ")",
                             reason);
            }
            pending_ = false;
            if (bytes == 0) {
                return Spend("the change notifications overflowed (a lost buffer)", reason);
            }
            if (!Collect(bytes, names)) {
                return Spend("a changed name is malformed or not in the system's code page",
                             reason);
            }
            if (!Arm()) {
                return Spend("the change notifications could not be renewed", reason);
            }
        }
        DirId now;
        if (!IdentityOf(path_, &now) || !(now == id_)) {
            return Spend("the log folder was removed, moved or replaced", reason);
        }
        return true;
    }

  private:
    // The names of one completed read, in the code page every other path of the system is in.
    bool Collect(DWORD bytes, std::vector<std::string>* names) {
        const auto* base = reinterpret_cast<const unsigned char*>(buffer_);
        DWORD at = 0;
        for (;;) {
            if (at + offsetof(FILE_NOTIFY_INFORMATION, FileName) > bytes) {
                return false;
            }
            const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(base + at);
            const int units = static_cast<int>(info->FileNameLength / sizeof(WCHAR));
            if (at + offsetof(FILE_NOTIFY_INFORMATION, FileName) + info->FileNameLength > bytes) {
                return false;
            }
            if (units > 0) {
                BOOL lossy = FALSE;
                const int n = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, info->FileName,
                                                    units, nullptr, 0, nullptr, &lossy);
                if (n <= 0 || lossy) {
                    return false;
                }
                std::string name(static_cast<std::size_t>(n), '\0');
                ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, info->FileName, units,
                                      name.data(), n, nullptr, &lossy);
                names->push_back(std::move(name));
            }
            if (info->NextEntryOffset == 0) {
                return true;
            }
            at += info->NextEntryOffset;
        }
    }

    bool Spend(std::string why, std::string* reason) {
        spent_ = true;
        reason_ = std::move(why);
        *reason = reason_;
        return false;
    }

    HANDLE dir_;
    HANDLE event_;
    std::string path_;
    DirId id_;
    DWORD* buffer_;  // DWORD-aligned, as the notifications require
    OVERLAPPED overlapped_{};
    std::uint64_t lastWrite_;  // the directory's, at the last look
    bool pending_ = false;
    bool spent_ = false;
    std::string reason_;
};

}  // namespace

std::unique_ptr<DirWatch> WatchDirectory(const std::string& dir, std::string* reason) {
    if (IsRemote(dir)) {
        *reason = "no change notifications: the log folder is on a network share";
        return nullptr;
    }
    HANDLE h = OpenDirectory(dir, FILE_LIST_DIRECTORY, FILE_FLAG_OVERLAPPED);
    if (h == INVALID_HANDLE_VALUE) {
        *reason = "the log folder cannot be opened for change notifications (error " +
                  std::to_string(::GetLastError()) + ")";
        return nullptr;
    }
    DirId id;
    if (!IdentityOf(h, &id)) {
        ::CloseHandle(h);
        *reason = "the log folder cannot be examined";
        return nullptr;
    }
    HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) {
        ::CloseHandle(h);
        *reason = "no change notifications: no event for them";
        return nullptr;
    }
    auto watch = std::make_unique<ChangesWatch>(h, event, dir, id);
    if (!watch->Arm()) {
        *reason = "no change notifications for the log folder (error " +
                  std::to_string(::GetLastError()) + ")";
        return nullptr;
    }
    return watch;
}

}  // namespace platform
