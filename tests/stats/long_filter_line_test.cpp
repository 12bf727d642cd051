// Filter-log lines too long to read whole: the event each holds is kept with its fields cut,
// whatever the pieces the line arrives in, and decoding ends where the log store's does.
#include "stats/long_filter_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stats/base64.h"
#include "stats/line_reader.h"
#include "stats/log_store.h"
#include "stats/tasks.h"
#include "tests/stats/store_fixture.h"

namespace {

using stats::kCutMarker;
using stats::kMaxCutFieldBytes;

class LongLineTest : public stats_test::StoreTest {};

const std::string kHead = "07/12/2026 10.0.0.5 bob 14:00:01 ";

TEST_F(LongLineTest, KeepsTheSixFieldsEachCutToItsBound) {
    const std::string url(100000, 'a');
    const std::string cutUrl = std::string(kMaxCutFieldBytes, 'a') + kCutMarker;
    const struct {
        const char* what;
        std::string line;  // as stored: base64, then the line end
        std::string kept;
        bool fieldCut;
    } cases[] = {
        {"a long URL", stats::Base64Encode(kHead + url + " Games_Online ") + "\r\n",
         kHead + cutUrl + " Games_Online ", true},
        {"text after the sixth field",
         stats::Base64Encode(kHead + "/u Games_Online " + url + " " + url) + "\n",
         kHead + "/u Games_Online ", false},
        {"a long filter name", stats::Base64Encode(kHead + "/u " + url + " ") + "\r\n",
         kHead + "/u " + cutUrl + " ", true},
        {"a last field without its blank", stats::Base64Encode(kHead + url), kHead, false},
        {"a zero byte ends the text",
         stats::Base64Encode(kHead + "/u" + std::string(1, '\0') + url + " f ") + "\r\n", kHead,
         false},
        {"a byte outside the alphabet ends decoding",
         stats::Base64Encode(kHead) + "!" + stats::Base64Encode(url + " f ") + "\r\n", kHead,
         false},
        {"no field at all", std::string(200000, 'Q') + "\r\n", "", false},
    };
    for (const auto& c : cases) {
        Raw("long", c.line);
        // Lines arrive in pieces of the reader's chunk; a small cap makes every line long.
        auto file = platform::File::Open(LogPath("long"), platform::OpenMode::Read,
                                         platform::ShareMode::None);
        ASSERT_NE(file, nullptr);
        stats::LongFilterLine longLine;
        stats::LineReader reader(*file, stats::LineReader::Mode::Raw, 64, &longLine);
        std::string line;
        ASSERT_EQ(reader.Next(&line), stats::LineReader::Result::TooLong) << c.what;
        EXPECT_TRUE(longLine.Decoded() == c.kept) << c.what;
        EXPECT_EQ(longLine.FieldCut(), c.fieldCut) << c.what;
        EXPECT_EQ(longLine.LineBytes(), c.line.size()) << c.what;
        const std::string end = c.line.substr(c.line.find_last_not_of("\r\n") + 1);
        EXPECT_TRUE(longLine.Encoded() == stats::Base64Encode(c.kept) + end) << c.what;
        EXPECT_EQ(reader.Next(&line), stats::LineReader::Result::End) << c.what;
    }
}

TEST_F(LongLineTest, APieceMayEndAnywhereInAGroup) {
    const std::string line = stats::Base64Encode(kHead + std::string(20000, 'u') + " f ") + "\n";
    for (std::size_t piece : {1, 2, 3, 5, 4096}) {
        stats::LongFilterLine longLine;
        longLine.Begin();
        for (std::size_t at = 0; at < line.size(); at += piece) {
            longLine.Take(std::string_view(line).substr(at, piece));
        }
        // Compared as a truth, so a failure does not print the kilobytes of the field.
        EXPECT_TRUE(longLine.Decoded() ==
                    kHead + std::string(kMaxCutFieldBytes, 'u') + kCutMarker + " f ")
            << piece;
        EXPECT_EQ(longLine.Encoded().back(), '\n') << piece;
    }
}

// A URL longer than a line may be no longer hides the event: the extracts keep it, cut, in
// the form each reader gives, and the verbose log says so once per log.
TEST_F(LongLineTest, FilterExtractsKeepTheEventOfALineOverTheLimit) {
    const std::string url = "http://x/" + std::string(stats::kMaxLineBytes, 'a');
    const std::string longEvent = kHead + url + " Games_Online ";
    const std::string kept = kHead + "http://x/" + std::string(kMaxCutFieldBytes - 9, 'a') +
                             kCutMarker + " Games_Online ";
    const std::string before = stats::Base64Encode(kHead + "/a Ads ");
    const std::string after = stats::Base64Encode(kHead + "/b News ");
    Raw("Filter_08_03_2026.log",
        before + "\r\n" + stats::Base64Encode(longEvent) + "\r\n" + after + "\r\n");
    std::vector<std::string> said;
    ctx_.settings.verbose = [&said](const std::string& line) {
        if (line.find("listed in full") == std::string::npos) {  // the month's jump relists
            said.push_back(line);
        }
    };

    At(2026, 3, 10);
    std::string week;
    Run(stats::Kind::Filter, stats::Period::Week, week);
    EXPECT_TRUE(week == before + "\n" + stats::Base64Encode(kept) + "\n" + after + "\n");
    At(2026, 4, 10);
    std::string month;  // the form that keeps line ends as stored
    Run(stats::Kind::Filter, stats::Period::Month, month);
    EXPECT_TRUE(month == before + "\r\n" + stats::Base64Encode(kept) + "\r\n" + after + "\r\n");

    ASSERT_EQ(said.size(), 2u);
    EXPECT_EQ(said[0], "CollectFilterWeek: " + stats::LongLinesNote("Filter_08_03_2026.log", 1));
    EXPECT_NE(said[0].find("kept 1 filter event of Filter_08_03_2026.log"), std::string::npos);
}

}  // namespace
