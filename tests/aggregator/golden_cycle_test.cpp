// Whole cycles on small known installations, checked byte for byte against the thirteen
// summary files kept beside this test: each folder of golden/ is one case, its
// installation.txt the logs as the proxy would write them (decoded, one record a line) and
// the cycle's time, its expected/ folder the files the cycle must write. Setting
// TALLY_UPDATE_GOLDEN=1 rewrites the expected files from what the code writes now, for a
// change that alters them on purpose (review the difference before committing it).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "aggregator/aggregator_worker.h"
#include "common/layout.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "stats/base64.h"
#include "stats/summary_lines.h"
#include "tests/support/test_env.h"

namespace {

namespace fs = std::filesystem;

fs::path GoldenDir() {
    return fs::path(TALLY_TEST_SOURCE_DIR) / "aggregator" / "golden";
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// "at YYYY-MM-DD HH:MM:SS" once, then "file NAME" followed by the file's records, one a line,
// each written base64 with CR LF as the proxy does. Lines starting with "#" are comments.
struct Installation {
    std::time_t at = 0;
    std::vector<std::pair<std::string, std::string>> files;  // name, bytes
};

bool ParseInstallation(const std::string& text, Installation* out, std::string* error) {
    std::istringstream lines(text);
    std::string line;
    bool haveAt = false;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.rfind("#", 0) == 0) {
            continue;
        }
        if (line.rfind("at ", 0) == 0) {
            int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
            haveAt =
                std::sscanf(line.c_str(), "at %d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &sec) == 6;
            out->at = platform::LocalTimeOf(y, mo, d, h, mi, sec);
            if (!haveAt) {
                *error = "bad time: " + line;
                return false;
            }
        } else if (line.rfind("file ", 0) == 0) {
            out->files.emplace_back(line.substr(5), "");
        } else if (!out->files.empty()) {
            out->files.back().second += stats::Base64Encode(line) + "\r\n";
        } else if (!line.empty()) {
            *error = "record before any file: " + line;
            return false;
        }
    }
    if (!haveAt) {
        *error = "no \"at\" line";
    }
    return haveAt;
}

// Decoded, for a readable failure message.
std::string Decoded(const std::string& bytes) {
    std::string text;
    for (const std::string& line : stats::DecodeSummaryLines(bytes)) {
        text += "  " + line + "\n";
    }
    return text;
}

class GoldenCycleTest : public testing_support::RegistryTest {};

TEST_F(GoldenCycleTest, EveryCaseWritesItsSummaryFilesByteForByte) {
    if (!fs::is_directory(GoldenDir()) && platform::kPathSeparator == '\\') {
        // A Windows build run elsewhere than where it was built cannot reach its sources.
        GTEST_SKIP() << "no golden folder at " << GoldenDir();
    }
    ASSERT_TRUE(fs::is_directory(GoldenDir())) << GoldenDir();
    const bool update = std::getenv("TALLY_UPDATE_GOLDEN") != nullptr;
    std::vector<fs::path> cases;
    for (const fs::directory_entry& entry : fs::directory_iterator(GoldenDir())) {
        if (entry.is_directory()) {
            cases.push_back(entry.path());
        }
    }
    std::sort(cases.begin(), cases.end());
    ASSERT_FALSE(cases.empty());
    for (const fs::path& dir : cases) {
        SCOPED_TRACE(dir.filename().string());
        Installation install;
        std::string error;
        ASSERT_TRUE(ParseInstallation(ReadText(dir / "installation.txt"), &install, &error))
            << error;
        const std::string app = scratch_.Path() + "/" + dir.filename().string() + "/";
        ASSERT_TRUE(platform::CreateDirectories(app + "Logs"));
        for (const auto& [name, bytes] : install.files) {
            testing_support::WriteAll(app + "Logs/" + name, bytes);
        }
        testing_support::SetRegString("apppath", app);

        platform::FixedClock clock(install.at);
        testing_support::RecordingPacer pacer;
        AggregatorWorker worker(clock, pacer, {});
        worker.RunCycle();

        for (const char* name : layout::kSummaryFiles) {
            const std::string written = testing_support::ReadAll(app + "Logs/" + name);
            const fs::path expectedPath = dir / "expected" / name;
            if (update) {
                fs::create_directories(expectedPath.parent_path());
                std::ofstream(expectedPath, std::ios::binary) << written;
                continue;
            }
            ASSERT_TRUE(fs::exists(expectedPath)) << expectedPath;
            const std::string expected = ReadText(expectedPath);
            EXPECT_EQ(written, expected) << name << " written, decoded:\n"
                                         << Decoded(written) << "expected, decoded:\n"
                                         << Decoded(expected);
        }
    }
}

}  // namespace
