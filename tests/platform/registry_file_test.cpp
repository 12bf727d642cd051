// The registry over a .reg file: Win32 call semantics, exact round trip of any bytes,
// case-insensitive names, concurrent writers in separate processes, and a damaged file that
// is left alone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/registry_value.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "tests/support/test_env.h"

using namespace platform;
using testing_support::ReadAll;
using testing_support::WriteAll;

namespace {

constexpr long kBadDb = 1009;
constexpr long kInvalidHandle = 6;
const char kFilterKey[] = "SOFTWARE\\BriskoFilter";

class RegistryFileTest : public testing_support::RegistryTest {
  protected:
    RegKey Create(const std::string& subKey) {
        RegKey key = nullptr;
        EXPECT_EQ(RegCreateKey(RegLocalMachine(), subKey, &key), kErrorSuccess);
        return key;
    }

    // Sets a value through a fresh handle and reads it back through another one.
    std::string RoundTrip(const std::string& name, std::uint32_t type, const std::string& data) {
        RegKey key = Create(kFilterKey);
        EXPECT_EQ(RegSetValue(key, name, type, reinterpret_cast<const unsigned char*>(data.data()),
                              static_cast<std::uint32_t>(data.size())),
                  kErrorSuccess);
        RegCloseKey(key);
        EXPECT_EQ(RegOpenKey(RegLocalMachine(), kFilterKey, RegAccess::Read, &key), kErrorSuccess);
        std::uint32_t size = 0;
        std::uint32_t storedType = 99;
        EXPECT_EQ(RegQueryValue(key, name, &storedType, nullptr, &size), kErrorSuccess);
        EXPECT_EQ(storedType, type);
        std::string back(size, '\0');
        EXPECT_EQ(
            RegQueryValue(key, name, nullptr, reinterpret_cast<unsigned char*>(back.data()), &size),
            kErrorSuccess);
        RegCloseKey(key);
        return back;
    }
};

// Names in the registry file's directory: no temporary may be left behind.
std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<platform::DirEntry> entries;
    platform::ListDirectory(dir, &entries);
    std::vector<std::string> names;
    for (const auto& e : entries) {
        names.push_back(e.name);
    }
    return names;
}

const std::vector<std::string> kRegistryFiles = {"registry.reg", "registry.reg.lock"};

std::string AllBytes() {
    std::string s;
    for (int i = 0; i < 256; ++i) {
        s.push_back(static_cast<char>(i));
    }
    return s;
}

}  // namespace

TEST_F(RegistryFileTest, AnyBytesAndNamesRoundTripExactly) {
    struct Case {
        std::string name;
        std::uint32_t type;
        std::string data;
    };
    const std::vector<Case> cases = {
        {"all256", kRegBinary, AllBytes()},
        {"all256sz", kRegSz, AllBytes()},
        {"NULs", kRegSz, std::string("a\0b\0\0", 5)},
        {"noTerminator", kRegSz, "abc"},
        {"plain", kRegSz, std::string("C:\\Program Files\\Brisko\\\0", 25)},
        {"quotes\"and\\slashes", kRegSz, std::string("\"\\\"\\\\\0", 6)},
        {"high\xe9\xff name", kRegSz, std::string("caf\xe9 \x80\xff\0", 8)},
        {"", kRegSz, std::string("default\0", 8)},
        {"dword", kRegDword, std::string("\xff\x00\x10\x80", 4)},
        {"oddDword", kRegDword, "12345"},
        {"empty", kRegBinary, ""},
        {"multi", kRegMultiSz, std::string("a\0b\0\0", 5)},
        {" spaced = name ", 0x12345678, "x"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RoundTrip(c.name, c.type, c.data), c.data) << c.name;
    }
    // Every value is still there, intact, after all the rewrites.
    RegKey key = nullptr;
    ASSERT_EQ(RegOpenKey(RegLocalMachine(), kFilterKey, RegAccess::Read, &key), kErrorSuccess);
    std::vector<RegValue> values;
    ASSERT_EQ(RegEnumValues(key, &values), kErrorSuccess);
    RegCloseKey(key);
    ASSERT_EQ(values.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(values[i].name, cases[i].name);
        EXPECT_EQ(values[i].type, cases[i].type);
        EXPECT_EQ(values[i].data, cases[i].data);
    }
    // Plain text stays readable in the file.
    EXPECT_NE(ReadAll(registryFile_).find("\"plain\"=\"C:\\\\Program Files\\\\Brisko\\\\\"\r\n"),
              std::string::npos);
    EXPECT_EQ(FilesIn(scratch_.Path()), kRegistryFiles);
}

