// Windows files: CreateFileA with the real share modes, so a file held open without sharing
// cannot be opened, replaced or deleted meanwhile; replacement writes a temporary beside the
// target and moves it over (MoveFileExA), which fails, leaving the target intact, while the
// target is held open. Listings go through FindFirstFileA and the portable wildcard
// matcher, so the same names match on every platform. A reparse point (a symbolic link or
// junction) is neither listed nor opened: the logs' folder is written by another program, and
// a link there must not make the service read a file it points to. Failures come back as
// false / null.
#include <windows.h>

#include <algorithm>
#include <atomic>

#include "platform/dir_watch.h"
#include "platform/files.h"
#include "platform/files_backend.h"
#include "platform/wildcard.h"

namespace platform {

const char kPathSeparator = '\\';

namespace {

HANDLE AsHandle(std::intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}

DWORD ShareFlags(ShareMode share) {
    return share == ShareMode::None ? 0 : (FILE_SHARE_READ | FILE_SHARE_WRITE);
}

bool WriteAllHandle(HANDLE h, const char* data, std::size_t size) {
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(h, data, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// FILETIME counts 100 ns steps since 1601-01-01; the epoch is 11644473600 s later.
std::int64_t UnixNanoseconds(const FILETIME& ft) {
    const std::uint64_t ticks =
        (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    constexpr std::int64_t kEpochTicks = 116444736000000000LL;
    return (static_cast<std::int64_t>(ticks) - kEpochTicks) * 100;
}

}  // namespace

File::~File() {
    if (AsHandle(handle_) != INVALID_HANDLE_VALUE && handle_ != 0) {
        ::CloseHandle(AsHandle(handle_));
    }
}

std::unique_ptr<File> File::Open(const std::string& path, OpenMode mode, ShareMode share) {
    const bool read = mode == OpenMode::Read;
    // The reparse point itself is opened, not what it points to, so it can be refused below;
    // a file to write is truncated only once it is known to be a plain file.
    HANDLE h = ::CreateFileA(path.c_str(), read ? GENERIC_READ : GENERIC_WRITE, ShareFlags(share),
                             nullptr, read ? OPEN_EXISTING : OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    // CreateFileA returns at once for a pipe or device (a busy pipe fails with
    // ERROR_PIPE_BUSY); anything that is not a plain disk file is refused here, never read.
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
        (!read && !::SetEndOfFile(h))) {
        ::CloseHandle(h);
        return nullptr;
    }
    return std::unique_ptr<File>(new File(reinterpret_cast<std::intptr_t>(h)));
}

std::int64_t File::Read(void* buffer, std::size_t size) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    DWORD got = 0;
    if (!::ReadFile(AsHandle(handle_), buffer, chunk, &got, nullptr)) {
        return -1;
    }
    return got;
}

bool File::Write(const void* data, std::size_t size) {
    return WriteAllHandle(AsHandle(handle_), static_cast<const char*>(data), size);
}

bool File::Rewind() {
    LARGE_INTEGER start{};
    return ::SetFilePointerEx(AsHandle(handle_), start, nullptr, FILE_BEGIN) != 0;
}

bool File::Seek(std::uint64_t offset) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) {
        return false;
    }
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    return ::SetFilePointerEx(AsHandle(handle_), at, nullptr, FILE_BEGIN) != 0;
}

std::uint64_t File::Id() {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(AsHandle(handle_), &info)) {
        return 0;
    }
    return ((static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow) ^
           (static_cast<std::uint64_t>(info.dwVolumeSerialNumber) << 48);
}

std::int64_t File::Size() {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(AsHandle(handle_), &size)) {
        return -1;
    }
    return size.QuadPart;
}

namespace detail {

// The temporary being written, held without sharing so the stale-temporary sweep cannot
// delete it meanwhile.
struct PendingReplacement {
    std::string path;
    std::string temp;
    HANDLE handle = INVALID_HANDLE_VALUE;
};

namespace {

ReplaceError LastFailure() {
    return ::GetLastError() == ERROR_ACCESS_DENIED ? ReplaceError::AccessDenied
                                                   : ReplaceError::Failed;
}

}  // namespace

PendingReplacement* BeginReplacement(const std::string& path, NewFileAccess, ReplaceError* error) {
    static std::atomic<unsigned> counter{0};
    SweepDirectoryOnce(DirectoryOf(path));
    // A pipe or device at the target is refused like a file that cannot be opened.
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
        *error = ReplaceError::Failed;
        return nullptr;
    }
    const std::string temp = TemporaryName(path, ::GetCurrentProcessId(), counter.fetch_add(1));
    HANDLE h = ::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *error = LastFailure();
        return nullptr;
    }
    return new PendingReplacement{path, temp, h};
}

ReplaceError AppendReplacement(PendingReplacement& pending, const char* data, std::size_t size) {
    return WriteAllHandle(pending.handle, data, size) ? ReplaceError::None : LastFailure();
}

