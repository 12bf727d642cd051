// The outbox's entries on disk (see outbox.h): staging folder, copies, record, rename into
// place; the record's text with every byte that could break a line written as %XX; lists
// sorted by id so the oldest entry goes first.
#include "common/outbox.h"

#include <charconv>
#include <cstdio>
#include <memory>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/folders.h"

namespace outbox {

namespace {

constexpr char kOutboxName[] = "outbox";
constexpr char kFailedName[] = "failed";
constexpr char kLockName[] = "sender.lock";
constexpr char kRecordName[] = "record";
constexpr char kStagingMark[] = ".tmp";
constexpr char kRecordVersion[] = "1";
// A copy larger than a mail may carry is not made: the entry then fails as the mail would.
constexpr std::int64_t kMaxCopyBytes = 64LL * 1024 * 1024;
constexpr std::size_t kCopyChunk = 64 * 1024;
// Ids made within the same second get a serial; more than this in one second is a fault.
constexpr int kMaxSerial = 999;

std::string Join(const std::string& dir, std::string_view name) {
    return platform::AppendPath(dir, std::string("\\") + std::string(name));
}

// The file name of a path: without drive and folders.
std::string NameOf(std::string_view path) {
    const std::size_t cut = path.find_last_of("\\/:");
    return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

// The copy's file name: its place in the mail, then the name with anything that could
// leave the folder or upset a file system replaced.
std::string CopyName(std::size_t index, std::string_view name) {
    std::string safe = std::to_string(index + 1) + "-";
    for (unsigned char c : name) {
        safe.push_back(c < 0x20 || c == 0x7F ||
                               std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos
                           ? '_'
                           : static_cast<char>(c));
    }
    return safe;
}

std::string Escape(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F || c == '%') {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool Unescape(std::string_view text, std::string* out) {
    out->clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out->push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size() || HexValue(text[i + 1]) < 0 || HexValue(text[i + 2]) < 0) {
            return false;
        }
        const int high = HexValue(text[i + 1]);
        const int low = HexValue(text[i + 2]);
        out->push_back(static_cast<char>(high << 4 | low));
        i += 2;
    }
    return true;
}

bool ParseNumber(std::string_view text, std::int64_t* out) {
    if (text.empty()) {
        return false;
    }
    const auto result = std::from_chars(text.data(), text.data() + text.size(), *out);
    return result.ec == std::errc() && result.ptr == text.data() + text.size() && *out >= 0;
}

bool ParseCode(std::string_view text, std::uint32_t* out) {
    if (text.size() != 10 || text.substr(0, 2) != "0x") {
        return false;
    }
    const auto result = std::from_chars(text.data() + 2, text.data() + text.size(), *out, 16);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

std::string IdStem(std::int64_t now) {
    const platform::LocalDate d = platform::BreakDown(static_cast<std::time_t>(now));
    char stem[32];
    std::snprintf(stem, sizeof stem, "%04d%02d%02d-%02d%02d%02d", d.year % 10000, d.month, d.day,
                  d.hour, d.minute, d.second);
    return stem;
}

// Copies source into target (owner only); false when a source that opened cannot be copied.
// *copied is false when the source could not be opened or is too large: no copy is made.
bool CopyAttachment(const std::string& source, const std::string& target, bool* copied) {
    *copied = false;
    std::unique_ptr<platform::File> in =
        platform::File::Open(source, platform::OpenMode::Read, platform::ShareMode::None);
    if (!in) {
        return true;
    }
    const std::int64_t size = in->Size();
    if (size < 0 || size > kMaxCopyBytes) {
        return true;
    }
    platform::FileReplacement out(target, platform::FileReplacement::Mode::Binary,
                                  platform::NewFileAccess::OwnerOnly);
    std::string chunk(kCopyChunk, '\0');
    for (;;) {
        const std::int64_t n = in->Read(chunk.data(), chunk.size());
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;
        }
        if (!out.Write(std::string_view(chunk.data(), static_cast<std::size_t>(n)))) {
            return false;
        }
    }
    *copied = out.Commit() == platform::ReplaceError::None;
    return *copied;
}

bool WriteRecord(const std::string& folder, const Entry& entry) {
    return platform::ReplaceFileReporting(Join(folder, kRecordName), FormatRecord(entry),
                                          platform::NewFileAccess::OwnerOnly) ==
           platform::ReplaceError::None;
}

void ReadEntry(const std::string& dir, const std::string& id, Entry* entry) {
    *entry = Entry();
    entry->id = id;
    entry->folder = Join(dir, id);
    std::string text;
    std::string problem;
    if (!platform::ReadFileBytes(Join(entry->folder, kRecordName), platform::ShareMode::None, &text,
                                 kMaxRecordBytes)) {
        problem = "the record is missing, unreadable or too large";
    } else if (ParseRecord(text, entry, &problem)) {
        return;
    }
    *entry = Entry();
    entry->id = id;
    entry->folder = Join(dir, id);
    entry->damaged = true;
    entry->problem = problem;
}

}  // namespace

std::int64_t RetryDelaySeconds(int failedTries) {
    constexpr std::int64_t kMinute = 60;
    if (failedTries < 1) {
        return 0;
    }
    if (failedTries > 4) {
        return 60 * kMinute;
    }
    return (5 * kMinute) << (failedTries - 1);
}

std::string LogsDirOf(const std::string& appPath) {
    return platform::AppendPath(appPath, "\\Logs");
}
std::string OutboxFolder(const std::string& logsDir) {
    return Join(logsDir, kOutboxName);
}
std::string FailedFolder(const std::string& logsDir) {
    return Join(OutboxFolder(logsDir), kFailedName);
}
std::string LockPath(const std::string& logsDir) {
    return Join(OutboxFolder(logsDir), kLockName);
}

std::string CopyPath(const Entry& entry, std::size_t index) {
    return Join(entry.folder, CopyName(index, index < entry.mail.attachments.size()
                                                  ? std::string_view(entry.mail.attachments[index])
                                                  : std::string_view()));
}

bool IsEntryId(std::string_view name) {
    // YYYYMMDD-HHMMSS-NNN
    if (name.size() != 19) {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        const bool dash = i == 8 || i == 15;
        if (dash ? name[i] != '-' : (name[i] < '0' || name[i] > '9')) {
            return false;
        }
    }
    return true;
}

std::string FormatRecord(const Entry& e) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(e.lastCode));
    std::string text;
    const auto line = [&text](const char* key, const std::string& value) {
        text += key;
        text += ": ";
        text += value;
        text += "\r\n";
    };
    line("record", kRecordVersion);
    line("created", std::to_string(e.created));
    line("recipients", Escape(e.mail.recipients));
    line("subject", Escape(e.mail.subject));
    line("body", Escape(e.mail.body));
    for (const std::string& name : e.mail.attachments) {
        line("file", Escape(name));
    }
    line("attempts", std::to_string(e.attempts));
    line("first", std::to_string(e.firstAttempt));
    line("last", std::to_string(e.lastAttempt));
    line("next", std::to_string(e.nextAttempt));
    line("code", code);
    line("reason", Escape(e.lastReason));
    line("reply", Escape(e.lastReply));
    line("end", "");
    return text;
}

