// The HTML twins: escaping of hostile log text, well-formed pages for every kind, the same
// totals as the XML documents, charts that summarise while tables stay complete (a long
// month too), the report settings, and the twin written and listed after its document.
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/text_mode.h"
#include "reports/html_page.h"
#include "reports/html_report.h"
#include "reports/report_output.h"
#include "tests/reports/golden.h"
#include "tests/reports/xml_check.h"
#include "tests/support/test_env.h"

namespace {

using reports::FilterFields;
using reports::ReportContent;
using reports::ReportKind;
using reports::TrafficRecord;
using testing_support::ReadAll;
using testing_support::SetRegString;

std::size_t Occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// Every byte but NUL, and the texts an attacker would try.
std::vector<std::string> HostileTexts() {
    std::string everyByte;
    for (int b = 1; b < 256; ++b) {
        everyByte.push_back(static_cast<char>(b));
    }
    return {"<script>alert(1)</script>",
            "\"><img src=x onerror=alert(1)>",
            "a&b;&amp;'c'",
            "\x01\x1b[31m\x7f",
            "\xc3\x28 \xff\xfe",
            everyByte};
}

ReportContent HostileContent(ReportKind kind) {
    ReportContent c{kind, 7, 12, 2026, {}, {}};
    for (const std::string& text : HostileTexts()) {
        if (reports::IsFilterReport(kind)) {
            c.events.push_back({text, text, text, text, text, text});
        } else {
            c.traffic.push_back({text, text, 1048576});
        }
    }
    return c;
}

// The page as an XML parser sees it; xmllint gives a second opinion where it is installed.
void ExpectWellFormed(const std::string& page, const std::string& what) {
    EXPECT_EQ(xml_check::WellFormednessError(page), "") << what;
    if (std::system("xmllint --version >/dev/null 2>&1") == 0) {
        testing_support::ScratchDir dir;
        const std::string path = dir / "page.html";
        testing_support::WriteAll(path, page);
        EXPECT_EQ(std::system(("xmllint --noout '" + path + "'").c_str()), 0) << what;
    }
}

TEST(HtmlPage, TextEscapesMarkupAndDropsControls) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
        {"a\"b'c&d", "a&quot;b&#39;c&amp;d"},
        {"x\x01y\x1f\x7fz", "xyz"},
        {"tab\there", "tab here"},
        {"Jos\xe9", "Jos\xc3\xa9"},  // Windows-1252 to UTF-8
        {"\x80", "\xe2\x82\xac"},    // the euro sign
        {"a\x81"
         "b",
         "ab"},                     // an unassigned byte: a C1 control
        {"\xc3\x28", "\xc3\x83("},  // bytes that are no UTF-8: read as ANSI
        {std::string("n\0ul", 4), "nul"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(reports::html::Text(c.in).Str(), c.out) << c.in;
    }
    EXPECT_EQ(reports::html::ShortText("abcdef", 4).Str(), "abcd\xe2\x80\xa6");
    EXPECT_EQ(reports::html::ShortText("<<<<", 4).Str(), "&lt;&lt;&lt;&lt;");
}

TEST(HtmlPage, FiguresAreGrouped) {
    EXPECT_EQ(reports::html::Grouped(0), "0");
    EXPECT_EQ(reports::html::Grouped(999), "999");
    EXPECT_EQ(reports::html::Grouped(100000), "100,000");
    EXPECT_EQ(reports::html::Grouped(-1234567), "-1,234,567");
    EXPECT_EQ(reports::html::GroupedCents(2760544), "27,605.44");
    EXPECT_EQ(reports::html::GroupedCents(5), "0.05");
    EXPECT_EQ(reports::html::GroupedCents(-123456), "-1,234.56");
}

