// Report documents: byte-exact layout per kind (golden files), names and titles of the daily
// kinds, the size format, field clean-up, and the file write with its send-list entry.
#include <cstdlib>
#include <string>

#include "platform/files.h"
#include "reports/report_format.h"
#include "tests/reports/golden.h"
#include "tests/reports/xml_check.h"
#include "tests/support/test_env.h"

namespace {

using reports::ReportKind;
using testing_support::ReadAll;
using testing_support::ScratchDir;

// The declaration and stylesheet lines of a traffic document, as its golden file has them.
std::string TrafficHead() {
    const std::string week = golden::Read("week.xml");
    return week.substr(0, week.find("<log>"));
}

class ReportFileTest : public ::testing::Test {
  protected:
    ReportFileTest() {
        ctx_.settings.appPath = scratch_.Path() + "/";
        platform::CreateDirectories(scratch_ / "Logs");
    }
    ScratchDir scratch_;
    stats::LogContext ctx_;
};

TEST(ReportFormat, SizeIsWholeKilobytesInMegabytesRoundedHalfAway) {
    const struct {
        std::int64_t bytes;
        const char* text;
    } cases[] = {
        {1572864, "1.50"},         {5000000, "4.77"},   {2800, "0.00"},
        {131072, "0.13"},          {1023, "0.00"},      {1048576, "1.00"},
        {3670016, "3.50"},         {0, "0.00"},         {1047552, "1.00"},  // 1023 KB
        {3000000000LL, "2861.02"}, {-1048576, "-1.00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(reports::FormatMegabytes(c.bytes), c.text) << c.bytes;
    }
}

TEST(ReportFormat, FieldTextIsUtf8WithoutSpecialsOrControls) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"plain ascii 10.0.0.5 /a?b=c", "plain ascii 10.0.0.5 /a?b=c"},
        {"Jos\xe9", "Jos\xc3\xa9"},    // e acute
        {"\x80 5", "\xe2\x82\xac 5"},  // euro sign from Windows-1252
        {"a\x01\x1f"
         "b\tc",
         "ab\tc"},                       // controls XML forbids go, tab stays
        {std::string("x\0y", 3), "xy"},  // a zero byte too
        {"<script>&amp;", "scriptamp;"},
        {"a'b\"c g_h/?=", "abc g_h/?="},  // the quotes go too, nothing else does
    };
    for (const auto& c : cases) {
        EXPECT_EQ(reports::ToXmlText(c.in), c.out) << c.in;
    }
}

TEST(ReportFormat, RecordsCleanEveryField) {
    EXPECT_EQ(reports::FormatTrafficRecord("10.0.0.<5>", "O'Neil & co", 1048576),
              "<data>\n<ip>10.0.0.5</ip>\n<name>ONeil  co</name>\n<size>1.00</size>\n</data>\n");
    EXPECT_EQ(reports::FormatFilterRecord("07/12/2026", "10.0.0.5", "bob", "14:00:01",
                                          "/a?x=<1>&y='2'\"", "Games Online"),
              "<data>\n<date>07/12/2026</date>\n<ip>10.0.0.5</ip>\n<name>bob</name>\n"
              "<time>14:00:01</time>\n<url>/a?x=1y=2</url>\n<filter>Games Online</filter>\n"
              "</data>\n");
    // The client and filter texts of a filter record are cleaned as well.
    EXPECT_EQ(reports::FormatFilterRecord("", "<c>", "", "", "", "a&b"),
              "<data>\n<date></date>\n<ip>c</ip>\n<name></name>\n<time></time>\n<url></url>\n"
              "<filter>ab</filter>\n</data>\n");
}

