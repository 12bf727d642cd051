// The .reg text format on its own: what the writer produces, what the parser accepts and
// what it refuses (with the line it names).
#include "platform/regfile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rf = platform::regfile;

namespace {

rf::Node ParseOk(const std::string& text) {
    std::vector<rf::Section> sections;
    rf::ParseError error;
    EXPECT_TRUE(rf::Parse(text, &sections, &error)) << error.line << ": " << error.message;
    rf::Node top;
    rf::Apply(sections, &top);
    return top;
}

const rf::Node* Key(const rf::Node& top, const std::string& path) {
    std::vector<std::string> parts;
    if (!rf::SplitKeyPath(path, false, &parts)) {
        return nullptr;
    }
    return rf::FindKey(&top, parts);
}

}  // namespace

TEST(RegFileFormat, WritesEachKindOfValueInTheEditorsForm) {
    struct Case {
        rf::Value value;
        std::string line;
    };
    const std::vector<Case> cases = {
        {{"apppath", 1, std::string("C:\\Brisko\\\0", 11)}, "\"apppath\"=\"C:\\\\Brisko\\\\\""},
        {{"q\"uote", 1, std::string("say \"hi\"\0", 9)}, "\"q\\\"uote\"=\"say \\\"hi\\\"\""},
        {{"", 1, std::string("Tallyvane\0", 10)}, "@=\"Tallyvane\""},
        {{"RegDaily", 4, std::string("\x0e\0\0\0", 4)}, "\"RegDaily\"=dword:0000000e"},
        {{"big", 4, std::string("\x78\x56\x34\x12", 4)}, "\"big\"=dword:12345678"},
        // Text the quotes cannot carry: no NUL, two NULs, a byte above 0x7F, a line feed.
        {{"raw", 1, "ab"}, "\"raw\"=hex(1):61,62"},
        {{"two", 1, std::string("a\0\0", 3)}, "\"two\"=hex(1):61,00,00"},
        {{"high", 1, std::string("\xe9\0", 2)}, "\"high\"=hex(1):e9,00"},
        {{"lf", 1, std::string("a\nb\0", 4)}, "\"lf\"=hex(1):61,0a,62,00"},
        {{"short", 4, "ab"}, "\"short\"=hex(4):61,62"},
        {{"bin", 3, ""}, "\"bin\"=hex:"},
        {{"none", 0, "\x01"}, "\"none\"=hex(0):01"},
        {{"qword", 11, "\x01"}, "\"qword\"=hex(b):01"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(rf::FormatValue(c.value), c.line) << c.value.name;
    }
}

TEST(RegFileFormat, WholeTreeIsSortedWithParentsBeforeChildren) {
    rf::Node top;
    rf::Node* filter = rf::CreateKey(&top, {"HKEY_LOCAL_MACHINE", "SOFTWARE", "BriskoFilter"});
    filter->SetValue("apppath", 1, std::string("/opt/brisko/\0", 13));
    rf::CreateKey(&top, {"HKEY_LOCAL_MACHINE", "SOFTWARE", "alpha"});
    rf::CreateKey(&top, {"HKEY_CLASSES_ROOT", "AppID"});
    EXPECT_EQ(rf::Serialise(top),
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "[HKEY_CLASSES_ROOT\\AppID]\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\alpha]\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\BriskoFilter]\r\n"
              "\"apppath\"=\"/opt/brisko/\"\r\n\r\n");
}

TEST(RegFileFormat, LongHexIsWrappedAndReadsBack) {
    std::string data;
    for (int i = 0; i < 256; ++i) {
        data.push_back(static_cast<char>(i));
    }
    const std::string text = rf::FormatValue({"all", 3, data});
    std::size_t start = 0;
    int lines = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        const std::string line =
            text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        EXPECT_LE(line.size(), 80u);
        EXPECT_EQ(end == std::string::npos, line.back() != '\\') << line;
        ++lines;
        start = end == std::string::npos ? text.size() : end + 2;
    }
    EXPECT_GT(lines, 10);
    const rf::Node top = ParseOk(std::string(rf::kHeader) + "\r\n[HKLM\\k]\r\n" + text + "\r\n");
    ASSERT_NE(Key(top, "HKLM\\k"), nullptr);
    EXPECT_EQ(Key(top, "HKLM\\k")->FindValue("ALL")->data, data);
}

