// Parsing and reading of the proxy's logs, the paced directory scan and the traffic scans'
// kept sums; see log_store.h.
// What the readers tolerate, in one place: a line that is not valid base64 is decoded up to
// its last complete group; a record without "*" has size 0; a record without a usable hour
// is dropped; a line over kMaxLineBytes is skipped, but for a filter log's, which is kept as
// the event it holds with its fields cut; an unreadable file is the caller's policy's business.
#include "stats/log_store.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "common/control_bytes.h"
#include "platform/wildcard.h"
#include "stats/base64.h"
#include "stats/line_reader.h"
#include "stats/log_names.h"
#include "stats/long_filter_line.h"
#include "stats/read_counters.h"

namespace stats {

namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::uint32_t kScanPauseMs = 1000;

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::unique_ptr<platform::File> OpenLog(const std::string& path) {
    auto file = platform::File::Open(path, platform::OpenMode::Read, platform::ShareMode::None);
    if (file) {
        LogReads().filesOpened.fetch_add(1, std::memory_order_relaxed);
    }
    return file;
}

// Hands each line of a log (opened without sharing) to onLine; a line over the cap is
// skipped, or with longLines handed on as the filter event it holds (counted in *kept). False
// when the log cannot be opened or a read fails, after the lines before it.
template <typename OnLine>
bool ForEachLogLine(const std::string& path, LineReader::Mode mode, OnLine onLine,
                    LongFilterLine* longLines = nullptr, std::size_t* kept = nullptr) {
    auto file = OpenLog(path);
    if (!file) {
        return false;
    }
    LineReader reader(*file, mode, kMaxLineBytes, longLines);
    std::string line;
    for (;;) {
        switch (reader.Next(&line)) {
            case LineReader::Result::Line:
                onLine(line);
                break;
            case LineReader::Result::TooLong:
                if (longLines != nullptr && !longLines->Decoded().empty()) {
                    // A text line is handed without its line end, a raw one with it.
                    line = mode == LineReader::Mode::Raw ? longLines->Encoded()
                                                         : Base64Encode(longLines->Decoded());
                    onLine(line);
                    ++*kept;
                }
                break;
            case LineReader::Result::Error:
                return false;
            case LineReader::Result::End:
                return true;
        }
    }
}

}  // namespace

std::int64_t SaturatingAdd(std::int64_t a, std::int64_t b) {
    std::int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) {
        return b > 0 ? kMax : kMin;
    }
    return sum;
}

std::int64_t SumOf(const HourTotals& hours) {
    std::int64_t sum = 0;
    for (std::int64_t h : hours) {
        sum = SaturatingAdd(sum, h);
    }
    return sum;
}

std::int64_t ParseLeadingInt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsCSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i++] == '-';
    }
    std::int64_t value = 0;  // accumulated as a negative number, which reaches kMin
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (value < (kMin + digit) / 10) {
            value = kMin;
            while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
                ++i;
            }
            break;
        }
        value = value * 10 - digit;
    }
    if (negative) {
        return value;
    }
    return value == kMin ? kMax : -value;
}

bool AccumulateByHour(std::string_view record, HourTotals& hourTotals) {
    const std::size_t time = record.find("Time:");
    if (time == std::string_view::npos) {
        return false;
    }
    const std::int64_t hour = ParseLeadingInt(record.substr(time + 5, 2));
    if (hour < 0 || hour > 23) {
        return false;
    }
    const std::size_t star = record.find('*');
    const std::int64_t size =
        star == std::string_view::npos ? 0 : ParseLeadingInt(record.substr(0, star));
    hourTotals[static_cast<std::size_t>(hour)] =
        SaturatingAdd(hourTotals[static_cast<std::size_t>(hour)], size);
    return true;
}