TEST(ReportFormat, DailyNamesAndTitles) {
    const struct {
        ReportKind kind;
        const char* literal;
        const char* title;
    } cases[] = {
        {ReportKind::DailyTraffic, "Logs\\day_12_07_2026.xml",
         "<type><lg>Daily Website Traffic - 12/07/2026</lg></type>"},
        {ReportKind::DailyFilter, "Logs\\filterday_07_12_2026.xml",
         "<type><lg>Daily Filter Activity - 07/12/2026</lg></type>"},
        {ReportKind::WeeklyTraffic, "Logs\\week.xml",
         "<type><lg>Weekly Website Traffic</lg></type>"},
        {ReportKind::MonthlyTraffic, "Logs\\month.xml",
         "<type><lg>Monthly Website Traffic</lg></type>"},
        {ReportKind::WeeklyFilter, "Logs\\filterweek.xml",
         "<type><lg>Weekly Filter Activity</lg></type>"},
        {ReportKind::MonthlyFilter, "Logs\\filtermonth.xml",
         "<type><lg>Monthly Filter Activity</lg></type>"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(reports::ReportFileLiteral(c.kind, 7, 12, 2026), c.literal);
        EXPECT_NE(reports::BuildReportDocument(c.kind, 7, 12, 2026, "").find(c.title),
                  std::string::npos)
            << c.title;
    }
    EXPECT_EQ(reports::ReportFileLiteral(ReportKind::DailyTraffic, 25, 1, 2027),
              "Logs\\day_01_25_2027.xml");
}

TEST_F(ReportFileTest, WeeklyTrafficIsByteExact) {
    std::string sendList = "earlier,";
    ASSERT_TRUE(reports::WriteReportFile(
        ctx_, ReportKind::WeeklyTraffic, 7, 12, 2026,
        reports::FormatTrafficRecord("10.0.0.5", "frontdesk", 1572864), sendList));
    golden::ExpectGolden("week.xml", ReadAll(scratch_ / "Logs/week.xml"));
    EXPECT_EQ(sendList,
              "earlier," + platform::AppendPath(ctx_.settings.appPath, "Logs\\week.xml") + ",");
}

TEST_F(ReportFileTest, EveryKindIsByteExact) {
    const std::string traffic = reports::FormatTrafficRecord("10.0.0.5", "bob", 3670016);
    const std::string filter = reports::FormatFilterRecord("d", "c", "u", "t", "/x", "f");
    const struct {
        ReportKind kind;
        const char* file;
    } kinds[] = {
        {ReportKind::DailyTraffic, "day_03_09_2027.xml"},
        {ReportKind::WeeklyTraffic, "week.xml"},
        {ReportKind::MonthlyTraffic, "month.xml"},
        {ReportKind::DailyFilter, "filterday_09_03_2027.xml"},
        {ReportKind::WeeklyFilter, "filterweek.xml"},
        {ReportKind::MonthlyFilter, "filtermonth.xml"},
    };
    std::string sendList;
    std::string entries;
    for (const auto& k : kinds) {
        ASSERT_TRUE(reports::WriteReportFile(ctx_, k.kind, 9, 3, 2027,
                                             reports::IsFilterReport(k.kind) ? filter : traffic,
                                             sendList));
        golden::ExpectGolden("kinds/" + std::string(k.file),
                             ReadAll(scratch_ / ("Logs/" + std::string(k.file))));
        entries +=
            platform::AppendPath(ctx_.settings.appPath, "Logs\\" + std::string(k.file)) + ",";
    }
    EXPECT_EQ(sendList, entries);
}

TEST_F(ReportFileTest, ReplacesAnOlderFileCompletely) {
    testing_support::WriteAll(scratch_ / "Logs/month.xml", std::string(5000, '#'));
    std::string sendList;
    ASSERT_TRUE(reports::WriteReportFile(ctx_, ReportKind::MonthlyTraffic, 1, 1, 2026,
                                         reports::FormatTrafficRecord("a", "b", 0), sendList));
    const std::string bytes = ReadAll(scratch_ / "Logs/month.xml");
    EXPECT_EQ(bytes.rfind(TrafficHead(), 0), 0u);
    EXPECT_EQ(bytes.find('#'), std::string::npos);
}

TEST_F(ReportFileTest, FailedWriteAddsNoEntry) {
    ctx_.settings.appPath = scratch_.Path() + "/missing/";
    std::string sendList = "kept,";
    EXPECT_FALSE(reports::WriteReportFile(ctx_, ReportKind::WeeklyFilter, 1, 1, 2026,
                                          reports::FormatFilterRecord("", "", "", "", "", ""),
                                          sendList));
    EXPECT_EQ(sendList, "kept,");
    ctx_.settings.appPath.clear();
    EXPECT_FALSE(
        reports::WriteReportFile(ctx_, ReportKind::WeeklyFilter, 1, 1, 2026, "", sendList));
    EXPECT_EQ(sendList, "kept,");
}

TEST_F(ReportFileTest, HostileFieldsStillGiveWellFormedXml) {
    std::string nasty;
    for (int b = 1; b < 256; ++b) {
        nasty.push_back(static_cast<char>(b));
    }
    std::string body = reports::FormatTrafficRecord(nasty, nasty, 123456789);
    body += reports::FormatFilterRecord(nasty, nasty, nasty, nasty, nasty, nasty);
    std::string sendList;
    for (ReportKind kind : {ReportKind::DailyTraffic, ReportKind::DailyFilter}) {
        ASSERT_TRUE(reports::WriteReportFile(ctx_, kind, 31, 7, 2026, body, sendList));
    }
    for (const char* name : {"Logs/day_07_31_2026.xml", "Logs/filterday_31_07_2026.xml"}) {
        const std::string path = scratch_ / name;
        EXPECT_EQ(xml_check::WellFormednessError(ReadAll(path)), "") << name;
        // A second opinion from a real parser where one is installed.
        if (std::system("xmllint --version >/dev/null 2>&1") == 0) {
            EXPECT_EQ(std::system(("xmllint --noout '" + path + "'").c_str()), 0) << name;
        }
    }
}

TEST(XmlCheck, RejectsWhatBreaksWellFormedness) {
    const char* bad[] = {
        "<a><b></a>",
        "<a>x & y</a>",
        "<a>\x01</a>",
        "<a>caf\xe9</a>",
        "<a></a><b/>",
        "<a x='1' x='2'/>",
        "<a>",
        "<a x=1/>",
        "<a x='<'/>",
        "<a x='1'y='2'/>",
        "<a x='&z;'/>",
        "<!DOCTYPE a [<!ENTITY z 'q'>]><a/>",
        "<a><!-- c --></a>",
    };
    for (const char* doc : bad) {
        EXPECT_NE(xml_check::WellFormednessError(doc), "") << doc;
    }
    EXPECT_EQ(xml_check::WellFormednessError("<?xml version=\"1.0\" ?>\r\n<?p x?><a>&amp;"
                                             "t&#233;<b/>\xc3\xa9</a>"),
              "");
    EXPECT_EQ(xml_check::WellFormednessError(
                  "<!DOCTYPE html>\n<html a=\"1\" b='&lt;2&#39;'><p c = \"x\"/></html>"),
              "");
}

}  // namespace
