// The dashboard's extras: user names beside the client addresses and the "Alerts today"
// section, escaped like every other text of the page; without extras the page is unchanged.
#include <gtest/gtest.h>

#include <string>

#include "reports/html_dashboard.h"
#include "tests/reports/encoded_lines.h"

namespace {

reports::SummaryTexts Texts(const std::string& clients) {
    reports::SummaryTexts texts{};
    for (std::size_t i = 0; i < texts.size(); ++i) {
        texts[i] = {true, ""};
    }
    texts[reports::SummaryFileIndex("brisko.011")] = {true, clients};
    return texts;
}

TEST(DashboardExtras, NamesBesideAddressesAndTodaysAlerts) {
    const std::string clients =
        encoded_lines::Encoded({"10.0.0.5 |0|1048576|0|0|0|0|0|", "10.0.0.6 |0|0|0|0|0|0|5|"});
    const reports::SummaryTexts texts = Texts(clients);
    const std::string plain = reports::RenderDashboard(texts, "2026-07-31 10:00");
    EXPECT_EQ(reports::RenderDashboard(texts, "2026-07-31 10:00", {}), plain);
    EXPECT_EQ(plain.find("User name"), std::string::npos);
    EXPECT_EQ(plain.find("Alerts today"), std::string::npos);

    reports::DashboardExtras extras;
    extras.userName = [](std::string_view client) {
        return client == "10.0.0.5" ? std::string("<b>ann</b>") : std::string("Unknown");
    };
    extras.alertsOn = true;
    const std::string quiet = reports::RenderDashboard(texts, "2026-07-31 10:00", extras);
    EXPECT_NE(quiet.find("<td class=\"wrap\">10.0.0.5</td><td class=\"wrap\">&lt;b&gt;ann&lt;/b&gt;"
                         "</td>"),
              std::string::npos)
        << quiet;
    EXPECT_NE(quiet.find("<td class=\"wrap\">10.0.0.6</td><td class=\"wrap\">Unknown</td>"),
              std::string::npos);
    EXPECT_NE(quiet.find("<p class=\"note\">No alerts today.</p>"), std::string::npos);

    extras.alertsToday = {{"10:05", "10.0.0.6", "x\r\n<i>", "daily limit", "600.00 MB"}};
    const std::string alerted = reports::RenderDashboard(texts, "2026-07-31 10:00", extras);
    EXPECT_NE(alerted.find("<a href=\"#alerts\">Alerts today</a>"), std::string::npos);
    EXPECT_NE(alerted.find("<td>10:05</td><td class=\"wrap\">10.0.0.6</td>"), std::string::npos);
    EXPECT_EQ(alerted.find("<i>"), std::string::npos);
    // An installation with nothing yet still shows its alerts.
    const std::string empty = reports::RenderDashboard(Texts(""), "2026-07-31 10:00", extras);
    EXPECT_NE(empty.find("Nothing to show yet"), std::string::npos);
    EXPECT_NE(empty.find("<h2>Alerts today</h2>"), std::string::npos);
}

}  // namespace
