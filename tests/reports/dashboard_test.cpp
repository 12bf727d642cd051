// The dashboard page: an installation without summary files, figures and headings from the
// statistics table, hostile client keys and filter names, missing and empty files, and the
// layout of a small installation as a golden file.
#include <string>
#include <vector>

#include "reports/html_dashboard.h"
#include "stats/base64.h"
#include "tests/reports/golden.h"
#include "tests/reports/xml_check.h"

namespace {

using reports::SummaryTexts;

std::string Encoded(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) {
        out += stats::Base64Encode(line) + "\r\n";
    }
    return out;
}

// Holds the bytes the texts point into.
struct Files {
    std::vector<std::string> bytes = std::vector<std::string>(layout::kSummaryFileCount);
    SummaryTexts texts{};
    void Set(const char* name, std::string content) {
        const std::size_t i = reports::SummaryFileIndex(name);
        bytes[i] = std::move(content);
        texts[i] = {true, bytes[i]};
    }
};

// A week of a small installation: three days of traffic, two clients (one with a hostile
// key), three filter events.
Files SmallInstallation() {
    Files f;
    f.Set("brisko.trf", Encoded({"Last 1 Week: |0|1048576|3145728|524288|0|0|0|",
                                 "Last 2 Week: |0|0|0|0|0|0|0|0|0|0|0|1048576|3145728|524288|",
                                 "Last Year: |0|0|0|0|0|0|4718592|0|0|0|0|0|"}));
    f.Set("brisko.011", Encoded({"10.0.0.5 |0|1048576|2097152|0|0|0|0|",
                                 "<script>x</script> |0|0|1048576|524288|0|0|0|"}));
    f.Set("brisko.001", Encoded({"29/07/2026 10.0.0.5 ann 09:00:00 http://g/ Games_Online ",
                                 "29/07/2026 10.0.0.5 ann 09:01:00 http://g/ Games_Online ",
                                 "30/07/2026 10.0.0.6 bob 10:00:00 http://c/ <b>&amp;_\"x\" "}));
    f.Set("brisko.002", "");
    return f;
}

TEST(Dashboard, WithoutSummaryFilesSaysThereIsNothingYet) {
    Files none;
    Files empty;
    for (const char* name : layout::kSummaryFiles) {
        empty.Set(name, "");
    }
    for (const Files* files : {&none, &empty}) {
        const std::string page = reports::RenderDashboard(files->texts, "2026-07-31 18:00");
        EXPECT_EQ(xml_check::WellFormednessError(page), "");
        EXPECT_NE(page.find("Nothing to show yet"), std::string::npos);
        EXPECT_EQ(page.find("<svg"), std::string::npos);
    }
}

TEST(Dashboard, ShowsEachStatisticUnderItsHeadingWithItsTotal) {
    const std::string page =
        reports::RenderDashboard(SmallInstallation().texts, "2026-07-31 18:00");
    EXPECT_EQ(xml_check::WellFormednessError(page), "");
    const char* expected[] = {
        "<h2>Traffic of the proxy</h2>",
        "<h3>Current week: 4.50 MB</h3>",
        "<h3>Last two weeks: 4.50 MB</h3>",
        "<h3>Current year: 4.50 MB</h3>",
        ">Mon</text>",  // the week's columns are named as tallyctl show names them
        ">this day</text>",
        ">Jul</text>",
        "<h3>Current week: 2 clients, 4.50 MB</h3>",
        "<td class=\"wrap\">&lt;script&gt;x&lt;/script&gt;</td><td class=\"n\">1.50</td>",
        "<td class=\"wrap\">Games Online</td>",
        "<td class=\"wrap\">&lt;b&gt;&amp;amp; &quot;x&quot;</td>",
        "<h3>Current week: 3 events</h3>",
        "<span>Filter events this week</span><b>3</b>",
        "brisko.002 is empty.",
        "brisko.006 is missing.",
    };
    for (const char* text : expected) {
        EXPECT_NE(page.find(text), std::string::npos) << text;
    }
    EXPECT_EQ(page.find("<script"), std::string::npos);
    // Periods without a traffic line say so instead of showing zeros.
    EXPECT_NE(page.find("<h3>Previous month</h3>\n<p class=\"note\">No figures for this "
                        "period.</p>"),
              std::string::npos);
}

TEST(Dashboard, SmallInstallationMatchesItsGoldenFile) {
    golden::ExpectGolden("summary.html",
                         reports::RenderDashboard(SmallInstallation().texts, "2026-07-31 18:00"));
}

}  // namespace
