// The report mail's subject and text for each mix of attached files: which reports the names
// are, the periods they cover, the files listed as they are, and what no file at all says.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mailer/report_mail_text.h"

namespace {

using Names = std::vector<std::string>;

// Every text, whatever it lists: short plain ASCII lines, under 20 of them, no word of zip.
void ExpectReadable(const ReportMailText& text) {
    int lines = 0;
    std::size_t start = 0;
    for (std::size_t end; (end = text.body.find('\n', start)) != std::string::npos;
         start = end + 1) {
        ++lines;
        EXPECT_LE(end - start, 76u) << text.body.substr(start, end - start);
    }
    EXPECT_EQ(start, text.body.size()) << "the last line ends in a line feed";
    EXPECT_LT(lines, 20) << text.body;
    for (unsigned char c : text.body + text.subject) {
        EXPECT_TRUE(c == '\n' || (c >= ' ' && c < 127)) << int(c);
    }
    EXPECT_EQ(text.body.find("zip"), std::string::npos);
    EXPECT_EQ(text.subject.find('\n'), std::string::npos);
}

TEST(ReportMailText, EveryReportWithItsTwinOnAFridayAtTheMonthsEnd) {
    // As dispatch lists them on Friday 31 July 2026 with the HTML twins on.
    const ReportMailText text = ComposeReportMail(
        {"filterday_31_07_2026.xml", "filterday_31_07_2026.html", "day_07_31_2026.xml",
         "day_07_31_2026.html", "filterweek.xml", "filterweek.html", "week.xml", "week.html",
         "month.xml", "month.html", "filtermonth.xml", "filtermonth.html"},
        31, 7, 2026);
    EXPECT_EQ(text.subject,
              "Email Reports from Brisko Web Proxy - 31/07/2026 daily, weekly, monthly");
    EXPECT_EQ(text.body,
              "The reports the Brisko Web Proxy wrote on Friday 31/07/2026 are attached:\n"
              "\n"
              "Daily filter activity, 31/07/2026\n"
              "  filterday_31_07_2026.xml, filterday_31_07_2026.html\n"
              "Daily website traffic, 31/07/2026\n"
              "  day_07_31_2026.xml, day_07_31_2026.html\n"
              "Weekly filter activity, Sunday 26/07/2026 to Friday 31/07/2026\n"
              "  filterweek.xml, filterweek.html\n"
              "Weekly website traffic, Sunday 26/07/2026 to Friday 31/07/2026\n"
              "  week.xml, week.html\n"
              "Monthly website traffic, June 2026 (01/06/2026 to 30/06/2026)\n"
              "  month.xml, month.html\n"
              "Monthly filter activity, June 2026 (01/06/2026 to 30/06/2026)\n"
              "  filtermonth.xml, filtermonth.html\n"
              "\n"
              "Open the .xml files in a web browser or a spreadsheet program.\n"
              "Open the .html files in a web browser.\n");
    ExpectReadable(text);
}

TEST(ReportMailText, NothingAttached) {
    const ReportMailText text = ComposeReportMail({}, 30, 7, 2026);
    EXPECT_EQ(text.subject, "Email Reports from Brisko Web Proxy - 30/07/2026 no report");
    EXPECT_EQ(text.body,
              "The Brisko Web Proxy wrote no report this time (Thursday 30/07/2026).\n"
              "A report is written when it is due, switched on and has records to list.\n");
    ExpectReadable(text);
}

TEST(ReportMailText, EachMixSaysWhatIsThere) {
    const struct {
        const char* what;
        Names names;
        int day, month, year;
        const char* kinds;  // after the subject's date
        std::vector<std::string> lines;
        std::vector<std::string> absent;
    } cases[] = {
        {"daily only, their dates from their names",
         {"day_07_30_2026.xml", "filterday_29_07_2026.xml"},
         31,
         7,
         2026,
         "daily",
         {"Daily website traffic, 30/07/2026", "  day_07_30_2026.xml",
          "Daily filter activity, 29/07/2026", "  filterday_29_07_2026.xml",
          "Open the .xml files in a web browser or a spreadsheet program."},
         {"Weekly", "Monthly", ".html files"}},
        {"two days of the same report are two entries",
         {"day_07_30_2026.xml", "day_07_31_2026.xml"},
         31,
         7,
         2026,
         "daily",
         {"Daily website traffic, 30/07/2026", "Daily website traffic, 31/07/2026"},
         {}},
        {"weekly only: the week so far",
         {"week.xml"},
         31,
         7,
         2026,
         "weekly",
         {"Weekly website traffic, Sunday 26/07/2026 to Friday 31/07/2026", "  week.xml"},
         {"Daily", "Monthly"}},
        {"the week of a Sunday is that day",
         {"filterweek.xml"},
         26,
         7,
         2026,
         "weekly",
         {"Weekly filter activity, Sunday 26/07/2026"},
         {" to "}},
        {"the week across a year's end",
         {"week.html"},
         1,
         1,
         2027,
         "weekly",
         {"Weekly website traffic, Sunday 27/12/2026 to Friday 01/01/2027",
          "Open the .html files in a web browser."},
         {".xml files"}},
        {"monthly in January: December of the year before",
         {"month.xml", "filtermonth.xml"},
         31,
         1,
         2026,
         "monthly",
         {"Monthly website traffic, December 2025 (01/12/2025 to 31/12/2025)",
          "Monthly filter activity, December 2025 (01/12/2025 to 31/12/2025)"},
         {}},
        {"a leap year's February",
         {"month.xml"},
         31,
         3,
         2028,
         "monthly",
         {"Monthly website traffic, February 2028 (01/02/2028 to 29/02/2028)"},
         {}},
        {"names in another case are the same reports",
         {"WEEK.XML", "Day_07_31_2026.Xml"},
         31,
         7,
         2026,
         "daily, weekly",
         {"Weekly website traffic, Sunday 26/07/2026 to Friday 31/07/2026", "  WEEK.XML"},
         {"Other"}},
        {"names no writer makes are other files",
         {"notes.txt", "day_13_01_2026.xml", "filterday_31_02_2026.xml", "dayx.xml", "week.txt",
          "week", "day_7_31_2026.xml", "day_07_31_2026.xml.bak"},
         31,
         7,
         2026,
         "other files",
         {"Other files", "  notes.txt, day_13_01_2026.xml, filterday_31_02_2026.xml, dayx.xml,",
          "  week.txt, week, day_7_31_2026.xml, day_07_31_2026.xml.bak"},
         {"Daily", "Weekly"}},
        {"a name with line breaks and 8-bit bytes stays on its line, in ASCII",
         {"M\xE4rz\r\nSubject: x.bin"},
         31,
         7,
         2026,
         "other file",
         {"Other file", "  M?rz??Subject: x.bin"},
         {"\nSubject"}},
        {"one other file beside a report",
         {"week.xml", "summary.pdf"},
         31,
         7,
         2026,
         "weekly, other file",
         {"Other file", "  summary.pdf"},
         {"Other files"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ReportMailText text = ComposeReportMail(c.names, c.day, c.month, c.year);
        char date[16];
        std::snprintf(date, sizeof date, "%02d/%02d/%04d", c.day, c.month, c.year);
        EXPECT_EQ(text.subject,
                  std::string("Email Reports from Brisko Web Proxy - ") + date + " " + c.kinds);
        const std::string body = "\n" + text.body;
        for (const std::string& line : c.lines) {
            EXPECT_NE(body.find("\n" + line + "\n"), std::string::npos) << line << "\n"
                                                                        << text.body;
        }
        for (const std::string& name : c.names) {
            if (name.find_first_of("\r\n\xE4") == std::string::npos) {
                EXPECT_NE(body.find(" " + name), std::string::npos) << name << "\n" << text.body;
            }
        }
        for (const std::string& word : c.absent) {
            EXPECT_EQ(body.find(word), std::string::npos) << word << "\n" << text.body;
        }
        ExpectReadable(text);
    }
}

// A date the clock could never give still makes a mail that says what it was given.
TEST(ReportMailText, AnImpossibleRunDateIsShownAsGiven) {
    const ReportMailText text = ComposeReportMail({"week.xml", "day_07_31_2026.xml"}, 0, 13, 2026);
    EXPECT_EQ(text.subject, "Email Reports from Brisko Web Proxy - 00/13/2026 daily, weekly");
    EXPECT_NE(text.body.find("\nWeekly website traffic\n  week.xml\n"), std::string::npos)
        << text.body;
    EXPECT_NE(text.body.find("\nDaily website traffic, 31/07/2026\n"), std::string::npos);
    ExpectReadable(text);
}

}  // namespace
