// Folders as units of their own (made private, listed, renamed whole, removed whole) and the
// lock that lets one process at a time work in a folder. A folder's rename is what makes a
// set of files appear at once: a reader sees all of them or none. Every call reports failure
// by its result; nothing throws.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// Creates path (and its parents) when absent. On POSIX the last folder is made, or made
// again, its owner's alone (0700), like the registry file that holds the secrets; on Windows
// it inherits the access of its parent. False when it is not a folder afterwards.
bool CreatePrivateFolder(const std::string& path);

// The folders directly inside dir, in case-insensitive name order; links are not listed.
// False when dir cannot be read.
bool ListFolders(const std::string& dir, std::vector<std::string>* names);

// Renames a file or folder; never replaces an existing target. False when it did not move.
bool MovePath(const std::string& from, const std::string& to);

// Removes a folder with its files and folders, at most a few levels deep; links inside are
// removed, never followed. False when anything is left.
bool RemoveFolder(const std::string& path);

// This process's id, and whether a process of that id is running.
std::uint64_t CurrentProcessId();
bool ProcessRunning(std::uint64_t pid);

// An exclusive lock held while the object lives, through a lock file at path. The system
// releases it when the process ends however it ends, so a crash never leaves it held.
class FolderLock {
  public:
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Null when another process (or another lock object) holds it, or the file cannot be
    // made. Never waits.
    static std::unique_ptr<FolderLock> TryAcquire(const std::string& path);

  private:
    explicit FolderLock(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_;
};

}  // namespace platform
