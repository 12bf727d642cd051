// Alerts in whole cycles on a hand-made store: a spike, a client over its daily limit and a
// malware burst each give one mail; a restart the same day gives none, the next day may
// alert again; beyond the hour's allowance one summary follows; hostile URLs and user names
// stay inside their lines; without rules nothing changes; the metrics file has every figure.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "aggregator/aggregator_worker.h"
#include "common/layout.h"
#include "common/mail_file.h"
#include "platform/files.h"
#include "stats/base64.h"
#include "stats/log_names.h"
#include "tests/support/test_env.h"

using testing_support::ReadAll;
using testing_support::SetRegDword;
using testing_support::SetRegString;
using testing_support::WriteAll;

namespace {

constexpr long long kMb = 1 << 20;

class AlertCycleTest : public testing_support::RegistryTest {
  protected:
    AlertCycleTest() {
        app_ = scratch_.Path() + "/app/";
        platform::CreateDirectories(app_ + "Logs");
        SetRegString("apppath", app_);
        Encoded(app_ + "Logs/logip.log",
                {"pc1|10.0.0.1", "pc2|10.0.0.2", "pc3|10.0.0.3", "pc4|10.0.0.4"});
        Encoded(app_ + "brisko.users", {"alice|10.0.0.1", "bob\r\nBcc: evil@example.com|10.0.0.2"});
        // Four weeks of ordinary days before 31 July 2026.
        for (int back = 1; back <= 28; ++back) {
            const platform::LocalDate d = platform::BreakDown(
                platform::LocalTimeOf(2026, 7, 31, 12) - static_cast<std::time_t>(back) * 86400);
            Traffic(d, "10.0.0.1", 10 * kMb);
            Traffic(d, "10.0.0.2", 300 * kMb);
            Traffic(d, "10.0.0.4", 5 * kMb);
        }
    }

    static void Encoded(const std::string& path, const std::vector<std::string>& lines) {
        std::string bytes;
        for (const std::string& l : lines) {
            bytes += stats::Base64Encode(l) + "\r\n";
        }
        WriteAll(path, bytes);
    }
    void Traffic(const platform::LocalDate& d, const std::string& client, long long bytes) {
        Encoded(app_ + "Logs/" + stats::DayStamp(d.day, d.month, d.year) + "_" + client,
                {std::to_string(bytes) + "*GET http://example.com/ Time:09:00:00"});
    }
    void Filter(const platform::LocalDate& d, const std::vector<std::string>& lines) {
        Encoded(app_ + "Logs/" + stats::FilterLogName(stats::DayStamp(d.day, d.month, d.year)),
                lines);
    }
    static platform::LocalDate Day(int day, int month) {
        return platform::BreakDown(platform::LocalTimeOf(2026, month, day, 12));
    }
    void AllRules() {
        SetRegDword(layout::setting::kAlertDailyMb, 500);
        SetRegDword(layout::setting::kAlertSpikeFactor, 3);
        SetRegString(layout::setting::kAlertFilters, "Malware Sites,Phishing");
        SetRegDword(layout::setting::kAlertFilterCount, 2);
    }
    void BusyDay(const platform::LocalDate& d) {
        Traffic(d, "10.0.0.1", 200 * kMb);  // 20 times its median
        Traffic(d, "10.0.0.2", 600 * kMb);  // over the limit, twice its median
        Traffic(d, "10.0.0.4", 6 * kMb);
        const std::string url =
            "http://bad.example/\r\nBcc:evil@example.com/" + std::string(3000, 'x') + "\xe9";
        Filter(d, {"31/07/2026 10.0.0.3 carol 09:01:02 " + url + " Malware_Sites ",
                   "31/07/2026 10.0.0.3 carol 09:01:03 http://ok.example/ Ads ",
                   "31/07/2026 10.0.0.3 carol 09:01:04 http://phish.example/ Phishing "});
    }

    // One cycle of a freshly started service at the time; the mails it hands over.
    std::vector<MailText> Cycle(int day, int month, int hour, int minute = 0) {
        platform::FixedClock clock(platform::LocalTimeOf(2026, month, day, hour, minute));
        testing_support::RecordingPacer pacer;
        AggregatorWorker worker(clock, pacer,
                                {[this](const std::string& m) { log_.push_back(m); }, nullptr});
        std::vector<MailText> mails;
        worker.SetAlertMailer([&mails](const std::string& path) {
            MailText mail;
            EXPECT_TRUE(ParseMailFile(ReadAll(path), &mail)) << path;
            mails.push_back(mail);
            return true;
        });
        worker.SetStepObserver([this](const CycleStep& s) { steps_.push_back(s.name); });
        worker.RunCycle();
        return mails;
    }

    static std::vector<std::string> Subjects(const std::vector<MailText>& mails) {
        std::vector<std::string> subjects;
        for (const MailText& m : mails) {
            subjects.push_back(m.subject);
        }
        std::sort(subjects.begin(), subjects.end());
        return subjects;
    }

