// Pattern search over one listing of the log directory; see log_index.h. Every candidate a
// lookup yields is still confirmed with the platform's wildcard matcher, so the index only
// narrows the search and never changes what matches.
#include "stats/log_index.h"

#include <algorithm>
#include <functional>

#include "platform/nocase.h"
#include "platform/wildcard.h"

namespace stats {

namespace {

bool IsWildcard(char c) {
    return c == '*' || c == '?';
}

// Orders names read from their last character backwards, case-insensitively.
bool LessBackwards(std::string_view a, std::string_view b) {
    std::size_t i = a.size(), j = b.size();
    while (i > 0 && j > 0) {
        const char x = platform::FoldCase(a[--i]), y = platform::FoldCase(b[--j]);
        if (x != y) {
            return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
        }
    }
    return i == 0 && j > 0;
}

}  // namespace

void LogIndex::Clear() {
    loaded_ = false;
}

void LogIndex::Refresh(const std::string& dir, std::time_t now,
                       const std::vector<std::string>& recheck) {
    std::string why;
    if (dir != dir_ || (!watch_ && noWatch_.empty())) {
        why = {};  // a first listing is no fall-back
    } else if (!watch_) {
        why = noWatch_;
    } else if (now < listedInFullAt_ || now - listedInFullAt_ >= kFullListingSeconds) {
        why = "the hourly full listing";
    } else {
        std::vector<std::string> names;
        if (watch_->Take(&names, &why)) {
            fallback_.clear();
            Apply(std::move(names), recheck);
            return;
        }
    }
    ListInFull(dir, now, std::move(why));
}

void LogIndex::ListInFull(const std::string& dir, std::time_t now, std::string why) {
    // Set up before the listing, so what changes while it is taken is not missed.
    watch_.reset();
    noWatch_.clear();
    if (opener_) {
        watch_ = opener_(dir, &noWatch_);
        if (!watch_ && noWatch_.empty()) {
            noWatch_ = "no change notifications";
        }
    } else {
        noWatch_ = "change notifications are off";
    }
    Load(dir);
    listedInFullAt_ = now;
    // A watch that cannot be had is the reason for the listings to come as well.
    fallback_ = !noWatch_.empty() ? noWatch_ : std::move(why);
}

void LogIndex::Apply(std::vector<std::string> names, const std::vector<std::string>& recheck) {
    // The entries now on disk for every name said to have changed, and for the rechecked.
    for (const std::string& prefix : recheck) {
        auto it = std::lower_bound(entries_.begin(), entries_.end(), prefix,
                                   [](const platform::DirEntry& e, std::string_view p) {
                                       return platform::LessNoCase(e.name, p);
                                   });
        for (; it != entries_.end() && platform::StartsWithNoCase(it->name, prefix); ++it) {
            names.push_back(it->name);
        }
    }
    std::sort(names.begin(), names.end(), platform::ListedBefore);
    names.erase(std::unique(names.begin(), names.end()), names.end());
    struct Change {
        std::size_t place;  // of the name in entries_, or where it would go
        bool listed;
        bool present;
        platform::DirEntry now;
    };
    std::vector<Change> changes;
    changes.reserve(names.size());
    bool namesChanged = false;
    auto from = entries_.begin();
    for (std::string& name : names) {
        // The names are in listing order, so each search starts where the last one ended.
        from = std::lower_bound(from, entries_.end(), name,
                                [](const platform::DirEntry& x, const std::string& y) {
                                    return platform::ListedBefore(x.name, y);
                                });
        Change c{static_cast<std::size_t>(from - entries_.begin()),
                 from != entries_.end() && from->name == name,
                 false,
                 {}};
        c.present = platform::StatDirEntry(dir_, name, &c.now);
        if (c.listed != c.present) {
            namesChanged = true;
        }
        if (c.listed || c.present) {
            changes.push_back(std::move(c));
        }
    }
    loaded_ = true;
    if (!namesChanged) {
        for (Change& c : changes) {
            entries_[c.place] = std::move(c.now);
        }
        return;
    }
    // Names came or went: one merge, noting where each old entry went and which are new, so
    // that what was built on the old listing can follow.
    constexpr std::uint32_t kGone = UINT32_MAX;
    std::vector<std::uint32_t> moved(entries_.size(), kGone);
    std::vector<std::uint32_t> added;
    std::vector<platform::DirEntry> merged;
    merged.reserve(entries_.size() + changes.size());
    std::size_t e = 0;
    auto keep = [&](std::size_t upTo) {
        for (; e < upTo; ++e) {
            moved[e] = static_cast<std::uint32_t>(merged.size());
            merged.push_back(std::move(entries_[e]));
        }
    };
    for (Change& c : changes) {
        keep(c.place);
        if (c.listed) {
            if (c.present) {
                moved[e] = static_cast<std::uint32_t>(merged.size());
                merged.push_back(std::move(c.now));
            }
            ++e;
        } else {
            added.push_back(static_cast<std::uint32_t>(merged.size()));
            merged.push_back(std::move(c.now));
        }
    }
    keep(entries_.size());
    entries_ = std::move(merged);
    ++namesVersion_;
    FollowRenumbering(moved, added);
    renumbered_ = {namesVersion_ - 1, namesVersion_, std::move(moved)};
}

void LogIndex::FollowRenumbering(const std::vector<std::uint32_t>& moved,
                                 const std::vector<std::uint32_t>& added) {
    // Matching every kept pattern against every new name costs that product: beyond this it
    // is cheaper to search again as needed (a new day's logs all appear at once).
    constexpr std::size_t kMaxMatches = std::size_t{4} << 20;
    if (found_.size() * added.size() > kMaxMatches) {
        DropDerived();
        return;
    }
    auto renumber = [&moved](std::vector<std::uint32_t>& places) {
        std::size_t out = 0;
        for (const std::uint32_t old : places) {
            if (moved[old] != UINT32_MAX) {
                places[out++] = moved[old];
            }
        }
        places.resize(out);
    };
    foundHits_ = 0;
    for (auto& [pattern, hits] : found_) {
        renumber(hits);
        for (const std::uint32_t i : added) {
            if (!pattern.empty() && platform::WildcardMatch(pattern, entries_[i].name)) {
                hits.insert(std::lower_bound(hits.begin(), hits.end(), i), i);
            }
        }
        foundHits_ += hits.size();
    }
    if (suffixReady_) {
        renumber(bySuffix_);
        for (const std::uint32_t i : added) {
            const std::string& name = entries_[i].name;
            bySuffix_.insert(std::lower_bound(bySuffix_.begin(), bySuffix_.end(), i,
                                              [this, &name](std::uint32_t x, std::uint32_t) {
                                                  return LessBackwards(entries_[x].name, name);
                                              }),
                             i);
        }
    }
    // Rebuilt when next needed: one pass over the names.
    folded_ = {};
    foldedStart_ = {};
    foldedReady_ = false;
}

void LogIndex::Load(const std::string& dir) {
    Clear();
    ++namesVersion_;
    const bool sameDir = dir == dir_;
    dir_ = dir;
    renumbered_ = {};
    // The old names, packed, so that the places of the old listing can be followed into the
    // new one without holding both listings.
    std::string oldNames;
    std::vector<std::uint32_t> oldEnds;
    if (sameDir && !entries_.empty()) {
        std::size_t total = 0;
        for (const platform::DirEntry& e : entries_) {
            total += e.name.size();
        }
        oldNames.reserve(total);
        oldEnds.reserve(entries_.size());
        for (const platform::DirEntry& e : entries_) {
            oldNames += e.name;
            oldEnds.push_back(static_cast<std::uint32_t>(oldNames.size()));
        }
    }
    if (!platform::ListDirectory(dir, &entries_)) {
        entries_.clear();
    }
    if (!oldEnds.empty()) {
        renumbered_.from = namesVersion_ - 1;
        renumbered_.to = namesVersion_;
        renumbered_.moved.assign(oldEnds.size(), UINT32_MAX);
        std::size_t next = 0;
        for (std::size_t i = 0, start = 0; i < oldEnds.size(); start = oldEnds[i++]) {
            const std::string_view name(oldNames.data() + start, oldEnds[i] - start);
            while (next < entries_.size() && platform::ListedBefore(entries_[next].name, name)) {
                ++next;
            }
            if (next < entries_.size() && entries_[next].name == name) {
                renumbered_.moved[i] = static_cast<std::uint32_t>(next++);
            }
        }
    }
    loaded_ = true;
    if (!sameDir || !FoldedNamesMatch()) {
        DropDerived();
    }
}

bool LogIndex::FoldedNamesMatch() const {
    if (!foldedReady_ || foldedStart_.size() != entries_.size()) {
        return false;
    }
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const std::string& name = entries_[i].name;
        const std::size_t start = foldedStart_[i];
        const std::size_t end = i + 1 < foldedStart_.size() ? foldedStart_[i + 1] : folded_.size();
        if (end - start != name.size() + 1) {
            return false;
        }
        for (std::size_t k = 0; k < name.size(); ++k) {
            if (folded_[start + k] != platform::FoldCase(name[k])) {
                return false;
            }
        }
    }
    return true;
}

