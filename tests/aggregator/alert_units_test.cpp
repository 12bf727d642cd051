// The alert rules' arithmetic and the state file: the median over a month with idle days,
// each rule at its threshold and one unit either side, filter names as the logs write them,
// the state file's round trip, hostile client keys in it, and damage of every kind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "aggregator/alert_rules.h"
#include "aggregator/alert_state.h"
#include "common/layout.h"
#include "tests/support/test_env.h"

namespace {

constexpr std::int64_t kMb = 1 << 20;

TEST(AlertMedian, OverMonthsWithMissingDays) {
    struct Case {
        const char* name;
        std::vector<std::int64_t> days;
        std::int64_t median;
    } cases[] = {
        {"no days", {}, 0},
        {"one day", {7}, 7},
        {"odd count", {5, 1, 9}, 5},
        {"even count takes the lower middle", {1, 2, 3, 4}, 2},
        {"idle on most days", {0, 0, 0, 50, 60}, 0},
        {"idle on half the days", {0, 0, 10, 20}, 0},
        {"busy on most days", {0, 30, 10, 20}, 10},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MedianDay(c.days), c.median) << c.name;
    }
    // 28 days, 13 of them without a log: the idle days pull the median down.
    std::vector<std::int64_t> month(28, 0);
    for (std::size_t d = 0; d < 15; ++d) {
        month[d] = static_cast<std::int64_t>(d + 1) * kMb;
    }
    EXPECT_EQ(MedianDay(month), kMb);
}

std::vector<AlertRule> RulesFired(const AlertRules& rules, const ClientToday& client) {
    std::vector<AlertRule> fired;
    for (const Alert& a : CheckAlertRules(rules, {client})) {
        fired.push_back(a.rule);
    }
    return fired;
}

TEST(AlertRules, ThresholdEdges) {
    AlertRules daily;
    daily.dailyMb = 100;
    AlertRules spike;
    spike.spikeFactor = 3;
    spike.spikeMinMb = 100;
    AlertRules filters;
    filters.filters = {"malware sites"};
    filters.filterCount = 3;
    const std::vector<std::int64_t> median40(28, 40 * kMb);
    const std::vector<std::int64_t> idle(28, 0);
    using R = AlertRule;
    struct Case {
        const char* name;
        const AlertRules& rules;
        ClientToday client;
        std::vector<AlertRule> fired;
    } cases[] = {
        {"exactly the limit does not pass it", daily, {"a", 100 * kMb, {}, 0, {}}, {}},
        // 6 KB over rounds to 100.01 MB in the reports, so it passes; 5 KB stays 100.00.
        {"a hundredth over passes", daily, {"a", 100 * kMb + 6 * 1024, {}, 0, {}}, {R::DailyLimit}},
        {"below rounding stays at the limit", daily, {"a", 100 * kMb + 5 * 1024, {}, 0, {}}, {}},
        {"three times the median is not more", spike, {"a", 120 * kMb, median40, 0, {}}, {}},
        {"over three times", spike, {"a", 120 * kMb + 1, median40, 0, {}}, {R::Spike}},
        {"spike under the minimum", spike, {"a", 99 * kMb, idle, 0, {}}, {}},
        {"new client at the minimum", spike, {"a", 100 * kMb, idle, 0, {}}, {R::Spike}},
        {"one event short", filters, {"a", 0, {}, 2, {}}, {}},
        {"at the count", filters, {"a", 0, {}, 3, {}}, {R::Filters}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RulesFired(c.rules, c.client), c.fired) << c.name;
    }
    AlertRules none;
    EXPECT_FALSE(none.Any());
    EXPECT_TRUE(CheckAlertRules(none, {{"a", INT64_MAX, median40, 1000, {}}}).empty());
}

TEST(AlertRules, FilterNamesCompareAsTheReportsShowThem) {
    AlertRules rules;
    rules.filters = ParseFilterList(" Malware Sites ,phishing,,MALWARE_SITES");
    EXPECT_EQ(rules.filters, (std::vector<std::string>{"malware sites", "phishing"}));
    for (const char* name : {"Malware_Sites", "malware sites", "PHISHING", " Phishing"}) {
        EXPECT_TRUE(IsAlertFilter(rules, name)) << name;
    }
    for (const char* name : {"Malware", "Phishing Sites", ""}) {
        EXPECT_FALSE(IsAlertFilter(rules, name)) << name;
    }
}

