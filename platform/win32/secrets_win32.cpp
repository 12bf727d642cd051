// Secrets on Windows: DPAPI-encrypted for the local machine (CRYPTPROTECT_LOCAL_MACHINE) and
// kept as binary values of the settings key's "Secrets" subkey, in the registry view the
// settings use. The subkey is created with a protected security descriptor that grants
// SYSTEM (the account the service runs as) and Administrators alone, so an ordinary user
// can neither read the ciphertext nor ask DPAPI for it. A value is replaced in one call.
#include <windows.h>

#include <dpapi.h>
#include <sddl.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "platform/secrets.h"

namespace platform {
namespace {

constexpr REGSAM kView = KEY_WOW64_32KEY;  // as the settings themselves
constexpr char kSubkey[] = "\\Secrets";
// Protected (P): nothing is inherited from the settings key, which users may read.
constexpr char kOwnersOnly[] = "D:P(A;OICI;KA;;;SY)(A;OICI;KA;;;BA)";

std::string SubkeyOf(const std::string& settingsKey) {
    return settingsKey + kSubkey;
}

class Key {
  public:
    ~Key() {
        if (key) {
            ::RegCloseKey(key);
        }
    }
    HKEY key = nullptr;
};

}  // namespace

long ReadSecret(const std::string& settingsKey, const std::string& name, std::string* value) {
    value->clear();
    Key key;
    LONG status = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, SubkeyOf(settingsKey).c_str(), 0,
                                  KEY_QUERY_VALUE | kView, &key.key);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    DWORD type = 0;
    DWORD size = 0;
    status = ::RegQueryValueExA(key.key, name.c_str(), nullptr, &type, nullptr, &size);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (type != REG_BINARY || size == 0 || size > 256 * 1024) {
        return ERROR_INVALID_DATA;
    }
    std::vector<BYTE> sealed(size);
    status = ::RegQueryValueExA(key.key, name.c_str(), nullptr, &type, sealed.data(), &size);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    DATA_BLOB in{size, sealed.data()};
    DATA_BLOB out{};
    if (!::CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                              &out)) {
        return static_cast<long>(::GetLastError());
    }
    value->assign(reinterpret_cast<const char*>(out.pbData), out.cbData);
    ::SecureZeroMemory(out.pbData, out.cbData);
    ::LocalFree(out.pbData);
    return ERROR_SUCCESS;
}

long WriteSecret(const std::string& settingsKey, const std::string& name,
                 const std::string& value) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(kOwnersOnly, SDDL_REVISION_1,
                                                                &descriptor, nullptr)) {
        return static_cast<long>(::GetLastError());
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    Key key;
    DWORD disposition = 0;
    // The descriptor applies when the subkey is created; an existing one keeps its own.
    LONG status = ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, SubkeyOf(settingsKey).c_str(), 0, nullptr,
                                    REG_OPTION_NON_VOLATILE, KEY_SET_VALUE | kView, &attributes,
                                    &key.key, &disposition);
    ::LocalFree(descriptor);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    DATA_BLOB in{static_cast<DWORD>(value.size()),
                 reinterpret_cast<BYTE*>(const_cast<char*>(value.data()))};
    DATA_BLOB out{};
    if (!::CryptProtectData(&in, L"Postvane", nullptr, nullptr, nullptr,
                            CRYPTPROTECT_LOCAL_MACHINE | CRYPTPROTECT_UI_FORBIDDEN, &out)) {
        return static_cast<long>(::GetLastError());
    }
    status = ::RegSetValueExA(key.key, name.c_str(), 0, REG_BINARY, out.pbData, out.cbData);
    ::LocalFree(out.pbData);
    return status;
}

long DeleteSecret(const std::string& settingsKey, const std::string& name) {
    Key key;
    LONG status = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, SubkeyOf(settingsKey).c_str(), 0,
                                  KEY_SET_VALUE | kView, &key.key);
    if (status == ERROR_FILE_NOT_FOUND) {
        return ERROR_SUCCESS;
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    status = ::RegDeleteValueA(key.key, name.c_str());
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

}  // namespace platform
