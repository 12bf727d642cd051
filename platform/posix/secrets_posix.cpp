// Secrets on POSIX: plain string values of the settings key. The registry file is created
// owner-only and keeps its mode, and each write replaces the whole file atomically, so a
// crash leaves either the old value or the new one.
#include "platform/secrets.h"

#include <vector>

#include "platform/registry.h"

namespace platform {

long ReadSecret(const std::string& settingsKey, const std::string& name, std::string* value) {
    value->clear();
    RegKeyHandle key;
    long status = RegOpenKey(RegLocalMachine(), settingsKey, RegAccess::Read, key.Receive());
    if (status != kErrorSuccess) {
        return status;
    }
    std::uint32_t size = 0;
    status = RegQueryValue(key.Get(), name, nullptr, nullptr, &size);
    if (status != kErrorSuccess) {
        return status;
    }
    std::vector<unsigned char> data(size + 1);
    status = RegQueryValue(key.Get(), name, nullptr, data.data(), &size);
    if (status != kErrorSuccess) {
        return status;
    }
    value->assign(reinterpret_cast<const char*>(data.data()), size);
    while (!value->empty() && value->back() == '\0') {
        value->pop_back();
    }
    return kErrorSuccess;
}

long WriteSecret(const std::string& settingsKey, const std::string& name,
                 const std::string& value) {
    RegKeyHandle key;
    long status = RegCreateKey(RegLocalMachine(), settingsKey, key.Receive());
    if (status != kErrorSuccess) {
        return status;
    }
    std::string data = value;
    data += '\0';
    return RegSetValue(key.Get(), name, kRegSz, reinterpret_cast<const unsigned char*>(data.data()),
                       static_cast<std::uint32_t>(data.size()));
}

long DeleteSecret(const std::string& settingsKey, const std::string& name) {
    RegKeyHandle key;
    long status = RegOpenKey(RegLocalMachine(), settingsKey, RegAccess::Write, key.Receive());
    if (status == kErrorFileNotFound) {
        return kErrorSuccess;
    }
    if (status != kErrorSuccess) {
        return status;
    }
    status = RegDeleteValue(key.Get(), name);
    return status == kErrorFileNotFound ? kErrorSuccess : status;
}

}  // namespace platform