bool ParseRecord(std::string_view text, Entry* e, std::string* problem) {
    const std::string id = e->id;
    const std::string folder = e->folder;
    *e = Entry();
    e->id = id;
    e->folder = folder;
    // Each key once, in the order written, files excepted; "end" proves the record whole.
    static constexpr const char* kKeys[] = {"record", "created",  "recipients", "subject", "body",
                                            "file",   "attempts", "first",      "last",    "next",
                                            "code",   "reason",   "reply",      "end"};
    constexpr std::size_t kKeyCount = sizeof kKeys / sizeof kKeys[0];
    std::size_t expected = 0;
    int lineNumber = 0;
    const auto fail = [&](const std::string& why) {
        *problem = "line " + std::to_string(lineNumber) + ": " + why;
        return false;
    };
    std::size_t pos = 0;
    bool ended = false;
    while (pos < text.size()) {
        ++lineNumber;
        const std::size_t eol = text.find("\r\n", pos);
        if (eol == std::string_view::npos) {
            return fail("not ended by CR LF (the record was cut short)");
        }
        const std::string_view line = text.substr(pos, eol - pos);
        pos = eol + 2;
        if (ended) {
            return fail("text after the end");
        }
        const std::size_t colon = line.find(": ");
        if (colon == std::string_view::npos) {
            return fail("not \"key: value\"");
        }
        const std::string_view key = line.substr(0, colon);
        const std::string_view raw = line.substr(colon + 2);
        std::size_t k = expected;
        while (k < kKeyCount && key != kKeys[k]) {
            ++k;
        }
        if (k == kKeyCount) {
            return fail("unknown or repeated key '" + std::string(key) + "'");
        }
        // Only files may be skipped; every other key must be there.
        for (std::size_t skipped = expected; skipped < k; ++skipped) {
            if (std::string_view(kKeys[skipped]) != "file") {
                return fail("'" + std::string(kKeys[skipped]) + "' is missing");
            }
        }
        expected = std::string_view(kKeys[k]) == "file" ? k : k + 1;
        std::string value;
        if (!Unescape(raw, &value)) {
            return fail("a broken %-escape");
        }
        std::int64_t number = 0;
        const bool isNumber = key == "created" || key == "attempts" || key == "first" ||
                              key == "last" || key == "next";
        if (isNumber && !ParseNumber(raw, &number)) {
            return fail("'" + std::string(key) + "' is not a number");
        }
        if (key == "record") {
            if (value != kRecordVersion) {
                return fail("record version '" + value + "' is not known");
            }
        } else if (key == "created") {
            e->created = number;
        } else if (key == "recipients") {
            e->mail.recipients = value;
        } else if (key == "subject") {
            e->mail.subject = value;
        } else if (key == "body") {
            e->mail.body = value;
        } else if (key == "file") {
            if (value.empty() || NameOf(value) != value ||
                e->mail.attachments.size() >= kMaxAttachments) {
                return fail("a file name that is empty, has folders or is one too many");
            }
            e->mail.attachments.push_back(value);
        } else if (key == "attempts") {
            if (number > 1000000) {
                return fail("too many attempts");
            }
            e->attempts = static_cast<int>(number);
        } else if (key == "first") {
            e->firstAttempt = number;
        } else if (key == "last") {
            e->lastAttempt = number;
        } else if (key == "next") {
            e->nextAttempt = number;
        } else if (key == "code") {
            if (!ParseCode(raw, &e->lastCode)) {
                return fail("'code' is not 0x and eight hex digits");
            }
        } else if (key == "reason") {
            e->lastReason = value;
        } else if (key == "reply") {
            e->lastReply = value;
        } else {
            if (!raw.empty()) {
                return fail("'end' carries a value");
            }
            ended = true;
        }
    }
    if (!ended) {
        ++lineNumber;
        return fail("the record ends early");
    }
    return true;
}