ReplaceError FinishReplacement(PendingReplacement* pending) {
    bool ok = ::FlushFileBuffers(pending->handle) != 0;
    ok = ::CloseHandle(pending->handle) && ok;
    pending->handle = INVALID_HANDLE_VALUE;
    // MoveFileEx fails while someone holds the target open without delete sharing; the
    // target then keeps its content.
    if (!ok || !::MoveFileExA(pending->temp.c_str(), pending->path.c_str(),
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const ReplaceError error = LastFailure();
        DiscardReplacement(pending);
        return error;
    }
    delete pending;
    return ReplaceError::None;
}

void DiscardReplacement(PendingReplacement* pending) {
    if (pending->handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(pending->handle);
    }
    ::DeleteFileA(pending->temp.c_str());
    delete pending;
}

}  // namespace detail

std::size_t RemoveStaleTemporaries(const std::string& dir) {
    std::string pattern = dir;
    if (!pattern.empty() && !IsSeparator(pattern.back()) && pattern.back() != ':') {
        pattern.push_back('\\');
    }
    const std::string prefix = pattern;
    pattern += "*.tmp*";
    WIN32_FIND_DATAA data{};
    HANDLE find = ::FindFirstFileA(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return 0;
    }
    std::size_t removed = 0;
    do {
        const std::uint64_t owner = detail::TemporaryOwner(data.cFileName);
        if (owner == 0 || owner > 0xffffffffu ||
            (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            continue;
        }
        HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(owner));
        const bool alive = process != nullptr ? ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT
                                              : ::GetLastError() == ERROR_ACCESS_DENIED;
        if (process != nullptr) {
            ::CloseHandle(process);
        }
        // A living owner, or one that still has the file open (no sharing), keeps it.
        if (!alive && ::DeleteFileA((prefix + data.cFileName).c_str())) {
            ++removed;
        }
    } while (::FindNextFileA(find, &data));
    ::FindClose(find);
    return removed;
}

bool DeleteFileAt(const std::string& path) {
    return ::DeleteFileA(path.c_str()) != 0;
}

bool FileExists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool CreateDirectories(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    // Skip what cannot be created: a drive ("C:\") or a share ("\\server\share\").
    std::size_t start = 0;
    if (path.size() >= 2 && path[1] == ':') {
        start = 2;
    } else if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        int separators = 0;
        start = 2;
        while (start < path.size() && separators < 2) {
            if (IsSeparator(path[start]) && ++separators == 2) {
                break;
            }
            ++start;
        }
    }
    for (std::size_t i = start; i <= path.size(); ++i) {
        if (i == path.size() || IsSeparator(path[i])) {
            const std::string partial = path.substr(0, i);
            if (i > start && !partial.empty() && !IsSeparator(partial.back()) &&
                !::CreateDirectoryA(partial.c_str(), nullptr) &&
                ::GetLastError() != ERROR_ALREADY_EXISTS) {
                return false;
            }
        }
    }
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ListDirectory(const std::string& dir, std::vector<DirEntry>* out) {
    out->clear();
    std::string pattern = dir;
    if (!pattern.empty() && !IsSeparator(pattern.back()) && pattern.back() != ':') {
        pattern.push_back('\\');
    }
    pattern.push_back('*');
    WIN32_FIND_DATAA data{};
    HANDLE find = ::FindFirstFileA(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        // Only a drive's root can be empty of even "." and ".."; anything else is a directory
        // that is missing or cannot be read.
        return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    do {
        if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) !=
            0) {
            continue;  // a link is no log, whatever it points to
        }
        DirEntry entry;
        entry.name = data.cFileName;
        entry.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        entry.mtimeNs = UnixNanoseconds(data.ftLastWriteTime);
        entry.fileId = 0;  // would need every file opened
        out->push_back(std::move(entry));
    } while (::FindNextFileA(find, &data));
    ::FindClose(find);
    detail::SortListing(out);
    return true;
}

bool StatDirEntry(const std::string& dir, const std::string& name, DirEntry* out) {
    // A wildcard or separator would make the search find other names than this one.
    if (name.empty() || name.find_first_of("*?\\/:") != std::string::npos) {
        return false;
    }
    std::string path = dir;
    if (!path.empty() && !IsSeparator(path.back()) && path.back() != ':') {
        path.push_back('\\');
    }
    path += name;
    WIN32_FIND_DATAA data{};
    HANDLE find = ::FindFirstFileA(path.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return false;
    }
    ::FindClose(find);
    // A search by a short name alias finds the file under its long name: not this name.
    if (name != data.cFileName ||
        (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        return false;
    }
    out->name = name;
    out->size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    out->mtimeNs = UnixNanoseconds(data.ftLastWriteTime);
    out->fileId = 0;  // as the listing gives it
    return true;
}

// Plain concatenation, exactly as the literals are written; Windows accepts the doubled
// separator some literals give.
std::string AppendPath(const std::string& base, std::string_view literal) {
    return base + std::string(literal);
}

std::string DirectoryOf(const std::string& path) {
    const std::size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

}  // namespace platform
