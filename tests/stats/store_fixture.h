// A hand-made log store for the statistics tests: an installation directory with a Logs
// folder, a fixed clock, a recording pacer and helpers that write logs as the proxy would
// (base64 lines ending in CR LF).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "stats/base64.h"
#include "stats/log_context.h"
#include "stats/tasks.h"
#include "tests/support/test_env.h"

namespace stats_test {

class StoreTest : public ::testing::Test {
  protected:
    StoreTest() {
        app_ = scratch_.Path() + "/";
        platform::CreateDirectories(app_ + "Logs");
        ctx_.settings.appPath = app_;
        ctx_.settings.clock = &clock_;
        ctx_.settings.pacer = &pacer_;
    }

    // Local 10:00 of the given date.
    void At(int year, int month, int day) {
        clock_.Set(platform::LocalTimeOf(year, month, day, 10, 0, 0));
    }

    std::string LogPath(const std::string& name) const { return app_ + "Logs/" + name; }

    // Runs a statistic's task as the cycle would on the clock's date.
    void Run(stats::Kind kind, stats::Period period, std::string& slot) {
        stats::RunStatistic(ctx_, stats::StatisticOf(kind, period),
                            stats::CycleDateOf(platform::BreakDown(clock_.Now())), slot);
    }

    // Writes a log whose lines are the base64 encodings of records, each ending in eol.
    void WriteEncoded(const std::string& name, const std::vector<std::string>& records,
                      const std::string& eol = "\r\n") {
        std::string bytes;
        for (const std::string& r : records) {
            bytes += stats::Base64Encode(r) + eol;
        }
        testing_support::WriteAll(LogPath(name), bytes);
    }

    // A traffic log with one record of each size, hours 0, 1, 2 ...
    void Traffic(const std::string& name, const std::vector<long long>& sizes) {
        std::vector<std::string> records;
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            const std::string hour = (i % 24 < 10 ? "0" : "") + std::to_string(i % 24);
            records.push_back(std::to_string(sizes[i]) + "*GET /x Time:" + hour + ":00:00");
        }
        WriteEncoded(name, records);
    }

    void Clients(const std::vector<std::string>& entries) { WriteEncoded("logip.log", entries); }

    void Raw(const std::string& name, const std::string& bytes) {
        testing_support::WriteAll(LogPath(name), bytes);
    }

    // The decoded lines of a slot (each encoded line must end in "\n").
    static std::vector<std::string> Decoded(const std::string& slot) {
        std::vector<std::string> lines;
        std::size_t start = 0;
        while (start < slot.size()) {
            const std::size_t lf = slot.find('\n', start);
            EXPECT_NE(lf, std::string::npos) << "slot does not end with a line feed";
            if (lf == std::string::npos) {
                break;
            }
            lines.push_back(stats::Base64DecodeText(slot.substr(start, lf - start)));
            start = lf + 1;
        }
        return lines;
    }

    static std::vector<std::uint32_t> Seconds(std::size_t n) {
        return std::vector<std::uint32_t>(n, 1000);
    }

    testing_support::ScratchDir scratch_;
    std::string app_;
    platform::FixedClock clock_{0};
    testing_support::RecordingPacer pacer_;
    stats::LogContext ctx_;
};

// Holds a file open without sharing, as the proxy does with a log it is writing.
class HeldOpen {
  public:
    explicit HeldOpen(const std::string& path)
        : file_(platform::File::Open(path, platform::OpenMode::Read, platform::ShareMode::None)) {
        EXPECT_NE(file_, nullptr) << path;
    }

  private:
    std::unique_ptr<platform::File> file_;
};

}  // namespace stats_test