namespace {

// One traffic log line (without its line end) into totals; decoded is the caller's buffer,
// reused so that a record costs no allocation.
void AccumulateLine(std::string_view line, std::string& decoded, HourTotals& totals) {
    Base64Decode(line, &decoded);
    // The record ends at the first zero byte, as a decoded C string does.
    AccumulateByHour(std::string_view(decoded.data(), std::strlen(decoded.c_str())), totals);
}

// A raw line without its line end, as the text-mode reader gives it: LF and a CR before it go.
std::string_view WithoutLineEnd(std::string_view line) {
    if (!line.empty() && line.back() == '\n') {
        line.remove_suffix(1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
    }
    return line;
}

// Counts the bytes of a line over the cap and keeps its last few, so a read that skips it
// still knows where the next line begins and what stood before it.
class LongLineBytes final : public LongLineSink {
  public:
    void Begin() override {
        bytes = 0;
        tail.clear();
    }
    void Take(std::string_view piece) override {
        bytes += piece.size();
        KeepTail(tail, piece);
    }
    static void KeepTail(std::string& tail, std::string_view more) {
        constexpr std::size_t kKeep = GrowingTrafficLogs::kTailBytes;
        if (more.size() >= kKeep) {
            tail.assign(more.substr(more.size() - kKeep));
        } else {
            tail.append(more);
            if (tail.size() > kKeep) {
                tail.erase(0, tail.size() - kKeep);
            }
        }
    }
    std::uint64_t bytes = 0;
    std::string tail;
};

bool ReadExactly(platform::File& file, std::string& bytes) {
    std::size_t got = 0;
    while (got < bytes.size()) {
        const std::int64_t n = file.Read(bytes.data() + got, bytes.size() - got);
        if (n <= 0) {
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

// Whether the open file is the one the position was taken on, grown: same identity, not
// shorter, and the bytes before the old end unchanged. Leaves the file at the old end then.
bool GoesOnFrom(platform::File& file, const GrowingTrafficLogs::Position& at) {
    const std::int64_t size = file.Size();
    if (at.fileId == 0 || file.Id() != at.fileId || size < 0 ||
        static_cast<std::uint64_t>(size) < at.offset) {
        return false;
    }
    std::string seen(at.tail.size(), '\0');
    return file.Seek(at.offset - at.tail.size()) && ReadExactly(file, seen) && seen == at.tail;
}

// ReadTrafficFile from where the last read of the same, grown file ended; the position is
// moved on past the complete lines read. False as ReadTrafficFile, the position then emptied.
bool ReadGrowingTrafficFile(const std::string& path, GrowingTrafficLogs::Position& at,
                            HourTotals& fileTotals) {
    auto file = OpenLog(path);
    if (!file) {
        return false;
    }
    if (!GoesOnFrom(*file, at)) {
        at = {};
        at.fileId = file->Id();
        if (!file->Rewind()) {
            at = {};
            return false;
        }
    }
    LongLineBytes longLine;
    LineReader reader(*file, LineReader::Mode::Raw, kMaxLineBytes, &longLine);
    std::string line;
    std::string unfinished;  // a last line the proxy has not ended yet
    bool hasUnfinished = false;
    std::string decoded;
    for (;;) {
        switch (reader.Next(&line)) {
            case LineReader::Result::Line:
                if (line.back() == '\n') {
                    at.offset += line.size();
                    LongLineBytes::KeepTail(at.tail, line);
                    AccumulateLine(WithoutLineEnd(line), decoded, at.totals);
                } else {
                    unfinished = std::move(line);
                    hasUnfinished = true;
                }
                break;
            case LineReader::Result::TooLong:
                // Skipped as the whole-file reader skips it; only where it ends matters.
                if (!longLine.tail.empty() && longLine.tail.back() == '\n') {
                    at.offset += longLine.bytes;
                    LongLineBytes::KeepTail(at.tail, longLine.tail);
                }
                break;
            case LineReader::Result::Error:
                at = {};
                return false;
            case LineReader::Result::End:
                fileTotals = at.totals;
                if (hasUnfinished) {
                    AccumulateLine(unfinished, decoded, fileTotals);
                }
                return true;
        }
    }
}

}  // namespace

bool ReadTrafficFile(const std::string& path, HourTotals& hourTotals) {
    HourTotals fileTotals{};
    std::string decoded;  // reused: one allocation per file, not per record
    const bool read = ForEachLogLine(path, LineReader::Mode::Text, [&](const std::string& line) {
        AccumulateLine(line, decoded, fileTotals);
    });
    if (!read) {
        return false;
    }
    for (std::size_t h = 0; h < hourTotals.size(); ++h) {
        hourTotals[h] = SaturatingAdd(hourTotals[h], fileTotals[h]);
    }
    return true;
}

bool ReadTrafficLog(LogContext& ctx, const LogFile& file, HourTotals& hourTotals) {
    if (!ctx.settings.reuseResults) {
        return ReadTrafficFile(file.Path(), hourTotals);
    }
    const std::optional<HourTotals> known = ctx.caches.traffic.Find(file.entry);
    HourTotals fileTotals{};
    if (known) {
        fileTotals = *known;
    } else {
        const bool today = ctx.IsTodaysLog(file.entry);
        GrowingTrafficLogs::Position* at = today && ctx.KnowsToday() && ctx.settings.readAppended
                                               ? ctx.caches.growing.Slot(file.entry.name)
                                               : nullptr;
        if (!(at != nullptr ? ReadGrowingTrafficFile(file.Path(), *at, fileTotals)
                            : ReadTrafficFile(file.Path(), fileTotals))) {
            return false;
        }
        ctx.caches.traffic.Store(file.entry, fileTotals, today);
    }
    for (std::size_t h = 0; h < hourTotals.size(); ++h) {
        hourTotals[h] = SaturatingAdd(hourTotals[h], fileTotals[h]);
    }
    return true;
}

namespace {

// Appends every line of a filter log: in text mode each line without its end, then "\n"; raw,
// each line with its end as on disk, a last line without a line feed given one.
bool CopyFilterLog(const std::string& path, LineReader::Mode mode, std::string& text,
                   std::size_t* longLinesKept) {
    LongFilterLine longLines;
    std::size_t kept = 0;
    const bool read = ForEachLogLine(
        path, mode,
        [&](const std::string& line) {
            text += line;
            if (mode == LineReader::Mode::Text || line.back() != '\n') {
                text += '\n';
            }
        },
        &longLines, &kept);
    if (longLinesKept != nullptr) {
        *longLinesKept = kept;
    }
    return read;
}

}  // namespace

bool CopyFilterLines(const std::string& path, std::string& text, std::size_t* longLinesKept) {
    return CopyFilterLog(path, LineReader::Mode::Text, text, longLinesKept);
}

bool CopyFilterBytes(const std::string& path, std::string& text, std::size_t* longLinesKept) {
    return CopyFilterLog(path, LineReader::Mode::Raw, text, longLinesKept);
}

bool ReadFilterLog(const std::string& path, FilterLines* lines) {
    lines->bytes.clear();
    lines->lastLineEndsInCr = false;
    lines->longLinesKept = 0;
    LongFilterLine longLines;
    return ForEachLogLine(
        path, LineReader::Mode::Raw,
        [lines](const std::string& line) {
            lines->bytes += line;
            if (line.back() != '\n') {
                lines->lastLineEndsInCr = line.back() == '\r';
                lines->bytes += '\n';
            }
        },
        &longLines, &lines->longLinesKept);
}

namespace {

void AppendForm(const FilterLines& lines, FilterForm form, std::string& text) {
    if (form == FilterForm::Bytes) {
        text += lines.bytes;
    } else {
        AppendAsTextLines(lines, text);
    }
}

void NoteLongLines(const LogContext& ctx, const LogFile& file, std::size_t kept) {
    if (kept != 0 && ctx.Verbose()) {
        ctx.Note(LongLinesNote(file.entry.name, kept));
    }
}

}  // namespace

bool CopyFilterLog(LogContext& ctx, const LogFile& file, FilterForm form, std::string& text) {
    if (!ctx.settings.reuseResults) {
        std::size_t kept = 0;
        const bool read = form == FilterForm::Bytes ? CopyFilterBytes(file.Path(), text, &kept)
                                                    : CopyFilterLines(file.Path(), text, &kept);
        NoteLongLines(ctx, file, kept);
        return read;
    }
    if (const FilterLines* known = ctx.caches.filter.Find(file.entry)) {
        AppendForm(*known, form, text);
        NoteLongLines(ctx, file, known->longLinesKept);
        return true;
    }
    FilterLines lines;
    const bool read = ReadFilterLog(file.Path(), &lines);
    // Lines read before a read error stay in the text, as they do without reuse.
    AppendForm(lines, form, text);
    NoteLongLines(ctx, file, lines.longLinesKept);
    if (read) {
        ctx.caches.filter.Store(file.entry, std::move(lines), ctx.IsTodaysLog(file.entry));
    }
    return read;
}

namespace {

// The search of pattern + literal, formed in joined when there is a literal part, and noted
// for the benchmark when it asks.
std::string_view SearchOf(LogContext& ctx, std::string_view pattern, std::string_view literal,
                          std::string& joined) {
    std::string_view search = pattern;
    if (!literal.empty()) {
        joined.assign(pattern).append(literal);
        search = joined;
    }
    if (ctx.settings.searchLog != nullptr) {
        ctx.settings.searchLog->emplace_back(search);
    }
    return search;
}

enum class AfterFailure { Handed, Vanished, Abandon };

// What a log the reader failed on means for the scan: one removed since the listing was
// taken is left out as if it had never been listed (it is not the search's first file and
// earns no pause), rather than counting as unreadable; otherwise the policy decides.
AfterFailure Failed(const LogContext& ctx, const LogIndex& logs, const platform::DirEntry& entry,
                    ErrorPolicy policy, std::size_t handed) {
    if (!platform::FileExists(logs.Directory() + entry.name)) {
        return AfterFailure::Vanished;
    }
    const bool abandon =
        policy == ErrorPolicy::Abandon || (policy == ErrorPolicy::AbandonOnFirst && handed == 0);
    if (ctx.Verbose()) {
        ctx.Note((abandon ? "abandoned at " : "skipped ") + EscapeControlBytes(entry.name) +
                 ": it cannot be opened or read (held open by another program, no access, or "
                 "a read error)");
    }
    return abandon ? AfterFailure::Abandon : AfterFailure::Handed;
}

// After a log was handed to the reader (read: whether it took it): where the scan ends, if it
// ends here. The search's first file earns the pause after it.
std::optional<ScanResult> AfterHanding(LogContext& ctx, const LogIndex& logs,
                                       const platform::DirEntry& entry, bool read,
                                       ErrorPolicy policy, bool pacing, std::size_t& handed) {
    if (!read) {
        const AfterFailure after = Failed(ctx, logs, entry, policy, handed);
        if (after == AfterFailure::Vanished) {
            return std::nullopt;
        }
        if (after == AfterFailure::Abandon) {
            return ScanResult::Abandoned;
        }
    }
    if (handed++ == 0 && pacing && !ctx.Pause(kScanPauseMs)) {
        return ScanResult::Stopped;
    }
    return std::nullopt;
}

// Whether a log the search of pattern + literal yielded matches with only the pattern's
// wildcards as wildcards (checked only when the literal part holds wildcard characters).
bool IsMatch(std::string_view pattern, std::string_view literal, bool literalWildcards,
             const platform::DirEntry& entry) {
    return !literalWildcards || platform::WildcardMatchThenLiteral(pattern, literal, entry.name);
}

// ScanLogFiles of pattern + literal (searched as search), where only the pattern's wildcards
// are wildcards.
ScanResult Walk(LogContext& ctx, std::string_view search, std::string_view pattern,
                std::string_view literal, bool pacing, ErrorPolicy policy,
                const LogFileReader& reader, std::uint32_t pauseBeforeCloseMs) {
    const LogIndex& logs = ctx.Logs();
    // The index's own list, not a copy: readers read files and never search. Searched with
    // the literal part as wildcards, it holds every name the literal part allows, and more
    // only when that part has wildcard characters.
    const std::vector<std::uint32_t>& places = logs.FindPlaces(search);
    const bool literalWildcards = platform::HasWildcard(literal);
    if (pacing && !ctx.Pause(kScanPauseMs)) {
        return ScanResult::Stopped;
    }
    std::size_t handed = 0;
    for (const std::uint32_t place : places) {
        const platform::DirEntry& entry = logs.Entries()[place];
        if (!IsMatch(pattern, literal, literalWildcards, entry)) {
            continue;
        }
        const bool read = reader(LogFile{logs.Directory(), entry});
        if (const auto end = AfterHanding(ctx, logs, entry, read, policy, pacing, handed)) {
            return *end;
        }
    }
    if (pauseBeforeCloseMs != 0 && !ctx.Pause(pauseBeforeCloseMs)) {
        return ScanResult::Stopped;
    }
    return ScanResult::Completed;
}

ScanResult Scan(LogContext& ctx, std::string_view pattern, std::string_view literal, bool pacing,
                ErrorPolicy policy, const LogFileReader& reader, std::uint32_t pauseBeforeCloseMs) {
    std::string joined;
    const std::string_view search = SearchOf(ctx, pattern, literal, joined);
    return Walk(ctx, search, pattern, literal, pacing, policy, reader, pauseBeforeCloseMs);
}

bool AllAtLeastZero(const HourTotals& hours) {
    return std::all_of(hours.begin(), hours.end(), [](std::int64_t v) { return v >= 0; });
}

void AddHours(const HourTotals& from, HourTotals& to) {
    for (std::size_t h = 0; h < to.size(); ++h) {
        to[h] = SaturatingAdd(to[h], from[h]);
    }
}

// The scan's total as a walk would sum it, every result in listing order: what a kept sum
// gives when one of today's logs holds negative hours (a hostile log), where saturating
// sums depend on the order. The past logs' results are all kept (the sum was made on them).
std::int64_t SumInOrder(LogContext& ctx, std::string_view search, std::string_view pattern,
                        std::string_view literal,
                        const std::vector<std::pair<std::uint32_t, HourTotals>>& liveRead) {
    const LogIndex& logs = ctx.Logs();
    const bool literalWildcards = platform::HasWildcard(literal);
    HourTotals hours{};
    auto live = liveRead.begin();
    for (const std::uint32_t place : logs.FindPlaces(search)) {
        const platform::DirEntry& entry = logs.Entries()[place];
        if (!IsMatch(pattern, literal, literalWildcards, entry)) {
            continue;
        }
        if (live != liveRead.end() && live->first == place) {
            AddHours(live->second, hours);
            ++live;
        } else if (const std::optional<HourTotals> known = ctx.caches.traffic.Find(entry)) {
            AddHours(*known, hours);
        }
    }
    return SumOf(hours);
}

// A scan answered from its kept sum: today's logs read again, with the pauses, notes and
// policy of a walk over the same logs in the same order.
ScanResult FromKept(LogContext& ctx, const ScanSums::Sum& kept, std::string_view search,
                    std::string_view pattern, std::string_view literal, bool pacing,
                    ErrorPolicy policy, std::uint32_t pauseBeforeCloseMs, std::int64_t* total) {
    const LogIndex& logs = ctx.Logs();
    if (pacing && !ctx.Pause(kScanPauseMs)) {
        return ScanResult::Stopped;
    }
    std::size_t handed = 0;
    std::uint32_t next = 0;  // the first candidate not yet accounted for
    // The past logs from next up to upTo, all read fine when the sum was made.
    auto settledUpTo = [&](std::uint32_t upTo) {
        const bool first = upTo > next && handed == 0;
        handed += upTo - next;
        next = upTo;
        return !(first && pacing && !ctx.Pause(kScanPauseMs));
    };
    HourTotals liveHours{};
    std::vector<std::pair<std::uint32_t, HourTotals>> liveRead;
    bool ordered = false;  // a live log has negative hours: the sum must follow the walk
    for (const ScanSums::Live& live : kept.live) {
        if (!settledUpTo(live.ordinal)) {
            return ScanResult::Stopped;
        }
        next = live.ordinal + 1;
        const platform::DirEntry& entry = logs.Entries()[live.place];
        HourTotals own{};
        const bool read = ReadTrafficLog(ctx, LogFile{logs.Directory(), entry}, own);
        if (read) {
            ordered = ordered || !AllAtLeastZero(own);
            AddHours(own, liveHours);
            liveRead.emplace_back(live.place, own);
        }
        if (const auto end = AfterHanding(ctx, logs, entry, read, policy, pacing, handed)) {
            return *end;
        }
    }
    if (!settledUpTo(kept.candidates)) {
        return ScanResult::Stopped;
    }
    if (pauseBeforeCloseMs != 0 && !ctx.Pause(pauseBeforeCloseMs)) {
        return ScanResult::Stopped;
    }
    // Every value at least zero: each saturating sum is the true sum held at the limit,
    // whatever the order.
    *total = ordered ? SumInOrder(ctx, search, pattern, literal, liveRead)
                     : SaturatingAdd(kept.settled, SumOf(liveHours));
    return ScanResult::Completed;
}

ScanResult SumTraffic(LogContext& ctx, std::string_view pattern, std::string_view literal,
                      bool pacing, ErrorPolicy policy, std::uint32_t pauseBeforeCloseMs,
                      std::int64_t* total) {
    *total = 0;
    std::string joined;
    const std::string_view search = SearchOf(ctx, pattern, literal, joined);
    HourTotals hours{};
    // A first file's failure would decide by its place among the others: walked.
    if (!ctx.settings.reuseResults || policy == ErrorPolicy::AbandonOnFirst) {
        const ScanResult result = Walk(
            ctx, search, pattern, literal, pacing, policy,
            [&ctx, &hours](const LogFile& file) { return ReadTrafficLog(ctx, file, hours); },
            pauseBeforeCloseMs);
        *total = SumOf(hours);
        return result;
    }
    const LogIndex& logs = ctx.Logs();
    const std::uint64_t namesVersion = logs.NamesVersion();
    if (const ScanSums::Sum* kept =
            ctx.caches.scans.Find(search, namesVersion, ctx.caches.traffic.SettledEpoch())) {
        return FromKept(ctx, *kept, search, pattern, literal, pacing, policy, pauseBeforeCloseMs,
                        total);
    }
    // Walked, noting what a later scan needs to skip the past logs.
    ScanSums::Sum made;
    bool keep = true;
    std::uint32_t ordinal = 0;
    const ScanResult result = Walk(
        ctx, search, pattern, literal, pacing, policy,
        [&](const LogFile& file) {
            HourTotals own{};
            const bool read = ReadTrafficLog(ctx, file, own);
            const std::uint32_t at = ordinal++;
            if (ctx.IsTodaysLog(file.entry)) {
                made.live.push_back(
                    {at, static_cast<std::uint32_t>(&file.entry - logs.Entries().data())});
            } else if (!read || !AllAtLeastZero(own) || !ctx.caches.traffic.Find(file.entry)) {
                keep = false;  // not kept, or its order matters: walked every time
            } else {
                made.settled = SaturatingAdd(made.settled, SumOf(own));
            }
            if (read) {
                AddHours(own, hours);
            }
            return read;
        },
        pauseBeforeCloseMs);
    *total = SumOf(hours);
    made.candidates = ordinal;
    if (result == ScanResult::Completed && keep && made.live.size() < made.candidates) {
        ctx.caches.scans.Store(search, std::move(made), namesVersion,
                               ctx.caches.traffic.SettledEpoch());
    }
    return result;
}

}  // namespace

ScanResult ScanLogFiles(LogContext& ctx, std::string_view pattern, bool pacing, ErrorPolicy policy,
                        const LogFileReader& reader, std::uint32_t pauseBeforeCloseMs) {
    return Scan(ctx, pattern, {}, pacing, policy, reader, pauseBeforeCloseMs);
}

ScanResult ScanClientLogs(LogContext& ctx, std::string_view stamp, std::string_view key,
                          const LogFileReader& reader) {
    return Scan(ctx, TrafficLogName(stamp, ""), key, false, ErrorPolicy::Skip, reader, 0);
}

ScanResult SumTrafficLogs(LogContext& ctx, std::string_view pattern, bool pacing,
                          ErrorPolicy policy, std::uint32_t pauseBeforeCloseMs,
                          std::int64_t* total) {
    return SumTraffic(ctx, pattern, {}, pacing, policy, pauseBeforeCloseMs, total);
}

std::int64_t SumClientLogs(LogContext& ctx, std::string_view stamp, std::string_view key) {
    std::int64_t total = 0;
    SumTraffic(ctx, TrafficLogName(stamp, ""), key, false, ErrorPolicy::Skip, 0, &total);
    return total;
}

}  // namespace stats
