// One sorted listing of the log directory, searched by file-name pattern the way a directory
// search would (Windows wildcards, case-insensitive, results in case-insensitive name order)
// but without rereading the directory for every pattern: exact names are looked up directly,
// patterns with a literal start by that prefix, patterns that start with a wildcard and end
// in a literal by that suffix, any other by its longest literal run. The matches of each
// pattern are kept while later listings hold the same names. A directory that cannot be
// listed behaves as an empty one.
// Kept up to date between listings by a directory watch, which is a cache and never the
// truth: the directory is listed in full at the first refresh, whenever the watch cannot be
// set up or loses track (overflow, the directory removed or replaced), and once an hour.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/dir_watch.h"
#include "platform/files.h"
#include "stats/result_cache.h"

namespace stats {

class LogIndex {
  public:
    // The longest the listing goes on the watch's word alone.
    static constexpr std::time_t kFullListingSeconds = 3600;

    using WatchOpener =
        std::function<std::unique_ptr<platform::DirWatch>(const std::string&, std::string*)>;

    // Lists dir now (replacing any earlier listing).
    void Load(const std::string& dir);
    // Brings the listing of dir up to date at time now: from the watch's changed names when
    // it is on this directory and still trusted, else by a full listing (with a new watch set
    // up first). The entries whose names start with one of recheck (logs the proxy may be
    // writing while it keeps them open) are examined again either way.
    void Refresh(const std::string& dir, std::time_t now, const std::vector<std::string>& recheck);
    // Why the last Refresh listed the directory in full; empty when it used the watch, or
    // listed a directory for the first time with a watch set up.
    const std::string& FallbackReason() const { return fallback_; }
    // How watches are set up (platform::WatchDirectory unless a test says otherwise); a null
    // opener means no watch, a full listing at every refresh.
    void SetWatchOpener(WatchOpener opener) {
        opener_ = std::move(opener);
        watch_.reset();
    }
    // Marks the listing as stale; the entries (and what was built on them) are kept for a
    // Refresh to bring up to date, or a Load that lists the same names.
    void Clear();
    bool Loaded() const { return loaded_; }
    const std::string& Directory() const { return dir_; }

    // The entries whose names match pattern, in listing order.
    std::vector<const platform::DirEntry*> Find(std::string_view pattern) const;
    // The same as places in Entries(), valid until the next search or listing (what every
    // scan uses: no list is built for it).
    const std::vector<std::uint32_t>& FindPlaces(std::string_view pattern) const;

    const std::vector<platform::DirEntry>& Entries() const { return entries_; }
    // Changes whenever names may have come, gone or moved in the listing (every full listing
    // counts as such): places in Entries() and search results hold while it stays.
    std::uint64_t NamesVersion() const { return namesVersion_; }
    // Where the entries of the listing before the last change of names went, so that what
    // is held by place can follow; empty (from 0) when that is not known.
    const TrafficResultCache::Renumbering& Renumbered() const { return renumbered_; }

  private:
    // The matches of a pattern, found anew.
    std::vector<std::uint32_t> Search(std::string_view pattern) const;
    // Keeps the matches of a pattern for later searches (within bounds) and returns them.
    const std::vector<std::uint32_t>& Remember(std::string_view pattern,
                                               std::vector<std::uint32_t> hits) const;
    void FindByPrefix(std::string_view prefix, std::string_view pattern,
                      std::vector<std::uint32_t>* hits) const;
    void FindBySuffix(std::string_view suffix, std::string_view pattern,
                      std::vector<std::uint32_t>* hits) const;
    void FindByInnerLiteral(std::string_view pattern, std::vector<std::uint32_t>* hits) const;
    void EnsureSuffixOrder() const;
    void EnsureFoldedNames() const;

    // Whether the listing holds, in the same order, the names the folded names were built
    // from; the orders built on an earlier listing are kept when it does (the usual case
    // from one cycle to the next: no name came or went, only sizes and times changed).
    bool FoldedNamesMatch() const;
    void DropDerived();
    // Applies the watch's changed names (and the rechecked entries) to the listing.
    void Apply(std::vector<std::string> names, const std::vector<std::string>& recheck);
    void ListInFull(const std::string& dir, std::time_t now, std::string why);
    // Brings the orders and kept matches built on the old listing over to the new one: moved
    // holds each old entry's new place (UINT32_MAX when gone), added the new entries' places.
    void FollowRenumbering(const std::vector<std::uint32_t>& moved,
                           const std::vector<std::uint32_t>& added);

    std::string dir_;
    bool loaded_ = false;
    std::vector<platform::DirEntry> entries_;
    std::uint64_t namesVersion_ = 0;
    TrafficResultCache::Renumbering renumbered_;
    // Indices of entries_ ordered by their names read backwards (case-insensitive); built on
    // the first suffix search.
    mutable std::vector<std::uint32_t> bySuffix_;
    mutable bool suffixReady_ = false;
    // All names in lower case, each followed by a NUL, for substring searches, and where each
    // begins; built on the first such search.
    mutable std::string folded_;
    mutable std::vector<std::uint32_t> foldedStart_;
    mutable bool foldedReady_ = false;
    // The matches of each pattern searched so far, kept like the orders above: a cycle
    // searches the same few thousand patterns as the last one. Bounded; beyond the bounds
    // patterns are searched each time.
    static constexpr std::size_t kMaxRemembered = 200000;
    static constexpr std::size_t kMaxRememberedHits = std::size_t{4} << 20;
    struct PatternHash {
        using is_transparent = void;  // looked up by string_view, without a copy
        std::size_t operator()(std::string_view text) const {
            return std::hash<std::string_view>{}(text);
        }
    };
    mutable std::unordered_map<std::string, std::vector<std::uint32_t>, PatternHash,
                               std::equal_to<>>
        found_;
    mutable std::size_t foundHits_ = 0;
    mutable std::vector<std::uint32_t> scratch_;  // the matches of a pattern not kept

    WatchOpener opener_ = platform::WatchDirectory;
    std::unique_ptr<platform::DirWatch> watch_;  // on dir_, set up before its full listing
    std::string noWatch_;                        // why the last setting up failed
    std::time_t listedInFullAt_ = 0;
    std::string fallback_;
};

}  // namespace stats