void LogIndex::DropDerived() {
    bySuffix_ = {};
    suffixReady_ = false;
    folded_ = {};
    foldedStart_ = {};
    foldedReady_ = false;
    found_ = {};
    foundHits_ = 0;
}

void LogIndex::EnsureSuffixOrder() const {
    if (suffixReady_) {
        return;
    }
    // The folded names also tell a later listing whether this order still holds.
    EnsureFoldedNames();
    // Sorting the folded names written backwards with plain string comparison is several
    // times faster than comparing character by character from the end. They are written into
    // one copy of the folded names (each in its own place), not one string per name.
    std::string backwards = folded_;
    auto span = [this, &backwards](std::uint32_t i) {
        const std::size_t start = foldedStart_[i];
        const std::size_t end = i + 1 < foldedStart_.size() ? foldedStart_[i + 1] : folded_.size();
        return std::string_view(backwards.data() + start, end - start - 1);  // without the NUL
    };
    for (std::uint32_t i = 0; i < entries_.size(); ++i) {
        const std::string_view name = span(i);
        std::reverse(backwards.begin() + (name.data() - backwards.data()),
                     backwards.begin() + (name.data() - backwards.data() + name.size()));
    }
    bySuffix_.resize(entries_.size());
    for (std::uint32_t i = 0; i < bySuffix_.size(); ++i) {
        bySuffix_[i] = i;
    }
    std::sort(bySuffix_.begin(), bySuffix_.end(),
              [&span](std::uint32_t a, std::uint32_t b) { return span(a) < span(b); });
    suffixReady_ = true;
}

