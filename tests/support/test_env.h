// Shared test helpers: a scratch directory per test, a private registry file, a pacer that
// records pauses instead of sleeping, and small file helpers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/pacer.h"

namespace testing_support {

// A fresh directory removed again when the object goes.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& Path() const { return path_; }  // ends without a separator
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Points the registry at a private file for the lifetime of the object (BRISKO_REGISTRY on
// POSIX). Tests that use the registry derive their fixture from this.
class RegistryTest : public ::testing::Test {
  protected:
    RegistryTest();
    ~RegistryTest() override;
    ScratchDir scratch_;
    std::string registryFile_;

  private:
    std::string previous_;
    bool hadPrevious_ = false;
};

// Records each pause; never sleeps. RequestStop makes every later pause fail.
class RecordingPacer final : public platform::Pacer {
  public:
    bool Pause(std::uint32_t ms) override;
    bool StopRequested() const override { return stopped_; }
    void RequestStop() override { stopped_ = true; }
    std::vector<std::uint32_t> pauses;
    // When set, RequestStop happens by itself at the pause with this index.
    int stopAtPause = -1;

  private:
    bool stopped_ = false;
};

std::string ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);

// Sets a registry value under HKEY_LOCAL_MACHINE\SOFTWARE\BriskoFilter.
void SetRegString(const std::string& name, const std::string& value);
void SetRegDword(const std::string& name, std::uint32_t value);
// Reads one back; false when absent.
bool GetRegString(const std::string& name, std::string* value);
bool GetRegDword(const std::string& name, std::uint32_t* value);

}  // namespace testing_support
