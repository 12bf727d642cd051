// The outbox: report mails that could not be sent yet, kept under Logs\outbox so that a mail
// server that is down, slow or greylisting, a restart or a reboot loses none of them. Each
// entry is a folder named by its id holding a record (recipients, words, attempts, times, last
// failure) and a copy of every attached file as it was when the mail was first tried, so a
// later report or retention cannot change what is sent again. An entry appears whole or not at
// all: it is built in a staging folder that is renamed into place; the record is then only
// ever replaced atomically. Entries that will not be sent move to outbox\failed. On POSIX the
// folders and files are their owner's alone, like the registry file. Nothing here throws; a
// record that cannot be read is reported as damaged, never guessed at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One mail as it is handed to the outbox. Empty subject and body: the report mail composed
// from the attachments' names and the date the entry was made.
struct OutboxMail {
    std::string recipients;
    std::string subject;
    std::string body;
    std::vector<std::string> attachments;  // full paths; in an entry, the names the mail shows
};

namespace outbox {

// Longest record read back, and most attachments an entry carries.
inline constexpr std::size_t kMaxRecordBytes = 256 * 1024;
inline constexpr std::size_t kMaxAttachments = 64;

// Pause before the next try after the nth failed try: 5, 10, 20, 40 minutes, then hourly.
std::int64_t RetryDelaySeconds(int failedTries);

struct Entry {
    std::string id;      // "YYYYMMDD-HHMMSS-N" of the local time it was made; sorts oldest first
    std::string folder;  // where the entry lies
    OutboxMail mail;
    std::int64_t created = 0;
    int attempts = 0;
    std::int64_t firstAttempt = 0;  // 0 until tried
    std::int64_t lastAttempt = 0;
    std::int64_t nextAttempt = 0;
    std::uint32_t lastCode = 0;  // the failure's code, 0 before any
    std::string lastReason;      // the line the failure was reported with
    std::string lastReply;       // the server's last reply, when there was one
    bool damaged = false;        // the record could not be read; only id and folder are set
    std::string problem;         // why, for a damaged one
};

// The folders below the Logs folder, and the lock a sender holds while it works.
std::string OutboxFolder(const std::string& logsDir);
std::string FailedFolder(const std::string& logsDir);
std::string LockPath(const std::string& logsDir);
// The Logs folder of an installation directory.
std::string LogsDirOf(const std::string& appPath);

// Makes an entry due at now with copies of the attachments. A file that cannot be opened is
// recorded without a copy, so the entry fails as the mail would have (never silently sent
// without it); one that opens but cannot be copied, like any failure to write, makes the
// whole Enqueue fail and leaves no entry. *id is the new entry's id.
bool Enqueue(const std::string& logsDir, const OutboxMail& mail, std::int64_t now, std::string* id);

// Where the copy of the entry's attachment at index lies.
std::string CopyPath(const Entry& entry, std::size_t index);

// The record's text (CR LF lines) and its strict reading.
std::string FormatRecord(const Entry& entry);
bool ParseRecord(std::string_view text, Entry* entry, std::string* problem);

// The entries of the outbox (failed: of outbox\failed), oldest first. Damaged ones are
// listed with damaged set. False when the folder exists but cannot be read.
bool ListEntries(const std::string& logsDir, bool failed, std::vector<Entry>* entries);
// One entry by id, from the outbox or (failed) outbox\failed.
bool FindEntry(const std::string& logsDir, const std::string& id, bool failed, Entry* entry);

// Replaces the entry's record with its fields.
bool SaveEntry(const Entry& entry);
// Removes the entry with its copies.
bool RemoveEntry(const Entry& entry);
// Moves an entry of the outbox to outbox\failed, its record saved first when it is readable.
bool MoveToFailed(const std::string& logsDir, Entry* entry);
// Moves a failed entry back into the outbox, due at now.
bool MoveBack(const std::string& logsDir, Entry* entry, std::int64_t now);

// Removes the staging folders of writers that are gone.
void RemoveAbandonedStaging(const std::string& logsDir);

// Whether a name is an entry id as Enqueue makes them (a command-line id is checked with it
// before it becomes a path).
bool IsEntryId(std::string_view name);

}  // namespace outbox
