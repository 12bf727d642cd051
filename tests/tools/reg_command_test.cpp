// `tallyctl reg` against a private registry file: the reg command's syntax, its output, its
// Yes/No questions, and export/import round trips.
#include "tools/reg_command.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "tests/support/test_env.h"

using testing_support::ReadAll;
using testing_support::WriteAll;

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

class RegCommandTest : public testing_support::RegistryTest {
  protected:
    Outcome Reg(const std::vector<std::string>& args, const std::string& answers = "") {
        std::istringstream in(answers);
        std::ostringstream out;
        std::ostringstream err;
        const int status = RunRegCommand(args, in, out, err);
        return {status, out.str(), err.str()};
    }

    std::string Raw(const std::string& subKey, const std::string& name) {
        platform::RegKey key = nullptr;
        if (platform::RegOpenKey(platform::RegLocalMachine(), subKey, platform::RegAccess::Read,
                                 &key) != platform::kErrorSuccess) {
            return "<no key>";
        }
        std::vector<platform::RegValue> values;
        platform::RegEnumValues(key, &values);
        platform::RegCloseKey(key);
        for (const auto& v : values) {
            if (v.name == name) {
                return v.data;
            }
        }
        return "<no value>";
    }
};

const char kKey[] = "HKLM\\SOFTWARE\\BriskoFilter";
const char kOk[] = "The operation completed successfully.\n";

}  // namespace

TEST_F(RegCommandTest, AddStoresEachTypeAndQueryShowsItLikeReg) {
    struct Case {
        std::vector<std::string> typeAndData;
        std::string stored;
        std::string shown;
    };
    const std::vector<Case> cases = {
        {{"/d", "C:\\Brisko\\"}, std::string("C:\\Brisko\\\0", 11), "REG_SZ    C:\\Brisko\\"},
        {{"/t", "REG_SZ"}, std::string("\0", 1), "REG_SZ    "},
        {{"/t", "reg_dword", "/d", "14"}, std::string("\x0e\0\0\0", 4), "REG_DWORD    0xe"},
        {{"/t", "REG_DWORD", "/d", "0xFFFFFFFF"}, "\xff\xff\xff\xff", "REG_DWORD    0xffffffff"},
        {{"/t", "REG_BINARY", "/d", "00ff7F"},
         std::string("\0\xff\x7f", 3),
         "REG_BINARY    00FF7F"},
        {{"/t", "REG_MULTI_SZ", "/d", "a\\0bc"},
         std::string("a\0bc\0\0", 6),
         "REG_MULTI_SZ    a\\0bc"},
        {{"/t", "REG_EXPAND_SZ", "/d", "%TEMP%"},
         std::string("%TEMP%\0", 7),
         "REG_EXPAND_SZ    %TEMP%"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"add", kKey, "/v", "Val", "/f"};
        args.insert(args.end(), c.typeAndData.begin(), c.typeAndData.end());
        const Outcome added = Reg(args);
        ASSERT_EQ(added.status, 0) << added.err;
        EXPECT_EQ(added.out, kOk);
        EXPECT_EQ(Raw("SOFTWARE\\BriskoFilter", "Val"), c.stored) << c.shown;
        const Outcome shown = Reg({"query", kKey, "/V", "val"});
        EXPECT_EQ(shown.status, 0);
        EXPECT_EQ(shown.out,
                  "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\BriskoFilter\n    Val    " + c.shown + "\n\n");
    }
}