bool Enqueue(const std::string& logsDir, const OutboxMail& mail, std::int64_t now,
             std::string* id) {
    const std::string dir = OutboxFolder(logsDir);
    if (mail.attachments.size() > kMaxAttachments || !platform::CreatePrivateFolder(dir)) {
        return false;
    }
    RemoveAbandonedStaging(logsDir);
    const std::string stem = IdStem(now);
    const std::string staging =
        Join(dir, stem + kStagingMark + std::to_string(platform::CurrentProcessId()));
    platform::RemoveFolder(staging);  // this process's own leftover, if any
    Entry entry;
    entry.folder = staging;
    entry.created = now;
    entry.nextAttempt = now;
    entry.mail.recipients = mail.recipients;
    entry.mail.subject = mail.subject;
    entry.mail.body = mail.body;
    for (const std::string& path : mail.attachments) {
        entry.mail.attachments.push_back(NameOf(path));
    }
    bool ok = platform::CreatePrivateFolder(staging);
    for (std::size_t i = 0; ok && i < mail.attachments.size(); ++i) {
        bool copied = false;
        ok = CopyAttachment(mail.attachments[i], CopyPath(entry, i), &copied);
    }
    ok = ok && WriteRecord(staging, entry);
    for (int serial = 1; ok && serial <= kMaxSerial; ++serial) {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, "-%03d", serial);
        const std::string candidate = stem + suffix;
        if (platform::MovePath(staging, Join(dir, candidate))) {
            *id = candidate;
            return true;
        }
    }
    platform::RemoveFolder(staging);
    return false;
}

