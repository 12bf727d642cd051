// The registry value classes. No key stays open between calls (the handle closes itself on
// every path); every failure is silent and leaves the cached value and the loaded flag as
// they were.
#include "common/registry_value.h"

#include <cstring>
#include <vector>

namespace {

// Closes the key of a read or write when that operation ends, on every path.
struct CloseAtEnd {
    platform::RegKeyHandle& key;
    ~CloseAtEnd() { key.Close(); }
};

}  // namespace

void SplitRegistryPath(const std::string& path, std::string* subKey, std::string* valueName) {
    std::size_t start = path.find_first_not_of('\\');
    std::string trimmed = start == std::string::npos ? std::string() : path.substr(start);
    std::size_t last = trimmed.find_last_of('\\');
    if (last == std::string::npos) {
        subKey->clear();
        *valueName = trimmed;
        return;
    }
    std::string key = trimmed.substr(0, last);
    while (!key.empty() && key.back() == '\\') {
        key.pop_back();
    }
    std::string name = trimmed.substr(last);
    std::size_t nameStart = name.find_first_not_of('\\');
    *subKey = key;
    *valueName = nameStart == std::string::npos ? std::string() : name.substr(nameStart);
}

template <typename V>
RegistryValue<V>::RegistryValue(const std::string& path, const V& defaultValue_, bool alwaysRead_,
                                platform::RegKey root_)
    : root(root_), defaultValue(defaultValue_), alwaysRead(alwaysRead_ ? 1 : 0) {
    SplitRegistryPath(path, &subKey, &valueName);
    Read();
}

template <typename V>
V RegistryValue<V>::Get() {
    if (!loaded || alwaysRead) {
        return Read();
    }
    return cached;
}

template <typename V>
void RegistryValue<V>::Set(const V& value) {
    if (value != cached || alwaysRead) {
        cached = value;
        Write();
    }
}

template <>
std::uint32_t RegistryValue<std::uint32_t>::Read() {
    const CloseAtEnd closeAtEnd{keyHandle};
    if (platform::RegOpenKey(root, subKey, platform::RegAccess::Read, keyHandle.Receive()) !=
        platform::kErrorSuccess) {
        return defaultValue;
    }
    // Any value whose data fits into four bytes is taken as its bytes, whatever its type.
    // A shorter value overwrites only its own bytes of the cached number.
    unsigned char data[4];
    std::memcpy(data, &cached, sizeof data);
    std::uint32_t size = sizeof data;
    long rc = platform::RegQueryValue(keyHandle.Get(), valueName, nullptr, data, &size);
    if (rc != platform::kErrorSuccess) {
        return defaultValue;
    }
    std::uint32_t value = 0;
    std::memcpy(&value, data, sizeof value);  // little-endian, as the registry stores it
    cached = value;
    loaded = 1;
    return cached;
}

template <>
std::string RegistryValue<std::string>::Read() {
    const CloseAtEnd closeAtEnd{keyHandle};
    if (platform::RegOpenKey(root, subKey, platform::RegAccess::Read, keyHandle.Receive()) !=
        platform::kErrorSuccess) {
        return defaultValue;
    }
    std::uint32_t size = 0;
    std::string result = defaultValue;
    long rc = platform::RegQueryValue(keyHandle.Get(), valueName, nullptr, nullptr, &size);
    if (rc == platform::kErrorSuccess) {
        std::vector<unsigned char> buffer(size + 1, 0);
        rc = platform::RegQueryValue(keyHandle.Get(), valueName, nullptr, buffer.data(), &size);
        if (rc == platform::kErrorSuccess) {
            // The text ends at its first NUL; the extra byte guarantees there is one.
            cached.assign(reinterpret_cast<const char*>(buffer.data()),
                          strnlen(reinterpret_cast<const char*>(buffer.data()), size));
            loaded = 1;
            result = cached;
        }
    }
    return result;
}

template <>
void RegistryValue<std::uint32_t>::Write() {
    const CloseAtEnd closeAtEnd{keyHandle};
    if (platform::RegCreateKey(root, subKey, keyHandle.Receive()) != platform::kErrorSuccess) {
        return;
    }
    unsigned char data[4];
    std::memcpy(data, &cached, sizeof data);
    if (platform::RegSetValue(keyHandle.Get(), valueName, platform::kRegDword, data, sizeof data) ==
        platform::kErrorSuccess) {
        loaded = 1;
    }
}

template <>
void RegistryValue<std::string>::Write() {
    const CloseAtEnd closeAtEnd{keyHandle};
    if (platform::RegCreateKey(root, subKey, keyHandle.Receive()) != platform::kErrorSuccess) {
        return;
    }
    // REG_SZ with its terminating NUL; a text with an inner NUL is stored up to it.
    std::size_t length = strnlen(cached.c_str(), cached.size());
    if (platform::RegSetValue(keyHandle.Get(), valueName, platform::kRegSz,
                              reinterpret_cast<const unsigned char*>(cached.c_str()),
                              static_cast<std::uint32_t>(length + 1)) == platform::kErrorSuccess) {
        loaded = 1;
    }
}

template class RegistryValue<std::uint32_t>;
template class RegistryValue<std::string>;
