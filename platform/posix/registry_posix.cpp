// The registry on POSIX systems: one .reg text file (BRISKO_REGISTRY, else
// /etc/brisko/registry.reg). Every call looks at the file, so every process sees the others'
// changes, but the parsed tree is kept while the file's identity, size and times are
// unchanged, so an access costs a stat. Writers serialise on an flock'ed lock file beside it
// (waited for within a bound) and replace the file atomically, so readers need no lock and
// never see half a file. A file that does not parse is never rewritten: reads and writes then
// fail with ERROR_BADDB (1009) and RegistryFileError says why. Results are Windows error
// codes, as the real registry functions give.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "platform/files.h"
#include "platform/regfile.h"
#include "platform/registry.h"

namespace platform {
namespace {

constexpr long kErrorInvalidHandle = 6;
constexpr long kErrorBusy = 170;
constexpr long kErrorNoResources = 1450;
constexpr long kErrorBadDb = 1009;
constexpr long kErrorIoFailed = 1016;
constexpr long kErrorKeyDeleted = 1018;

constexpr char kDefaultRegistryFile[] = "/etc/brisko/registry.reg";
// A registry file larger than this is not believed to be one.
constexpr off_t kMaxFileBytes = 64 << 20;
// A writer that holds the lock longer than this is taken to be stuck.
constexpr auto kLockWait = std::chrono::seconds(10);

using Tree = std::shared_ptr<const regfile::Node>;

// What a RegKey points to: the key's path (root first) and whether it may be written.
struct KeyObject {
    std::vector<std::string> parts;
    bool writable = true;
};

KeyObject gLocalMachine{{"HKEY_LOCAL_MACHINE"}, true};
KeyObject gClassesRoot{{"HKEY_CLASSES_ROOT"}, true};

// Live handles, so that a closed or foreign handle is refused instead of dereferenced.
std::mutex gHandlesMutex;
std::unordered_set<KeyObject*> gHandles;

bool IsRootObject(const KeyObject* key) {
    return key == &gLocalMachine || key == &gClassesRoot;
}

KeyObject* Resolve(RegKey key) {
    auto* object = static_cast<KeyObject*>(key);
    if (IsRootObject(object)) {
        return object;
    }
    std::lock_guard<std::mutex> lock(gHandlesMutex);
    return gHandles.count(object) != 0 ? object : nullptr;
}

RegKey NewHandle(std::vector<std::string> parts, bool writable) {
    auto* object = new KeyObject{std::move(parts), writable};
    std::lock_guard<std::mutex> lock(gHandlesMutex);
    gHandles.insert(object);
    return object;
}

// The key path below an open key: empty components (doubled or trailing backslashes) are
// ignored. False for a name the file cannot hold, or a path deeper than it takes, which
// therefore cannot exist.
bool AppendSubKey(const std::string& subKey, std::vector<std::string>* parts) {
    std::size_t start = 0;
    while (start <= subKey.size()) {
        std::size_t end = subKey.find('\\', start);
        if (end == std::string::npos) {
            end = subKey.size();
        }
        if (end > start) {
            const std::string_view part(subKey.data() + start, end - start);
            if (!regfile::IsStorableKeyName(part) || parts->size() >= regfile::kMaxKeyDepth) {
                return false;
            }
            parts->emplace_back(part);
        }
        start = end + 1;
    }
    return true;
}

long ErrnoToCode(int err) {
    return (err == EACCES || err == EPERM || err == EROFS) ? kErrorAccessDenied : kErrorIoFailed;
}

std::string RegistryFile() {
    const char* path = std::getenv("BRISKO_REGISTRY");
    return (path != nullptr && *path != '\0') ? path : kDefaultRegistryFile;
}

// The file that is replaced: the target of a symbolic link rather than the link itself.
std::string WriteTarget(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char* real = realpath(path.c_str(), nullptr);
        if (real != nullptr) {
            std::string target(real);
            std::free(real);
            return target;
        }
    }
    return path;
}

// What tells one version of the file from another: a replacement is a new file.
struct Version {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    timespec mtime{};
    timespec ctime{};

