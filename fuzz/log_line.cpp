// Fuzzes the reading of the proxy's logs: the input is a log file as the proxy would leave
// it (base64 lines), read back the ways the statistics and reports read logs. Checked:
//   - the chunked file reader and the in-memory splitter cut the same lines, at any line
//     limit, also where a line crosses the reader's chunk boundary;
//   - the traffic reader's hour totals are those of the file's lines, the filter readers
//     give back the file's bytes, and the reused form of a filter log gives the same text;
//   - each line decodes as the log codec's rule says, found here by its own plain reading;
//   - the atoi-style numbers read as the C library reads them, and the summary-line
//     readers agree with each other and read back what the statistics write.
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/check.h"
#include "platform/files.h"
#include "platform/text_mode.h"
#include "reports/traffic_input.h"
#include "stats/base64.h"
#include "stats/line_reader.h"
#include "stats/log_names.h"
#include "stats/log_store.h"
#include "stats/result_cache.h"
#include "stats/summary_lines.h"

namespace {

std::string g_logPath;

// Where the log is written each run: TMPDIR when set, otherwise memory where the system
// has a file system there, as a disk would be forced to write the log out on each rewrite.
std::filesystem::path ScratchBase() {
    std::error_code error;
    if (std::getenv("TMPDIR") == nullptr && std::filesystem::is_directory("/dev/shm", error)) {
        return "/dev/shm";
    }
    return std::filesystem::temp_directory_path();
}

// One scratch directory per fuzzing process, removed when it ends.
struct Scratch {
    Scratch() {
        std::random_device random;
        const std::filesystem::path base = ScratchBase();
        do {
            dir = base / ("tally-fuzz-" + std::to_string(random()));
        } while (!std::filesystem::create_directory(dir));
        g_logPath = (dir / "log").string();
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    std::filesystem::path dir;
};

void WriteLog(const std::string& bytes) {
    auto file = platform::File::Open(g_logPath, platform::OpenMode::WriteTruncate,
                                     platform::ShareMode::None);
    FUZZ_CHECK(file != nullptr && file->Write(bytes.data(), bytes.size()));
}

// ---- lines ----

struct Cut {
    bool tooLong = false;
    std::string line;
    bool operator==(const Cut&) const = default;
};

std::vector<Cut> SplitInMemory(std::string_view bytes, std::size_t maxLine) {
    std::vector<Cut> cuts;
    platform::LineSplitter lines(bytes, maxLine);
    std::string_view line;
    for (;;) {
        switch (lines.Next(&line)) {
            case platform::LineSplitter::Result::Line:
                cuts.push_back({false, std::string(line)});
                break;
            case platform::LineSplitter::Result::TooLong:
                cuts.push_back({true, {}});
                break;
            case platform::LineSplitter::Result::End:
                return cuts;
        }
    }
}

std::vector<Cut> ReadFromFile(stats::LineReader::Mode mode, std::size_t maxLine) {
    auto file =
        platform::File::Open(g_logPath, platform::OpenMode::Read, platform::ShareMode::None);
    FUZZ_CHECK(file != nullptr);
    stats::LineReader reader(*file, mode, maxLine);
    std::vector<Cut> cuts;
    std::string line;
    for (;;) {
        switch (reader.Next(&line)) {
            case stats::LineReader::Result::Line:
                cuts.push_back({false, line});
                break;
            case stats::LineReader::Result::TooLong:
                cuts.push_back({true, {}});
                break;
            case stats::LineReader::Result::End:
                return cuts;
            case stats::LineReader::Result::Error:
                FUZZ_CHECK(!"a regular file failed to read");
        }
    }
}

// Room for the whole log and a line end: strings grown step by step past the sanitizer's
// small sizes are mapped afresh on every step, which cost most of each run.
std::string Reserved(std::size_t bytes) {
    std::string s;
    s.reserve(bytes + 1);
    return s;
}

void CheckReaders(const std::string& bytes, std::size_t smallLimit) {
    FUZZ_CHECK(ReadFromFile(stats::LineReader::Mode::Text, smallLimit) ==
               SplitInMemory(bytes, smallLimit));
    const std::vector<Cut> lines = SplitInMemory(bytes, stats::kMaxLineBytes);
    FUZZ_CHECK(ReadFromFile(stats::LineReader::Mode::Text, stats::kMaxLineBytes) == lines);

    std::string raw = Reserved(bytes.size());
    for (const Cut& cut : ReadFromFile(stats::LineReader::Mode::Raw, stats::kMaxLineBytes)) {
        raw += cut.line;
    }
    FUZZ_CHECK(raw == bytes);

    // The filter readers: the bytes as on disk with a last LF added, or the lines each
    // ended by "\n"; the form kept for reuse gives the latter too.
    std::string copied = Reserved(bytes.size());
    FUZZ_CHECK(stats::CopyFilterBytes(g_logPath, copied));
    FUZZ_CHECK(copied == (bytes.empty() || bytes.back() == '\n' ? bytes : bytes + "\n"));
    std::string text = Reserved(bytes.size());
    FUZZ_CHECK(stats::CopyFilterLines(g_logPath, text));
    std::string expected = Reserved(bytes.size());
    for (const Cut& cut : lines) {
        expected += cut.line + "\n";
    }
    FUZZ_CHECK(text == expected);
    stats::FilterLines kept{Reserved(bytes.size())};
    FUZZ_CHECK(stats::ReadFilterLog(g_logPath, &kept));
    FUZZ_CHECK(kept.bytes == copied);
    std::string reused = Reserved(bytes.size());
    stats::AppendAsTextLines(kept, reused);
    FUZZ_CHECK(reused == text);
}

// ---- decoding ----

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool IsCodeByte(char c) {
    return c == '=' || (c != '\0' && std::strchr(kAlphabet, c) != nullptr);
}

// The log codec's rule: decoding stops at the first byte outside the alphabet and "=",
// which counts as the letter of value 0; every whole group of four before it is kept.
void CheckDecoding(std::string_view line, const std::string& decoded, int status) {
    std::size_t stop = 0;
    while (stop < line.size() && IsCodeByte(line[stop])) {
        ++stop;
    }
    const std::size_t groups = stop / 4;
    FUZZ_CHECK(decoded.size() == groups * 3);
    std::string letters(line.substr(0, groups * 4));
    for (char& c : letters) {
        c = c == '=' ? 'A' : c;
    }
    FUZZ_CHECK(stats::Base64Encode(decoded) == letters);
    const int expected = line.empty()    ? stats::kBase64Empty
                         : stop % 4 != 0 ? stats::kBase64Incomplete
                         : stop < line.size() && static_cast<unsigned char>(line[stop]) > 0x7F
                             ? stats::kBase64HighByte
                             : stats::kBase64Stopped;
    FUZZ_CHECK(status == expected);
}

// ---- numbers and summary lines ----

// The C library's reading, held at the limits as strtoll holds it.
std::int64_t CLibraryNumber(std::string_view text) {
    const std::string copy(text.substr(0, text.find('\0')));
    errno = 0;
    return std::strtoll(copy.c_str(), nullptr, 10);
}

std::int64_t SaturatingSum(const std::vector<std::int64_t>& values) {
    std::int64_t sum = 0;
    for (std::int64_t v : values) {
        sum = stats::SaturatingAdd(sum, v);
    }
    return sum;
}

// Totals for a line the statistics would write, taken from the record's bytes.
std::vector<std::int64_t> TotalsFrom(std::string_view bytes) {
    std::vector<std::int64_t> totals;
    for (std::size_t at = 0; at + 8 <= bytes.size() && totals.size() < 16; at += 8) {
        std::uint64_t v = 0;
        std::memcpy(&v, bytes.data() + at, 8);
        totals.push_back(static_cast<std::int64_t>(v));
    }
    return totals;
}

void CheckRecord(std::string_view record, stats::HourTotals& hours) {
    FUZZ_CHECK(stats::ParseLeadingInt(record) == CLibraryNumber(record));
    const std::size_t star = record.find('*');
    if (star != std::string_view::npos) {
        FUZZ_CHECK(stats::ParseLeadingInt(record.substr(0, star)) ==
                   CLibraryNumber(record.substr(0, star)));
    }

    // A record counts when the two characters after its first "Time:" are an hour; its
    // size, the number before the first "*" (none: 0), goes to that hour.
    const std::size_t time = record.find("Time:");
    const std::int64_t hour =
        time == std::string_view::npos ? -1 : CLibraryNumber(record.substr(time + 5, 2));
    stats::HourTotals expected = hours;
    if (hour >= 0 && hour <= 23) {
        const std::int64_t bytes =
            star == std::string_view::npos ? 0 : CLibraryNumber(record.substr(0, star));
        expected[static_cast<std::size_t>(hour)] =
            stats::SaturatingAdd(expected[static_cast<std::size_t>(hour)], bytes);
    }
    FUZZ_CHECK(stats::AccumulateByHour(record, hours) == (hour >= 0 && hour <= 23));
    FUZZ_CHECK(hours == expected);

    // The two readers of summary lines agree where both take the line.
    stats::SlotLine slots;
    const bool isSlotLine = stats::ParseSlotLine(record, &slots);
    FUZZ_CHECK(isSlotLine == (!record.empty() && record.back() == '|'));
    if (isSlotLine) {
        const reports::ClientTotal total = reports::ParseClientTotalLine(record);
        FUZZ_CHECK(total.client == slots.name && total.bytes == SaturatingSum(slots.slots));
    }

    // A client key with the totals the statistics would write for it reads back as written.
    std::string key = stats::ClientKeyOf(record);
    FUZZ_CHECK(key.find('\n') == std::string::npos);
    key = key.substr(0, key.find('|'));
    const std::vector<std::int64_t> totals = TotalsFrom(record);
    const std::string written = key + " " + stats::SlotList(totals);
    FUZZ_CHECK(stats::ParseSlotLine(written, &slots));
    FUZZ_CHECK(slots.name == key && slots.slots == totals);
    const reports::ClientTotal total = reports::ParseClientTotalLine(written);
    FUZZ_CHECK(total.client == key && total.bytes == SaturatingSum(totals));

    // What the statistics encode, their readers decode; the mail sender's policy too.
    FUZZ_CHECK(stats::Base64DecodeText(stats::Base64Encode(record)) == record);
    std::string lenient;
    Base64Decode(stats::Base64Encode(record), Base64Decoding::Lenient, &lenient);
    FUZZ_CHECK(lenient == record);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static Scratch scratch;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    // For every other size, lines that decode to nothing put the reader's chunk boundary
    // amid the input (lines of 1 KiB: one line of the chunk's size would cost the run much
    // of its time in copies).
    std::string bytes = Reserved(stats::kChunkBytes + size);
    if (size % 2 == 1) {
        const std::size_t filler = stats::kChunkBytes - std::min(size / 2, stats::kChunkBytes);
        for (std::size_t at = 0; at + 1024 <= filler; at += 1024) {
            bytes.append(1023, '#').push_back('\n');
        }
        bytes.append(filler % 1024, '#');
        if (filler % 1024 != 0) {
            bytes.back() = '\n';
        }
    }
    bytes += input;
    WriteLog(bytes);
    CheckReaders(bytes, size % 64 + 1);

    stats::HourTotals hours{};
    std::string decoded;
    for (const Cut& cut : SplitInMemory(bytes, stats::kMaxLineBytes)) {
        const int status = stats::Base64Decode(cut.line, &decoded);
        CheckDecoding(cut.line, decoded, status);
        CheckRecord(std::string_view(decoded).substr(0, decoded.find('\0')), hours);
    }
    stats::HourTotals read{};
    FUZZ_CHECK(stats::ReadTrafficFile(g_logPath, read) && read == hours);
    return 0;
}