TEST_F(RegistryFileTest, KeyAndValueNamesIgnoreCaseAndKeepTheirStoredCase) {
    RegKey key = Create("SOFTWARE\\BriskoFilter");
    const unsigned char one[] = "1";
    ASSERT_EQ(RegSetValue(key, "AppPath", kRegSz, one, 2), kErrorSuccess);
    RegCloseKey(key);

    ASSERT_EQ(RegOpenKey(RegLocalMachine(), "software\\BRISKOFILTER", RegAccess::All, &key),
              kErrorSuccess);
    const unsigned char two[] = "2";
    ASSERT_EQ(RegSetValue(key, "apppath", kRegSz, two, 2), kErrorSuccess);
    std::uint32_t size = 0;
    EXPECT_EQ(RegQueryValue(key, "APPPATH", nullptr, nullptr, &size), kErrorSuccess);
    std::vector<RegValue> values;
    ASSERT_EQ(RegEnumValues(key, &values), kErrorSuccess);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].name, "AppPath");
    EXPECT_EQ(values[0].data, std::string("2\0", 2));
    RegCloseKey(key);

    RegKey software = nullptr;
    ASSERT_EQ(RegOpenKey(RegRootFromName("hklm"), "Software", RegAccess::Read, &software),
              kErrorSuccess);
    std::vector<std::string> subkeys;
    ASSERT_EQ(RegEnumSubKeys(software, &subkeys), kErrorSuccess);
    EXPECT_EQ(subkeys, std::vector<std::string>{"BriskoFilter"});
    RegCloseKey(software);
}

TEST_F(RegistryFileTest, CallsFollowTheWin32Semantics) {
    RegKey key = nullptr;
    EXPECT_EQ(RegOpenKey(RegLocalMachine(), kFilterKey, RegAccess::Read, &key), kErrorFileNotFound);
    EXPECT_EQ(key, nullptr);

    // Creating a key creates its parents; empty components are ignored.
    key = Create("\\SOFTWARE\\BriskoFilter\\\\Deep\\");
    RegCloseKey(key);
    for (const char* path :
         {"SOFTWARE", "SOFTWARE\\BriskoFilter", "SOFTWARE\\BriskoFilter\\Deep"}) {
        EXPECT_EQ(RegOpenKey(RegLocalMachine(), path, RegAccess::Read, &key), kErrorSuccess);
        RegCloseKey(key);
    }

    key = Create(kFilterKey);
    const unsigned char text[] = "abc";
    ASSERT_EQ(RegSetValue(key, "ReportTime", kRegSz, text, 4), kErrorSuccess);  // as the classes do
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    EXPECT_EQ(RegQueryValue(key, "ReportTime", &type, nullptr, &size), kErrorSuccess);
    EXPECT_EQ(type, kRegSz);
    EXPECT_EQ(size, 4u);
    unsigned char buffer[8] = {};
    size = 2;
    EXPECT_EQ(RegQueryValue(key, "ReportTime", &type, buffer, &size), kErrorMoreData);
    EXPECT_EQ(size, 4u);
    size = sizeof buffer;
    EXPECT_EQ(RegQueryValue(key, "ReportTime", nullptr, buffer, &size), kErrorSuccess);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), std::string("abc\0", 4));
    EXPECT_EQ(RegQueryValue(key, "ReportTime", nullptr, buffer, nullptr), kErrorInvalidParameter);

    EXPECT_EQ(RegQueryValue(key, "absent", nullptr, nullptr, &size), kErrorFileNotFound);
    EXPECT_EQ(RegDeleteValue(key, "absent"), kErrorFileNotFound);
    EXPECT_EQ(RegDeleteValue(key, "reporttime"), kErrorSuccess);
    EXPECT_EQ(RegQueryValue(key, "ReportTime", nullptr, nullptr, &size), kErrorFileNotFound);
    RegCloseKey(key);

    // A key opened for reading cannot be written; a closed handle is refused.
    ASSERT_EQ(RegOpenKey(RegLocalMachine(), kFilterKey, RegAccess::Read, &key), kErrorSuccess);
    EXPECT_EQ(RegSetValue(key, "x", kRegSz, text, 4), kErrorAccessDenied);
    EXPECT_EQ(RegCloseKey(key), kErrorSuccess);
    EXPECT_EQ(RegCloseKey(key), kInvalidHandle);
    EXPECT_EQ(RegQueryValue(key, "x", nullptr, nullptr, &size), kInvalidHandle);
}