    static Version Of(const struct stat& st) {
        return Version{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
    }
    bool operator==(const Version& o) const {
        return device == o.device && inode == o.inode && size == o.size &&
               mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec &&
               ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec;
    }
};

// The last file read, parsed, or why it could not be.
struct Cache {
    std::string path;
    Version version;
    long error = kErrorSuccess;
    std::string problem;
    Tree tree;
    bool settled = false;  // read long enough after its last change to be told apart
};

// A file changed in place within the file system's time granularity of the read could look
// unchanged afterwards; it is only kept once this much older than the read.
constexpr std::time_t kSettleSeconds = 2;

bool Settled(const Version& version) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec - version.mtime.tv_sec > kSettleSeconds &&
           now.tv_sec - version.ctime.tv_sec > kSettleSeconds;
}
std::mutex gCacheMutex;
Cache gCache;
std::string gLastProblem;

const Tree& EmptyTree() {
    static const Tree empty = std::make_shared<const regfile::Node>();
    return empty;
}

// Reads and parses the file; an absent file is an empty registry. *version is the version
// read, for keeping the result.
long Parse(const std::string& path, regfile::Node* top, Version* version, std::string* problem) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT ? kErrorSuccess : ErrnoToCode(errno);
    }
    std::string text;
    long result = kErrorSuccess;
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        result = ErrnoToCode(errno);
    } else if (!S_ISREG(st.st_mode)) {
        result = kErrorBadDb;
        *problem = path + ": not a regular file";
    } else if (st.st_size > kMaxFileBytes) {
        result = kErrorBadDb;
        *problem = path + ": larger than " + std::to_string(kMaxFileBytes) + " bytes";
    } else {
        *version = Version::Of(st);
        text.reserve(static_cast<std::size_t>(st.st_size));
        char buffer[65536];
        while (true) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
                continue;
            }
            if (n < 0) {
                result = ErrnoToCode(errno);
                break;
            }
            if (n == 0) {
                break;
            }
            text.append(buffer, static_cast<std::size_t>(n));
            if (text.size() > static_cast<std::size_t>(kMaxFileBytes)) {
                result = kErrorBadDb;
                *problem = path + ": larger than " + std::to_string(kMaxFileBytes) + " bytes";
                break;
            }
        }
    }
    close(fd);
    if (result != kErrorSuccess) {
        return result;
    }
    std::vector<regfile::Section> sections;
    regfile::ParseError error;
    if (!regfile::Parse(text, &sections, &error)) {
        *problem =
            path + (error.line > 0 ? ":" + std::to_string(error.line) : "") + ": " + error.message;
        return kErrorBadDb;
    }
    std::string().swap(text);
    regfile::Apply(sections, top);
    return kErrorSuccess;
}

void NoteProblem(const std::string& problem) {
    std::lock_guard<std::mutex> lock(gCacheMutex);
    gLastProblem = problem;
}

// The registry as it is now, shared with every other access while the file is unchanged.
long Read(Tree* out) {
    const std::string path = WriteTarget(RegistryFile());
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            return ErrnoToCode(errno);
        }
        *out = EmptyTree();
        NoteProblem({});
        return kErrorSuccess;
    }
    {
        std::lock_guard<std::mutex> lock(gCacheMutex);
        if (gCache.settled && gCache.path == path && gCache.version == Version::Of(st)) {
            gLastProblem = gCache.problem;
            *out = gCache.tree;
            return gCache.error;
        }
    }
    auto top = std::make_shared<regfile::Node>();
    Version version;
    std::string problem;
    const long result = Parse(path, top.get(), &version, &problem);
    std::lock_guard<std::mutex> lock(gCacheMutex);
    gLastProblem = problem;
    if (result == kErrorSuccess || result == kErrorBadDb) {
        if (version.size >= 0) {
            Tree kept = result == kErrorSuccess ? top : nullptr;
            gCache = Cache{path, version, result, problem, std::move(kept), Settled(version)};
        }
    }
    if (result == kErrorSuccess) {
        *out = version.size >= 0 ? Tree(std::move(top)) : EmptyTree();
    }
    return result;
}