void LogIndex::FindByPrefix(std::string_view prefix, std::string_view pattern,
                            std::vector<std::uint32_t>* hits) const {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), prefix,
                               [](const platform::DirEntry& e, std::string_view p) {
                                   return platform::LessNoCase(e.name, p);
                               });
    for (; it != entries_.end() && platform::StartsWithNoCase(it->name, prefix); ++it) {
        if (platform::WildcardMatch(pattern, it->name)) {
            hits->push_back(static_cast<std::uint32_t>(it - entries_.begin()));
        }
    }
}

void LogIndex::FindBySuffix(std::string_view suffix, std::string_view pattern,
                            std::vector<std::uint32_t>* hits) const {
    EnsureSuffixOrder();
    auto it = std::lower_bound(
        bySuffix_.begin(), bySuffix_.end(), suffix,
        [this](std::uint32_t i, std::string_view s) { return LessBackwards(entries_[i].name, s); });
    for (; it != bySuffix_.end() && platform::EndsWithNoCase(entries_[*it].name, suffix); ++it) {
        if (platform::WildcardMatch(pattern, entries_[*it].name)) {
            hits->push_back(*it);
        }
    }
    std::sort(hits->begin(), hits->end());
}

void LogIndex::FindByInnerLiteral(std::string_view pattern,
                                  std::vector<std::uint32_t>* hits) const {
    // The longest run of literal characters: every match holds it somewhere, so a plain
    // substring search over the folded names rules most names out before the matcher runs.
    std::string_view longest;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= pattern.size(); ++i) {
        if (i == pattern.size() || IsWildcard(pattern[i])) {
            if (i - start > longest.size()) {
                longest = pattern.substr(start, i - start);
            }
            start = i + 1;
        }
    }
    // A trailing ".*" may match a name without any dot, so that "." is not required.
    if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*" &&
        longest.data() + longest.size() == pattern.data() + pattern.size() - 1) {
        longest.remove_suffix(1);
    }
    std::string needle(longest);
    for (char& c : needle) {
        c = platform::FoldCase(c);
    }
    if (needle.empty() || needle.find('\0') != std::string::npos) {
        for (std::uint32_t i = 0; i < entries_.size(); ++i) {
            if (platform::WildcardMatch(pattern, entries_[i].name)) {
                hits->push_back(i);
            }
        }
        return;
    }
    // One pass of a substring search over all names at once, rather than one per name.
    EnsureFoldedNames();
    const std::boyer_moore_horspool_searcher searcher(needle.begin(), needle.end());
    auto from = folded_.begin();
    for (;;) {
        const auto at = std::search(from, folded_.end(), searcher);
        if (at == folded_.end()) {
            break;
        }
        const auto offset = static_cast<std::uint32_t>(at - folded_.begin());
        // The name holding the hit: the last one starting at or before it.
        const auto i = static_cast<std::uint32_t>(
            std::upper_bound(foldedStart_.begin(), foldedStart_.end(), offset) -
            foldedStart_.begin() - 1);
        if (platform::WildcardMatch(pattern, entries_[i].name)) {
            hits->push_back(i);
        }
        // On to the next name: one hit per name is enough.
        from = folded_.begin() + (i + 1 < foldedStart_.size()
                                      ? foldedStart_[i + 1]
                                      : static_cast<std::uint32_t>(folded_.size()));
    }
}

