// What the portable file helpers and the two file backends share: the temporaries'
// naming, so that one sweep recognises exactly the names the replacement makes, and the
// order of a listing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
struct DirEntry;
enum class ReplaceError;
enum class NewFileAccess;
}  // namespace platform

namespace platform::detail {

struct PendingReplacement;

// The temporary a replacement of path writes first: "<path>.tmp<pid>_<n>".
std::string TemporaryName(const std::string& path, std::uint64_t pid, unsigned serial);
// The pid in a temporary's file name ("<name>.tmp<pid>_<n>", or the registry's earlier
// "<name>.tmp.<pid>.<n>"); 0 when the name is not one of ours.
std::uint64_t TemporaryOwner(std::string_view fileName);
// Sweeps dir for stale temporaries the first time this process writes into it.
void SweepDirectoryOnce(const std::string& dir);
// Sorts a listing case-insensitively; names that differ only in case by their bytes.
void SortListing(std::vector<DirEntry>* entries);

// The backend's half of a replacement (see FileReplacement): Begin makes the temporary (null,
// with *error set, when it cannot); Append writes to it; Finish replaces the target and
// frees the state; Discard removes the temporary and frees the state. An error is the
// replacement's, mapped once by the backend.
PendingReplacement* BeginReplacement(const std::string& path, NewFileAccess access,
                                     ReplaceError* error);
ReplaceError AppendReplacement(PendingReplacement& pending, const char* data, std::size_t size);
ReplaceError FinishReplacement(PendingReplacement* pending);
void DiscardReplacement(PendingReplacement* pending);

}  // namespace platform::detail
