// A second process for the registry file's concurrency test: writer W sets N DWORD values
// "wW_i" = W * 1000 + i + 1 under the settings key, one write each, then exits 0.
// Usage: registry_writer W N   (the registry file comes from BRISKO_REGISTRY)
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/layout.h"
#include "common/registry_value.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        return 2;
    }
    const int writer = std::atoi(argv[1]);
    const int count = std::atoi(argv[2]);
    for (int i = 0; i < count; ++i) {
        const std::string name = "w" + std::to_string(writer) + "_" + std::to_string(i);
        RegistryDword value(layout::SettingPath(name), 0);
        value.Set(static_cast<std::uint32_t>(writer * 1000 + i + 1));
    }
    return 0;
}
