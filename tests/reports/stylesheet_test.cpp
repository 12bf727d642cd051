// The two stylesheets shipped for the XML documents: they carry the pages' style, and applied
// to a report they give a well-formed page with the figures of its HTML twin.
#include <cstdlib>
#include <string>

#include "platform/files.h"
#include "reports/html_page.h"
#include "reports/report_output.h"
#include "tests/reports/golden.h"
#include "tests/reports/xml_check.h"
#include "tests/support/test_env.h"

namespace {

using reports::ReportContent;
using reports::ReportKind;

std::string Stylesheet(const char* name) {
    return golden::Read(std::string("../../../reports/xsl/") + name);
}

const char* const kStylesheets[] = {"template.xsl", "template_filter.xsl"};

TEST(Stylesheets, CarryThePageStyle) {
    for (const char* name : kStylesheets) {
        const std::string xsl = Stylesheet(name);
        ASSERT_FALSE(xsl.empty()) << name;
        const std::size_t open = xsl.find("<style>\n");
        const std::size_t close = xsl.find("</style>");
        ASSERT_NE(open, std::string::npos) << name;
        EXPECT_EQ(xsl.substr(open + 8, close - open - 8), reports::html::kStyle) << name;
    }
}

bool Have(const char* program) {
    return std::system((std::string(program) + " --version >/dev/null 2>&1").c_str()) == 0;
}

// Applies the kind's stylesheet to the document the content makes.
std::string Transformed(const ReportContent& content, const testing_support::ScratchDir& dir) {
    const bool filter = reports::IsFilterReport(content.kind);
    const std::string xml = dir / "report.xml";
    const std::string out = dir / "report.html";
    testing_support::WriteAll(
        xml, reports::BuildReportDocument(content.kind, content.day, content.month, content.year,
                                          reports::XmlRecords(content)));
    const std::string xsl = golden::Directory() + "../../../reports/xsl/" +
                            (filter ? kStylesheets[1] : kStylesheets[0]);
    if (std::system(("xsltproc -o '" + out + "' '" + xsl + "' '" + xml + "'").c_str()) != 0) {
        return "";
    }
    return testing_support::ReadAll(out);
}

TEST(Stylesheets, ShowTheFiguresOfTheTwin) {
    if (!Have("xsltproc")) {
        GTEST_SKIP() << "xsltproc is not installed";
    }
    testing_support::ScratchDir dir;
    ReportContent traffic{ReportKind::WeeklyTraffic, 31, 7, 2026, {}, {}};
    for (int i = 0; i < 15; ++i) {
        traffic.traffic.push_back({"10.0.0." + std::to_string(i), "u", 1048576LL * i + 5000});
    }
    const std::string page = Transformed(traffic, dir);
    EXPECT_EQ(xml_check::WellFormednessError(page), "");
    EXPECT_NE(page.find("<b>105.00 MB</b>"), std::string::npos);  // 0.00 + 1.00 + ... + 14.00
    EXPECT_NE(page.find(">other clients (3)</text>"), std::string::npos);

    ReportContent filter{ReportKind::DailyFilter, 31, 7, 2026, {}, {}};
    for (const char* f : {"Games Online", "Gambling", "Games Online", ""}) {
        filter.events.push_back({"31/07/2026", "10.0.0.5", "ann", "09:00:00", "/", f});
    }
    const std::string events = Transformed(filter, dir);
    EXPECT_EQ(xml_check::WellFormednessError(events), "");
    EXPECT_NE(events.find("<title>Games Online: 2</title>"), std::string::npos);
    EXPECT_NE(events.find("<title>(no filter named): 1</title>"), std::string::npos);
    EXPECT_NE(events.find("Total, 4 events"), std::string::npos);
}

}  // namespace
