// Per-file results of the proxy's logs kept in memory between reads, valid while the log's
// size, modification time (nanoseconds) and file identity are those it had when it was read:
// the 24 hour totals of a traffic log, and the lines of a filter log. Nothing is kept on disk,
// so nothing can go stale across restarts. A result read from a log of today (which the proxy
// may still be writing) is kept only until the next listing, so such a log is read again in
// every cycle. Entries of logs that vanished or changed are dropped at each new listing; a
// changed log's entry is replaced in place when it is read again.
// Memory: about 90 bytes per traffic log (the listing names it), at most
// TrafficResultCache::kMaxEntries logs; for the filter logs their lines, at most
// FilterResultCache::kMaxBytes in all (the lines of a year of filter logs are the year
// extract itself, so the table holds about one extract). Those are the default bounds; a
// table can be made with smaller ones. Beyond either bound results are simply not kept, and
// those logs are read as they would be without reuse.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/files.h"
#include "stats/hour_totals.h"

namespace stats {

class TrafficResultCache {
  public:
    static constexpr std::size_t kMaxEntries = 500000;

    // Where the entries of one listing went in the next: the listing's names version before
    // and after, and per old entry its new place (UINT32_MAX when gone).
    struct Renumbering {
        std::uint64_t from = 0;
        std::uint64_t to = 0;
        std::vector<std::uint32_t> moved;
    };

    TrafficResultCache() = default;
    // Keeps at most maxEntries logs' results.
    explicit TrafficResultCache(std::size_t maxEntries) : maxEntries_(maxEntries) {}
    // A copy keeps the results but not the tie to a listing (which belongs to the original).
    TrafficResultCache(const TrafficResultCache& other) { *this = other; }
    TrafficResultCache& operator=(const TrafficResultCache& other);
    TrafficResultCache(TrafficResultCache&&) = default;
    TrafficResultCache& operator=(TrafficResultCache&&) = default;

    // The stored totals of the log; none when it has none or the log has changed since.
    std::optional<HourTotals> Find(const platform::DirEntry& log) const;
    // live: the log may still be written (today's); its totals serve this listing only.
    void Store(const platform::DirEntry& log, const HourTotals& totals, bool live = false);
    // Keeps only the results of logs that the listing holds unchanged (and not live), held
    // by their place in it from then on: the listing must stay in place until the next Prune
    // or Clear. namesVersion is the listing's (LogIndex::NamesVersion, 0: not known); results
    // held by place follow the listing to a new version only through renumbered, and are
    // dropped otherwise.
    void Prune(const std::vector<platform::DirEntry>& listing, std::uint64_t namesVersion = 0,
               const Renumbering* renumbered = nullptr);
    void Clear();
    std::size_t Size() const { return placed_ + byName_.size(); }
    // Changes whenever a kept result of a past (not live) log is replaced or dropped, or the
    // listing's places are renumbered: what was summed from kept results under one value
    // still holds while the value stays.
    std::uint64_t SettledEpoch() const { return settledEpoch_; }

  private:
    // What a result was read from, and where its totals are in packed_. Per log of the
    // listing: names are the listing's, not copied.
    struct Slot {
        std::uint64_t size = 0;
        std::int64_t mtimeNs = 0;
        std::uint64_t fileId = 0;
        std::uint32_t at = 0;  // offset of the packed totals
        bool kept = false;
        bool live = false;
    };
    static bool Same(const Slot& slot, const platform::DirEntry& log) {
        return slot.kept && slot.size == log.size && slot.mtimeNs == log.mtimeNs &&
               slot.fileId == log.fileId;
    }

    // Totals packed: a mask of the non-zero hours, then each of those zigzag-coded in 7-bit
    // groups. A day's traffic per hour takes 2 or 3 bytes, and any value comes back exactly.
    std::uint32_t Pack(const HourTotals& totals);
    HourTotals Unpack(std::uint32_t at) const;
    std::size_t PackedSize(std::uint32_t at) const;
    void Release(const Slot& slot);
    // Moves the live packed totals together once enough of packed_ is left over.
    void Compact();
    void Set(Slot& slot, const platform::DirEntry& log, const HourTotals& totals, bool live);

    // The entry's slot when it belongs to the pruned listing, else null.
    const Slot* SlotOf(const platform::DirEntry& log) const;

    std::size_t maxEntries_ = kMaxEntries;
    const std::vector<platform::DirEntry>* listing_ = nullptr;
    std::uint64_t namesVersion_ = 0;  // of listing_ when pruned
    std::vector<Slot> byPlace_;       // per entry of listing_
    std::size_t placed_ = 0;          // the kept ones of byPlace_
    // Results of logs given outside the pruned listing (by name); placed at the next Prune.
    std::unordered_map<std::string, Slot> byName_;
    std::vector<std::uint8_t> packed_;
    std::size_t unused_ = 0;  // bytes of packed_ no slot refers to
    std::uint64_t settledEpoch_ = 0;
};

// The total a traffic scan found for a search pattern, kept so that a later cycle does not
// look up again every past log it handed on: the saturated sum of the past logs' results, and
// the logs that may still be written (today's), which are read again each time. Every sum
// holds while the listing's names and the past logs' kept results are those the table was
// filled under; the first use under others empties it, so no stale sum stays held.
class ScanSums {
  public:
    static constexpr std::size_t kMaxEntries = 200000;  // beyond: scans walk their logs

