// The dashboard page: an installation without summary files, figures and headings from the
// statistics table, hostile client keys and filter names, missing and empty files, and the
// layout of a small installation as a golden file.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "common/outbox.h"
#include "reports/html_dashboard.h"
#include "tests/reports/encoded_lines.h"
#include "tests/reports/golden.h"
#include "tests/reports/xml_check.h"
#include "tests/support/test_env.h"

namespace {

using encoded_lines::Encoded;

using reports::SummaryTexts;

// The files present and their bytes; Texts() views them for as long as the object lives.
struct Files {
    std::array<std::optional<std::string>, layout::kSummaryFileCount> bytes;
    void Set(const char* name, std::string content) {
        bytes[reports::SummaryFileIndex(name)] = std::move(content);
    }
    SummaryTexts Texts() const {
        SummaryTexts texts{};
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (bytes[i]) {
                texts[i] = {true, *bytes[i]};
            }
        }
        return texts;
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

TEST(Dashboard, WithoutAnyFigureSaysThereIsNothingYet) {
    Files none;
    Files empty;
    for (const char* name : layout::kSummaryFiles) {
        empty.Set(name, "");
    }
    // What a cycle of an installation without logs writes: lines of zeros, nothing else.
    Files zeros = empty;
    zeros.Set("brisko.trf",
              Encoded({"Last 1 Week: |0|0|0|0|0|0|0|", "Last Year: |0|0|0|0|0|0|0|0|0|0|0|0|"}));
    for (const Files* files : {&none, &empty, &zeros}) {
        const std::string page = reports::RenderDashboard(files->Texts(), "2026-07-31 18:00");
        EXPECT_EQ(xml_check::WellFormednessError(page), "");
        EXPECT_NE(page.find("Nothing to show yet"), std::string::npos);
        EXPECT_EQ(page.find("<svg"), std::string::npos);
    }
}

TEST(Dashboard, ShowsEachStatisticUnderItsHeadingWithItsTotal) {
    const std::string page =
        reports::RenderDashboard(SmallInstallation().Texts(), "2026-07-31 18:00");
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

TEST(Dashboard, AMailThatFailedForGoodIsNamedAtTheTopEscaped) {
    reports::DashboardExtras extras;
    extras.unsent = {
        {"week.xml, day_07_31_2026.xml", "2026-07-31 18:00",
         "sending the report mail failed: the server refused a recipient, last reply: 550 "
         "<nobody@test> unknown"},
        {"\"Alert <b>\"", "-", "x"},
    };
    for (const Files& files : {Files(), SmallInstallation()}) {
        const std::string page =
            reports::RenderDashboard(files.Texts(), "2026-07-31 18:05", extras);
        EXPECT_EQ(xml_check::WellFormednessError(page), "");
        const std::size_t first = page.find(
            "<b>Mail not sent</b>: week.xml, day_07_31_2026.xml, failed 2026-07-31 18:00: "
            "sending the report mail failed: the server refused a recipient, last reply: 550 "
            "&lt;nobody@test&gt; unknown</p>");
        ASSERT_NE(first, std::string::npos) << page;
        EXPECT_LT(first, page.find("<section>\n<p class=\"empty\">")) << "before the figures";
        EXPECT_NE(page.find("<b>Mail not sent</b>: &quot;Alert &lt;b&gt;&quot;, failed -: x"),
                  std::string::npos);
    }
    // Nothing failed: the page as it always was.
    EXPECT_EQ(reports::RenderDashboard(SmallInstallation().Texts(), "t", {}),
              reports::RenderDashboard(SmallInstallation().Texts(), "t"));
}

TEST(Dashboard, TheFailedMailsComeFromTheOutbox) {
    testing_support::ScratchDir scratch;
    const std::string logs = scratch / "Logs";
    EXPECT_TRUE(reports::UnsentMails(logs).empty());
    OutboxMail mail;
    mail.recipients = "nobody@test";
    mail.attachments = {logs + "/week.xml"};
    std::string id;
    ASSERT_TRUE(outbox::Enqueue(logs, mail, 1785513600, &id));
    outbox::Entry entry;
    ASSERT_TRUE(outbox::FindEntry(logs, id, false, &entry));
    EXPECT_TRUE(reports::UnsentMails(logs).empty()) << "waiting is not failed";
    entry.lastAttempt = 1785513600;
    entry.lastReason = "refused";
    ASSERT_TRUE(outbox::MoveToFailed(logs, &entry));
    const std::vector<reports::UnsentMail> unsent = reports::UnsentMails(logs);
    ASSERT_EQ(unsent.size(), 1u);
    EXPECT_EQ(unsent[0].what, "week.xml");
    EXPECT_EQ(unsent[0].when, reports::PageTime(1785513600));
    EXPECT_EQ(unsent[0].why, "refused");
}

TEST(Dashboard, SmallInstallationMatchesItsGoldenFile) {
    golden::ExpectGolden("summary.html",
                         reports::RenderDashboard(SmallInstallation().Texts(), "2026-07-31 18:00"));
}

}  // namespace
