// A watch on one directory that tells which of its names changed between two looks, so that
// a listing can be kept up to date without reading the directory again. It is a hint and
// never the truth: whenever it cannot be sure (its queue overflowed, the directory was
// removed or replaced, a read failed) it says so once and is of no further use, and the
// caller lists the directory in full. Writes are seen when the writer closes the file (on
// Windows when the system notes the new size or time); a file kept open and written is seen
// only through what the caller checks itself.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"

namespace platform {

class DirWatch {
  public:
    virtual ~DirWatch() = default;
    // Appends the names that may have changed since the watch was set up or last asked
    // (created, deleted, renamed in or out, written, attributes changed), in any order and
    // possibly repeated; never blocks. False when the watch can no longer tell, with *reason
    // saying why; the watch is then spent.
    virtual bool Take(std::vector<std::string>* names, std::string* reason) = 0;
};

// A watch on dir, set up before the caller lists it (so nothing that happens during the
// listing is missed). Null, with *reason, when none can be had: no such directory, a file
// system or share without notifications, no watches left.
std::unique_ptr<DirWatch> WatchDirectory(const std::string& dir, std::string* reason);

// What ListDirectory would list for the one name in dir: false when the name is absent or
// is not a regular file (a directory, a link), or cannot be examined.
bool StatDirEntry(const std::string& dir, const std::string& name, DirEntry* out);

}  // namespace platform
