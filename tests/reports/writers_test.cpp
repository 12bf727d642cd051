// The six report writers: gates, inputs, records, user names and the send list.
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "reports/filter_line.h"
#include "reports/traffic_input.h"
#include "reports/user_names.h"
#include "reports/writers.h"
#include "stats/line_reader.h"
#include "stats/long_filter_line.h"
#include "tests/reports/encoded_lines.h"
#include "tests/reports/golden.h"
#include "tests/support/test_env.h"

namespace {

using encoded_lines::Encoded;

using testing_support::Exists;
using testing_support::ReadAll;
using testing_support::SetRegDword;
using testing_support::WriteAll;

class WritersTest : public testing_support::RegistryTest {
  protected:
    WritersTest() : clock_(platform::LocalTimeOf(2026, 12, 7, 14, 0, 5)) {
        app_ = scratch_.Path() + "/app";
        platform::CreateDirectories(app_ + "/Logs");
        ctx_.settings.appPath = app_ + "/";
        ctx_.settings.clock = &clock_;
        ctx_.settings.pacer = &pacer_;
    }
    std::string Logs(const std::string& name) const { return app_ + "/Logs/" + name; }
    std::string Entry(const std::string& name) const {
        return platform::AppendPath(ctx_.settings.appPath, "Logs\\" + name) + ",";
    }

