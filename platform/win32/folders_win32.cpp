// Windows folders: the private folder inherits its parent's access; MoveFileExA without
// replacement moves a folder whole; the folder lock is a lock file opened without sharing and
// deleted on close, so the system releases it with the process.
#include <windows.h>

#include <algorithm>

#include "platform/files.h"
#include "platform/folders.h"
#include "platform/nocase.h"

namespace platform {

namespace {

constexpr int kMaxRemoveDepth = 4;

std::string Joined(const std::string& dir, const std::string& name) {
    if (!dir.empty() && dir.back() != '\\' && dir.back() != '/') {
        return dir + "\\" + name;
    }
    return dir + name;
}

// Calls visit for every entry of dir but "." and ".."; false when dir cannot be read.
template <typename Visit>
bool ForEachEntry(const std::string& dir, Visit visit) {
    WIN32_FIND_DATAA data{};
    HANDLE find = ::FindFirstFileA(Joined(dir, "*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return false;
    }
    do {
        const std::string name = data.cFileName;
        if (name != "." && name != "..") {
            visit(name, data.dwFileAttributes);
        }
    } while (::FindNextFileA(find, &data));
    ::FindClose(find);
    return true;
}

bool RemoveTree(const std::string& path, int depth) {
    bool ok = true;
    const bool listed = ForEachEntry(path, [&](const std::string& name, DWORD attributes) {
        const std::string child = Joined(path, name);
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            // A link is removed as the link, never entered.
            ok = ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? ::RemoveDirectoryA(child.c_str())
                                                               : ::DeleteFileA(child.c_str())) &&
                 ok;
        } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            ok = depth < kMaxRemoveDepth && RemoveTree(child, depth + 1) && ok;
        } else {
            ok = ::DeleteFileA(child.c_str()) && ok;
        }
    });
    return listed && ::RemoveDirectoryA(path.c_str()) && ok;
}

}  // namespace

bool CreatePrivateFolder(const std::string& path) {
    return CreateDirectories(path);
}

bool ListFolders(const std::string& dir, std::vector<std::string>* names) {
    names->clear();
    const bool listed = ForEachEntry(dir, [&](const std::string& name, DWORD attributes) {
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            names->push_back(name);
        }
    });
    std::sort(names->begin(), names->end(), [](const std::string& a, const std::string& b) {
        const int c = CompareNoCase(a, b);
        return c != 0 ? c < 0 : a < b;
    });
    return listed;
}

bool MovePath(const std::string& from, const std::string& to) {
    return ::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

bool RemoveFolder(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return false;
    }
    return RemoveTree(path, 0);
}

std::uint64_t CurrentProcessId() {
    return ::GetCurrentProcessId();
}

bool ProcessRunning(std::uint64_t pid) {
    if (pid == 0 || pid > 0xFFFFFFFFu) {
        return false;
    }
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) {
        return ::GetLastError() == ERROR_ACCESS_DENIED;
    }
    const bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    ::CloseHandle(process);
    return running;
}

FolderLock::~FolderLock() {
    ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::unique_ptr<FolderLock> FolderLock::TryAcquire(const std::string& path) {
    HANDLE h =
        ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    return std::unique_ptr<FolderLock>(new FolderLock(reinterpret_cast<std::intptr_t>(h)));
}

}  // namespace platform