TEST(HtmlPage, LargestKeepsTheLargestAndSumsTheRest) {
    std::vector<reports::html::Bar> bars;
    for (int i = 1; i <= 15; ++i) {
        bars.push_back({"b" + std::to_string(i), i % 5, std::to_string(i % 5)});
    }
    const auto show = [](std::int64_t v) { return std::to_string(v); };
    const auto kept = reports::html::Largest(bars, 3, "other", +show);
    ASSERT_EQ(kept.size(), 4u);
    // Equal values keep their order: b4 before b9 before b14.
    EXPECT_EQ(kept[0].label, "b4");
    EXPECT_EQ(kept[1].label, "b9");
    EXPECT_EQ(kept[2].label, "b14");
    EXPECT_TRUE(kept[3].other);
    EXPECT_EQ(kept[3].label, "other (12)");
    EXPECT_EQ(kept[3].value, 30 - 12);
    // One bar more than asked for is shown itself rather than as an "other" of one.
    bars.resize(4);
    EXPECT_EQ(reports::html::Largest(bars, 3, "other", +show).size(), 4u);
}

TEST(HtmlReport, EveryKindIsWellFormedAndKeepsHostileTextAsText) {
    for (ReportKind kind : reports::kReportKinds) {
        const std::string page = reports::RenderHtmlReport(HostileContent(kind));
        const std::string what = reports::ReportTitle(kind, 7, 12, 2026);
        ExpectWellFormed(page, what);
        EXPECT_EQ(page.find("<script"), std::string::npos) << what;
        EXPECT_EQ(page.find("<img"), std::string::npos) << what;
        EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos) << what;
        EXPECT_NE(page.find("<title>" + what + "</title>"), std::string::npos) << what;
        // Standalone: nothing is fetched and nothing runs.
        ReportContent plain{
            kind, 7, 12, 2026, {{"10.0.0.5", "ann", 1}}, {{"d", "c", "u", "t", "/", "f"}}};
        const std::string own = reports::RenderHtmlReport(plain);
        for (const char* outside : {"src=", "href=\"http", "url(", "@import", "<link", "<script"}) {
            EXPECT_EQ(own.find(outside), std::string::npos) << what << " " << outside;
        }
    }
}

// The sizes of an XML body in hundredths, summed as a reader of the document would.
std::int64_t XmlSizeCents(const std::string& body) {
    std::int64_t cents = 0;
    for (std::size_t at = body.find("<size>"); at != std::string::npos;
         at = body.find("<size>", at + 1)) {
        const std::string text = body.substr(at + 6, body.find('<', at + 6) - at - 6);
        const std::size_t point = text.find('.');
        cents += std::stoll(text.substr(0, point)) * 100 + std::stoll(text.substr(point + 1));
    }
    return cents;
}

TEST(HtmlReport, TrafficShowsTheTotalOfTheXmlFigures) {
    ReportContent c{ReportKind::MonthlyTraffic, 31, 7, 2026, {}, {}};
    std::int64_t bytes = 7;
    for (int i = 0; i < 40; ++i) {
        bytes = (bytes * 7919 + 104729) % 3000000000LL;
        c.traffic.push_back({"10.0.0." + std::to_string(i), "user" + std::to_string(i), bytes});
    }
    const std::string page = reports::RenderHtmlReport(c);
    const std::string total = reports::html::GroupedCents(XmlSizeCents(reports::XmlRecords(c)));
    EXPECT_NE(page.find("Total, 40 clients</td><td class=\"n\">" + total + "</td>"),
              std::string::npos)
        << total;
    EXPECT_NE(page.find("<b>" + total + " MB</b>"), std::string::npos);
    // The table lists every client in the document's order; the chart the largest twelve.
    EXPECT_EQ(Occurrences(page, "<tr><td class=\"n\">"), 40u);
    EXPECT_LT(page.find("10.0.0.0<"), page.find("10.0.0.39<"));
    EXPECT_NE(page.find(">other clients (28)</text>"), std::string::npos);
}

TEST(HtmlReport, FilterCountsEventsPerCategoryAndClient) {
    ReportContent c{ReportKind::WeeklyFilter, 31, 7, 2026, {}, {}};
    const char* rows[][2] = {{"10.0.0.5", "Games Online"}, {"10.0.0.6", "Gambling"},
                             {"10.0.0.5", "Games Online"}, {"10.0.0.7", ""},
                             {"10.0.0.5", "Gambling"},     {"10.0.0.5", "Games Online"}};
    for (const auto& r : rows) {
        c.events.push_back({"31/07/2026", r[0], "ann", "09:00:00", "http://x/", r[1]});
    }
    const std::string page = reports::RenderHtmlReport(c);
    ExpectWellFormed(page, "weekly filter");
    EXPECT_NE(page.find(">Games Online</text>"), std::string::npos);
    EXPECT_NE(page.find("<title>Games Online: 3</title>"), std::string::npos);
    EXPECT_NE(page.find("<title>Gambling: 2</title>"), std::string::npos);
    EXPECT_NE(page.find("<title>(no filter named): 1</title>"), std::string::npos);
    EXPECT_NE(page.find("<title>10.0.0.5: 4</title>"), std::string::npos);
    EXPECT_NE(page.find("Total, 6 events"), std::string::npos);
    EXPECT_NE(page.find("<span>Clients</span><b>3</b>"), std::string::npos);
}

