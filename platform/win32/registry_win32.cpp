// The registry on Windows: the ANSI registry functions, with every result passed through as
// the Windows error code. All access goes to the 32-bit view of the registry, where the
// proxy (a 32-bit program) keeps its settings, so a 64-bit build reads the same values as
// the 32-bit production build.
#include <windows.h>
// winreg.h maps these names to their A/W variants; here they are this layer's own functions.
#undef RegOpenKey
#undef RegCreateKey
#undef RegQueryValue
#undef RegSetValue
#undef RegDeleteValue
#undef RegDeleteTree

#include <algorithm>
#include <vector>

#include "platform/regfile.h"
#include "platform/registry.h"

namespace platform {
namespace {

constexpr REGSAM kView = KEY_WOW64_32KEY;

HKEY H(RegKey key) {
    return static_cast<HKEY>(key);
}

REGSAM AccessOf(RegAccess access) {
    switch (access) {
        case RegAccess::Read:
            return KEY_READ;
        case RegAccess::Write:
            return KEY_WRITE;
        case RegAccess::All:
        default:
            return KEY_READ | KEY_WRITE;
    }
}

}  // namespace

RegKey RegLocalMachine() {
    return HKEY_LOCAL_MACHINE;
}
RegKey RegClassesRoot() {
    return HKEY_CLASSES_ROOT;
}

long RegOpenKey(RegKey root, const std::string& subKey, RegAccess access, RegKey* out) {
    if (out == nullptr) {
        return kErrorInvalidParameter;
    }
    HKEY key = nullptr;
    const std::string path = regfile::NormaliseSubKey(subKey);
    const LONG rc = ::RegOpenKeyExA(H(root), path.c_str(), 0, AccessOf(access) | kView, &key);
    *out = rc == ERROR_SUCCESS ? key : nullptr;
    return rc;
}

long RegCreateKey(RegKey root, const std::string& subKey, RegKey* out) {
    if (out == nullptr) {
        return kErrorInvalidParameter;
    }
    HKEY key = nullptr;
    char emptyClass[] = "";
    const std::string path = regfile::NormaliseSubKey(subKey);
    const LONG rc = ::RegCreateKeyExA(H(root), path.c_str(), 0, emptyClass, REG_OPTION_NON_VOLATILE,
                                      KEY_READ | KEY_WRITE | kView, nullptr, &key, nullptr);
    *out = rc == ERROR_SUCCESS ? key : nullptr;
    return rc;
}

long RegQueryValue(RegKey key, const std::string& name, std::uint32_t* type, unsigned char* data,
                   std::uint32_t* size) {
    if (data != nullptr && size == nullptr) {
        return kErrorInvalidParameter;
    }
    DWORD storedType = 0;
    DWORD length = size != nullptr ? *size : 0;
    const LONG rc = ::RegQueryValueExA(H(key), name.c_str(), nullptr, &storedType, data,
                                       size != nullptr ? &length : nullptr);
    if (type != nullptr && (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA)) {
        *type = storedType;
    }
    if (size != nullptr && (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA)) {
        *size = length;
    }
    return rc;
}

long RegSetValue(RegKey key, const std::string& name, std::uint32_t type, const unsigned char* data,
                 std::uint32_t size) {
    return ::RegSetValueExA(H(key), name.c_str(), 0, type, data, size);
}

long RegDeleteValue(RegKey key, const std::string& name) {
    return ::RegDeleteValueA(H(key), name.c_str());
}

long RegCloseKey(RegKey key) {
    return ::RegCloseKey(H(key));
}

long RegEnumValues(RegKey key, std::vector<RegValue>* out) {
    if (out == nullptr) {
        return kErrorInvalidParameter;
    }
    out->clear();
    DWORD count = 0;
    DWORD maxName = 0;
    DWORD maxData = 0;
    LONG rc = ::RegQueryInfoKeyA(H(key), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 &count, &maxName, &maxData, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    std::vector<char> name(maxName + 1);
    std::vector<unsigned char> data(maxData + 1);
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataLength = static_cast<DWORD>(data.size());
        DWORD type = 0;
        rc = ::RegEnumValueA(H(key), index, name.data(), &nameLength, nullptr, &type, data.data(),
                             &dataLength);
        if (rc == ERROR_NO_MORE_ITEMS) {
            return ERROR_SUCCESS;
        }
        if (rc == ERROR_MORE_DATA) {
            // A value grew meanwhile: make room and read the same index again.
            name.resize(name.size() * 2 + 256);
            data.resize(std::max<std::size_t>(data.size() * 2, dataLength + 1));
            --index;
            continue;
        }
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        out->push_back(
            RegValue{std::string(name.data(), nameLength), type,
                     std::string(reinterpret_cast<const char*>(data.data()), dataLength)});
    }
}

long RegEnumSubKeys(RegKey key, std::vector<std::string>* out) {
    if (out == nullptr) {
        return kErrorInvalidParameter;
    }
    out->clear();
    DWORD maxName = 0;
    LONG rc = ::RegQueryInfoKeyA(H(key), nullptr, nullptr, nullptr, nullptr, &maxName, nullptr,
                                 nullptr, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    std::vector<char> name(maxName + 1);
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        rc = ::RegEnumKeyExA(H(key), index, name.data(), &nameLength, nullptr, nullptr, nullptr,
                             nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) {
            return ERROR_SUCCESS;
        }
        if (rc == ERROR_MORE_DATA) {
            name.resize(name.size() * 2 + 256);
            --index;
            continue;
        }
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        out->emplace_back(name.data(), nameLength);
    }
}

long RegDeleteTree(RegKey root, const std::string& subKeyGiven) {
    const std::string subKey = regfile::NormaliseSubKey(subKeyGiven);
    if (subKey.empty()) {
        return ::RegDeleteTreeA(H(root), nullptr);
    }
    // Open the key in the 32-bit view, empty it, then remove the key itself from that view.
    HKEY key = nullptr;
    LONG rc = ::RegOpenKeyExA(
        H(root), subKey.c_str(), 0,
        DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE | kView, &key);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    rc = ::RegDeleteTreeA(key, nullptr);
    ::RegCloseKey(key);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    return ::RegDeleteKeyExA(H(root), subKey.c_str(), kView, 0);
}

RegKey RegRootFromName(const std::string& name) {
    const std::string root = regfile::CanonicalRoot(name);
    if (root == "HKEY_LOCAL_MACHINE") {
        return HKEY_LOCAL_MACHINE;
    }
    if (root == "HKEY_CLASSES_ROOT") {
        return HKEY_CLASSES_ROOT;
    }
    return nullptr;
}

std::string RegRootName(RegKey root) {
    if (H(root) == HKEY_LOCAL_MACHINE) {
        return "HKEY_LOCAL_MACHINE";
    }
    if (H(root) == HKEY_CLASSES_ROOT) {
        return "HKEY_CLASSES_ROOT";
    }
    return {};
}

bool RegistryIsFile() {
    return false;
}

std::string RegistryFileError() {
    return {};
}

void RemoveRegistryTemporaries() {}

std::string RegistryFilePath() {
    return {};
}

bool RegistryFileReadableByOthers(std::string*, unsigned*) {
    return false;
}

}  // namespace platform
