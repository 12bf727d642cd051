// Report dispatch: the report-hour state machine, the calendar with its writer order and
// pauses, the stored list, and the one start of the mail sender per report run.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "aggregator/aggregator_worker.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/thread.h"
#include "stats/base64.h"
#include "tests/reports/xml_check.h"
#include "tests/support/test_env.h"

namespace {

using testing_support::GetRegDword;
using testing_support::GetRegString;
using testing_support::SetRegDword;
using testing_support::SetRegString;
using testing_support::WriteAll;

const char* const kGates[] = {"RegDaily",     "RegWeekly",     "RegMonthly",
                              "RegDayFilter", "RegWeekFilter", "RegMonFilter"};

std::string Encoded(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) {
        out += stats::Base64Encode(line) + "\r\n";
    }
    return out;
}

class DispatchTest : public testing_support::RegistryTest {
  protected:
    void SetUp() override {
        app_ = scratch_.Path() + "/app/";
        platform::CreateDirectories(app_ + "Logs");
        SetRegString("apppath", app_);
        SetRegString("ReportTime", "14");
    }

    // One dispatch by a freshly built worker (as after a service start) at the given time.
    std::vector<std::uint32_t> DispatchAt(std::time_t when, std::string* sendList = nullptr,
                                          int stopAtPause = -1) {
        platform::FixedClock clock(when);
        testing_support::RecordingPacer pacer;
        pacer.stopAtPause = stopAtPause;
        AggregatorWorker worker(clock, pacer, {});
        worker.sendList = "stale,";
        worker.DispatchReports();
        if (sendList != nullptr) {
            *sendList = worker.sendList;
        }
        return pacer.pauses;
    }

    std::uint32_t CreatedXml() {
        std::uint32_t v = 99;
        return GetRegDword("CreatedXml", &v) ? v : 0;
    }

    // Inputs for all six reports of a given day.
    void WriteInputs(int day, int month, int year) {
        char stamp[16];
        std::snprintf(stamp, sizeof stamp, "%02d_%02d_%d", day, month, year);
        WriteAll(app_ + "Logs/Filter_" + stamp + ".log", Encoded({"d c u t /u f "}));
        WriteAll(app_ + "Logs/logip.log", Encoded({"pc|10.0.0.5"}));
        WriteAll(app_ + "Logs/" + stamp + "_10.0.0.5", Encoded({"2048*x Time:14"}));
        WriteAll(app_ + "Logs/brisko.001", Encoded({"d c u t /u f "}));
        WriteAll(app_ + "Logs/brisko.003", Encoded({"d c u t /u f "}));
        WriteAll(app_ + "Logs/brisko.011", Encoded({"10.0.0.5 |1|2|"}));
        WriteAll(app_ + "Logs/brisko.013", Encoded({"10.0.0.5 |1|2|"}));
    }
    void AllGates(std::uint32_t value) {
        for (const char* gate : kGates) {
            SetRegDword(gate, value);
        }
    }
    std::string Entry(const std::string& name) const {
        return platform::AppendPath(app_, "Logs\\" + name);
    }

    // A sender stand-in that copies the registry it sees into a numbered file beside it.
    bool InstallSender() {
        if (std::strcmp(platform::kSenderProgram, "postvane") != 0) {
            return false;
        }
        const std::string path = app_ + platform::kSenderProgram;
        WriteAll(path, "#!/bin/sh\ncp \"$BRISKO_REGISTRY\" \"$(dirname \"$0\")/sender-saw.$$\"\n");
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        return true;
    }
    std::vector<std::string> SenderRuns(int expected) {
        std::vector<std::string> runs;
        for (int i = 0; i < 100; ++i) {
            runs.clear();
            std::vector<platform::DirEntry> entries;
            platform::ListDirectory(app_, &entries);
            for (const auto& e : entries) {
                if (e.name.rfind("sender-saw.", 0) == 0 && e.size > 0) {
                    runs.push_back(testing_support::ReadAll(app_ + e.name));
                }
            }
            if (static_cast<int>(runs.size()) >= expected && i >= 5) {
                break;
            }
            platform::SleepMilliseconds(50);
        }
        return runs;
    }

