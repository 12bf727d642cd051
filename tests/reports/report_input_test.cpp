// Reading the report inputs line by line: the lines as the writers see them, and an input
// larger than any whole-file bound still read to its end.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "reports/input_lines.h"
#include "reports/writers.h"
#include "stats/base64.h"
#include "tests/support/test_env.h"

namespace {

using testing_support::ReadAll;
using testing_support::WriteAll;
using Lines = std::vector<std::string>;

class ReportInputTest : public testing_support::RegistryTest {
  protected:
    Lines Read(const std::string& bytes, bool* ok = nullptr) {
        WriteAll(path_, bytes);
        Lines lines;
        const bool read =
            reports::ForEachDecodedLine(path_, platform::ShareMode::None,
                                        [&lines](const std::string& l) { lines.push_back(l); });
        if (ok != nullptr) {
            *ok = read;
        }
        return lines;
    }
    std::string path_ = scratch_ / "input";
};

TEST_F(ReportInputTest, LinesAsTheWritersSeeThem) {
    const std::string a = stats::Base64Encode("a|1"), b = stats::Base64Encode("b|2");
    const std::string tooLong(stats::kMaxLineBytes + 1, 'Q');
    const struct {
        const char* what;
        std::string bytes;
        Lines lines;
    } cases[] = {
        {"CR LF and LF", a + "\r\n" + b + "\n", {"a|1", "b|2"}},
        {"last line without an end", a + "\r\n" + b, {"a|1", "b|2"}},
        {"empty line", a + "\r\n\r\n" + b + "\r\n", {"a|1", "", "b|2"}},
        {"over-long line skipped", a + "\r\n" + tooLong + "\r\n" + b + "\r\n", {"a|1", "b|2"}},
        {"cut at a zero byte", stats::Base64Encode(std::string("x\0y", 3)) + "\r\n", {"x"}},
        {"empty file", "", {}},
    };
    for (const auto& c : cases) {
        bool ok = false;
        EXPECT_EQ(Read(c.bytes, &ok), c.lines) << c.what;
        EXPECT_TRUE(ok) << c.what;
    }
    std::filesystem::remove(path_);
    EXPECT_FALSE(reports::ForEachDecodedLine(path_, platform::ShareMode::None,
                                             [](const std::string&) { FAIL(); }));
}

// Inputs used to be read whole and refused beyond 256 MiB, so the monthly filter report of a
// busy proxy silently vanished although the cycle itself had written its input.
TEST_F(ReportInputTest, AnInputBeyond256MiBIsReadToItsEnd) {
    const std::string app = scratch_.Path() + "/app/";
    platform::CreateDirectories(app + "Logs");
    const std::string input = app + "Logs/brisko.003";
    const std::string event = "01_11_2026 10.0.0.5 ann 10:00:00 /a Games ";
    WriteAll(input, stats::Base64Encode(event) + "\r\n");
    // Zeros up to 300 MiB (one over-long line, skipped), then one more event.
    std::filesystem::resize_file(input, std::uintmax_t{300} << 20);
    {
        std::ofstream tail(input, std::ios::binary | std::ios::app);
        tail << "\r\n" << stats::Base64Encode(event) << "\r\n";
    }
    testing_support::SetRegDword("RegMonFilter", 1);
    platform::FixedClock clock(platform::LocalTimeOf(2026, 12, 31, 14, 0, 5));
    stats::LogContext ctx;
    ctx.settings.appPath = app;
    ctx.settings.clock = &clock;
    std::string sendList;
    reports::WriteMonthlyFilterReport(ctx, sendList);
    std::filesystem::remove(input);
    const std::string report = ReadAll(app + "Logs/filtermonth.xml");
    std::size_t records = 0;
    for (std::size_t at = report.find("<filter>Games</filter>"); at != std::string::npos;
         at = report.find("<filter>Games</filter>", at + 1)) {
        ++records;
    }
    EXPECT_EQ(records, 2u);
    EXPECT_FALSE(sendList.empty());
}

}  // namespace
