// Registry access with the semantics of the Windows registry functions the system uses
// (open, query, create, set, delete value, close), plus the few extra calls the admin tool
// and service registration need. On Windows this is the real registry; elsewhere it is a
// text file in the .reg format named by BRISKO_REGISTRY. Every call returns a Windows error
// code (0 on success) and never throws.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace platform {

using RegKey = void*;

// Windows error codes the callers look at.
constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorInvalidParameter = 87;
constexpr long kErrorMoreData = 234;

// Registry value types.
constexpr std::uint32_t kRegNone = 0;
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;
constexpr std::uint32_t kRegMultiSz = 7;

enum class RegAccess { Read, Write, All };

RegKey RegLocalMachine();
RegKey RegClassesRoot();

// Opens an existing key; fails with kErrorFileNotFound when it is absent.
long RegOpenKey(RegKey root, const std::string& subKey, RegAccess access, RegKey* out);
// Creates the key (and its parents) when absent, then opens it.
long RegCreateKey(RegKey root, const std::string& subKey, RegKey* out);
// As RegQueryValueExA: with data null only the size is reported; a buffer too small gives
// kErrorMoreData with *size set to the size needed. type may be null.
long RegQueryValue(RegKey key, const std::string& name, std::uint32_t* type, unsigned char* data,
                   std::uint32_t* size);
long RegSetValue(RegKey key, const std::string& name, std::uint32_t type, const unsigned char* data,
                 std::uint32_t size);
long RegDeleteValue(RegKey key, const std::string& name);
long RegCloseKey(RegKey key);

// An open key that closes itself. Pass Receive() where a call opens a key:
//   RegKeyHandle key;
//   RegOpenKey(RegLocalMachine(), "SOFTWARE\\BriskoFilter", RegAccess::Read, key.Receive());
class RegKeyHandle {
  public:
    RegKeyHandle() = default;
    explicit RegKeyHandle(RegKey key) : key_(key) {}
    ~RegKeyHandle() { Close(); }
    RegKeyHandle(RegKeyHandle&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
    RegKeyHandle& operator=(RegKeyHandle&& other) noexcept {
        if (this != &other) {
            Close();
            key_ = std::exchange(other.key_, nullptr);
        }
        return *this;
    }
    RegKeyHandle(const RegKeyHandle&) = delete;
    RegKeyHandle& operator=(const RegKeyHandle&) = delete;

    RegKey Get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }
    // Closes what is held and hands out the slot for a call that opens a key.
    RegKey* Receive() {
        Close();
        return &key_;
    }
    void Close() {
        if (key_ != nullptr) {
            RegCloseKey(std::exchange(key_, nullptr));
        }
    }

  private:
    RegKey key_ = nullptr;
};

struct RegValue {
    std::string name;
    std::uint32_t type = kRegNone;
    std::string data;  // raw bytes as stored
};

// Lists the values of an open key (names in the case they were stored).
long RegEnumValues(RegKey key, std::vector<RegValue>* out);
// Lists the direct subkeys' names of an open key.
long RegEnumSubKeys(RegKey key, std::vector<std::string>* out);
// Removes a key with everything below it.
long RegDeleteTree(RegKey root, const std::string& subKey);

// True where the registry is the .reg file named by BRISKO_REGISTRY, not the system's.
bool RegistryIsFile();
// Why the registry file could not be read at the last access ("path:line: message"); empty
// when it could, and always on Windows.
std::string RegistryFileError();
// Removes the temporaries a killed writer left beside the registry file (no-op on Windows).
void RemoveRegistryTemporaries();
// The registry file as configured (BRISKO_REGISTRY or its default); empty on Windows.
std::string RegistryFilePath();
// Whether users other than the registry file's owner may read it (its group or everyone), with
// the file and its permission bits. False where it does not exist, and on Windows, where the
// settings are the system's registry.
bool RegistryFileReadableByOthers(std::string* path, unsigned* mode);

// Maps "HKEY_LOCAL_MACHINE"/"HKLM" and "HKEY_CLASSES_ROOT"/"HKCR" (any case) to a root.
RegKey RegRootFromName(const std::string& name);
// The full name of a root ("HKEY_LOCAL_MACHINE"), empty for an unknown handle.
std::string RegRootName(RegKey root);

}  // namespace platform
