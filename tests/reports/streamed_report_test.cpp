// Filter reports written straight from their input: the same files as a report made from its
// records in memory, nothing left behind when a file cannot be written, and memory that does
// not grow with the number of events.
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text_mode.h"
#include "reports/html_report.h"
#include "reports/report_output.h"
#include "reports/writers.h"
#include "tests/reports/encoded_lines.h"
#include "tests/reports/heap_meter.h"
#include "tests/support/test_env.h"

namespace {

using encoded_lines::Encoded;
using reports::ReportKind;
using testing_support::Exists;
using testing_support::ReadAll;
using testing_support::SetRegDword;
using testing_support::SetRegString;
using testing_support::WriteAll;

class StreamedReportTest : public testing_support::RegistryTest {
  protected:
    StreamedReportTest() : clock_(platform::LocalTimeOf(2026, 7, 31, 18, 0, 5)) {
        app_ = scratch_.Path() + "/app/";
        platform::CreateDirectories(app_ + "Logs");
        ctx_.settings.appPath = app_;
        ctx_.settings.clock = &clock_;
        ctx_.settings.pacer = &pacer_;
        SetRegDword("RegMonFilter", 1);
        SetRegString("ReportFormat", "xml+html");
    }
    std::string Logs(const std::string& name) const { return app_ + "Logs/" + name; }
    std::string Entry(const std::string& name) const {
        return platform::AppendPath(app_, "Logs\\" + name) + ",";
    }
    // The month's filter extract holding lines; the report the writer makes of it.
    std::string WriteMonth(const std::vector<std::string>& lines) {
        WriteAll(Logs("brisko.003"), Encoded(lines));
        std::string sendList;
        reports::WriteMonthlyFilterReport(ctx_, sendList);
        return sendList;
    }
    std::vector<std::string> LogNames() const {
        std::vector<platform::DirEntry> entries;
        platform::ListDirectory(app_ + "Logs", &entries);
        std::vector<std::string> names;
        for (const auto& e : entries) {
            names.push_back(e.name);
        }
        return names;
    }

    std::string app_;
    platform::FixedClock clock_;
    testing_support::RecordingPacer pacer_;
    stats::LogContext ctx_;
};

// Lines of the given number of events, with clients and categories that repeat.
std::vector<std::string> ManyLines(int events) {
    std::vector<std::string> lines;
    lines.reserve(static_cast<std::size_t>(events));
    for (int i = 0; i < events; ++i) {
        lines.push_back("31/07/2026 10.0." + std::to_string(i % 7) + "." + std::to_string(i % 40) +
                        " user" + std::to_string(i % 40) + " 12:" + std::to_string(10 + i % 50) +
                        ":00 http://site" + std::to_string(i) + ".example/path?q=" +
                        std::to_string(i * 7) + " Category_" + std::to_string(i % 15) + " ");
    }
    return lines;
}

TEST_F(StreamedReportTest, TheFilesAreThoseOfTheRecordsHeldInMemory) {
    const struct {
        const char* name;
        std::vector<std::string> lines;
    } cases[] = {
        {"hostile fields",
         {"31/07/2026 <script>x</script> \"o'k\" 10:00:00 http://a/?a=1&b=<2> Adult_&_<x> ",
          "short line ", "d c\x01\x1f u \xE9t\xE9 /\x80\x9F f_g ", "d c u t /u  "}},
        {"one event", {"31/07/2026 10.0.0.5 ann 09:00:00 http://a/ Games_Online "}},
        {"many events", ManyLines(3000)},
    };
    for (const auto& c : cases) {
        const std::string sendList = WriteMonth(c.lines);
        ASSERT_EQ(sendList, Entry("filtermonth.xml") + Entry("filtermonth.html")) << c.name;
        reports::ReportContent held{ReportKind::MonthlyFilter, 31, 7, 2026, {}, {}};
        for (const std::string& line : c.lines) {
            held.events.emplace_back();
            reports::SplitFilterLine(line, held.events.back());
        }
        EXPECT_EQ(ReadAll(Logs("filtermonth.xml")),
                  platform::ToTextMode(reports::BuildReportDocument(
                      ReportKind::MonthlyFilter, 31, 7, 2026, reports::XmlRecords(held))))
            << c.name;
        EXPECT_EQ(ReadAll(Logs("filtermonth.html")),
                  platform::ToTextMode(reports::RenderHtmlReport(held)))
            << c.name;
    }
}

TEST_F(StreamedReportTest, AFileThatCannotBeWrittenLeavesNothingBehind) {
    const std::vector<std::string> lines = ManyLines(50);
    // The twin's place taken by a folder: the document is listed alone.
    platform::CreateDirectories(Logs("filtermonth.html/inside"));
    EXPECT_EQ(WriteMonth(lines), Entry("filtermonth.xml"));
    platform::DeleteFileAt(Logs("filtermonth.xml"));
    // The document held open without sharing: no report, and no twin either.
    WriteAll(Logs("filtermonth.xml"), "older");
    {
        auto held = platform::File::Open(Logs("filtermonth.xml"), platform::OpenMode::Read,
                                         platform::ShareMode::None);
        ASSERT_NE(held, nullptr);
        EXPECT_EQ(WriteMonth(lines), "");
    }
    EXPECT_EQ(ReadAll(Logs("filtermonth.xml")), "older");
    // An input without events keeps the older report.
    EXPECT_EQ(WriteMonth({}), "");
    EXPECT_EQ(ReadAll(Logs("filtermonth.xml")), "older");
    EXPECT_EQ(LogNames(), (std::vector<std::string>{"brisko.003", "filtermonth.xml"}));
}

TEST_F(StreamedReportTest, MemoryDoesNotGrowWithTheEvents) {
    constexpr int kEvents = 40000;
    WriteAll(Logs("brisko.003"), Encoded(ManyLines(kEvents)));
    std::string sendList;
    std::size_t peak = 0;
    {
        heap_meter::Meter meter;
        reports::WriteMonthlyFilterReport(ctx_, sendList);
        peak = meter.Peak();
    }
    ASSERT_EQ(sendList, Entry("filtermonth.xml") + Entry("filtermonth.html"));
    const std::size_t written =
        ReadAll(Logs("filtermonth.xml")).size() + ReadAll(Logs("filtermonth.html")).size();
    EXPECT_GT(written, std::size_t{16} << 20);
    // Buffers of a few lines and the per-client and per-category figures; the files are
    // more than sixteen times that.
    EXPECT_LT(peak, std::size_t{1} << 20) << "written " << written;
}

}  // namespace