class AlertStateTest : public ::testing::Test {
  protected:
    std::string Path() const { return scratch_ / layout::kAlertStateFile; }
    testing_support::ScratchDir scratch_;
};

TEST_F(AlertStateTest, RoundTripKeepsHostileKeysInOneField) {
    AlertState state;
    state.mailHour = "2026-07-31 14";
    state.mailsInHour = 10;
    state.fired = {
        {"2026-07-31", 14, 5, AlertRule::Spike, 5 * kMb, kMb, false, "10.0.0.1"},
        {"2026-07-31", 14, 6, AlertRule::Filters, 12, 3, true,
         "a b%20\r\nalert 2026-07-31 00:00 spike 1 1 0 x\xe9"},
        {"2026-07-31", 23, 59, AlertRule::DailyLimit, INT64_MAX, 0, false, ""},
    };
    state.fired.pop_back();  // an empty key is no client; the format need not carry it
    ASSERT_TRUE(SaveAlertState(Path(), state));
    const std::string bytes = testing_support::ReadAll(Path());
    EXPECT_EQ(bytes.find("\n\r"), std::string::npos);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 4) << bytes;
    AlertState back;
    ASSERT_EQ(LoadAlertState(Path(), &back), StateLoad::Loaded);
    EXPECT_EQ(FormatAlertState(back), FormatAlertState(state));
    EXPECT_EQ(back.fired[1].client, state.fired[1].client);
    EXPECT_TRUE(back.HasFired("2026-07-31", AlertRule::Filters, state.fired[1].client));
    EXPECT_FALSE(back.HasFired("2026-08-01", AlertRule::Spike, "10.0.0.1"));

    back.KeepDay("2026-08-01");  // the next day keeps only what waits for its summary
    ASSERT_EQ(back.fired.size(), 1u);
    EXPECT_TRUE(back.fired[0].inSummary);
}

TEST_F(AlertStateTest, DamageIsSetAsideNeverBelieved) {
    const std::string good =
        "tallyvane-alerts 1\nhour 2026-07-31%2014 2\n"
        "alert 2026-07-31 14:05 spike 10 5 0 10.0.0.1\n";
    AlertState parsed;
    ASSERT_TRUE(ParseAlertState(good, &parsed));
    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"cut mid-line", good.substr(0, good.size() - 4)},
        {"other header", "tallyvane-alerts 2\nhour - 0\n"},
        {"unknown rule", "tallyvane-alerts 1\nhour - 0\nalert 2026-07-31 14:05 x 1 1 0 a\n"},
        {"bad hour", "tallyvane-alerts 1\nhour - 0\nalert 2026-07-31 24:05 spike 1 1 0 a\n"},
        {"negative figure",
         "tallyvane-alerts 1\nhour - 0\nalert 2026-07-31 14:05 spike -1 1 0 a\n"},
        {"overflowing figure",
         "tallyvane-alerts 1\nhour - 0\nalert 2026-07-31 14:05 spike 99999999999999999999 1 0 a\n"},
        {"bad escape", "tallyvane-alerts 1\nhour - 0\nalert 2026-07-31 14:05 spike 1 1 0 a%4\n"},
        {"missing field", "tallyvane-alerts 1\nhour - 0\nalert 2026-07-31 14:05 spike 1 1 0\n"},
        {"binary", std::string("tallyvane-alerts 1\nhour - 0\n\0\xff\n", 30)},
    };
    for (const Case& c : cases) {
        AlertState state;
        EXPECT_FALSE(ParseAlertState(c.bytes, &state)) << c.name;
        testing_support::WriteAll(Path(), c.bytes);
        state.mailsInHour = 7;
        EXPECT_EQ(LoadAlertState(Path(), &state), StateLoad::Damaged) << c.name;
        EXPECT_TRUE(state.fired.empty() && state.mailsInHour == 0) << c.name;
        if (!c.bytes.empty()) {
            EXPECT_EQ(testing_support::ReadAll(Path() + layout::kDamagedSuffix), c.bytes) << c.name;
        }
    }
    AlertState state;
    testing_support::ScratchDir empty;
    EXPECT_EQ(LoadAlertState(empty / layout::kAlertStateFile, &state), StateLoad::Absent);
}

}  // namespace
