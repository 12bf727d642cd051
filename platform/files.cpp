// The file helpers that need nothing but the backend's File.
#include "platform/files.h"

#include "platform/wildcard.h"

namespace platform {

bool ReadFileBytes(const std::string& path, ShareMode share, std::string* out,
                   std::uint64_t maxBytes) {
    auto file = File::Open(path, OpenMode::Read, share);
    if (!file) {
        return false;
    }
    std::int64_t size = file->Size();
    if (size < 0 || static_cast<std::uint64_t>(size) > maxBytes) {
        return false;
    }
    out->clear();
    out->reserve(static_cast<std::size_t>(size));
    char buffer[65536];
    for (;;) {
        std::int64_t n = file->Read(buffer, sizeof buffer);
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            return true;
        }
        if (out->size() + static_cast<std::uint64_t>(n) > maxBytes) {
            return false;
        }
        out->append(buffer, static_cast<std::size_t>(n));
    }
}

std::vector<std::string> FindFiles(const std::string& patternPath) {
    // Windows takes either separator; elsewhere only '/' separates.
    const char* separators = kPathSeparator == '/' ? "/" : "\\/";
    const std::size_t cut = patternPath.find_last_of(separators);
    const std::string dir =
        cut == std::string::npos ? std::string() : patternPath.substr(0, cut + 1);
    const std::string pattern =
        cut == std::string::npos ? patternPath : patternPath.substr(cut + 1);
    std::vector<std::string> names;
    std::vector<DirEntry> entries;
    if (pattern.empty() || !ListDirectory(dir, &entries)) {
        return names;
    }
    for (auto& e : entries) {
        if (WildcardMatch(pattern, e.name)) {
            names.push_back(std::move(e.name));
        }
    }
    return names;
}

}  // namespace platform