// Holds the writers' lock file for its lifetime; gives up after kLockWait. The lock file is
// private like the registry file, and root hands it to the registry file's owner, so the
// account that owns the settings (the service's) can still take the lock.
class WriterLock {
  public:
    explicit WriterLock(const std::string& registryFile) {
        const std::string lockPath = registryFile + ".lock";
        const int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
        fd_ = open(lockPath.c_str(), O_RDWR | O_CREAT | flags, 0600);
        if (fd_ < 0 && errno != ELOOP) {
            fd_ = open(lockPath.c_str(), O_RDONLY | flags);
        }
        if (fd_ < 0) {
            error_ = ErrnoToCode(errno);
            return;
        }
        struct stat lock {
        }, settings{};
        if (geteuid() == 0 && fstat(fd_, &lock) == 0 &&
            stat(registryFile.c_str(), &settings) == 0 &&
            (lock.st_uid != settings.st_uid || lock.st_gid != settings.st_gid)) {
            (void)!fchown(fd_, settings.st_uid, settings.st_gid);
        }
        const auto deadline = std::chrono::steady_clock::now() + kLockWait;
        auto pause = std::chrono::milliseconds(1);
        while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EINTR && errno != EWOULDBLOCK) {
                error_ = ErrnoToCode(errno);
                return;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                error_ = kErrorBusy;
                return;
            }
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, std::chrono::milliseconds(50));
        }
    }
    ~WriterLock() {
        if (fd_ >= 0) {
            close(fd_);  // releases the lock
        }
    }
    WriterLock(const WriterLock&) = delete;
    WriterLock& operator=(const WriterLock&) = delete;
    long Error() const { return error_; }

  private:
    int fd_ = -1;
    long error_ = kErrorSuccess;
};

// The key named by parts in top, null when absent; a root key always exists.
const regfile::Node* FindIn(const regfile::Node& top, const std::vector<std::string>& parts) {
    static const regfile::Node kEmptyRoot;
    const regfile::Node* node = regfile::FindKey(&top, parts);
    if (node == nullptr && parts.size() == 1) {
        return &kEmptyRoot;
    }
    return node;
}

// One read-modify-write under the writers' lock. change returns an error code and sets
// *changed when the file must be rewritten. The file is parsed afresh (the change works on
// its own tree), and the tree written becomes the one every reader shares.
template <typename Change>
long Modify(Change change) {
    const std::string path = RegistryFile();
    WriterLock lock(path);
    if (lock.Error() != kErrorSuccess) {
        return lock.Error();
    }
    const std::string target = WriteTarget(path);
    auto top = std::make_shared<regfile::Node>();
    Version version;
    std::string problem;
    const long loaded = Parse(target, top.get(), &version, &problem);
    NoteProblem(problem);
    if (loaded != kErrorSuccess) {
        return loaded;
    }
    bool changed = false;
    const long result = change(top.get(), &changed);
    if (result != kErrorSuccess || !changed) {
        return result;
    }
    const std::string text = regfile::Serialise(*top);
    if (text.size() > static_cast<std::size_t>(kMaxFileBytes)) {
        return kErrorNoResources;  // a file this size would not be read back
    }
    // The file holds the mail password: a new one is readable by its owner only.
    switch (ReplaceFileReporting(target, text, NewFileAccess::OwnerOnly)) {
        case ReplaceError::None:
            break;
        case ReplaceError::AccessDenied:
            return kErrorAccessDenied;
        case ReplaceError::Failed:
            return kErrorIoFailed;
    }
    struct stat st {};
    if (stat(target.c_str(), &st) == 0) {
        std::lock_guard<std::mutex> cacheLock(gCacheMutex);
        gCache = Cache{target, Version::Of(st), kErrorSuccess, {}, std::move(top), false};
    }
    return kErrorSuccess;
}

}  // namespace

RegKey RegLocalMachine() {
    return &gLocalMachine;
}
RegKey RegClassesRoot() {
    return &gClassesRoot;
}

long RegOpenKey(RegKey root, const std::string& subKey, RegAccess access, RegKey* out) {
    if (out == nullptr) {
        return kErrorInvalidParameter;
    }
    *out = nullptr;
    const KeyObject* base = Resolve(root);
    if (base == nullptr) {
        return kErrorInvalidHandle;
    }
    std::vector<std::string> parts = base->parts;
    if (!AppendSubKey(subKey, &parts)) {
        return kErrorFileNotFound;
    }
    Tree top;
    const long loaded = Read(&top);
    if (loaded != kErrorSuccess) {
        return loaded;
    }
    if (FindIn(*top, parts) == nullptr) {
        return kErrorFileNotFound;
    }
    *out = NewHandle(std::move(parts), access != RegAccess::Read);
    return kErrorSuccess;
}

