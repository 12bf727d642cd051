// Log retention: the "1" start, the exact 30-days-back match, what a purge deletes and what it
// keeps, and the bound on the purge loop.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "aggregator/aggregator_worker.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "tests/support/test_env.h"

namespace {

using testing_support::GetRegString;
using testing_support::SetRegString;
using testing_support::WriteAll;

std::string Stamp(int day, int month, int year) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d_%02d_%d", day, month, year);
    return buf;
}

class RetentionTest : public testing_support::RegistryTest {
  protected:
    void SetUp() override {
        app_ = scratch_.Path() + "/app/";
        platform::CreateDirectories(app_ + "Logs");
        SetRegString("apppath", app_);
    }

    // Runs retention as the cycle of the given date does, with the clock on that date.
    void PurgeOn(int day, int month, int year) { PurgeAt(day, month, year, day, month, year); }
    void PurgeAt(int day, int month, int year, int clockDay, int clockMonth, int clockYear) {
        platform::FixedClock clock(platform::LocalTimeOf(clockYear, clockMonth, clockDay, 9));
        testing_support::RecordingPacer pacer;
        AggregatorWorker worker(clock, pacer, {});
        worker.PurgeOldLogs(day, month, year);
    }
    std::string Stored() {
        std::string v = "<absent>";
        GetRegString("dellogdate", &v);
        return v;
    }
    // Every file a date can have: two clients' traffic logs, the filter log, both daily
    // reports under the names they are written with.
    void WriteDate(int day, int month, int year) {
        const std::string s = Stamp(day, month, year);
        for (const std::string& name :
             {s + "_10.0.0.5", s + "_pc.example", "Filter_" + s + ".log", "filterday_" + s + ".xml",
              "day_" + Stamp(month, day, year) + ".xml"}) {
            WriteAll(app_ + "Logs/" + name, "x");
        }
    }
    std::set<std::string> LogNames() {
        std::vector<platform::DirEntry> entries;
        platform::ListDirectory(app_ + "Logs", &entries);
        std::set<std::string> names;
        for (const auto& e : entries) {
            names.insert(e.name);
        }
        return names;
    }

    std::string app_;
};

TEST_F(RetentionTest, OneStartsThePeriodToday) {
    WriteDate(7, 11, 2026);
    const auto before = LogNames();
    SetRegString("dellogdate", "1");
    PurgeOn(7, 12, 2026);
    EXPECT_EQ(Stored(), "7/12/2026");
    EXPECT_EQ(LogNames(), before);
}

TEST_F(RetentionTest, IdleUnlessTheStoredDateIsExactlyThirtyDaysBack) {
    WriteDate(7, 12, 2026);
    WriteDate(8, 12, 2026);
    const auto before = LogNames();
    const struct {
        const char* stored;
        int day, month, year;
    } cases[] = {
        {"7/12/2026", 5, 1, 2027},  {"7/12/2026", 7, 1, 2027}, {"07/12/2026", 6, 1, 2027},
        {"7/12/2026 ", 6, 1, 2027}, {"", 6, 1, 2027},          {"yes", 6, 1, 2027},
    };
    for (const auto& c : cases) {
        SetRegString("dellogdate", c.stored);
        PurgeOn(c.day, c.month, c.year);
        EXPECT_EQ(Stored(), c.stored);
        EXPECT_EQ(LogNames(), before) << c.stored;
    }
}

TEST_F(RetentionTest, PurgesTheThirtyDatesOfThePeriodAndNothingElse) {
    // Dates 6 December 2026 to 6 January 2027.
    std::vector<std::string> kept;
    std::time_t t = platform::LocalTimeOf(2026, 12, 6, 12);
    for (int i = 0; i < 32; ++i, t += 86400) {
        const platform::LocalDate d = platform::BreakDown(t);
        WriteDate(d.day, d.month, d.year);
    }
    for (const char* name : {"week.xml", "month.xml", "filterweek.xml", "filtermonth.xml"}) {
        WriteAll(app_ + "Logs/" + name, "x");
    }
    for (const char* name : {"brisko.trf", "brisko.001", "brisko.016", "logip.log"}) {
        WriteAll(app_ + "Logs/" + name, "x");
    }
    WriteAll(app_ + "brisko.users", "x");
    // The traffic report of 12 July 2026 shares the day-first name of 7 December.
    WriteAll(app_ + "Logs/day_07_12_2026.xml", "x");
    WriteAll(app_ + "Logs/day_01_06_2027.xml", "x");  // 6 January's traffic report: kept

    SetRegString("dellogdate", "7/12/2026");
    PurgeOn(6, 1, 2027);
    EXPECT_EQ(Stored(), "6/1/2027");

    std::set<std::string> want;
    for (const std::string& s : {Stamp(6, 12, 2026), Stamp(6, 1, 2027)}) {
        want.insert(s + "_10.0.0.5");
        want.insert(s + "_pc.example");
        want.insert("Filter_" + s + ".log");
        want.insert("filterday_" + s + ".xml");
    }
    want.insert("day_12_06_2026.xml");
    want.insert("day_01_06_2027.xml");
    want.insert("day_07_12_2026.xml");
    for (const char* name : {"brisko.trf", "brisko.001", "brisko.016", "logip.log"}) {
        want.insert(name);
    }
    EXPECT_EQ(LogNames(), want);
    EXPECT_TRUE(testing_support::Exists(app_ + "brisko.users"));

    // The next period starts today: the same day again does nothing more.
    PurgeOn(6, 1, 2027);
    EXPECT_EQ(LogNames(), want);
}

TEST_F(RetentionTest, LoopIsBoundedWhenTheClockJumpedDuringTheCycle) {
    // The cycle began on 6 January but the clock now reads 10 March: the running date
    // (8 February) lies after the cycle's date and would never reach it.
    std::time_t t = platform::LocalTimeOf(2027, 2, 8, 12);
    for (int i = 0; i < 33; ++i, t += 86400) {
        const platform::LocalDate d = platform::BreakDown(t);
        WriteDate(d.day, d.month, d.year);
    }
    SetRegString("dellogdate", "8/2/2027");
    PurgeAt(6, 1, 2027, 10, 3, 2027);
    EXPECT_EQ(Stored(), "6/1/2027");
    const auto names = LogNames();
    EXPECT_EQ(names.count(Stamp(10, 3, 2027) + "_10.0.0.5"), 0u);  // 31st pass
    EXPECT_EQ(names.count(Stamp(11, 3, 2027) + "_10.0.0.5"), 1u);  // beyond the bound
}

}  // namespace