TEST_F(RegistryFileTest, DeleteTreeRemovesTheKeyAndEverythingBelow) {
    RegKey key = Create("AppID\\Tallyvane.EXE");
    const unsigned char id[] = "{1B9D4CC0-FE54-418D-BDDF-036639A2A4FE}";
    ASSERT_EQ(RegSetValue(key, "AppID", kRegSz, id, sizeof id), kErrorSuccess);
    RegCloseKey(key);
    RegCloseKey(Create("AppID\\Tallyvane.EXE\\Below"));

    EXPECT_EQ(RegDeleteTree(RegLocalMachine(), "appid\\TALLYVANE.exe"), kErrorSuccess);
    EXPECT_EQ(RegOpenKey(RegLocalMachine(), "AppID\\Tallyvane.EXE", RegAccess::Read, &key),
              kErrorFileNotFound);
    EXPECT_EQ(RegOpenKey(RegLocalMachine(), "AppID", RegAccess::Read, &key), kErrorSuccess);
    RegCloseKey(key);
    EXPECT_EQ(RegDeleteTree(RegLocalMachine(), "AppID\\Tallyvane.EXE"), kErrorFileNotFound);
}

TEST_F(RegistryFileTest, ReadsContinuationLinesOfAHandWrittenFile) {
    WriteAll(registryFile_,
             "Windows Registry Editor Version 5.00\n\n"
             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\BriskoFilter]\n"
             "\"SMTPSRV\"=hex(1):6d,61,69,6c,2e,\\\n"
             "  65,78,61,6d,70,6c,65,2e,\\\n"
             "  6f,72,67,00\n"
             "\"RegDaily\"=dword:00000001\n");
    std::string server;
    EXPECT_TRUE(testing_support::GetRegString("SMTPSRV", &server));
    EXPECT_EQ(server, "mail.example.org");
    std::uint32_t daily = 0;
    EXPECT_TRUE(testing_support::GetRegDword("RegDaily", &daily));
    EXPECT_EQ(daily, 1u);
}

TEST_F(RegistryFileTest, UnparsableFileIsNeverRewrittenAndWritesFail) {
    const std::string damaged =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\BriskoFilter]\r\n"
        "\"apppath\"=\"C:\\Brisko\\\"\r\n";  // unescaped backslashes
    WriteAll(registryFile_, damaged);

    RegKey key = nullptr;
    EXPECT_EQ(RegOpenKey(RegLocalMachine(), kFilterKey, RegAccess::Read, &key), kBadDb);
    EXPECT_EQ(RegCreateKey(RegLocalMachine(), kFilterKey, &key), kBadDb);
    EXPECT_EQ(key, nullptr);
    const unsigned char data[] = "x";
    EXPECT_EQ(RegSetValue(RegLocalMachine(), "v", kRegSz, data, 2), kBadDb);
    EXPECT_EQ(RegDeleteTree(RegLocalMachine(), kFilterKey), kBadDb);

    // The registry classes fail silently and yield their defaults.
    RegistryString appPath("\\SOFTWARE\\BriskoFilter\\apppath", "default");
    EXPECT_EQ(appPath.Get(), "default");
    appPath.Set("/opt/brisko/");
    RegistryDword created("\\SOFTWARE\\BriskoFilter\\CreatedXml", 0);
    created.Set(1);

    EXPECT_EQ(ReadAll(registryFile_), damaged);
    EXPECT_EQ(FilesIn(scratch_.Path()), kRegistryFiles);
}

TEST_F(RegistryFileTest, ConcurrentWritersInSeparateProcessesLoseNothing) {
    constexpr int kWriters = 4;
    constexpr int kValuesEach = 25;
    std::string command;
    for (int w = 0; w < kWriters; ++w) {
        command += "'" TALLY_REGISTRY_WRITER "' " + std::to_string(w) + " " +
                   std::to_string(kValuesEach) + " >/dev/null 2>&1 & ";
    }
    command += "wait";
    ASSERT_EQ(std::system(command.c_str()), 0);

    RegKey key = nullptr;
    ASSERT_EQ(RegOpenKey(RegLocalMachine(), kFilterKey, RegAccess::Read, &key), kErrorSuccess);
    std::vector<RegValue> values;
    ASSERT_EQ(RegEnumValues(key, &values), kErrorSuccess);
    RegCloseKey(key);
    EXPECT_EQ(values.size(), static_cast<std::size_t>(kWriters * kValuesEach));
    for (int w = 0; w < kWriters; ++w) {
        for (int i = 0; i < kValuesEach; ++i) {
            std::uint32_t v = 0;
            const std::string name = "w" + std::to_string(w) + "_" + std::to_string(i);
            EXPECT_TRUE(testing_support::GetRegDword(name, &v)) << name;
            EXPECT_EQ(v, static_cast<std::uint32_t>(w * 1000 + i + 1)) << name;
        }
    }
}
