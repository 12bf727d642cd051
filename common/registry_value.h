// One registry value, addressed by a path whose last component is the value name
// ("\SOFTWARE\BriskoFilter\apppath"). The value is read once at construction; Get returns
// the cached value once a read or write has succeeded; Set writes only on change. Failures
// are silent: a read that fails yields the default, a write that fails changes nothing
// in the registry.
#pragma once

#include <cstdint>
#include <string>

#include "platform/registry.h"

template <typename V>
class RegistryValue {
  public:
    RegistryValue(const std::string& path, const V& defaultValue, bool alwaysRead = false,
                  platform::RegKey root = platform::RegLocalMachine());

    V Get();
    void Set(const V& value);
    RegistryValue& operator=(const V& value) {
        Set(value);
        return *this;
    }

    const std::string& SubKey() const { return subKey; }
    const std::string& ValueName() const { return valueName; }
    bool Loaded() const { return loaded != 0; }

  private:
    V Read();
    void Write();

    platform::RegKey root;
    platform::RegKeyHandle keyHandle;  // the key of the read or write under way, closed at once
    std::string valueName;
    std::string subKey;
    V cached{};
    V defaultValue;
    std::uint32_t loaded = 0;
    std::uint32_t alwaysRead = 0;
};

using RegistryDword = RegistryValue<std::uint32_t>;
using RegistryString = RegistryValue<std::string>;

// Splits a value path into key path and value name (exposed for the admin tool).
void SplitRegistryPath(const std::string& path, std::string* subKey, std::string* valueName);