TEST_F(RegCommandTest, QueryListsValuesThenSubkeys) {
    ASSERT_EQ(Reg({"add", kKey, "/v", "apppath", "/d", "/opt/brisko/"}).status, 0);
    ASSERT_EQ(Reg({"add", kKey, "/ve", "/d", "bell\a"}).status, 0);
    ASSERT_EQ(Reg({"add", std::string(kKey) + "\\Zeta"}).status, 0);
    ASSERT_EQ(Reg({"add", std::string(kKey) + "\\alpha"}).status, 0);
    const Outcome q = Reg({"query", "HKEY_LOCAL_MACHINE\\SOFTWARE\\BriskoFilter\\"});
    EXPECT_EQ(q.status, 0);
    EXPECT_EQ(q.out,
              "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\BriskoFilter\n"
              "    apppath    REG_SZ    /opt/brisko/\n"
              "    (Default)    REG_SZ    bell\\x07\n"
              "\n"
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\BriskoFilter\\alpha\n"
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\BriskoFilter\\Zeta\n");
}

TEST_F(RegCommandTest, OverwritesAndDeletesOnlyWhenConfirmedOrForced) {
    ASSERT_EQ(Reg({"add", kKey, "/v", "ReportTime", "/d", "7"}).status, 0);

    Outcome o = Reg({"add", kKey, "/v", "reporttime", "/d", "8"}, "no\n");
    EXPECT_EQ(o.out,
              "Value reporttime exists, overwrite (Yes/No)? "
              "The operation was canceled by the user.\n");
    EXPECT_EQ(Raw("SOFTWARE\\BriskoFilter", "ReportTime"), std::string("7\0", 2));
    o = Reg({"add", kKey, "/v", "ReportTime", "/d", "8"});  // no answer at all
    EXPECT_EQ(Raw("SOFTWARE\\BriskoFilter", "ReportTime"), std::string("7\0", 2));
    o = Reg({"add", kKey, "/v", "ReportTime", "/d", "8"}, "Yes\r\n");
    EXPECT_EQ(Raw("SOFTWARE\\BriskoFilter", "ReportTime"), std::string("8\0", 2));

    o = Reg({"delete", kKey, "/v", "ReportTime"}, "n\n");
    EXPECT_EQ(Raw("SOFTWARE\\BriskoFilter", "ReportTime"), std::string("8\0", 2));
    o = Reg({"delete", kKey, "/v", "ReportTime", "/f"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(Raw("SOFTWARE\\BriskoFilter", "ReportTime"), "<no value>");

    o = Reg({"delete", kKey, "/v", "ReportTime", "/f"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "ERROR: The system was unable to find the specified registry key or value.\n");

    o = Reg({"delete", "HKLM\\SOFTWARE", "/f"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(Raw("SOFTWARE", "x"), "<no key>");
    EXPECT_EQ(Reg({"delete", "HKLM", "/f"}).status, 1);
}

TEST_F(RegCommandTest, ExportThenImportRestoresEveryByte) {
    std::string awkward;
    for (int i = 255; i >= 0; --i) {
        awkward.push_back(static_cast<char>(i));
    }
    platform::RegKey key = nullptr;
    ASSERT_EQ(
        platform::RegCreateKey(platform::RegLocalMachine(), "SOFTWARE\\BriskoFilter\\Mail", &key),
        platform::kErrorSuccess);
    ASSERT_EQ(platform::RegSetValue(key, "SMTPPASS\xe9", platform::kRegSz,
                                    reinterpret_cast<const unsigned char*>(awkward.data()),
                                    static_cast<std::uint32_t>(awkward.size())),
              platform::kErrorSuccess);
    platform::RegCloseKey(key);
    ASSERT_EQ(Reg({"add", kKey, "/v", "apppath", "/d", "/opt/brisko/"}).status, 0);

    const std::string file = scratch_ / "settings.reg";
    Outcome o = Reg({"export", "hklm\\software\\BriskoFilter", file});
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string exported = ReadAll(file);
    const std::string head =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\software\\BriskoFilter]\r\n"
        "\"apppath\"=\"/opt/brisko/\"\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\software\\BriskoFilter\\Mail]\r\n"
        "\"SMTPPASS\xe9\"=hex(1):ff,fe,";
    EXPECT_EQ(exported.substr(0, head.size()), head);

    // An existing file is replaced only when confirmed.
    o = Reg({"export", kKey, file}, "no\n");
    EXPECT_EQ(o.out, "File " + file +
                         " already exists. Overwrite (Yes/No)? "
                         "The operation was canceled by the user.\n");
    EXPECT_EQ(Reg({"export", kKey, file, "/y"}).status, 0);

    ASSERT_EQ(Reg({"delete", "HKLM\\SOFTWARE", "/f"}).status, 0);
    o = Reg({"import", file});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(Raw("SOFTWARE\\BriskoFilter\\Mail", "SMTPPASS\xe9"), awkward);
    EXPECT_EQ(Raw("SOFTWARE\\BriskoFilter", "apppath"), std::string("/opt/brisko/\0", 13));
}

TEST_F(RegCommandTest, ImportOfABadFileChangesNothing) {
    ASSERT_EQ(Reg({"add", kKey, "/v", "apppath", "/d", "/opt/brisko/"}).status, 0);
    const std::string before = ReadAll(registryFile_);
    const std::string file = scratch_ / "bad.reg";
    struct Case {
        std::string text;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"Windows Registry Editor Version 5.00\r\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\BriskoFilter]\r\n"
         "\"apppath\"=\"/elsewhere/\"\r\n"
         "\"RegDaily\"=dword:xyz\r\n",
         "ERROR: " + file + ":4: bad dword \"xyz\"\n"},
        {"Windows Registry Editor Version 5.00\r\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\BriskoFilter]\r\n"
         "\"apppath\"=\"/elsewhere/\"\r\n"
         "[HKEY_CURRENT_USER\\Software]\r\n",
         "ERROR: " + file + ":4: only HKEY_LOCAL_MACHINE and HKEY_CLASSES_ROOT can be imported\n"},
    };
    for (const Case& c : cases) {
        WriteAll(file, c.text);
        const Outcome o = Reg({"import", file});
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.err, c.error);
        EXPECT_EQ(ReadAll(registryFile_), before);
    }
    const Outcome missing = Reg({"import", scratch_ / "absent.reg"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("Error opening the file"), std::string::npos);
}

TEST_F(RegCommandTest, RefusesBadSyntaxBeforeTouchingTheRegistry) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"add"},
        {"add", kKey, "/v"},
        {"add", kKey, "/v", "a", "/v", "b"},
        {"add", kKey, "/v", "a", "/ve"},
        {"add", kKey, "/v", "a", "/x"},
        {"add", kKey, "/v", "a", "/t", "REG_WHATEVER"},
        {"add", kKey, "/v", "a", "/t", "REG_DWORD", "/d", "4294967296"},
        {"add", kKey, "/v", "a", "/t", "REG_DWORD", "/d", "-1"},
        {"add", kKey, "/v", "a", "/t", "REG_BINARY", "/d", "abc"},
        {"add", "HKCU\\Software", "/v", "a"},
        {"query", kKey, "/f"},
        {"delete", kKey, "/t", "REG_SZ"},
        {"import"},
        {"export", kKey},
    };
    for (const auto& args : cases) {
        const Outcome o = Reg(args);
        EXPECT_EQ(o.status, 1) << (args.empty() ? "" : args[0]);
        EXPECT_TRUE(!o.err.empty() || args.empty());
    }
    EXPECT_FALSE(testing_support::Exists(registryFile_));
}

TEST_F(RegCommandTest, ADamagedRegistryFileIsReportedWithItsReason) {
    std::string deep = "HKEY_LOCAL_MACHINE";
    for (int i = 0; i < 20000; ++i) {
        deep += "\\k";
    }
    const std::string text = "Windows Registry Editor Version 5.00\r\n\r\n[" + deep + "]\r\n";
    WriteAll(registryFile_, text);
    const Outcome query = Reg({"query", kKey});
    EXPECT_EQ(query.status, 1);
    EXPECT_EQ(query.err, "ERROR: The configuration registry database is corrupt.\n" +
                             registryFile_ + ":3: key path deeper than 512 levels\n");
    EXPECT_EQ(Reg({"add", kKey, "/v", "x", "/d", "1", "/f"}).status, 1);
    EXPECT_TRUE(ReadAll(registryFile_) == text);
}