    std::string app_;
};

TEST_F(DispatchTest, ReportHourStateMachineAcrossHoursAndARestart) {
    SetRegDword("CreatedXml", 1);
    const struct {
        int hour, minute;
        std::size_t pauses;  // 2 writers on an ordinary Monday: 2 pauses when reports are made
        std::uint32_t createdAfter;
    } steps[] = {
        {13, 59, 0, 0},                 // outside the hour: a leftover 1 is reset
        {13, 59, 0, 0}, {14, 0, 2, 1},  // first cycle of the hour makes the reports
        {14, 3, 0, 1},  // later cycles of the hour do nothing (each a new worker, as a restart)
        {14, 59, 0, 1}, {15, 0, 0, 0},  // first cycle after the hour resets
    };
    for (const auto& s : steps) {
        EXPECT_EQ(DispatchAt(platform::LocalTimeOf(2026, 12, 7, s.hour, s.minute, 5)).size(),
                  s.pauses)
            << s.hour << ":" << s.minute;
        EXPECT_EQ(CreatedXml(), s.createdAfter) << s.hour << ":" << s.minute;
    }
    // The next day's report hour makes the reports again.
    EXPECT_EQ(DispatchAt(platform::LocalTimeOf(2026, 12, 8, 14, 0, 5)).size(), 2u);
}

TEST_F(DispatchTest, HourTextMustMatchExactly) {
    const char* never[] = {"08", " 8", "8 ", "", "eight"};
    for (const char* text : never) {
        SetRegString("ReportTime", text);
        SetRegDword("CreatedXml", 1);
        EXPECT_TRUE(DispatchAt(platform::LocalTimeOf(2026, 12, 7, 8, 0, 5)).empty()) << text;
        EXPECT_EQ(CreatedXml(), 0u) << text;
    }
    SetRegString("ReportTime", "0");
    EXPECT_EQ(DispatchAt(platform::LocalTimeOf(2026, 12, 7, 0, 10, 0)).size(), 2u);
}

TEST_F(DispatchTest, CalendarDecidesWhichWritersRun) {
    const struct {
        int year, month, day;
        std::size_t writers;
    } days[] = {
        {2026, 12, 9, 2},   // Wednesday
        {2026, 12, 11, 4},  // Friday
        {2026, 12, 5, 2},   // Saturday
        {2026, 11, 30, 4},  // Monday, last of the month
        {2026, 12, 31, 4},  // Thursday, last of the year
        {2026, 7, 31, 6},   // Friday the 31st
        {2028, 2, 28, 2},   // Monday in a leap February
        {2028, 2, 29, 4},   // its last day
        {2027, 2, 28, 4},   // Sunday, last day of an ordinary February
    };
    AllGates(0);
    for (const auto& d : days) {
        SetRegDword("CreatedXml", 0);
        std::string sendList;
        const auto pauses =
            DispatchAt(platform::LocalTimeOf(d.year, d.month, d.day, 14, 0, 5), &sendList);
        EXPECT_EQ(pauses, std::vector<std::uint32_t>(d.writers, 5000))
            << d.year << "-" << d.month << "-" << d.day;
        EXPECT_EQ(sendList, "");
    }
    std::string stored = "absent";
    EXPECT_FALSE(GetRegString("ToSendFile", &stored));  // never held anything: stays absent
}

