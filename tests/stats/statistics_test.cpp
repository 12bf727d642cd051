// The table of statistics as its readers rely on it: a heading for every slot, every summary
// file fed (brisko.trf by the six traffic lines in period order), and each traffic line known
// again by the label it was written with.
#include "stats/statistics.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stats/base64.h"
#include "stats/summary_lines.h"

namespace {

using stats::Kind;
using stats::Period;

TEST(StatisticsTable, EachPeriodHasAHeadingForEverySlot) {
    const struct {
        Period period;
        const char* first;
        const char* last;
    } cases[] = {
        {Period::Week, "Sun", "Sat"},
        {Period::TwoWeeks, "-13d", "this day"},
        {Period::Month, "1", "31"},
        {Period::ThreeMonths, "-2m", "this mon"},
        {Period::SixMonths, "-5m", "this mon"},
        {Period::Year, "Jan", "Dec"},
    };
    for (const auto& c : cases) {
        const std::vector<std::string> labels = stats::SlotLabels(c.period);
        ASSERT_EQ(labels.size(), stats::InfoOf(c.period).slots) << c.first;
        EXPECT_EQ(labels.front(), c.first);
        EXPECT_EQ(labels.back(), c.last);
    }
}

TEST(StatisticsTable, EverySummaryFileIsFedAndTheTrafficFileInPeriodOrder) {
    for (const char* file : layout::kSummaryFiles) {
        std::vector<Period> feeding;
        for (const stats::Statistic& s : stats::kStatistics) {
            if (std::string(s.summaryFile) == file) {
                feeding.push_back(s.period);
            }
        }
        if (file == std::string(layout::kTrafficSummaryFile)) {
            EXPECT_EQ(feeding,
                      (std::vector<Period>{Period::Week, Period::TwoWeeks, Period::Month,
                                           Period::ThreeMonths, Period::SixMonths, Period::Year}));
        } else {
            EXPECT_EQ(feeding.size(), 1u) << file;
        }
    }
}

TEST(StatisticsTable, ATrafficLineIsKnownByItsLabel) {
    for (const stats::PeriodInfo& period : stats::kPeriods) {
        const stats::Statistic& written = stats::StatisticOf(Kind::Traffic, period.period);
        const std::string line = stats::Base64Encode(std::string(written.label) + "|1|2|") + "\r\n";
        stats::SlotLine parsed;
        ASSERT_TRUE(stats::ParseSlotLine(stats::DecodeSummaryLines(line).at(0), &parsed));
        EXPECT_EQ(stats::TrafficStatisticNamed(parsed.name), &written) << written.label;
    }
    EXPECT_EQ(stats::TrafficStatisticNamed("10.0.0.5"), nullptr);
    EXPECT_EQ(stats::TrafficStatisticNamed(""), nullptr);
}

}  // namespace
