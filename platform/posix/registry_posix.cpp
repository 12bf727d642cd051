// The registry on POSIX systems: one .reg text file (BRISKO_REGISTRY, else
// /etc/brisko/registry.reg), re-read on every call so that every process sees the others'
// changes. Writers serialise on an flock'ed lock file beside it and replace the file
// atomically (temporary, fsync, rename), so readers need no lock and never see half a file.
// A file that does not parse is never rewritten: reads and writes then fail with
// ERROR_BADDB (1009). Results are Windows error codes, as the real registry functions give.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/regfile.h"
#include "platform/registry.h"

namespace platform {
namespace {

constexpr long kErrorInvalidHandle = 6;
constexpr long kErrorNoResources = 1450;
constexpr long kErrorBadDb = 1009;
constexpr long kErrorIoFailed = 1016;
constexpr long kErrorKeyDeleted = 1018;

constexpr char kDefaultRegistryFile[] = "/etc/brisko/registry.reg";
// A registry file larger than this is not believed to be one.
constexpr off_t kMaxFileBytes = 64 << 20;

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
// ignored. False for a name the file cannot hold, which therefore cannot exist.
bool AppendSubKey(const std::string& subKey, std::vector<std::string>* parts) {
    std::size_t start = 0;
    while (start <= subKey.size()) {
        std::size_t end = subKey.find('\\', start);
        if (end == std::string::npos) {
            end = subKey.size();
        }
        const std::string part = subKey.substr(start, end - start);
        if (!part.empty()) {
            if (!regfile::IsStorableKeyName(part)) {
                return false;
            }
            parts->push_back(part);
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

// Permissions and owner of the registry file, kept across rewrites.
struct FileMode {
    mode_t mode = 0644;
    uid_t uid = static_cast<uid_t>(-1);
    gid_t gid = static_cast<gid_t>(-1);
};

// Loads the registry; an absent file is an empty registry.
long Load(const std::string& path, regfile::Node* top, FileMode* mode = nullptr) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT ? kErrorSuccess : ErrnoToCode(errno);
    }
    std::string text;
    long result = kErrorSuccess;
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        result = ErrnoToCode(errno);
    } else if (!S_ISREG(st.st_mode) || st.st_size > kMaxFileBytes) {
        result = kErrorBadDb;
    } else {
        if (mode != nullptr) {
            *mode = FileMode{st.st_mode & 07777, st.st_uid, st.st_gid};
        }
        char buffer[65536];
        while (true) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) {
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
        return kErrorBadDb;
    }
    regfile::Apply(sections, top);
    return kErrorSuccess;
}

bool WriteAllTo(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Replaces target with bytes: temporary beside it, flushed, renamed over it.
long ReplaceFile(const std::string& target, const std::string& bytes, const FileMode& mode) {
    static std::atomic<unsigned> counter{0};
    // A fresh name that nobody prepared: never follow or reuse what is already there.
    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
        temp = target + ".tmp." + std::to_string(getpid()) + "." +
               std::to_string(counter.fetch_add(1));
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        return ErrnoToCode(errno);
    }
    // Only root may give the file back to its owner; for anyone else it already is theirs.
    if (geteuid() == 0 && mode.uid != static_cast<uid_t>(-1)) {
        (void)!fchown(fd, mode.uid, mode.gid);
    }
    bool ok = fchmod(fd, mode.mode) == 0 && WriteAllTo(fd, bytes) && fsync(fd) == 0;
    const int err = errno;
    ok = (close(fd) == 0) && ok;
    if (!ok || rename(temp.c_str(), target.c_str()) != 0) {
        const int failure = ok ? errno : err;
        unlink(temp.c_str());
        return ErrnoToCode(failure);
    }
    // Make the rename itself durable.
    const std::string dir = target.find('/') == std::string::npos
                                ? std::string(".")
                                : target.substr(0, std::max<std::size_t>(target.rfind('/'), 1));
    const int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return kErrorSuccess;
}

// Holds the writers' lock file for its lifetime.
class WriterLock {
  public:
    explicit WriterLock(const std::string& registryFile) {
        const std::string lockPath = registryFile + ".lock";
        fd_ = open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd_ < 0 && errno != ELOOP) {
            fd_ = open(lockPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (fd_ < 0) {
            error_ = ErrnoToCode(errno);
            return;
        }
        while (flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                error_ = ErrnoToCode(errno);
                return;
            }
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
// *changed when the file must be rewritten.
template <typename Change>
long Modify(Change change) {
    const std::string path = RegistryFile();
    WriterLock lock(path);
    if (lock.Error() != kErrorSuccess) {
        return lock.Error();
    }
    const std::string target = WriteTarget(path);
    regfile::Node top;
    FileMode mode;
    const long loaded = Load(target, &top, &mode);
    if (loaded != kErrorSuccess) {
        return loaded;
    }
    bool changed = false;
    const long result = change(&top, &changed);
    if (result != kErrorSuccess || !changed) {
        return result;
    }
    const std::string text = regfile::Serialise(top);
    if (text.size() > static_cast<std::size_t>(kMaxFileBytes)) {
        return kErrorNoResources;  // a file this size would not be read back
    }
    return ReplaceFile(target, text, mode);
}

long Read(regfile::Node* top) {
    return Load(WriteTarget(RegistryFile()), top);
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
    regfile::Node top;
    const long loaded = Read(&top);
    if (loaded != kErrorSuccess) {
        return loaded;
    }
    if (FindIn(top, parts) == nullptr) {
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
    regfile::Node current;
    if (Read(&current) == kErrorSuccess && FindIn(current, parts) != nullptr) {
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
    regfile::Node top;
    const long loaded = Read(&top);
    if (loaded != kErrorSuccess) {
        return loaded;
    }
    const regfile::Node* node = FindIn(top, object->parts);
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
long LoadKeyForEnum(RegKey key, bool outGiven, regfile::Node* top, const regfile::Node** node) {
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
    *node = FindIn(*top, object->parts);
    return *node == nullptr ? kErrorKeyDeleted : kErrorSuccess;
}

}  // namespace

long RegEnumValues(RegKey key, std::vector<RegValue>* out) {
    if (out != nullptr) {
        out->clear();
    }
    regfile::Node top;
    const regfile::Node* node = nullptr;
    const long rc = LoadKeyForEnum(key, out != nullptr, &top, &node);
    if (rc != kErrorSuccess) {
        return rc;
    }
    for (const regfile::Value& v : node->values) {
        out->push_back(RegValue{v.name, v.type, v.data});
    }
    return kErrorSuccess;
}

long RegEnumSubKeys(RegKey key, std::vector<std::string>* out) {
    if (out != nullptr) {
        out->clear();
    }
    regfile::Node top;
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
            *changed = !node->values.empty() || !node->subkeys.empty();
            node->values.clear();
            node->subkeys.clear();
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

}  // namespace platform
