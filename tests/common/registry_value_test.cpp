// The registry value classes: path splitting, loading, write-on-change, silent failures.
#include "common/registry_value.h"

#include <gtest/gtest.h>

#include "tests/support/test_env.h"

namespace {

using RegistryValueTest = testing_support::RegistryTest;

TEST(RegistryPath, SplitsKeyAndValueName) {
    const struct {
        const char* path;
        const char* subKey;
        const char* valueName;
    } cases[] = {
        {"\\SOFTWARE\\BriskoFilter\\apppath", "SOFTWARE\\BriskoFilter", "apppath"},
        {"Software\\BriskoFilter\\ToSendFile", "Software\\BriskoFilter", "ToSendFile"},
        {"\\SOFTWARE\\BriskoFilter\\\\apppath", "SOFTWARE\\BriskoFilter", "apppath"},
        {"\\\\\\SOFTWARE\\BriskoFilter\\apppath", "SOFTWARE\\BriskoFilter", "apppath"},
        {"apppath", "", "apppath"},
        {"\\apppath", "", "apppath"},
        {"\\SOFTWARE\\BriskoFilter\\", "SOFTWARE\\BriskoFilter", ""},
    };
    for (const auto& c : cases) {
        std::string subKey, valueName;
        SplitRegistryPath(c.path, &subKey, &valueName);
        EXPECT_EQ(subKey, c.subKey) << c.path;
        EXPECT_EQ(valueName, c.valueName) << c.path;
    }
}

TEST_F(RegistryValueTest, AbsentKeyGivesTheDefaultAndTheFirstSetCreatesIt) {
    RegistryString s("\\SOFTWARE\\BriskoFilter\\apppath", "fallback");
    EXPECT_FALSE(s.Loaded());
    EXPECT_EQ(s.Get(), "fallback");
    s.Set("C:\\Proxy\\");
    EXPECT_TRUE(s.Loaded());
    RegistryString again("\\SOFTWARE\\BriskoFilter\\apppath", "");
    EXPECT_EQ(again.Get(), "C:\\Proxy\\");
}

TEST_F(RegistryValueTest, NamesIgnoreCaseAndDoubledSeparators) {
    testing_support::SetRegString("ToSendFile", "a.xml");
    RegistryString mixed("Software\\BriskoFilter\\ToSendFile", "");
    EXPECT_EQ(mixed.Get(), "a.xml");
    RegistryString doubled("\\SOFTWARE\\BriskoFilter\\\\tosendfile", "");
    EXPECT_EQ(doubled.Get(), "a.xml");
}

TEST_F(RegistryValueTest, GetReturnsTheCachedValueOnceLoaded) {
    testing_support::SetRegString("ReportTime", "14");
    RegistryString time("\\SOFTWARE\\BriskoFilter\\ReportTime", "");
    testing_support::SetRegString("ReportTime", "15");
    EXPECT_EQ(time.Get(), "14");
    RegistryString fresh("\\SOFTWARE\\BriskoFilter\\ReportTime", "");
    EXPECT_EQ(fresh.Get(), "15");
}

TEST_F(RegistryValueTest, AlwaysReadGoesToTheRegistryEveryTime) {
    testing_support::SetRegString("ReportTime", "14");
    RegistryString time("\\SOFTWARE\\BriskoFilter\\ReportTime", "", true);
    testing_support::SetRegString("ReportTime", "15");
    EXPECT_EQ(time.Get(), "15");
}

TEST_F(RegistryValueTest, SetWritesOnlyOnChange) {
    RegistryString s("\\SOFTWARE\\BriskoFilter\\dellogdate", "");
    s.Set("7/12/2026");
    // Changed behind its back: the same assignment again must not write.
    testing_support::SetRegString("dellogdate", "other");
    s.Set("7/12/2026");
    std::string now;
    ASSERT_TRUE(testing_support::GetRegString("dellogdate", &now));
    EXPECT_EQ(now, "other");
    s.Set("8/12/2026");
    ASSERT_TRUE(testing_support::GetRegString("dellogdate", &now));
    EXPECT_EQ(now, "8/12/2026");
}

TEST_F(RegistryValueTest, ZeroAssignedToAnAbsentDwordStaysAbsent) {
    RegistryDword d("\\SOFTWARE\\BriskoFilter\\CreatedXml", 7);
    d.Set(0);
    RegistryDword again("\\SOFTWARE\\BriskoFilter\\CreatedXml", 7);
    EXPECT_FALSE(again.Loaded());
    EXPECT_EQ(again.Get(), 7u);
    d.Set(1);
    RegistryDword third("\\SOFTWARE\\BriskoFilter\\CreatedXml", 7);
    EXPECT_EQ(third.Get(), 1u);
}

TEST_F(RegistryValueTest, DwordReadsAnyValueOfAtMostFourBytesAsItsBytes) {
    // The text "1" is the bytes '1' and NUL: the number 0x31, not 1.
    testing_support::SetRegString("RegDaily", "1");
    RegistryDword quirk("\\SOFTWARE\\BriskoFilter\\RegDaily", 0);
    EXPECT_EQ(quirk.Get(), 0x31u);
    // Five bytes do not fit: the default.
    testing_support::SetRegString("RegWeekly", "1234");
    RegistryDword tooLong("\\SOFTWARE\\BriskoFilter\\RegWeekly", 9);
    EXPECT_EQ(tooLong.Get(), 9u);
    testing_support::SetRegDword("RegMonthly", 1);
    RegistryDword real("\\SOFTWARE\\BriskoFilter\\RegMonthly", 0);
    EXPECT_EQ(real.Get(), 1u);
}

TEST_F(RegistryValueTest, StringStopsAtItsFirstNulAndKeepsHighBytes) {
    platform::RegKey key = nullptr;
    ASSERT_EQ(platform::RegCreateKey(platform::RegLocalMachine(), "SOFTWARE\\BriskoFilter", &key),
              platform::kErrorSuccess);
    const unsigned char data[] = {'a', 0xE9, 0xFF, 0, 'z', 0};
    ASSERT_EQ(platform::RegSetValue(key, "SMTPSRV", platform::kRegBinary, data, sizeof data),
              platform::kErrorSuccess);
    platform::RegCloseKey(key);
    RegistryString s("Software\\BriskoFilter\\SMTPSRV", "");
    EXPECT_EQ(s.Get(), std::string("a\xE9\xFF"));
}

TEST_F(RegistryValueTest, AnUnwritableRegistryFailsSilently) {
    if (!platform::RegistryIsFile()) {
        GTEST_SKIP() << "the system registry cannot be damaged";
    }
    testing_support::WriteAll(registryFile_, "this is not a registry file\n");
    RegistryString s("\\SOFTWARE\\BriskoFilter\\apppath", "dflt");
    EXPECT_EQ(s.Get(), "dflt");
    s.Set("C:\\Proxy\\");  // nothing may be thrown, nothing written
    EXPECT_FALSE(s.Loaded());
    EXPECT_EQ(testing_support::ReadAll(registryFile_), "this is not a registry file\n");
}

}  // namespace