    struct Live {
        std::uint32_t ordinal;  // among the logs the search matched
        std::uint32_t place;    // in the listing
    };
    struct Sum {
        std::int64_t settled = 0;      // of the past logs, every hour >= 0
        std::uint32_t candidates = 0;  // logs the search matched, past and live
        std::vector<Live> live;
    };

    // The pattern's sum; null when it has none under these versions.
    const Sum* Find(std::string_view pattern, std::uint64_t namesVersion,
                    std::uint64_t settledEpoch);
    void Store(std::string_view pattern, Sum sum, std::uint64_t namesVersion,
               std::uint64_t settledEpoch);
    void Clear() { items_.clear(); }
    std::size_t Size() const { return items_.size(); }

  private:
    // Empties the table when it was filled under other versions.
    void Under(std::uint64_t namesVersion, std::uint64_t settledEpoch);

    struct PatternHash {
        using is_transparent = void;  // looked up by string_view, without a copy
        std::size_t operator()(std::string_view text) const {
            return std::hash<std::string_view>{}(text);
        }
    };
    std::uint64_t namesVersion_ = 0;
    std::uint64_t settledEpoch_ = 0;
    std::unordered_map<std::string, Sum, PatternHash, std::equal_to<>> items_;
};

// Where the last read of each of today's traffic logs ended, so that the next read takes only
// what the proxy appended since: the totals of the complete lines read, the offset after the
// last of them, the bytes just before that offset and the file's identity. The next read goes
// on from there only when the file has the same identity, is not shorter and still holds those
// bytes there; otherwise it reads the file whole, as a first read does. A last line without
// its line end yet is read every time and never counted in.
class GrowingTrafficLogs {
  public:
    static constexpr std::size_t kMaxEntries = 100000;  // beyond: read whole, as without
    static constexpr std::size_t kTailBytes = 64;

    struct Position {
        std::uint64_t fileId = 0;
        std::uint64_t offset = 0;  // just after a line end
        std::string tail;          // the last up to kTailBytes bytes before offset
        HourTotals totals{};       // of the lines before offset
    };

    // The log's position, made empty when it has none yet; null beyond the bound.
    Position* Slot(const std::string& name);
    // Keeps only the positions of names starting with prefix (today's stamp and "_").
    void KeepOnly(std::string_view prefix);
    void Clear() { items_.clear(); }
    std::size_t Size() const { return items_.size(); }

  private:
    std::unordered_map<std::string, Position> items_;
};

// The lines of one filter log as CopyFilterBytes gives them: each line with its line end as
// on disk, a last line without a LF given one. CopyFilterLines differs only in the line ends
// (CR LF becomes LF), except that a last line ending in a bare CR keeps it there.
struct FilterLines {
    std::string bytes;
    bool lastLineEndsInCr = false;  // the last line had no LF and ended in a CR
    std::size_t longLinesKept = 0;  // lines over the cap kept as their events, cut
};

// Appends the lines in CopyFilterLines form: each line without its line end, then "\n".
void AppendAsTextLines(const FilterLines& lines, std::string& text);

class FilterResultCache {
  public:
    // About the year extract of a proxy writing 2 MB of filter log a day; beyond it the
    // further logs are read each time instead of kept.
    static constexpr std::size_t kMaxBytes = std::size_t{512} << 20;

    FilterResultCache() = default;
    // Keeps at most maxBytes of lines in all.
    explicit FilterResultCache(std::size_t maxBytes) : maxBytes_(maxBytes) {}

    const FilterLines* Find(const platform::DirEntry& log) const;
    void Store(const platform::DirEntry& log, FilterLines lines, bool live);
    // Keeps only the lines of logs that the listing holds unchanged (and not live).
    void Prune(const std::vector<platform::DirEntry>& listing);
    void Clear() {
        items_.clear();
        bytes_ = 0;
    }
    std::size_t Size() const { return items_.size(); }
    std::size_t Bytes() const { return bytes_; }

  private:
    struct Item {
        std::uint64_t size;
        std::int64_t mtimeNs;
        std::uint64_t fileId;
        bool live;
        FilterLines lines;
    };
    static bool Same(const Item& item, const platform::DirEntry& log) {
        return item.size == log.size && item.mtimeNs == log.mtimeNs && item.fileId == log.fileId;
    }

    std::unordered_map<std::string, Item> items_;
    std::size_t maxBytes_ = kMaxBytes;
    std::size_t bytes_ = 0;  // sum of the kept lines' sizes
};

}  // namespace stats