    std::string app_;
    platform::FixedClock clock_;
    testing_support::RecordingPacer pacer_;
    stats::LogContext ctx_;
    std::string sendList_;
};

TEST(SplitFilterLine, Tokens) {
    const struct {
        const char* line;
        reports::FilterFields want;
    } cases[] = {
        {"day1 client1 user1 time1 /a/b Games_Online ",
         {"day1", "client1", "user1", "time1", "/a/b", "Games Online"}},
        {"day1 client1 user1 time1 /a/b Games_Online",
         {"day1", "client1", "user1", "time1", "/a/b", ""}},
        {"a b c d e f seventh ", {"a", "b", "c", "d", "e", "f"}},
        {"a b c d  /u_x f ", {"a", "b", "c", "d", "", "/u x"}},
        {"", {}},
    };
    for (const auto& c : cases) {
        reports::FilterFields got{"old", "old", "old", "old", "old", "old"};
        reports::SplitFilterLine(c.line, got);
        EXPECT_EQ(got.date, c.want.date) << c.line;
        EXPECT_EQ(got.client, c.want.client) << c.line;
        EXPECT_EQ(got.userName, c.want.userName) << c.line;
        EXPECT_EQ(got.time, c.want.time) << c.line;
        EXPECT_EQ(got.url, c.want.url) << c.line;
        EXPECT_EQ(got.filter, c.want.filter) << c.line;
    }
}

TEST(ClientTotalLine, KeyAndSum) {
    const struct {
        const char* line;
        const char* client;
        std::int64_t bytes;
    } cases[] = {
        {"10.0.0.5 |100|200|300|400|500|600|700|", "10.0.0.5", 2800},
        {"10.0.0.7 |1048576|1048576|", "10.0.0.7", 2097152},
        {"k |5|x|-3| 7|12", "k", 9},  // text after the last "|" is not counted
        {"no bar at all", "", 0},
        {"|4|", "", 4},
        {"big |2147483647|2147483647|", "big", 4294967294LL},
    };
    for (const auto& c : cases) {
        const reports::ClientTotal t = reports::ParseClientTotalLine(c.line);
        EXPECT_EQ(t.client, c.client) << c.line;
        EXPECT_EQ(t.bytes, c.bytes) << c.line;
    }
}

TEST_F(WritersTest, UserLookup) {
    EXPECT_EQ(reports::LookupUserName(ctx_, "10.0.0.5"), "Unknown");  // no list
    WriteAll(app_ + "/brisko.users", "");
    EXPECT_EQ(reports::LookupUserName(ctx_, "10.0.0.5"), "Unknown");  // empty list
    WriteAll(app_ + "/brisko.users",
             Encoded({"blank|10.0.0.9 ", "frontdesk|10.0.0.5", "second|10.0.0.5", "nobar"}));
    EXPECT_EQ(reports::LookupUserName(ctx_, "10.0.0.5"), "frontdesk");
    EXPECT_EQ(reports::LookupUserName(ctx_, "10.0.0.9"), "Unknown");
    EXPECT_EQ(reports::LookupUserName(ctx_, "nobar"), "");
}

TEST_F(WritersTest, GateOffLeavesFilesAndSendListUntouched) {
    WriteAll(Logs("Filter_07_12_2026.log"), Encoded({"a b c d e f "}));
    WriteAll(Logs("brisko.001"), Encoded({"a b c d e f "}));
    WriteAll(Logs("brisko.003"), Encoded({"a b c d e f "}));
    WriteAll(Logs("brisko.011"), Encoded({"k |1|"}));
    WriteAll(Logs("brisko.013"), Encoded({"k |1|"}));
    WriteAll(Logs("logip.log"), Encoded({"x|k"}));
    using Writer = void (*)(stats::LogContext&, std::string&);
    const Writer writers[] = {
        reports::WriteDailyFilterReport,    reports::WriteDailyTrafficReport,
        reports::WriteWeeklyFilterReport,   reports::WriteWeeklyTrafficReport,
        reports::WriteMonthlyTrafficReport, reports::WriteMonthlyFilterReport};
    const char* gates[] = {"RegDayFilter", "RegDaily",   "RegWeekFilter",
                           "RegWeekly",    "RegMonthly", "RegMonFilter"};
    for (std::uint32_t value : {0u, 2u}) {
        for (const char* gate : gates) {
            SetRegDword(gate, value);
        }
        sendList_ = "x,";
        for (Writer w : writers) {
            w(ctx_, sendList_);
        }
        EXPECT_EQ(sendList_, "x,");
    }
    std::vector<platform::DirEntry> entries;
    ASSERT_TRUE(platform::ListDirectory(app_ + "/Logs", &entries));
    EXPECT_EQ(entries.size(), 6u);  // the inputs only
}

TEST_F(WritersTest, DailyFilterReport) {
    SetRegDword("RegDayFilter", 1);
    reports::WriteDailyFilterReport(ctx_, sendList_);  // no log today
    EXPECT_EQ(sendList_, "");
    WriteAll(
        Logs("Filter_07_12_2026.log"),
        Encoded({"07/12/2026 10.0.0.5 bob 14:00:01 http://a/?q=<b> Games_Online ", "short line "}));
    reports::WriteDailyFilterReport(ctx_, sendList_);
    EXPECT_EQ(sendList_, Entry("filterday_07_12_2026.xml"));
    // The golden file's second record shows that the short line does not inherit the first
    // line's fields.
    golden::ExpectGolden("filterday_07_12_2026.xml", ReadAll(Logs("filterday_07_12_2026.xml")));
}

TEST_F(WritersTest, WeeklyAndMonthlyFilterReportsReadTheExtracts) {
    SetRegDword("RegWeekFilter", 1);
    SetRegDword("RegMonFilter", 1);
    WriteAll(Logs("brisko.001"), Encoded({"d1 c1 u1 t1 /w f_1 ", "d2 c2 u2 t2 /w2 f_2 "}));
    WriteAll(Logs("brisko.003"), Encoded({"m c u t /m month_filter "}));
    reports::WriteWeeklyFilterReport(ctx_, sendList_);
    reports::WriteMonthlyFilterReport(ctx_, sendList_);
    EXPECT_EQ(sendList_, Entry("filterweek.xml") + Entry("filtermonth.xml"));
    const std::string week = ReadAll(Logs("filterweek.xml"));
    EXPECT_NE(week.find("<filter>f 1</filter>\r\n</data>\r\n<data>\r\n<date>d2</date>"),
              std::string::npos);
    EXPECT_NE(ReadAll(Logs("filtermonth.xml")).find("<filter>month filter</filter>"),
              std::string::npos);
}

TEST_F(WritersTest, WeeklyAndMonthlyTrafficReportsSumTheClientTotals) {
    SetRegDword("RegWeekly", 1);
    SetRegDword("RegMonthly", 1);
    WriteAll(app_ + "/brisko.users", Encoded({"frontdesk|10.0.0.5"}));
    WriteAll(Logs("brisko.011"), Encoded({"10.0.0.5 |100|200|300|400|500|600|700|"}));
    WriteAll(Logs("brisko.013"), Encoded({"10.0.0.7 |1048576|1048576|", "10.0.0.5 |0|"}));
    reports::WriteWeeklyTrafficReport(ctx_, sendList_);
    reports::WriteMonthlyTrafficReport(ctx_, sendList_);
    EXPECT_EQ(sendList_, Entry("week.xml") + Entry("month.xml"));
    EXPECT_NE(ReadAll(Logs("week.xml"))
                  .find("<ip>10.0.0.5</ip>\r\n<name>frontdesk</name>\r\n<size>0.00</size>"),
              std::string::npos);
    const std::string month = ReadAll(Logs("month.xml"));
    EXPECT_NE(month.find("<ip>10.0.0.7</ip>\r\n<name>Unknown</name>\r\n<size>2.00</size>\r\n"
                         "</data>\r\n<data>\r\n<ip>10.0.0.5</ip>\r\n<name>frontdesk</name>"),
              std::string::npos);
}

TEST_F(WritersTest, EmptyInputKeepsTheOlderReport) {
    SetRegDword("RegWeekly", 1);
    WriteAll(Logs("brisko.011"), "");
    WriteAll(Logs("week.xml"), "older");
    reports::WriteWeeklyTrafficReport(ctx_, sendList_);
    EXPECT_EQ(sendList_, "");
    EXPECT_EQ(ReadAll(Logs("week.xml")), "older");
}

TEST_F(WritersTest, InputHeldOpenWithoutSharingGivesNoReport) {
    SetRegDword("RegMonFilter", 1);
    WriteAll(Logs("brisko.003"), Encoded({"a b c d e f "}));
    auto held = platform::File::Open(Logs("brisko.003"), platform::OpenMode::Read,
                                     platform::ShareMode::None);
    ASSERT_TRUE(held);
    reports::WriteMonthlyFilterReport(ctx_, sendList_);
    EXPECT_EQ(sendList_, "");
    EXPECT_FALSE(Exists(Logs("filtermonth.xml")));
}

TEST_F(WritersTest, DailyTrafficReportSumsTodaysLogsPerListedClient) {
    SetRegDword("RegDaily", 1);
    reports::WriteDailyTrafficReport(ctx_, sendList_);  // no client list
    EXPECT_EQ(sendList_, "");
    WriteAll(app_ + "/brisko.users", Encoded({"frontdesk|10.0.0.5"}));
    WriteAll(Logs("logip.log"),
             Encoded({"pc1|10.0.0.5", "pc2|10.0.0.6\nmore", "pc1|10.0.0.5", "evil|../app/Logs/x"}));
    WriteAll(Logs("07_12_2026_10.0.0.5"),
             Encoded({"1500*GET / Time:07:12:55", "1048576*GET /big Time:14:00:00"}));
    WriteAll(Logs("07_12_2026_10.0.0.55"), Encoded({"9999999*x Time:10"}));  // another client
    WriteAll(Logs("06_12_2026_10.0.0.5"), Encoded({"9999999*x Time:10"}));   // another day
    WriteAll(Logs("07_12_2026_10.0.0.6"), Encoded({"3670016*x Time:23:59:59"}));
    WriteAll(Logs("x"), Encoded({"9999999*x Time:10"}));
    reports::WriteDailyTrafficReport(ctx_, sendList_);
    EXPECT_EQ(sendList_, Entry("day_12_07_2026.xml"));
    // 10.0.0.5 twice (listed twice) with today's logs only, 10.0.0.6 without its cut-off
    // line, and the unsafe key with 0.00.
    golden::ExpectGolden("day_12_07_2026.xml", ReadAll(Logs("day_12_07_2026.xml")));
}

// An event whose line is too long to read whole is in the report and its twin, its URL cut
// and marked, and counted with the others; the verbose log says so.
TEST_F(WritersTest, DailyFilterReportKeepsAnEventWhoseLineIsOverTheLimit) {
    SetRegDword("RegDayFilter", 1);
    testing_support::SetRegString("ReportFormat", "xml+html");
    const std::string head = "07/12/2026 10.0.0.5 bob 14:00:01 ";
    const std::string url = "http://x/" + std::string(stats::kMaxLineBytes, 'a');
    WriteAll(Logs("Filter_07_12_2026.log"),
             Encoded({head + "/a Ads ", head + url + " Games_Online ", head + "/b News "}));
    std::vector<std::string> said;
    ctx_.settings.verbose = [&said](const std::string& line) { said.push_back(line); };
    reports::WriteDailyFilterReport(ctx_, sendList_);

    const std::string cutUrl =
        "http://x/" + std::string(stats::kMaxCutFieldBytes - 9, 'a') + stats::kCutMarker;
    const std::string xml = ReadAll(Logs("filterday_07_12_2026.xml"));
    std::size_t records = 0;
    for (std::size_t at = xml.find("<data>"); at != std::string::npos;
         at = xml.find("<data>", at + 1)) {
        ++records;
    }
    EXPECT_EQ(records, 3u);
    EXPECT_NE(xml.find("<url>" + cutUrl + "</url>\r\n<filter>Games Online</filter>"),
              std::string::npos);
    EXPECT_LT(xml.size(), 2 * stats::kMaxCutFieldBytes);
    const std::string page = ReadAll(Logs("filterday_07_12_2026.html"));
    EXPECT_NE(page.find("Filter activity: 3 events of 1 client"), std::string::npos);
    EXPECT_NE(page.find(cutUrl + "</td><td class=\"wrap\">Games Online</td>"), std::string::npos);
    EXPECT_EQ(said, std::vector<std::string>{stats::LongLinesNote("Filter_07_12_2026.log", 1)});
}

// A key's "*" and "?" are characters of its name: the key finds its own log (where a file
// name may hold them) and never another client's.
TEST_F(WritersTest, DailyTrafficReportTakesWildcardsInAKeyLiterally) {
    SetRegDword("RegDaily", 1);
    WriteAll(Logs("logip.log"), Encoded({"pc|*", "pc|10.0.0.?"}));
    WriteAll(Logs("07_12_2026_10.0.0.5"), Encoded({"1048576*GET / Time:07"}));
    const bool starNames = platform::kPathSeparator == '/';
    if (starNames) {
        WriteAll(Logs("07_12_2026_*"), Encoded({"2097152*GET / Time:07"}));
    }
    reports::WriteDailyTrafficReport(ctx_, sendList_);
    const std::string report = ReadAll(Logs("day_12_07_2026.xml"));
    EXPECT_NE(report.find(std::string("<ip>*</ip>\r\n<name>Unknown</name>\r\n<size>") +
                          (starNames ? "2.00" : "0.00") + "</size>"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("<ip>10.0.0.?</ip>\r\n<name>Unknown</name>\r\n<size>0.00</size>"),
              std::string::npos)
        << report;
}

}  // namespace
