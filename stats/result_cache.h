// Per-file results of traffic logs kept in memory between reads: the 24 hour totals of a log,
// valid while the log's size, modification time (nanoseconds) and file identity are those it
// had when it was read. Nothing is kept on disk, so nothing can go stale across restarts.
// Memory: about 300 bytes per log, at most kMaxEntries logs (beyond that, results are simply
// not kept); entries of logs that vanished or changed are dropped at each new listing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/files.h"
#include "stats/hour_totals.h"

namespace stats {

class TrafficResultCache {
  public:
    static constexpr std::size_t kMaxEntries = 500000;

    TrafficResultCache() = default;
    // A copy keeps the results but not the tie to a listing (which belongs to the original).
    TrafficResultCache(const TrafficResultCache& other) : items_(other.items_) {}
    TrafficResultCache& operator=(const TrafficResultCache& other) {
        if (this != &other) {
            items_ = other.items_;
            listing_ = nullptr;
            byEntry_.clear();
        }
        return *this;
    }

    // The stored totals of the log, or null when it has none or the log has changed since.
    const HourTotals* Find(const platform::DirEntry& log) const;
    void Store(const platform::DirEntry& log, const HourTotals& totals);
    // Keeps only the results of logs that the listing holds unchanged, and remembers which
    // entry of the listing each kept result belongs to, so that lookups of those entries
    // need no hashing. The listing must stay in place until the next Prune or Clear.
    void Prune(const std::vector<platform::DirEntry>& listing);
    void Clear() {
        items_.clear();
        listing_ = nullptr;
        byEntry_.clear();
    }
    std::size_t Size() const { return items_.size(); }

  private:
    struct Item {
        std::uint64_t size;
        std::int64_t mtimeNs;
        std::uint64_t fileId;
        std::uint64_t generation;
        HourTotals totals;
    };
    static bool Same(const Item& item, const platform::DirEntry& log) {
        return item.size == log.size && item.mtimeNs == log.mtimeNs && item.fileId == log.fileId;
    }

    // The entry's slot in byEntry_ when it belongs to the pruned listing, else null.
    Item** SlotOf(const platform::DirEntry& log);
    Item* const* SlotOf(const platform::DirEntry& log) const;

    std::unordered_map<std::string, Item> items_;  // nodes never move, so pointers stay valid
    std::uint64_t generation_ = 0;
    const std::vector<platform::DirEntry>* listing_ = nullptr;
    std::vector<Item*> byEntry_;  // per entry of listing_: its result, or null
};

}  // namespace stats
