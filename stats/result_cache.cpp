// The in-memory table of traffic-log results; see result_cache.h. Nothing here fails.
#include "stats/result_cache.h"

namespace stats {

TrafficResultCache::Item* const* TrafficResultCache::SlotOf(const platform::DirEntry& log) const {
    if (listing_ == nullptr || listing_->empty())
        return nullptr;
    const platform::DirEntry* first = listing_->data();
    if (&log < first || &log >= first + listing_->size())
        return nullptr;
    return &byEntry_[static_cast<std::size_t>(&log - first)];
}

TrafficResultCache::Item** TrafficResultCache::SlotOf(const platform::DirEntry& log) {
    return const_cast<Item**>(static_cast<const TrafficResultCache*>(this)->SlotOf(log));
}

const HourTotals* TrafficResultCache::Find(const platform::DirEntry& log) const {
    if (Item* const* slot = SlotOf(log)) {
        return *slot != nullptr && Same(**slot, log) ? &(*slot)->totals : nullptr;
    }
    const auto it = items_.find(log.name);
    if (it == items_.end() || !Same(it->second, log))
        return nullptr;
    return &it->second.totals;
}

void TrafficResultCache::Store(const platform::DirEntry& log, const HourTotals& totals) {
    auto it = items_.find(log.name);
    if (it == items_.end()) {
        if (items_.size() >= kMaxEntries)
            return;
        it = items_.emplace(log.name, Item{}).first;
    }
    it->second = Item{log.size, log.mtimeNs, log.fileId, generation_, totals};
    if (Item** slot = SlotOf(log))
        *slot = &it->second;
}

void TrafficResultCache::Prune(const std::vector<platform::DirEntry>& listing) {
    ++generation_;
    listing_ = &listing;
    byEntry_.assign(listing.size(), nullptr);
    if (items_.empty())
        return;
    for (std::size_t i = 0; i < listing.size(); ++i) {
        const auto it = items_.find(listing[i].name);
        if (it != items_.end() && Same(it->second, listing[i])) {
            it->second.generation = generation_;
            byEntry_[i] = &it->second;
        }
    }
    std::erase_if(items_,
                  [this](const auto& item) { return item.second.generation != generation_; });
}

}  // namespace stats
