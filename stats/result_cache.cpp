// The in-memory tables of per-log results; see result_cache.h. Nothing here fails.
#include "stats/result_cache.h"

#include <algorithm>
#include <cstring>

#include "platform/wildcard.h"

namespace stats {

TrafficResultCache::Item* const* TrafficResultCache::SlotOf(const platform::DirEntry& log) const {
    if (listing_ == nullptr || listing_->empty()) {
        return nullptr;
    }
    const platform::DirEntry* first = listing_->data();
    if (&log < first || &log >= first + listing_->size()) {
        return nullptr;
    }
    return &byEntry_[static_cast<std::size_t>(&log - first)];
}

TrafficResultCache::Item** TrafficResultCache::SlotOf(const platform::DirEntry& log) {
    return const_cast<Item**>(static_cast<const TrafficResultCache*>(this)->SlotOf(log));
}

TrafficResultCache::KeptTotals::KeptTotals(const HourTotals& totals) {
    for (std::size_t h = 0; h < totals.size(); ++h) {
        if (totals[h] < 0 || totals[h] > static_cast<std::int64_t>(UINT32_MAX)) {
            wide_ = std::make_unique<HourTotals>(totals);
            return;
        }
        narrow_[h] = static_cast<std::uint32_t>(totals[h]);
    }
}

HourTotals TrafficResultCache::KeptTotals::Get() const {
    if (wide_) {
        return *wide_;
    }
    HourTotals totals;
    for (std::size_t h = 0; h < totals.size(); ++h) {
        totals[h] = narrow_[h];
    }
    return totals;
}

std::optional<HourTotals> TrafficResultCache::Find(const platform::DirEntry& log) const {
    if (Item* const* slot = SlotOf(log)) {
        if (*slot != nullptr && Same(**slot, log)) {
            return (*slot)->totals.Get();
        }
        return std::nullopt;
    }
    const auto it = items_.find(log.name);
    if (it == items_.end() || !Same(it->second, log)) {
        return std::nullopt;
    }
    return it->second.totals.Get();
}

void TrafficResultCache::Store(const platform::DirEntry& log, const HourTotals& totals, bool live) {
    auto it = items_.find(log.name);
    if (it == items_.end()) {
        if (items_.size() >= maxEntries_) {
            return;
        }
        it = items_.emplace(log.name, Item{}).first;
    } else if (!it->second.live) {
        ++settledEpoch_;
    }
    it->second =
        Item{log.size, log.mtimeNs, log.fileId, generation_, live, &it->first, KeptTotals(totals)};
    if (Item** slot = SlotOf(log)) {
        if (*slot == nullptr) {
            ++mapped_;
        }
        *slot = &it->second;
    }
}

bool TrafficResultCache::PruneSameNames(const std::vector<platform::DirEntry>& listing) {
    // Every result belongs to an entry of the last listing: when the new listing holds the
    // same names at the same places, each result only needs checking against its own entry.
    if (listing_ == nullptr || byEntry_.size() != listing.size() || mapped_ != items_.size()) {
        return false;
    }
    for (std::size_t i = 0; i < listing.size(); ++i) {
        if (byEntry_[i] != nullptr && *byEntry_[i]->name != listing[i].name) {
            return false;
        }
    }
    for (std::size_t i = 0; i < listing.size(); ++i) {
        Item* item = byEntry_[i];
        if (item != nullptr && (item->live || !Same(*item, listing[i]))) {
            if (!item->live) {
                ++settledEpoch_;
            }
            items_.erase(listing[i].name);
            byEntry_[i] = nullptr;
            --mapped_;
        }
    }
    listing_ = &listing;
    return true;
}

void TrafficResultCache::Prune(const std::vector<platform::DirEntry>& listing) {
    if (PruneSameNames(listing)) {
        return;
    }
    ++generation_;
    ++settledEpoch_;  // the places of the listing are new
    listing_ = &listing;
    byEntry_.assign(listing.size(), nullptr);
    mapped_ = 0;
    if (items_.empty()) {
        return;
    }
    for (std::size_t i = 0; i < listing.size(); ++i) {
        const auto it = items_.find(listing[i].name);
        if (it != items_.end() && !it->second.live && Same(it->second, listing[i])) {
            it->second.generation = generation_;
            byEntry_[i] = &it->second;
            ++mapped_;
        }
    }
    std::erase_if(items_,
                  [this](const auto& item) { return item.second.generation != generation_; });
}

void ScanSums::Under(std::uint64_t namesVersion, std::uint64_t settledEpoch) {
    if (namesVersion != namesVersion_ || settledEpoch != settledEpoch_) {
        items_.clear();
        namesVersion_ = namesVersion;
        settledEpoch_ = settledEpoch;
    }
}

const ScanSums::Sum* ScanSums::Find(std::string_view pattern, std::uint64_t namesVersion,
                                    std::uint64_t settledEpoch) {
    Under(namesVersion, settledEpoch);
    const auto it = items_.find(pattern);
    return it == items_.end() ? nullptr : &it->second;
}

void ScanSums::Store(std::string_view pattern, Sum sum, std::uint64_t namesVersion,
                     std::uint64_t settledEpoch) {
    Under(namesVersion, settledEpoch);
    const auto it = items_.find(pattern);
    if (it != items_.end()) {
        it->second = std::move(sum);
    } else if (items_.size() < kMaxEntries) {
        items_.emplace(std::string(pattern), std::move(sum));
    }
}

GrowingTrafficLogs::Position* GrowingTrafficLogs::Slot(const std::string& name) {
    const auto it = items_.find(name);
    if (it != items_.end()) {
        return &it->second;
    }
    if (items_.size() >= kMaxEntries) {
        return nullptr;
    }
    return &items_[name];
}

void GrowingTrafficLogs::KeepOnly(std::string_view prefix) {
    std::erase_if(items_, [prefix](const auto& item) {
        return std::string_view(item.first).substr(0, prefix.size()) != prefix;
    });
}

void AppendAsTextLines(const FilterLines& lines, std::string& text) {
    const std::string& b = lines.bytes;
    text.reserve(text.size() + b.size());
    std::size_t start = 0;
    while (start < b.size()) {
        const void* found = std::memchr(b.data() + start, '\n', b.size() - start);
        const std::size_t lf =
            found ? static_cast<std::size_t>(static_cast<const char*>(found) - b.data()) : b.size();
        std::size_t end = lf;  // the line without its line end
        const bool last = lf + 1 >= b.size();
        if (end > start && b[end - 1] == '\r' && !(last && lines.lastLineEndsInCr)) {
            --end;
        }
        text.append(b, start, end - start);
        text += '\n';
        start = lf + 1;
    }
}

const FilterLines* FilterResultCache::Find(const platform::DirEntry& log) const {
    const auto it = items_.find(log.name);
    if (it == items_.end() || !Same(it->second, log)) {
        return nullptr;
    }
    return &it->second.lines;
}

void FilterResultCache::Store(const platform::DirEntry& log, FilterLines lines, bool live) {
    auto it = items_.find(log.name);
    const std::size_t old = it == items_.end() ? 0 : it->second.lines.bytes.size();
    if (bytes_ - old + lines.bytes.size() > maxBytes_) {
        if (it != items_.end()) {
            bytes_ -= old;
            items_.erase(it);
        }
        return;
    }
    bytes_ = bytes_ - old + lines.bytes.size();
    Item item{log.size, log.mtimeNs, log.fileId, live, std::move(lines)};
    if (it == items_.end()) {
        items_.emplace(log.name, std::move(item));
    } else {
        it->second = std::move(item);  // the entry is reused, keyed by name
    }
}

void FilterResultCache::Prune(const std::vector<platform::DirEntry>& listing) {
    // Few filter logs against many traffic logs: look each kept one up in the sorted listing.
    std::erase_if(items_, [this, &listing](const auto& item) {
        bool keep = false;
        if (!item.second.live) {
            auto it = std::lower_bound(listing.begin(), listing.end(), item.first,
                                       [](const platform::DirEntry& e, const std::string& name) {
                                           return platform::LessNoCase(e.name, name);
                                       });
            for (; it != listing.end() && platform::EqualNoCase(it->name, item.first); ++it) {
                if (it->name == item.first) {
                    keep = Same(item.second, *it);
                    break;
                }
            }
        }
        if (!keep) {
            bytes_ -= item.second.lines.bytes.size();
        }
        return !keep;
    });
}

}  // namespace stats