void LogIndex::EnsureFoldedNames() const {
    if (foldedReady_) {
        return;
    }
    std::size_t total = 0;
    for (const platform::DirEntry& e : entries_) {
        total += e.name.size() + 1;
    }
    folded_.clear();
    folded_.reserve(total);
    foldedStart_.resize(entries_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        foldedStart_[i] = static_cast<std::uint32_t>(folded_.size());
        for (char c : entries_[i].name) {
            folded_ += platform::FoldCase(c);
        }
        folded_ += '\0';
    }
    foldedReady_ = true;
}

const std::vector<std::uint32_t>& LogIndex::FindPlaces(std::string_view pattern) const {
    if (!loaded_) {
        scratch_.clear();
        return scratch_;
    }
    const auto known = found_.find(pattern);
    return known != found_.end() ? known->second : Remember(pattern, Search(pattern));
}

std::vector<const platform::DirEntry*> LogIndex::Find(std::string_view pattern) const {
    std::vector<const platform::DirEntry*> found;
    const std::vector<std::uint32_t>& hits = FindPlaces(pattern);
    found.reserve(hits.size());
    for (std::uint32_t i : hits) {
        found.push_back(&entries_[i]);
    }
    return found;
}

const std::vector<std::uint32_t>& LogIndex::Remember(std::string_view pattern,
                                                     std::vector<std::uint32_t> hits) const {
    if (found_.size() >= kMaxRemembered || foundHits_ + hits.size() > kMaxRememberedHits) {
        scratch_ = std::move(hits);
        return scratch_;
    }
    // The folded names are what tells the next listing whether these results still hold.
    EnsureFoldedNames();
    foundHits_ += hits.size();
    return found_.emplace(std::string(pattern), std::move(hits)).first->second;
}

std::vector<std::uint32_t> LogIndex::Search(std::string_view pattern) const {
    std::vector<std::uint32_t> hits;
    if (!pattern.empty()) {
        std::size_t first = 0;
        while (first < pattern.size() && !IsWildcard(pattern[first])) {
            ++first;
        }
        // "x.*" also matches "x" without a dot, so the "." is not part of the prefix.
        if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*") {
            first = std::min(first, pattern.size() - 2);
        }
        std::size_t last = pattern.size();
        while (last > 0 && !IsWildcard(pattern[last - 1])) {
            --last;
        }
        if (first > 0 || last == 0) {
            // A literal start (the whole pattern when it has no wildcard).
            FindByPrefix(pattern.substr(0, first), pattern, &hits);
        } else if (last < pattern.size()) {
            FindBySuffix(pattern.substr(last), pattern, &hits);
        } else {
            FindByInnerLiteral(pattern, &hits);
        }
    }
    return hits;
}

}  // namespace stats
