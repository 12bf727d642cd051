// Files, directory search and deletion. Paths are the system's own text; on Windows the
// share modes are the real ones, elsewhere "no sharing" is an exclusive advisory lock that
// makes a second such opener fail, as a Windows sharing violation would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class ShareMode {
    None,       // no other opener while open (the proxy's logs, the summary files)
    ReadWrite,  // others may read and write meanwhile (logip.log)
};

enum class OpenMode {
    Read,           // existing file, read only
    WriteTruncate,  // created if absent, truncated if present
};

class File {
  public:
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Null when the file cannot be opened (absent, locked, no access, not a regular file, a
    // symbolic link or other reparse point). Opening never blocks: a FIFO or device at path
    // is refused at once.
    static std::unique_ptr<File> Open(const std::string& path, OpenMode mode, ShareMode share);

    // Bytes read, 0 at the end, -1 on error.
    std::int64_t Read(void* buffer, std::size_t size);
    // False unless every byte was written.
    bool Write(const void* data, std::size_t size);
    // Current length in bytes, -1 on error.
    std::int64_t Size();
    // Back to the first byte, so a reader can make a second pass under the same lock.
    bool Rewind();
    // To the given byte, so a reader can go on where an earlier read of the file ended.
    bool Seek(std::uint64_t offset);
    // The file's identity as a listing gives it on POSIX (inode and device) and as its file
    // index gives it on Windows; 0 when unknown.
    std::uint64_t Id();

  private:
    explicit File(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_;
};

// Reads a whole file, opened with the given share mode. Fails when it cannot be opened or
// read, or holds more than maxBytes.
bool ReadFileBytes(const std::string& path, ShareMode share, std::string* out,
                   std::uint64_t maxBytes = UINT64_MAX);

// Writes a whole file atomically: the bytes go to a temporary beside it ("<path>.tmp<pid>_<n>")
// which then replaces it. Fails, leaving the old file as it was, when the target is held open
// without sharing, is not a regular file, or anything goes wrong on the way. On POSIX the
// temporary is always a fresh file (never reached through a link), the target's permissions
// and, for root, its owner are kept, and the directory is synced so the rename is durable.
// The first write into a directory removes the stale temporaries there.
bool ReplaceFileBytes(const std::string& path, std::string_view bytes);

enum class ReplaceError { None, AccessDenied, Failed };

// Who may read a file that a replacement creates (an existing target keeps its own
// permissions). On POSIX: Shared is 0644, OwnerOnly 0600 (less what the umask takes), the
// temporary included; on Windows the directory's inherited access applies either way.
enum class NewFileAccess { Shared, OwnerOnly };

// ReplaceFileBytes telling why it failed.
ReplaceError ReplaceFileReporting(const std::string& path, std::string_view bytes,
                                  NewFileAccess access = NewFileAccess::Shared);

namespace detail {
struct PendingReplacement;  // the backend's temporary and what it holds of the target
}

// ReplaceFileBytes for content of any size: written piece by piece into the temporary, which
// replaces the target at Commit, with the same guarantees. Until then the target is as it
// was; an uncommitted replacement (abandoned, failed or destroyed) removes its temporary.
// The target is checked, and on POSIX locked, at construction, so a held target fails early.
class FileReplacement {
  public:
    enum class Mode {
        Binary,
        Text,  // each LF is written as CR LF (see ToTextMode)
    };
    explicit FileReplacement(const std::string& path, Mode mode = Mode::Binary,
                             NewFileAccess access = NewFileAccess::Shared);
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // False once anything went wrong (the temporary could not be made, a write failed); the
    // replacement then fails and later writes are ignored.
    bool Good() const { return error_ == ReplaceError::None && pending_ != nullptr; }
    bool Write(std::string_view bytes);
    // Puts the written bytes in place of the target. Once only; afterwards nothing is pending.
    ReplaceError Commit();
    // Gives up: the temporary goes, the target stays as it was.
    void Abandon();

  private:
    bool Flush();
    bool Fail(ReplaceError error);

    detail::PendingReplacement* pending_ = nullptr;
    Mode mode_;
    ReplaceError error_ = ReplaceError::None;
    std::string buffer_;  // small pieces are gathered, so a record costs no system call
};

// Removes the temporaries ReplaceFileBytes leaves when killed mid-write from dir: only names
// of exactly its form whose process is gone and that nobody holds open. Returns how many.
std::size_t RemoveStaleTemporaries(const std::string& dir);

bool DeleteFileAt(const std::string& path);
bool FileExists(const std::string& path);
bool CreateDirectories(const std::string& path);

struct DirEntry {
    std::string name;
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0;  // modification time, nanoseconds since the epoch
    std::uint64_t fileId = 0;  // identity of the file (inode or file index), 0 if unknown
};

// The order of a listing: case-insensitive, names that differ only in case by their bytes.
bool ListedBefore(std::string_view a, std::string_view b);

// Regular files of a directory, in case-insensitive name order; links (reparse points) are
// not listed. False if it can't be read.
bool ListDirectory(const std::string& dir, std::vector<DirEntry>* out);

// A directory search as FindFirstFileA/FindNextFileA with the pattern in the last component
// of patternPath: names of the matching regular files (not links), in case-insensitive order.
std::vector<std::string> FindFiles(const std::string& patternPath);

// Path separator of the platform and the builder of every path the system forms. On Windows
// this is plain concatenation of the base and the literal, exactly as the literals are
// written ("\\Logs\\brisko.001"). Elsewhere backslashes in the literal become '/' and a
// doubled separator at the joint is dropped, so paths are ordinary POSIX paths.
extern const char kPathSeparator;
std::string AppendPath(const std::string& base, std::string_view literal);

// Directory part of a path (up to and including its last separator).
std::string DirectoryOf(const std::string& path);

}  // namespace platform