long RegCreateKey(RegKey root, const std::string& subKey, RegKey* out) {
    if (out == nullptr) {
        return kErrorInvalidParameter;
    }
    *out = nullptr;
    const KeyObject* base = Resolve(root);
    if (base == nullptr) {
        return kErrorInvalidHandle;
    }
    std::vector<std::string> parts = base->parts;
    if (!AppendSubKey(subKey, &parts)) {
        return kErrorInvalidParameter;
    }
    // An existing key needs no write (nor the right to write the file).
    Tree current;
    if (Read(&current) == kErrorSuccess && FindIn(*current, parts) != nullptr) {
        *out = NewHandle(std::move(parts), true);
        return kErrorSuccess;
    }
    const long result = Modify([&](regfile::Node* top, bool* changed) {
        if (regfile::FindKey(top, parts) == nullptr) {
            if (!base->writable) {
                return kErrorAccessDenied;
            }
            regfile::CreateKey(top, parts);
            *changed = true;
        }
        return kErrorSuccess;
    });
    if (result == kErrorSuccess) {
        *out = NewHandle(std::move(parts), true);
    }
    return result;
}

long RegQueryValue(RegKey key, const std::string& name, std::uint32_t* type, unsigned char* data,
                   std::uint32_t* size) {
    const KeyObject* object = Resolve(key);
    if (object == nullptr) {
        return kErrorInvalidHandle;
    }
    if (data != nullptr && size == nullptr) {
        return kErrorInvalidParameter;
    }
    Tree top;
    const long loaded = Read(&top);
    if (loaded != kErrorSuccess) {
        return loaded;
    }
    const regfile::Node* node = FindIn(*top, object->parts);
    if (node == nullptr) {
        return kErrorKeyDeleted;
    }
    const regfile::Value* value = node->FindValue(name);
    if (value == nullptr) {
        return kErrorFileNotFound;
    }
    if (type != nullptr) {
        *type = value->type;
    }
    if (value->data.size() > UINT32_MAX) {
        return kErrorBadDb;
    }
    const auto needed = static_cast<std::uint32_t>(value->data.size());
    if (size == nullptr) {
        return kErrorSuccess;
    }
    if (data == nullptr) {
        *size = needed;
        return kErrorSuccess;
    }
    if (*size < needed) {
        *size = needed;
        return kErrorMoreData;
    }
    if (needed != 0) {
        std::memcpy(data, value->data.data(), needed);
    }
    *size = needed;
    return kErrorSuccess;
}

long RegSetValue(RegKey key, const std::string& name, std::uint32_t type, const unsigned char* data,
                 std::uint32_t size) {
    const KeyObject* object = Resolve(key);
    if (object == nullptr) {
        return kErrorInvalidHandle;
    }
    if (!object->writable) {
        return kErrorAccessDenied;
    }
    if ((data == nullptr && size != 0) || !regfile::IsStorableValueName(name)) {
        return kErrorInvalidParameter;
    }
    if (size > regfile::kMaxValueBytes) {
        return kErrorNoResources;  // the file would not be read back
    }
    const std::string bytes =
        size != 0 ? std::string(reinterpret_cast<const char*>(data), size) : std::string();
    return Modify([&](regfile::Node* top, bool* changed) {
        regfile::Node* node = regfile::FindKey(top, object->parts);
        if (node == nullptr) {
            if (object->parts.size() != 1) {
                return kErrorKeyDeleted;
            }
            node = regfile::CreateKey(top, object->parts);
        }
        const regfile::Value* existing = node->FindValue(name);
        if (existing == nullptr || existing->type != type || existing->data != bytes) {
            node->SetValue(name, type, bytes);
            *changed = true;
        }
        return kErrorSuccess;
    });
}

long RegDeleteValue(RegKey key, const std::string& name) {
    const KeyObject* object = Resolve(key);
    if (object == nullptr) {
        return kErrorInvalidHandle;
    }
    if (!object->writable) {
        return kErrorAccessDenied;
    }
    return Modify([&](regfile::Node* top, bool* changed) {
        regfile::Node* node = regfile::FindKey(top, object->parts);
        if (node == nullptr) {
            return object->parts.size() == 1 ? kErrorFileNotFound : kErrorKeyDeleted;
        }
        if (!node->RemoveValue(name)) {
            return kErrorFileNotFound;
        }
        *changed = true;
        return kErrorSuccess;
    });
}