TEST(HtmlReport, AHundredThousandEventsMakeOneCompletePage) {
    ReportContent c{ReportKind::MonthlyFilter, 31, 7, 2026, {}, {}};
    const char* filters[] = {"Games_Online", "Gambling", "Chat_Rooms", "Phishing", "Advertising"};
    for (int i = 0; i < 100000; ++i) {
        c.events.push_back(
            {"12/07/2026", "10.0." + std::to_string(i % 250) + ".1", "user", "12:34:56",
             "http://site" + std::to_string(i % 977) + ".example/a?b=c&d", filters[i % 5]});
    }
    const std::string page = reports::RenderHtmlReport(c);
    EXPECT_EQ(Occurrences(page, "<tr><td class=\"n\">"), 100000u);
    EXPECT_NE(page.find("Total, 100,000 events"), std::string::npos);
    // 250 clients: the chart shows twelve and one bar for the rest.
    EXPECT_NE(page.find(">other clients (238)</text>"), std::string::npos);
    EXPECT_EQ(xml_check::WellFormednessError(page), "");
}

TEST(HtmlReport, SmallReportsMatchTheirGoldenFiles) {
    ReportContent traffic{ReportKind::WeeklyTraffic, 31, 7, 2026, {}, {}};
    traffic.traffic = {{"10.0.0.5", "frontdesk", 97557248},
                       {"10.0.0.6", "Unknown", 1572864},
                       {"10.0.0.7", "O'Neil & <co>", 0}};
    golden::ExpectGolden("week.html", reports::RenderHtmlReport(traffic));
    ReportContent filter{ReportKind::DailyFilter, 31, 7, 2026, {}, {}};
    filter.events = {
        {"31/07/2026", "10.0.0.5", "frontdesk", "09:12:01", "http://games.example.net/play?x=1&y=2",
         "Games Online"},
        {"31/07/2026", "10.0.0.6", "-", "10:00:00", "http://casino.example.com/", "Gambling"},
        {"31/07/2026", "10.0.0.5", "frontdesk", "11:30:45", "http://games.example.net/",
         "Games Online"}};
    golden::ExpectGolden("filterday_31_07_2026.html", reports::RenderHtmlReport(filter));
}

TEST(ReportSettings, FormatsAndStyleBases) {
    reports::OutputFormat format = reports::OutputFormat::Xml;
    EXPECT_TRUE(reports::ParseOutputFormat("XML+HTML", &format));
    EXPECT_EQ(format, reports::OutputFormat::XmlAndHtml);
    EXPECT_TRUE(reports::ParseOutputFormat("xml", &format));
    EXPECT_EQ(format, reports::OutputFormat::Xml);
    for (const char* bad : {"", "html", "xml+", " xml", "xml,html"}) {
        EXPECT_FALSE(reports::ParseOutputFormat(bad, &format)) << bad;
    }
    const struct {
        std::string url;
        bool usable;
    } bases[] = {
        {"http://intranet.local", true},
        {"https://reports.corp.example:8443/styles/", true},
        {"HTTP://X", true},
        {"ftp://x", false},
        {"intranet.local", false},
        {"http://a b", false},
        {"http://x/'onload", false},
        {"http://x/\"", false},
        {"http://x/<", false},
        {"http://x/&amp;", false},
        {"http://x/?>", false},
        {"http://x\\y", false},
        {"http://x/\xe9", false},
        {"http://" + std::string(1100, 'a'), false},
    };
    for (const auto& b : bases) {
        EXPECT_EQ(reports::IsUsableStyleBase(b.url), b.usable) << b.url;
    }
    EXPECT_EQ(reports::NormalisedStyleBase("http://x/styles//"), "http://x/styles");
}

