// The registry file as an attacker or a very large site would leave it: keys nested far
// deeper than allowed, a hundred thousand keys side by side, huge values, a FIFO in its
// place. Each must give a clear error or a quick answer, and never a crash or a hang.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/regfile.h"
#include "platform/registry.h"
#include "tests/support/test_env.h"

using namespace platform;
using testing_support::ReadAll;
using testing_support::WriteAll;

namespace {

constexpr long kBadDb = 1009;
constexpr long kNoResources = 1450;
const std::string kHead = std::string(regfile::kHeader) + "\r\n\r\n";

std::string DeepKey(std::size_t levels) {
    std::string path = "HKEY_LOCAL_MACHINE";
    path.reserve(levels * 2 + 20);
    for (std::size_t i = 1; i < levels; ++i) {
        path += "\\k";
    }
    return path;
}

// Makes the file look untouched for a while, as a settled installation's is.
void Age(const std::string& path) {
    const timespec old[2] = {{0, UTIME_OMIT}, {time(nullptr) - 60, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
}

class RegistryHostileTest : public testing_support::RegistryTest {
  protected:
    long QueryFilterValue(const std::string& name, std::string* data = nullptr) {
        RegKey key = nullptr;
        long rc = RegOpenKey(RegLocalMachine(), "SOFTWARE\\BriskoFilter", RegAccess::Read, &key);
        if (rc != kErrorSuccess) {
            return rc;
        }
        std::uint32_t size = 0;
        rc = RegQueryValue(key, name, nullptr, nullptr, &size);
        if (rc == kErrorSuccess && data != nullptr) {
            data->resize(size);
            rc = RegQueryValue(key, name, nullptr, reinterpret_cast<unsigned char*>(data->data()),
                               &size);
        }
        RegCloseKey(key);
        return rc;
    }
};

}  // namespace

TEST_F(RegistryHostileTest, OverDeepOrOverlargeFilesAreRefusedWithAReasonAndLeftAlone) {
    const std::string huge(regfile::kMaxValueBytes, 'x');
    std::string hexTail;
    for (std::size_t i = 0; i < regfile::kMaxValueBytes; ++i) {
        hexTail += ",00";
    }
    struct Case {
        const char* what;
        std::string text;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"a million levels", kHead + "[" + DeepKey(1000000) + "]\r\n", "deeper than 512 levels"},
        {"20,000 levels", kHead + "[" + DeepKey(20000) + "]\r\n", "deeper than 512 levels"},
        {"513 levels", kHead + "[" + DeepKey(513) + "]\r\n", "deeper than 512 levels"},
        {"a quoted value over the bound",
         kHead + "[HKLM\\SOFTWARE\\BriskoFilter]\r\n\"big\"=\"" + huge + "\"\r\n",
         "larger than 1048576 bytes"},
        {"a hex value over the bound",
         kHead + "[HKLM\\SOFTWARE\\BriskoFilter]\r\n\"big\"=hex:00" + hexTail + "\r\n",
         "larger than 1048576 bytes"},
    };
    for (const Case& c : cases) {
        WriteAll(registryFile_, c.text);
        const std::string before = ReadAll(registryFile_);
        EXPECT_EQ(QueryFilterValue("apppath"), kBadDb) << c.what;
        EXPECT_NE(RegistryFileError().find(c.reason), std::string::npos)
            << c.what << ": " << RegistryFileError();
        RegKey key = nullptr;
        EXPECT_EQ(RegCreateKey(RegLocalMachine(), "SOFTWARE\\Other", &key), kBadDb) << c.what;
        EXPECT_TRUE(ReadAll(registryFile_) == before) << c.what;
    }
}

TEST_F(RegistryHostileTest, DepthLimitHoldsForCallsAsForTheFile) {
    const std::string deepest = DeepKey(512).substr(sizeof "HKEY_LOCAL_MACHINE");
    RegKey key = nullptr;
    ASSERT_EQ(RegCreateKey(RegLocalMachine(), deepest, &key), kErrorSuccess);
    RegCloseKey(key);
    const std::string before = ReadAll(registryFile_);
    EXPECT_EQ(RegCreateKey(RegLocalMachine(), deepest + "\\k", &key), kErrorInvalidParameter);
    EXPECT_EQ(RegOpenKey(RegLocalMachine(), deepest + "\\k", RegAccess::Read, &key),
              kErrorFileNotFound);
    EXPECT_EQ(ReadAll(registryFile_), before);
    // What was written at the limit reads back.
    EXPECT_EQ(RegOpenKey(RegLocalMachine(), deepest, RegAccess::Read, &key), kErrorSuccess);
    RegCloseKey(key);
}

TEST_F(RegistryHostileTest, WideFilesLoadAndStayLoadedWhileUnchanged) {
    struct Case {
        const char* what;
        std::string text;
    };
    std::string keys = kHead + "[HKLM\\SOFTWARE\\BriskoFilter]\r\n\"apppath\"=\"/opt/\"\r\n\r\n";
    for (int i = 0; i < 100000; ++i) {
        keys += "[HKLM\\SOFTWARE\\Wide\\key" + std::to_string(i) + "]\r\n\r\n";
    }
    std::string values = kHead + "[HKLM\\SOFTWARE\\BriskoFilter]\r\n\"apppath\"=\"/opt/\"\r\n";
    for (int i = 0; i < 200000; ++i) {
        values += "\"v" + std::to_string(i) + "\"=dword:00000001\r\n";
    }
    for (const Case& c : {Case{"100,000 keys", keys}, Case{"200,000 values", values}}) {
        WriteAll(registryFile_, c.text);
        Age(registryFile_);
        std::string data;
        // The first access parses (its time is in the README); later ones must not parse again.
        EXPECT_EQ(QueryFilterValue("apppath", &data), 0);
        const std::uint64_t parsed = regfile::ParsedTexts();
        for (int i = 0; i < 100; ++i) {
            EXPECT_EQ(QueryFilterValue("apppath"), kErrorSuccess);
        }
        EXPECT_EQ(data, std::string("/opt/\0", 6)) << c.what;
        EXPECT_EQ(regfile::ParsedTexts(), parsed) << c.what;
    }
    // A change is seen at once.
    WriteAll(registryFile_, kHead + "[HKLM\\SOFTWARE\\BriskoFilter]\r\n\"apppath\"=\"/srv/\"\r\n");
    std::string data;
    EXPECT_EQ(QueryFilterValue("apppath", &data), kErrorSuccess);
    EXPECT_EQ(data, std::string("/srv/\0", 6));
}

TEST_F(RegistryHostileTest, ValueWritesAreBoundedAsReadsAre) {
    RegKey key = nullptr;
    ASSERT_EQ(RegCreateKey(RegLocalMachine(), "SOFTWARE\\BriskoFilter", &key), kErrorSuccess);
    const std::string atLimit(regfile::kMaxValueBytes, 'a');
    const std::string over(regfile::kMaxValueBytes + 1, 'a');
    auto set = [&](const std::string& data) {
        return RegSetValue(key, "blob", kRegBinary,
                           reinterpret_cast<const unsigned char*>(data.data()),
                           static_cast<std::uint32_t>(data.size()));
    };
    EXPECT_EQ(set(over), kNoResources);
    EXPECT_EQ(set(atLimit), kErrorSuccess);
    RegCloseKey(key);
    std::string back;
    EXPECT_EQ(QueryFilterValue("blob", &back), kErrorSuccess);
    EXPECT_EQ(back, atLimit);
}

TEST_F(RegistryHostileTest, AFifoInPlaceOfTheFileIsABadFileNotAHang) {
    ASSERT_EQ(mkfifo(registryFile_.c_str(), 0600), 0);
    // Opened without blocking: a reader that waited for a writer would never get here.
    EXPECT_EQ(QueryFilterValue("apppath"), kBadDb);
    EXPECT_NE(RegistryFileError().find("not a regular file"), std::string::npos);
    RegKey key = nullptr;
    EXPECT_EQ(RegCreateKey(RegLocalMachine(), "SOFTWARE\\BriskoFilter", &key), kBadDb);
    struct stat st {};
    ASSERT_EQ(lstat(registryFile_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST(RegFileTree, AnyDepthIsBuiltAndDestroyedWithoutRecursion) {
    // Built directly, past what a file may hold, to prove destruction never recurses.
    std::vector<std::string> parts(200000, "k");
    parts.front() = "HKEY_LOCAL_MACHINE";
    auto top = std::make_unique<regfile::Node>();
    regfile::Node* leaf = regfile::CreateKey(top.get(), parts);
    leaf->SetValue("v", kRegDword, std::string(4, '\0'));
    EXPECT_EQ(regfile::FindKey(top.get(), parts), leaf);
    top.reset();
    regfile::Node other;
    regfile::CreateKey(&other, parts)->SetValue("v", kRegDword, "");
    regfile::FindKey(&other, std::vector<std::string>(parts.begin(), parts.begin() + 2))->Clear();
    EXPECT_EQ(regfile::FindKey(&other, parts), nullptr);
}