TEST_F(DispatchTest, FridayThe31stWritesSixReportsInOrderAndStartsTheSenderOnce) {
    const bool sender = InstallSender();
    AllGates(1);
    WriteInputs(31, 7, 2026);
    std::string sendList;
    EXPECT_EQ(DispatchAt(platform::LocalTimeOf(2026, 7, 31, 14, 0, 5), &sendList).size(), 6u);
    const std::string expected = Entry("filterday_31_07_2026.xml") + "," +
                                 Entry("day_07_31_2026.xml") + "," + Entry("filterweek.xml") + "," +
                                 Entry("week.xml") + "," + Entry("month.xml") + "," +
                                 Entry("filtermonth.xml");
    EXPECT_EQ(sendList, expected);
    std::string stored;
    ASSERT_TRUE(GetRegString("ToSendFile", &stored));
    EXPECT_EQ(stored, expected);
    EXPECT_EQ(CreatedXml(), 1u);
    for (const char* name : {"filterday_31_07_2026.xml", "day_07_31_2026.xml", "filterweek.xml",
                             "week.xml", "month.xml", "filtermonth.xml"}) {
        EXPECT_EQ(xml_check::WellFormednessError(testing_support::ReadAll(app_ + "Logs/" + name)),
                  "")
            << name;
    }

    // A later cycle of the same hour starts nothing.
    DispatchAt(platform::LocalTimeOf(2026, 7, 31, 14, 3, 5));
    if (sender) {
        const auto runs = SenderRuns(1);
        ASSERT_EQ(runs.size(), 1u);
        // The sender found the list already stored.
        EXPECT_NE(runs[0].find("filtermonth.xml"), std::string::npos);
    }
}

TEST_F(DispatchTest, ANewReportDayListsOnlyItsOwnFiles) {
    SetRegDword("RegDayFilter", 1);
    WriteInputs(7, 12, 2026);
    WriteInputs(8, 12, 2026);
    DispatchAt(platform::LocalTimeOf(2026, 12, 7, 14, 0, 5));
    DispatchAt(platform::LocalTimeOf(2026, 12, 7, 15, 0, 5));
    DispatchAt(platform::LocalTimeOf(2026, 12, 8, 14, 0, 5));
    std::string stored;
    ASSERT_TRUE(GetRegString("ToSendFile", &stored));
    EXPECT_EQ(stored, Entry("filterday_08_12_2026.xml"));
}

TEST_F(DispatchTest, StartsTheSenderEvenWithAnEmptyList) {
    if (!InstallSender()) {
        GTEST_SKIP() << "no shell-script sender on this platform";
    }
    AllGates(0);
    SetRegString("ToSendFile", "old");
    DispatchAt(platform::LocalTimeOf(2026, 12, 7, 14, 0, 5));
    std::string stored = "unset";
    ASSERT_TRUE(GetRegString("ToSendFile", &stored));
    EXPECT_EQ(stored, "");
    EXPECT_EQ(SenderRuns(1).size(), 1u);
}

TEST_F(DispatchTest, MissingSenderChangesNothingElse) {
    SetRegDword("RegDayFilter", 1);
    WriteInputs(7, 12, 2026);
    DispatchAt(platform::LocalTimeOf(2026, 12, 7, 14, 0, 5));
    std::string stored;
    ASSERT_TRUE(GetRegString("ToSendFile", &stored));
    EXPECT_EQ(stored, Entry("filterday_07_12_2026.xml"));
    EXPECT_EQ(CreatedXml(), 1u);
}

TEST_F(DispatchTest, AStopWhileWritingLeavesTheHourMarkedAndStoresNothing) {
    SetRegDword("RegDayFilter", 1);
    WriteInputs(7, 12, 2026);
    SetRegString("ToSendFile", "old");
    DispatchAt(platform::LocalTimeOf(2026, 12, 7, 14, 0, 5), nullptr, 0);
    std::string stored;
    ASSERT_TRUE(GetRegString("ToSendFile", &stored));
    EXPECT_EQ(stored, "old");
    EXPECT_EQ(CreatedXml(), 1u);
    // A restart within the hour does not make them again.
    EXPECT_TRUE(DispatchAt(platform::LocalTimeOf(2026, 12, 7, 14, 20, 0)).empty());
}

}  // namespace