class ReportOutputTest : public testing_support::RegistryTest {
  protected:
    ReportOutputTest() {
        app_ = scratch_.Path() + "/app/";
        platform::CreateDirectories(app_ + "Logs");
        ctx_.settings.appPath = app_;
        content_ = {ReportKind::WeeklyTraffic, 31, 7, 2026, {{"10.0.0.5", "ann", 1048576}}, {}};
    }
    std::string Entry(const std::string& name) const {
        return platform::AppendPath(app_, "Logs\\" + name) + ",";
    }
    std::string app_;
    stats::LogContext ctx_;
    ReportContent content_;
};

TEST_F(ReportOutputTest, SettingsFromTheRegistry) {
    const struct {
        const char* format;  // null: absent
        const char* style;
        reports::OutputFormat want;
        const char* wantBase;
    } cases[] = {
        {nullptr, nullptr, reports::OutputFormat::Xml, reports::kStylesheetHost},
        {"xml+html", "https://intra.example/css/", reports::OutputFormat::XmlAndHtml,
         "https://intra.example/css"},
        {"Xml+Html", "", reports::OutputFormat::XmlAndHtml, reports::kStylesheetHost},
        {"pdf", "http://x/'", reports::OutputFormat::Xml, reports::kStylesheetHost},
    };
    for (const auto& c : cases) {
        if (c.format != nullptr) {
            SetRegString("ReportFormat", c.format);
            SetRegString("ReportStyleURL", c.style);
        }
        const reports::ReportSettings s = reports::ReadReportSettings();
        EXPECT_EQ(s.format, c.want) << (c.format ? c.format : "absent");
        EXPECT_EQ(s.styleBase, c.wantBase) << (c.format ? c.format : "absent");
    }
}

TEST_F(ReportOutputTest, TheTwinFollowsItsDocumentOnlyWhenAsked) {
    std::string sendList;
    ASSERT_TRUE(reports::WriteReport(ctx_, content_, {}, sendList));
    EXPECT_EQ(sendList, Entry("week.xml"));
    EXPECT_FALSE(testing_support::Exists(app_ + "Logs/week.html"));

    sendList.clear();
    ASSERT_TRUE(reports::WriteReport(
        ctx_, content_, {reports::OutputFormat::XmlAndHtml, "http://intra.example"}, sendList));
    EXPECT_EQ(sendList, Entry("week.xml") + Entry("week.html"));
    const std::string twin = ReadAll(app_ + "Logs/week.html");
    EXPECT_EQ(twin, platform::ToTextMode(reports::RenderHtmlReport(content_)));
    // Only the stylesheet's address differs from a document of the default settings.
    std::string expected = reports::BuildReportDocument(ReportKind::WeeklyTraffic, 31, 7, 2026,
                                                        reports::XmlRecords(content_));
    expected.replace(expected.find(reports::kStylesheetHost),
                     std::string(reports::kStylesheetHost).size(), "http://intra.example");
    EXPECT_EQ(ReadAll(app_ + "Logs/week.xml"), platform::ToTextMode(expected));
}

TEST_F(ReportOutputTest, ATwinThatCannotBeWrittenLeavesItsDocumentListedAlone) {
    // A folder where the twin would go: the replacement fails.
    platform::CreateDirectories(app_ + "Logs/week.html/inside");
    std::string sendList;
    EXPECT_TRUE(reports::WriteReport(
        ctx_, content_, {reports::OutputFormat::XmlAndHtml, reports::kStylesheetHost}, sendList));
    EXPECT_EQ(sendList, Entry("week.xml"));
    // And a document that cannot be written takes its twin with it.
    ctx_.settings.appPath = app_ + "missing/";
    sendList.clear();
    EXPECT_FALSE(reports::WriteReport(
        ctx_, content_, {reports::OutputFormat::XmlAndHtml, reports::kStylesheetHost}, sendList));
    EXPECT_EQ(sendList, "");
    // Nothing to report: no file.
    ctx_.settings.appPath = app_;
    content_.traffic.clear();
    EXPECT_FALSE(reports::WriteReport(ctx_, content_, {}, sendList));
}

}  // namespace