long RegCloseKey(RegKey key) {
    auto* object = static_cast<KeyObject*>(key);
    if (IsRootObject(object)) {
        return kErrorSuccess;
    }
    {
        std::lock_guard<std::mutex> lock(gHandlesMutex);
        if (gHandles.erase(object) == 0) {
            return kErrorInvalidHandle;
        }
    }
    delete object;
    return kErrorSuccess;
}

namespace {

// The key an enumeration handle names, in a fresh read of the file held by *top.
long LoadKeyForEnum(RegKey key, bool outGiven, Tree* top, const regfile::Node** node) {
    const KeyObject* object = Resolve(key);
    if (object == nullptr) {
        return kErrorInvalidHandle;
    }
    if (!outGiven) {
        return kErrorInvalidParameter;
    }
    const long loaded = Read(top);
    if (loaded != kErrorSuccess) {
        return loaded;
    }
    *node = FindIn(**top, object->parts);
    return *node == nullptr ? kErrorKeyDeleted : kErrorSuccess;
}

}  // namespace

long RegEnumValues(RegKey key, std::vector<RegValue>* out) {
    if (out != nullptr) {
        out->clear();
    }
    Tree top;
    const regfile::Node* node = nullptr;
    const long rc = LoadKeyForEnum(key, out != nullptr, &top, &node);
    if (rc != kErrorSuccess) {
        return rc;
    }
    for (const regfile::Value& v : node->Values()) {
        out->push_back(RegValue{v.name, v.type, v.data});
    }
    return kErrorSuccess;
}

long RegEnumSubKeys(RegKey key, std::vector<std::string>* out) {
    if (out != nullptr) {
        out->clear();
    }
    Tree top;
    const regfile::Node* node = nullptr;
    const long rc = LoadKeyForEnum(key, out != nullptr, &top, &node);
    if (rc != kErrorSuccess) {
        return rc;
    }
    for (const regfile::Node* sub : node->SortedSubkeys()) {
        out->push_back(sub->name);
    }
    return kErrorSuccess;
}

long RegDeleteTree(RegKey root, const std::string& subKey) {
    const KeyObject* base = Resolve(root);
    if (base == nullptr) {
        return kErrorInvalidHandle;
    }
    if (!base->writable) {
        return kErrorAccessDenied;
    }
    std::vector<std::string> parts = base->parts;
    if (!AppendSubKey(subKey, &parts)) {
        return kErrorFileNotFound;
    }
    return Modify([&](regfile::Node* top, bool* changed) {
        regfile::Node* node = regfile::FindKey(top, parts);
        if (node == nullptr) {
            return parts.size() == 1 ? kErrorSuccess : kErrorFileNotFound;
        }
        if (parts.size() == base->parts.size()) {
            // No subkey named: empty the key itself, as RegDeleteTree(key, NULL) does.
            *changed = !node->Values().empty() || node->HasSubkeys();
            node->Clear();
            return kErrorSuccess;
        }
        std::vector<std::string> parentPath(parts.begin(), parts.end() - 1);
        regfile::FindKey(top, parentPath)->RemoveSubkey(parts.back());
        *changed = true;
        return kErrorSuccess;
    });
}

RegKey RegRootFromName(const std::string& name) {
    const std::string root = regfile::CanonicalRoot(name);
    if (root == "HKEY_LOCAL_MACHINE") {
        return &gLocalMachine;
    }
    if (root == "HKEY_CLASSES_ROOT") {
        return &gClassesRoot;
    }
    return nullptr;
}

std::string RegRootName(RegKey root) {
    const auto* object = static_cast<const KeyObject*>(root);
    return IsRootObject(object) ? object->parts.front() : std::string();
}

bool RegistryIsFile() {
    return true;
}

std::string RegistryFileError() {
    std::lock_guard<std::mutex> lock(gCacheMutex);
    return gLastProblem;
}

void RemoveRegistryTemporaries() {
    RemoveStaleTemporaries(DirectoryOf(WriteTarget(RegistryFile())));
}

std::string RegistryFilePath() {
    return RegistryFile();
}

bool RegistryFileReadableByOthers(std::string* path, unsigned* mode) {
    *path = WriteTarget(RegistryFile());
    struct stat st {};
    if (stat(path->c_str(), &st) != 0) {
        return false;
    }
    *mode = static_cast<unsigned>(st.st_mode & 07777);
    return (st.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

}  // namespace platform
