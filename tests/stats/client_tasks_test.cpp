// Traffic totals per client: one line per client-list entry, the period restarted for each
// entry, no pauses, unsafe keys kept inside the log directory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stats/base64.h"
#include "stats/line_reader.h"
#include "stats/tasks.h"
#include "tests/stats/store_fixture.h"

namespace {

using stats::Kind;
using stats::Period;

using stats_test::HeldOpen;
using Lines = std::vector<std::string>;

class ClientTest : public stats_test::StoreTest {};

TEST_F(ClientTest, WeekGivesOneLinePerEntryOverTheFullPeriod) {
    Clients({"x|10.0.0.5", "y|10.0.0.6\nextra text", "10.0.0.7", "x|10.0.0.5"});
    Traffic("08_03_2026_10.0.0.5", {100, 200});
    Traffic("08_03_2026_10.0.0.6", {50});  // the second entry's Sunday counts too
    Traffic("10_03_2026_10.0.0.5", {1000});
    Traffic("11_03_2026_10.0.0.6", {7});
    Traffic("07_03_2026_10.0.0.7", {9});
    At(2026, 3, 11);
    std::string slot;
    Run(Kind::Client, Period::Week, slot);
    EXPECT_EQ(slot.substr(0, slot.find('\n') + 1),
              stats::Base64Encode("10.0.0.5 |300|0|1000|0|0|0|0|") + "\n");
    EXPECT_EQ(Decoded(slot), (Lines{"10.0.0.5 |300|0|1000|0|0|0|0|", "10.0.0.6 |50|0|0|7|0|0|0|",
                                    "10.0.0.7 |0|0|0|0|0|0|0|", "10.0.0.5 |300|0|1000|0|0|0|0|"}));
    EXPECT_TRUE(pacer_.pauses.empty());
}

TEST_F(ClientTest, MonthTaskFindsTheClientsDayLogs) {
    Clients({"x|10.0.0.9"});
    Traffic("03_03_2026_10.0.0.9", {100, 250});
    Traffic("03_03_2026_10.0.0.99", {1});  // another client whose key starts alike
    At(2026, 4, 2);
    std::string slot;
    Run(Kind::Client, Period::Month, slot);
    std::string expected = "10.0.0.9 |0|0|350";
    for (int i = 3; i < 31; ++i) {
        expected += "|0";
    }
    EXPECT_EQ(Decoded(slot), Lines{expected + "|"});
}

TEST_F(ClientTest, MonthUnitTasksSearchEveryDayOfEachMonth) {
    Clients({"x|a", "x|b.lan"});
    Traffic("01_01_2026_a", {1});
    Traffic("31_01_2026_a", {2});
    Traffic("28_02_2026_b.lan", {4});
    Traffic("15_12_2025_a", {8});
    Traffic("15_12_2026_a", {16});
    Traffic("15_02_2026_xa", {32});  // not client a
    At(2026, 2, 28);
    std::string three, six, year;
    Run(Kind::Client, Period::ThreeMonths, three);
    Run(Kind::Client, Period::SixMonths, six);
    Run(Kind::Client, Period::Year, year);
    EXPECT_EQ(Decoded(three), (Lines{"a |8|3|0|", "b.lan |0|0|4|"}));
    EXPECT_EQ(Decoded(six), (Lines{"a |0|0|0|8|3|0|", "b.lan |0|0|0|0|0|4|"}));
    EXPECT_EQ(Decoded(year),
              (Lines{"a |3|0|0|0|0|0|0|0|0|0|0|16|", "b.lan |0|4|0|0|0|0|0|0|0|0|0|0|"}));
}

TEST_F(ClientTest, TwoWeeksSkipsALockedLogButKeepsTheLine) {
    Clients({"x|a"});
    Traffic("26_02_2026_a", {1});
    Traffic("11_03_2026_a", {2});
    Traffic("10_03_2026_a", {4});
    At(2026, 3, 11);
    HeldOpen held(LogPath("10_03_2026_a"));
    std::string slot;
    Run(Kind::Client, Period::TwoWeeks, slot);
    EXPECT_EQ(Decoded(slot), Lines{"a |1|0|0|0|0|0|0|0|0|0|0|0|0|2|"});
}

TEST_F(ClientTest, UnsafeKeysGiveZeroLinesAndWildcardsAreLiteral) {
    Clients({"x|..", "x|../Logs/08_03_2026_a", "x|sub\\a", "x|c:a", "x|", "x|*", "x|?", "x|A*"});
    Traffic("08_03_2026_a", {5});
    Traffic("08_03_2026_..", {7});  // a file the key ".." would name
    // Windows drops trailing dots from file names, so there that file is "08_03_2026_", the
    // empty key's own log, and the empty key rightly finds it.
    const bool dotsDropped = platform::FileExists(LogPath("08_03_2026_"));
    // Where a name may hold "*", the key "*" has a log of its own, and only that one.
    const bool starNames = platform::kPathSeparator == '/';
    if (starNames) {
        Traffic("08_03_2026_*", {3});
        Traffic("08_03_2026_a*", {11});  // "A*" finds it as a name that differs in case only
    }
    At(2026, 3, 8);
    std::string slot;
    Run(Kind::Client, Period::Week, slot);
    EXPECT_EQ(Decoded(slot),
              (Lines{".. |0|0|0|0|0|0|0|", "../Logs/08_03_2026_a |0|0|0|0|0|0|0|",
                     "sub\\a |0|0|0|0|0|0|0|", "c:a |0|0|0|0|0|0|0|",
                     dotsDropped ? " |7|0|0|0|0|0|0|" : " |0|0|0|0|0|0|0|",
                     starNames ? "* |3|0|0|0|0|0|0|" : "* |0|0|0|0|0|0|0|", "? |0|0|0|0|0|0|0|",
                     starNames ? "A* |11|0|0|0|0|0|0|" : "A* |0|0|0|0|0|0|0|"}));
}

TEST_F(ClientTest, TheVerboseLogShowsAKeysControlBytesEscaped) {
    Clients({"x|../\x1b[2J\rfake line"});
    std::vector<std::string> said;
    ctx_.settings.verbose = [&said](const std::string& line) { said.push_back(line); };
    At(2026, 3, 8);
    std::string slot;
    Run(Kind::Client, Period::Week, slot);
    ASSERT_EQ(said.size(), 1u);
    EXPECT_EQ(said[0].find_first_of("\x1b\r"), std::string::npos) << said[0];
    EXPECT_NE(said[0].find("\"../\\x1B[2J\\x0Dfake line\""), std::string::npos) << said[0];
}

TEST_F(ClientTest, AnIpv6KeyCountsWhereColonIsNoSeparator) {
    if (platform::kPathSeparator == '\\') {
        GTEST_SKIP() << "\":\" cannot stand in a Windows file name";
    }
    Clients({"x|fe80::1", "x|::1"});
    Traffic("08_03_2026_fe80::1", {5, 6});
    Traffic("09_03_2026_::1", {7});
    At(2026, 3, 9);
    std::string client, total;
    Run(Kind::Client, Period::Week, client);
    Run(Kind::Traffic, Period::Week, total);
    // The per-client lines add up to the proxy's own total.
    EXPECT_EQ(Decoded(client), (Lines{"fe80::1 |11|0|0|0|0|0|0|", "::1 |0|7|0|0|0|0|0|"}));
    EXPECT_EQ(Decoded(total), Lines{"Last 1 Week: |11|7|0|0|0|0|0|"});
}

TEST_F(ClientTest, ClientListEdgeCases) {
    At(2026, 3, 8);
    std::string slot = "kept";
    Run(Kind::Client, Period::Week, slot);  // no logip.log
    EXPECT_EQ(slot, "kept");

    Raw("logip.log", "");
    Run(Kind::Client, Period::Week, slot);
    EXPECT_EQ(slot, "kept");

    // A line over the cap is skipped; the entries around it are not.
    Raw("logip.log", stats::Base64Encode("x|a") + "\r\n" +
                         std::string(stats::kMaxLineBytes + 10, 'Q') + "\r\n" +
                         stats::Base64Encode("x|b"));
    slot.clear();
    Run(Kind::Client, Period::Week, slot);
    EXPECT_EQ(Decoded(slot), (Lines{"a |0|0|0|0|0|0|0|", "b |0|0|0|0|0|0|0|"}));
}

TEST_F(ClientTest, ClientListIsReadWhileTheProxyHoldsItShared) {
    Clients({"x|a"});
    auto proxy = platform::File::Open(LogPath("logip.log"), platform::OpenMode::Read,
                                      platform::ShareMode::ReadWrite);
    ASSERT_NE(proxy, nullptr);
    At(2026, 3, 8);
    std::string slot;
    Run(Kind::Client, Period::Week, slot);
    EXPECT_EQ(Decoded(slot), Lines{"a |0|0|0|0|0|0|0|"});
}

TEST_F(ClientTest, StopRequestStoresNothing) {
    Clients({"x|a", "x|b"});
    At(2026, 3, 8);
    pacer_.RequestStop();
    std::string slot;
    Run(Kind::Client, Period::Year, slot);
    EXPECT_EQ(slot, "");
}

}  // namespace
