// The in-memory tables of per-log results; see result_cache.h. Nothing here fails.
#include "stats/result_cache.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "platform/wildcard.h"

namespace stats {

namespace {

constexpr std::uint32_t kGone = UINT32_MAX;
constexpr std::size_t kMaskBytes = 3;
constexpr std::size_t kMaxPacked = kMaskBytes + 24 * 10;

std::uint64_t ZigZag(std::int64_t v) {
    return (static_cast<std::uint64_t>(v) << 1) ^ static_cast<std::uint64_t>(v >> 63);
}

std::int64_t UnZigZag(std::uint64_t u) {
    return static_cast<std::int64_t>(u >> 1) ^ -static_cast<std::int64_t>(u & 1);
}

// Packs into out (at least kMaxPacked bytes); the packed size.
std::size_t PackInto(const HourTotals& totals, std::uint8_t* out) {
    std::uint32_t mask = 0;
    for (std::size_t h = 0; h < totals.size(); ++h) {
        if (totals[h] != 0) {
            mask |= std::uint32_t{1} << h;
        }
    }
    std::size_t n = 0;
    for (std::size_t b = 0; b < kMaskBytes; ++b) {
        out[n++] = static_cast<std::uint8_t>(mask >> (8 * b));
    }
    for (std::size_t h = 0; h < totals.size(); ++h) {
        if (totals[h] != 0) {
            std::uint64_t u = ZigZag(totals[h]);
            for (; u >= 0x80; u >>= 7) {
                out[n++] = static_cast<std::uint8_t>(u | 0x80);
            }
            out[n++] = static_cast<std::uint8_t>(u);
        }
    }
    return n;
}

}  // namespace

TrafficResultCache& TrafficResultCache::operator=(const TrafficResultCache& other) {
    if (this == &other) {
        return *this;
    }
    maxEntries_ = other.maxEntries_;
    listing_ = nullptr;
    namesVersion_ = 0;
    byPlace_.clear();
    placed_ = 0;
    byName_ = other.byName_;
    packed_ = other.packed_;
    unused_ = other.unused_;
    settledEpoch_ = other.settledEpoch_ + 1;
    // The copy has no listing: its results are held by name until its first Prune.
    if (other.listing_ != nullptr) {
        const std::size_t n = std::min(other.byPlace_.size(), other.listing_->size());
        for (std::size_t i = 0; i < n; ++i) {
            if (other.byPlace_[i].kept) {
                byName_[(*other.listing_)[i].name] = other.byPlace_[i];
            }
        }
    }
    return *this;
}

const TrafficResultCache::Slot* TrafficResultCache::SlotOf(const platform::DirEntry& log) const {
    if (listing_ == nullptr || listing_->empty()) {
        return nullptr;
    }
    const platform::DirEntry* first = listing_->data();
    if (&log < first || &log >= first + listing_->size()) {
        return nullptr;
    }
    const auto place = static_cast<std::size_t>(&log - first);
    return place < byPlace_.size() ? &byPlace_[place] : nullptr;
}

std::uint32_t TrafficResultCache::Pack(const HourTotals& totals) {
    std::uint8_t bytes[kMaxPacked];
    const std::size_t n = PackInto(totals, bytes);
    if (packed_.capacity() < packed_.size() + n) {
        // Grown by an eighth, not doubled: the table is most of what is held between cycles.
        packed_.reserve(packed_.size() + n + packed_.size() / 8 + 4096);
    }
    const auto at = static_cast<std::uint32_t>(packed_.size());
    packed_.insert(packed_.end(), bytes, bytes + n);
    return at;
}

HourTotals TrafficResultCache::Unpack(std::uint32_t at) const {
    const std::uint8_t* p = packed_.data() + at;
    std::uint32_t mask = 0;
    for (std::size_t b = 0; b < kMaskBytes; ++b) {
        mask |= std::uint32_t{*p++} << (8 * b);
    }
    HourTotals totals{};
    for (std::size_t h = 0; h < totals.size(); ++h) {
        if ((mask >> h & 1) != 0) {
            std::uint64_t u = 0;
            for (unsigned shift = 0;; shift += 7) {
                const std::uint8_t byte = *p++;
                u |= std::uint64_t{byte & 0x7fu} << shift;
                if (byte < 0x80) {
                    break;
                }
            }
            totals[h] = UnZigZag(u);
        }
    }
    return totals;
}

std::size_t TrafficResultCache::PackedSize(std::uint32_t at) const {
    const std::uint8_t* p = packed_.data() + at;
    const std::uint32_t mask = p[0] | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16;
    std::size_t n = kMaskBytes;
    for (int values = std::popcount(mask); values > 0; ++n) {
        if (p[n] < 0x80) {
            --values;
        }
    }
    return n;
}

void TrafficResultCache::Release(const Slot& slot) {
    if (slot.kept) {
        unused_ += PackedSize(slot.at);
    }
}

void TrafficResultCache::Set(Slot& slot, const platform::DirEntry& log, const HourTotals& totals,
                             bool live) {
    std::uint32_t at = 0;
    std::uint8_t bytes[kMaxPacked];
    const std::size_t n = PackInto(totals, bytes);
    if (slot.kept && PackedSize(slot.at) >= n) {
        // Today's logs are read again every cycle: their totals mostly fit where they were.
        unused_ += PackedSize(slot.at) - n;
        at = slot.at;
        std::memcpy(packed_.data() + at, bytes, n);
    } else {
        Release(slot);
        at = Pack(totals);
    }
    slot = Slot{log.size, log.mtimeNs, log.fileId, at, true, live};
}

void TrafficResultCache::Compact() {
    if (unused_ < 65536 || unused_ * 4 < packed_.size()) {
        return;
    }
    std::vector<Slot*> order;
    order.reserve(Size());
    for (Slot& slot : byPlace_) {
        if (slot.kept) {
            order.push_back(&slot);
        }
    }
    for (auto& [name, slot] : byName_) {
        order.push_back(&slot);
    }
    std::sort(order.begin(), order.end(),
              [](const Slot* a, const Slot* b) { return a->at < b->at; });
    std::size_t out = 0;
    for (Slot* slot : order) {
        const std::size_t n = PackedSize(slot->at);
        std::memmove(packed_.data() + out, packed_.data() + slot->at, n);
        slot->at = static_cast<std::uint32_t>(out);
        out += n;
    }
    packed_.resize(out);
    unused_ = 0;
}

std::optional<HourTotals> TrafficResultCache::Find(const platform::DirEntry& log) const {
    if (const Slot* slot = SlotOf(log); slot != nullptr && (slot->kept || byName_.empty())) {
        if (Same(*slot, log)) {
            return Unpack(slot->at);
        }
        return std::nullopt;
    }
    const auto it = byName_.find(log.name);
    if (it == byName_.end() || !Same(it->second, log)) {
        return std::nullopt;
    }
    return Unpack(it->second.at);
}

void TrafficResultCache::Store(const platform::DirEntry& log, const HourTotals& totals, bool live) {
    if (Slot* slot = const_cast<Slot*>(SlotOf(log))) {
        if (slot->kept) {
            if (!slot->live) {
                ++settledEpoch_;
            }
        } else if (Size() >= maxEntries_) {
            return;
        } else {
            ++placed_;
        }
        Set(*slot, log, totals, live);
        return;
    }
    auto it = byName_.find(log.name);
    if (it == byName_.end()) {
        if (Size() >= maxEntries_) {
            return;
        }
        it = byName_.emplace(log.name, Slot{}).first;
    } else if (!it->second.live) {
        ++settledEpoch_;
    }
    Set(it->second, log, totals, live);
}

void TrafficResultCache::Clear() {
    listing_ = nullptr;
    namesVersion_ = 0;
    byPlace_ = {};
    placed_ = 0;
    byName_.clear();
    packed_ = {};
    unused_ = 0;
    ++settledEpoch_;
}

void TrafficResultCache::Prune(const std::vector<platform::DirEntry>& listing,
                               std::uint64_t namesVersion, const Renumbering* renumbered) {
    const bool samePlaces = listing_ != nullptr && namesVersion != 0 &&
                            namesVersion == namesVersion_ && byPlace_.size() == listing.size();
    if (samePlaces) {
        // The usual case from one cycle to the next: each result checked against its entry.
        for (std::size_t i = 0; i < listing.size(); ++i) {
            Slot& slot = byPlace_[i];
            if (slot.kept && (slot.live || !Same(slot, listing[i]))) {
                if (!slot.live) {
                    ++settledEpoch_;
                }
                Release(slot);
                slot = {};
                --placed_;
            }
        }
    } else {
        ++settledEpoch_;  // the places of the listing are new
        bool follow = listing_ != nullptr && namesVersion != 0 && renumbered != nullptr &&
                      renumbered->from == namesVersion_ && renumbered->to == namesVersion &&
                      renumbered->moved.size() == byPlace_.size();
        // A listing's merge keeps the order of the names, which lets the slots move in place
        // (no second table at the peak); any other renumbering is not followed.
        std::int64_t last = -1;
        for (std::size_t i = 0; follow && i < byPlace_.size(); ++i) {
            const std::uint32_t to = renumbered->moved[i];
            if (to != kGone) {
                follow = to > last;
                last = to;
            }
        }
        std::size_t placed = 0;
        for (std::size_t i = 0; i < byPlace_.size(); ++i) {
            Slot& slot = byPlace_[i];
            if (!slot.kept) {
                continue;
            }
            const std::uint32_t to = follow ? renumbered->moved[i] : kGone;
            if (to < listing.size() && !slot.live && Same(slot, listing[to])) {
                ++placed;
            } else {
                Release(slot);
                slot = {};
            }
        }
        // Room for some names to come without copying the table (a day brings one per client).
        const std::size_t need = std::max(byPlace_.size(), listing.size());
        if (byPlace_.capacity() < need + need / 256) {
            byPlace_.reserve(need + need / 64);
        }
        if (follow) {
            const std::vector<std::uint32_t>& moved = renumbered->moved;
            const std::size_t old = byPlace_.size();
            byPlace_.resize(std::max(old, listing.size()));
            // Those going to a lower place first, from the front, then those going higher,
            // from the back: no slot is overwritten before it has moved.
            for (std::size_t i = 0; i < old; ++i) {
                if (byPlace_[i].kept && moved[i] < i) {
                    byPlace_[moved[i]] = byPlace_[i];
                    byPlace_[i] = {};
                }
            }
            for (std::size_t i = old; i-- > 0;) {
                if (moved[i] != kGone && moved[i] > i && byPlace_[i].kept) {
                    byPlace_[moved[i]] = byPlace_[i];
                    byPlace_[i] = {};
                }
            }
        }
        byPlace_.resize(listing.size());
        placed_ = placed;
    }
    listing_ = &listing;
    namesVersion_ = namesVersion;
    // Results given outside a listing find their place by name.
    if (!byName_.empty()) {
        ++settledEpoch_;
    }
    for (const auto& [name, slot] : byName_) {
        bool placed = false;
        if (!slot.live) {
            auto it = std::lower_bound(listing.begin(), listing.end(), name,
                                       [](const platform::DirEntry& e, const std::string& n) {
                                           return platform::LessNoCase(e.name, n);
                                       });
            for (; it != listing.end() && platform::EqualNoCase(it->name, name); ++it) {
                if (it->name == name) {
                    Slot& to = byPlace_[static_cast<std::size_t>(it - listing.begin())];
                    if (!to.kept && Same(slot, *it)) {
                        to = slot;
                        ++placed_;
                        placed = true;
                    }
                    break;
                }
            }
        }
        if (!placed) {
            Release(slot);
        }
    }
    byName_.clear();
    Compact();
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
