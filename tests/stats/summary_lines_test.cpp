// Reading statistic lines back from a summary file as stored.
#include "stats/summary_lines.h"

#include <gtest/gtest.h>

#include "stats/base64.h"

namespace {

TEST(SummaryLinesTest, ParsesLabelAndClientLines) {
    stats::SlotLine line;
    ASSERT_TRUE(stats::ParseSlotLine("Last 3 Mounth: |52000|0|731|", &line));
    EXPECT_EQ(line.name, "Last 3 Mounth:");
    EXPECT_EQ(line.slots, (std::vector<std::int64_t>{52000, 0, 731}));
    ASSERT_TRUE(stats::ParseSlotLine(" |6000000000|0|", &line));
    EXPECT_EQ(line.name, "");
    EXPECT_EQ(line.slots, (std::vector<std::int64_t>{6000000000, 0}));
    EXPECT_FALSE(stats::ParseSlotLine("no bars", &line));
    EXPECT_FALSE(stats::ParseSlotLine("x |1|2", &line));
}

TEST(SummaryLinesTest, DecodesTextModeFiles) {
    const std::string bytes =
        stats::Base64Encode("a |1|") + "\r\n" + stats::Base64Encode("b |2|") + "\r\r\n";
    EXPECT_EQ(stats::DecodeSummaryLines(bytes), (std::vector<std::string>{"a |1|", "b |2|"}));
}

}  // namespace
