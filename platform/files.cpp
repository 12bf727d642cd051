// The file helpers that need nothing but the backend's File.
#include "platform/files.h"

#include <algorithm>
#include <mutex>
#include <set>

#include "platform/files_backend.h"
#include "platform/nocase.h"
#include "platform/wildcard.h"

namespace platform {

bool ListedBefore(std::string_view a, std::string_view b) {
    const int order = CompareNoCase(a, b);
    return order < 0 || (order == 0 && a < b);
}

namespace detail {
namespace {

bool AllDigits(std::string_view text) {
    if (text.empty() || text.size() > 19) {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

}  // namespace

void SortListing(std::vector<DirEntry>* entries) {
    std::sort(entries->begin(), entries->end(),
              [](const DirEntry& a, const DirEntry& b) { return ListedBefore(a.name, b.name); });
}

std::string TemporaryName(const std::string& path, std::uint64_t pid, unsigned serial) {
    return path + ".tmp" + std::to_string(pid) + "_" + std::to_string(serial);
}

std::uint64_t TemporaryOwner(std::string_view fileName) {
    const std::size_t mark = fileName.rfind(".tmp");
    if (mark == std::string_view::npos || mark == 0) {
        return 0;
    }
    std::string_view rest = fileName.substr(mark + 4);
    char separator = '_';
    if (!rest.empty() && rest.front() == '.') {
        rest.remove_prefix(1);
        separator = '.';
    }
    const std::size_t cut = rest.find(separator);
    if (cut == std::string_view::npos || !AllDigits(rest.substr(0, cut)) ||
        !AllDigits(rest.substr(cut + 1))) {
        return 0;
    }
    return std::stoull(std::string(rest.substr(0, cut)));
}

void SweepDirectoryOnce(const std::string& dir) {
    static std::mutex mutex;
    static std::set<std::string> swept;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!swept.insert(dir).second) {
            return;
        }
    }
    RemoveStaleTemporaries(dir);
}

}  // namespace detail

namespace {

// Pieces are gathered up to this size before they are written.
constexpr std::size_t kReplacementBuffer = 64 * 1024;

}  // namespace

FileReplacement::FileReplacement(const std::string& path, Mode mode, NewFileAccess access)
    : mode_(mode) {
    pending_ = detail::BeginReplacement(path, access, &error_);
    if (pending_ != nullptr) {
        buffer_.reserve(kReplacementBuffer);
    }
}

FileReplacement::~FileReplacement() {
    Abandon();
}

bool FileReplacement::Fail(ReplaceError error) {
    error_ = error;
    Abandon();
    return false;
}

bool FileReplacement::Flush() {
    if (buffer_.empty()) {
        return true;
    }
    const ReplaceError error = detail::AppendReplacement(*pending_, buffer_.data(), buffer_.size());
    buffer_.clear();
    return error == ReplaceError::None || Fail(error);
}

bool FileReplacement::Write(std::string_view bytes) {
    if (!Good()) {
        return false;
    }
    if (mode_ == Mode::Binary && bytes.size() >= kReplacementBuffer) {
        // A large piece goes out as it is, without a copy.
        if (!Flush()) {
            return false;
        }
        const ReplaceError error = detail::AppendReplacement(*pending_, bytes.data(), bytes.size());
        return error == ReplaceError::None || Fail(error);
    }
    while (!bytes.empty()) {
        if (buffer_.size() >= kReplacementBuffer && !Flush()) {
            return false;
        }
        const std::string_view span = bytes.substr(0, kReplacementBuffer - buffer_.size());
        // In text mode a LF becomes CR LF; a LF never depends on the piece before it, so the
        // bytes are the same however the text is cut into pieces.
        const std::size_t lf = mode_ == Mode::Text ? span.find('\n') : std::string_view::npos;
        if (lf == std::string_view::npos) {
            buffer_.append(span);
            bytes.remove_prefix(span.size());
        } else {
            buffer_.append(span.substr(0, lf));
            buffer_ += "\r\n";
            bytes.remove_prefix(lf + 1);
        }
    }
    return true;
}

ReplaceError FileReplacement::Commit() {
    if (!Good() || !Flush()) {
        Abandon();
        return error_ == ReplaceError::None ? ReplaceError::Failed : error_;
    }
    detail::PendingReplacement* pending = pending_;
    pending_ = nullptr;  // a second commit finds nothing pending and fails
    error_ = detail::FinishReplacement(pending);
    return error_;
}

void FileReplacement::Abandon() {
    if (pending_ != nullptr) {
        detail::DiscardReplacement(pending_);
        pending_ = nullptr;
    }
    buffer_.clear();
    buffer_.shrink_to_fit();
}

ReplaceError ReplaceFileReporting(const std::string& path, std::string_view bytes,
                                  NewFileAccess access) {
    FileReplacement replacement(path, FileReplacement::Mode::Binary, access);
    replacement.Write(bytes);
    return replacement.Commit();
}

bool ReplaceFileBytes(const std::string& path, std::string_view bytes) {
    return ReplaceFileReporting(path, bytes) == ReplaceError::None;
}

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