bool ListEntries(const std::string& logsDir, bool failed, std::vector<Entry>* entries) {
    entries->clear();
    const std::string dir = failed ? FailedFolder(logsDir) : OutboxFolder(logsDir);
    std::vector<std::string> names;
    if (!platform::ListFolders(dir, &names)) {
        return !platform::FileExists(dir);  // no folder yet: nothing was ever kept
    }
    for (const std::string& name : names) {
        if (!IsEntryId(name)) {
            continue;  // failed\, staging folders, anything not ours
        }
        Entry entry;
        ReadEntry(dir, name, &entry);
        entries->push_back(std::move(entry));
    }
    return true;
}

bool FindEntry(const std::string& logsDir, const std::string& id, bool failed, Entry* entry) {
    if (!IsEntryId(id)) {
        return false;
    }
    const std::string dir = failed ? FailedFolder(logsDir) : OutboxFolder(logsDir);
    std::vector<std::string> names;
    if (!platform::ListFolders(dir, &names)) {
        return false;
    }
    for (const std::string& name : names) {
        if (name == id) {
            ReadEntry(dir, name, entry);
            return true;
        }
    }
    return false;
}

bool SaveEntry(const Entry& entry) {
    return !entry.damaged && WriteRecord(entry.folder, entry);
}

bool RemoveEntry(const Entry& entry) {
    return platform::RemoveFolder(entry.folder);
}

bool MoveToFailed(const std::string& logsDir, Entry* entry) {
    if (!platform::CreatePrivateFolder(FailedFolder(logsDir)) ||
        (!entry->damaged && !SaveEntry(*entry))) {
        return false;
    }
    const std::string target = Join(FailedFolder(logsDir), entry->id);
    // A failed entry of the same id (sent back earlier, failed again) is replaced.
    platform::RemoveFolder(target);
    if (!platform::MovePath(entry->folder, target)) {
        return false;
    }
    entry->folder = target;
    return true;
}

bool MoveBack(const std::string& logsDir, Entry* entry, std::int64_t now) {
    if (entry->damaged) {
        return false;
    }
    const std::string target = Join(OutboxFolder(logsDir), entry->id);
    // The time allowed starts again: the administrator asked for this try.
    entry->firstAttempt = 0;
    entry->nextAttempt = now;
    if (!SaveEntry(*entry) || !platform::MovePath(entry->folder, target)) {
        return false;
    }
    entry->folder = target;
    return true;
}

void RemoveAbandonedStaging(const std::string& logsDir) {
    const std::string dir = OutboxFolder(logsDir);
    std::vector<std::string> names;
    if (!platform::ListFolders(dir, &names)) {
        return;
    }
    for (const std::string& name : names) {
        const std::size_t mark = name.rfind(kStagingMark);
        if (mark == std::string::npos || !IsEntryId(name.substr(0, mark) + "-000")) {
            continue;
        }
        std::int64_t pid = 0;
        if (ParseNumber(std::string_view(name).substr(mark + 4), &pid) &&
            !platform::ProcessRunning(static_cast<std::uint64_t>(pid))) {
            platform::RemoveFolder(Join(dir, name));
        }
    }
}

}  // namespace outbox
