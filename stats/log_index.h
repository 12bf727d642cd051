// One sorted listing of the log directory, searched by file-name pattern the way a directory
// search would (Windows wildcards, case-insensitive, results in case-insensitive name order)
// but without rereading the directory for every pattern: exact names are looked up directly,
// patterns with a literal start by that prefix, patterns that start with a wildcard and end
// in a literal by that suffix, any other by its longest literal run. The matches of each
// pattern are kept while later listings hold the same names. A directory that cannot be
// listed behaves as an empty one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/files.h"

namespace stats {

class LogIndex {
  public:
    // Lists dir now (replacing any earlier listing).
    void Load(const std::string& dir);
    // Drops the listing; what was built on it is kept for a Load that lists the same names.
    void Clear();
    bool Loaded() const { return loaded_; }
    const std::string& Directory() const { return dir_; }

    // The entries whose names match pattern, in listing order.
    std::vector<const platform::DirEntry*> Find(std::string_view pattern) const;
    // The same as places in Entries(), valid until the next search or listing (what every
    // scan uses: no list is built for it).
    const std::vector<std::uint32_t>& FindPlaces(std::string_view pattern) const;

    const std::vector<platform::DirEntry>& Entries() const { return entries_; }

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

    std::string dir_;
    bool loaded_ = false;
    std::vector<platform::DirEntry> entries_;
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
};

}  // namespace stats
