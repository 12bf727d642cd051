// Shared test helpers (see test_env.h).
#include "tests/support/test_env.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "common/layout.h"
#include "common/registry_value.h"
#include "platform/process.h"
#include "platform/registry.h"

namespace fs = std::filesystem;

namespace testing_support {

ScratchDir::ScratchDir() {
    static std::atomic<unsigned> counter{0};
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "t";
    for (char& c : name) {
        if (c == '/' || c == '\\' || c == ' ') {
            c = '_';
        }
    }
    fs::path base = fs::temp_directory_path() / "tallyvane-tests";
    fs::path dir =
        base /
        (name + "-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
         std::to_string(counter.fetch_add(1)) + "-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    path_ = dir.string();
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

RegistryTest::RegistryTest() {
    const char* previous = std::getenv("BRISKO_REGISTRY");
    if (previous != nullptr) {
        hadPrevious_ = true;
        previous_ = previous;
    }
    registryFile_ = scratch_ / "registry.reg";
    platform::SetEnvironmentValue("BRISKO_REGISTRY", registryFile_);
    // Where the registry is the real one (Windows), every test starts from an empty key.
    platform::RegDeleteTree(platform::RegLocalMachine(), layout::kSettingsKey);
}

RegistryTest::~RegistryTest() {
    platform::RegDeleteTree(platform::RegLocalMachine(), layout::kSettingsKey);
    platform::SetEnvironmentValue("BRISKO_REGISTRY", hadPrevious_ ? previous_ : std::string());
}

bool RecordingPacer::Pause(std::uint32_t ms) {
    if (stopped_) {
        return false;
    }
    if (stopAtPause >= 0 && static_cast<int>(pauses.size()) == stopAtPause) {
        stopped_ = true;
        return false;
    }
    pauses.push_back(ms);
    return true;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

bool Exists(const std::string& path) {
    return fs::exists(path);
}

void SetRegString(const std::string& name, const std::string& value) {
    RegistryString v(layout::SettingPath(name), "");
    v.Set(value);
}

void SetRegDword(const std::string& name, std::uint32_t value) {
    // Set writes only on change; start from a value that differs so 0 is written too.
    RegistryDword v(layout::SettingPath(name), 0);
    if (!v.Loaded() && value == 0) {
        platform::RegKey key = nullptr;
        if (platform::RegCreateKey(platform::RegLocalMachine(), layout::kSettingsKey, &key) ==
            platform::kErrorSuccess) {
            unsigned char zero[4] = {0, 0, 0, 0};
            platform::RegSetValue(key, name, platform::kRegDword, zero, 4);
            platform::RegCloseKey(key);
        }
        return;
    }
    v.Set(value);
}

bool GetRegString(const std::string& name, std::string* value) {
    RegistryString v(layout::SettingPath(name), "");
    *value = v.Get();
    return v.Loaded();
}

bool GetRegDword(const std::string& name, std::uint32_t* value) {
    RegistryDword v(layout::SettingPath(name), 0);
    *value = v.Get();
    return v.Loaded();
}

}  // namespace testing_support