TEST(RegFileFormat, ReadsHandWrittenFiles) {
    // LF line ends, comments, blanks around '=', abbreviations, continuation with odd
    // indentation, removals of a key and of a value, a later line overriding an earlier one.
    const rf::Node top = ParseOk(
        "\xef\xbb\xbfWindows Registry Editor Version 5.00\n"
        "; settings of the test installation\n"
        "[hklm\\SOFTWARE\\BriskoFilter]\n"
        "\"apppath\" = \"/srv/brisko/\"\n"
        "\"ReportTime\"=\"7\"\n"
        "\"RegDaily\"=DWORD:1\n"
        "\"blob\"=hex:01,02,\\\n"
        "      03 , 04,\\\n"
        "\t05\n"
        "\"gone\"=\"x\"\n"
        "\"gone\"=-\n"
        "@=\"default\"\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\n"
        "\"x\"=\"y\"\n"
        "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\n"
        "[HKEY_LOCAL_MACHINE\\software\\briskofilter]\n"
        "\"reporttime\"=\"8\"\n");
    const rf::Node* key = Key(top, "HKEY_LOCAL_MACHINE\\SOFTWARE\\BriskoFilter");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->name, "BriskoFilter");
    EXPECT_EQ(key->FindValue("apppath")->data, std::string("/srv/brisko/\0", 13));
    EXPECT_EQ(key->FindValue("ReportTime")->data, std::string("8\0", 2));
    EXPECT_EQ(key->FindValue("ReportTime")->name, "ReportTime");
    EXPECT_EQ(key->FindValue("RegDaily")->data, std::string("\1\0\0\0", 4));
    EXPECT_EQ(key->FindValue("blob")->data, "\x01\x02\x03\x04\x05");
    EXPECT_EQ(key->FindValue("gone"), nullptr);
    EXPECT_EQ(key->FindValue("")->data, std::string("default\0", 8));
    EXPECT_EQ(Key(top, "HKLM\\SOFTWARE\\Old"), nullptr);
    EXPECT_NE(Key(top, "HKLM\\SOFTWARE"), nullptr);
}

TEST(RegFileFormat, RefusesWhatItDoesNotUnderstandNamingTheLine) {
    const std::string h = std::string(rf::kHeader) + "\r\n";
    struct Case {
        std::string text;
        int line;
    };
    const std::vector<Case> cases = {
        {"REGEDIT5\r\n", 1},
        {h + "\"a\"=\"b\"\r\n", 2},                                    // value outside a key
        {h + "[HKLM\\k\r\n", 2},                                       // no ]
        {h + "[HKEY_NOWHERE\\k]\r\n", 2},                              // unknown root
        {h + "[HKLM\\a\\\\b]\r\n", 2},                                 // empty component
        {h + "[HKLM\\k]\r\n\"a\"=\"C:\\Brisko\"\r\n", 3},              // unescaped backslash
        {h + "[HKLM\\k]\r\n\"a\"=\"open\r\n", 3},                      // unterminated
        {h + "[HKLM\\k]\r\n\"a\"=\"x\" trailing\r\n", 3},              // text after the quote
        {h + "[HKLM\\k]\r\n\"a\"=dword:123456789\r\n", 3},             // nine digits
        {h + "[HKLM\\k]\r\n\"a\"=dword:12g4\r\n", 3},                  // not hex
        {h + "[HKLM\\k]\r\n\"a\"=hex:1,200\r\n", 3},                   // byte too long
        {h + "[HKLM\\k]\r\n\"a\"=hex:01,\r\n", 3},                     // dangling comma
        {h + "[HKLM\\k]\r\n\"a\"=hex(z):01\r\n", 3},                   // bad type
        {h + "[HKLM\\k]\r\n\"a\"=hex:01,\\\r\n", 3},                   // continuation at the end
        {h + "[HKLM\\k]\r\n\"a\"=str:x\r\n", 3},                       // unknown data
        {h + "[HKLM\\k]\r\n\"a\"\"b\"\r\n", 3},                        // no '='
        {h + "[HKLM\\k]\r\n\"a\"=hex:01,\\\r\n02,\\\r\n  zz\r\n", 3},  // joined lines
        {h + "[HKLM\\k]\r\ngarbage\r\n", 3},
        {std::string("\xff\xfe") + "W\0i\0", 0},  // UTF-16
    };
    for (const Case& c : cases) {
        std::vector<rf::Section> sections;
        rf::ParseError error;
        EXPECT_FALSE(rf::Parse(c.text, &sections, &error)) << c.text;
        EXPECT_EQ(error.line, c.line) << c.text << " -> " << error.message;
        EXPECT_FALSE(error.message.empty());
    }
}

TEST(RegFileFormat, EmptyTextIsAnEmptyRegistry) {
    std::vector<rf::Section> sections;
    rf::ParseError error;
    EXPECT_TRUE(rf::Parse("", &sections, &error));
    EXPECT_TRUE(rf::Parse("\r\n  \n", &sections, &error));
    EXPECT_TRUE(sections.empty());
}

TEST(RegFileFormat, KeyPathsAcceptAbbreviationsAndRefuseUnstorableNames) {
    std::vector<std::string> parts;
    EXPECT_TRUE(rf::SplitKeyPath("hkcr\\AppID\\{1B9D}", false, &parts));
    EXPECT_EQ(parts, (std::vector<std::string>{"HKEY_CLASSES_ROOT", "AppID", "{1B9D}"}));
    EXPECT_TRUE(rf::SplitKeyPath("HKLM\\\\SOFTWARE\\", true, &parts));
    EXPECT_EQ(parts, (std::vector<std::string>{"HKEY_LOCAL_MACHINE", "SOFTWARE"}));
    EXPECT_FALSE(rf::SplitKeyPath("HKLM\\a\nb", true, &parts));
    EXPECT_FALSE(rf::SplitKeyPath("", true, &parts));
    EXPECT_FALSE(rf::SplitKeyPath("SOFTWARE\\BriskoFilter", true, &parts));
}