    std::string app_;
    std::vector<std::string> log_;
    std::vector<std::string> steps_;
};

TEST_F(AlertCycleTest, EachRuleAlertsOncePerClientAndDay) {
    AllRules();
    BusyDay(Day(31, 7));
    const std::vector<MailText> first = Cycle(31, 7, 10);
    EXPECT_EQ(Subjects(first), (std::vector<std::string>{"Alert: 10.0.0.1 traffic spike",
                                                         "Alert: 10.0.0.2 daily limit",
                                                         "Alert: 10.0.0.3 filter events"}));
    std::size_t lines = 0;
    for (const std::string& line : log_) {
        lines += line.rfind(AggregatorWorker::kAlertPrefix, 0) == 0 ? 1 : 0;
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
    }
    EXPECT_EQ(lines, 3u);
    for (const MailText& m : first) {
        if (m.subject.find("spike") != std::string::npos) {
            EXPECT_NE(m.body.find("User:       alice\n"), std::string::npos) << m.body;
            EXPECT_NE(m.body.find("Today:      200.00 MB\n"), std::string::npos) << m.body;
            EXPECT_NE(m.body.find("Median day: 10.00 MB over the previous 28 days"),
                      std::string::npos)
                << m.body;
        } else if (m.subject.find("limit") != std::string::npos) {
            EXPECT_NE(m.body.find("Today:      600.00 MB\nLimit:      500.00 MB\n"),
                      std::string::npos)
                << m.body;
        } else {
            EXPECT_NE(m.body.find("Today:      2 events\n"), std::string::npos) << m.body;
            EXPECT_NE(m.body.find("  09:01:04  Phishing  http://phish.example/\n"),
                      std::string::npos)
                << m.body;
        }
        // No field starts a line of its own, and none runs on without bound.
        for (const char* injected : {"\nBcc:", "\rBcc", "\n\n\n"}) {
            EXPECT_EQ(m.body.find(injected), std::string::npos) << m.body;
        }
        std::size_t start = 0;
        while (start < m.body.size()) {
            const std::size_t end = m.body.find('\n', start);
            EXPECT_LE(end - start, 300u);
            start = end + 1;
        }
    }

    // A restart the same day: nothing again, even with more traffic.
    Traffic(Day(31, 7), "10.0.0.2", 900 * kMb);
    EXPECT_TRUE(Cycle(31, 7, 10, 5).empty());
    // The next day the same client can alert again.
    Traffic(Day(1, 8), "10.0.0.2", 600 * kMb);
    EXPECT_EQ(Subjects(Cycle(1, 8, 9)), (std::vector<std::string>{"Alert: 10.0.0.2 daily limit"}));
}

TEST_F(AlertCycleTest, BeyondTheHoursAllowanceOneSummaryFollows) {
    AllRules();
    SetRegDword(layout::setting::kAlertMaxPerHour, 1);
    BusyDay(Day(31, 7));
    EXPECT_EQ(Cycle(31, 7, 10).size(), 1u);
    EXPECT_TRUE(Cycle(31, 7, 10, 30).empty());  // the hour is not over yet
    const std::vector<MailText> later = Cycle(31, 7, 11);
    ASSERT_EQ(later.size(), 1u);
    EXPECT_EQ(later[0].subject, "Alert: 2 more alerts in the hour 2026-07-31 10:00");
    EXPECT_EQ(std::count(later[0].body.begin(), later[0].body.end(), '\n'), 4) << later[0].body;
    EXPECT_TRUE(Cycle(31, 7, 12).empty());
}

TEST_F(AlertCycleTest, DamagedStateRepeatsTheDayOnceAndSaysSo) {
    AllRules();
    BusyDay(Day(31, 7));
    EXPECT_EQ(Cycle(31, 7, 10).size(), 3u);
    WriteAll(app_ + "Logs/" + layout::kAlertStateFile, "tallyvane-alerts 1\nhour");
    EXPECT_EQ(Cycle(31, 7, 10, 5).size(), 3u);
    EXPECT_TRUE(Cycle(31, 7, 10, 10).empty());
    EXPECT_TRUE(
        platform::FileExists(app_ + "Logs/" + layout::kAlertStateFile + layout::kDamagedSuffix));
    EXPECT_EQ(std::count_if(log_.begin(), log_.end(),
                            [](const std::string& l) {
                                return l.rfind(AggregatorWorker::kAlertProblemPrefix, 0) == 0;
                            }),
              1);
}

TEST_F(AlertCycleTest, QuietStoreAndNoRulesChangeNothing) {
    BusyDay(Day(31, 7));
    EXPECT_TRUE(Cycle(31, 7, 10).empty());
    EXPECT_EQ(std::count(steps_.begin(), steps_.end(), "CheckAlerts"), 0);
    EXPECT_FALSE(platform::FileExists(app_ + "Logs/" + layout::kAlertStateFile));
    EXPECT_FALSE(platform::FileExists(app_ + "Logs/" + layout::kAlertMailFolder));

    AllRules();
    Traffic(Day(31, 7), "10.0.0.1", 10 * kMb);
    Traffic(Day(31, 7), "10.0.0.2", 300 * kMb);
    Filter(Day(31, 7), {"31/07/2026 10.0.0.3 carol 09:01:03 http://ok.example/ Ads "});
    EXPECT_TRUE(Cycle(31, 7, 10).empty());
}

TEST_F(AlertCycleTest, MetricsFileHoldsTheDaysFigures) {
    AllRules();
    BusyDay(Day(31, 7));
    Encoded(app_ + "Logs/logip.log", {"pc1|10.0.0.1", "pc2|10.0.0.2", "odd|a\"b\\c"});
    const std::string metrics = scratch_.Path() + "/tallyvane.prom";
    SetRegString(layout::setting::kMetricsFile, metrics);
    Cycle(31, 7, 10);
    const std::string text = ReadAll(metrics);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    for (const char* line : {
             "tallyvane_traffic_bytes_total 845152256\n",
             "tallyvane_client_traffic_bytes_total{client=\"10.0.0.1\"} 209715200\n",
             "tallyvane_client_traffic_bytes_total{client=\"a\\\"b\\\\c\"} 0\n",
             "tallyvane_filter_events_total{filter=\"Malware Sites\"} 1\n",
             "tallyvane_alerts_total{rule=\"spike\"} 1\n",
             "tallyvane_alerts_total{rule=\"filters\"} 1\n",
             "# TYPE tallyvane_last_cycle_timestamp_seconds gauge\n",
         }) {
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    }
}

}  // namespace
