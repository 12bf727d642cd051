// `tallyctl mail`: lists the outbox (queue) and its failed entries (failed), makes entries due
// now (retry; a failed one comes back into the outbox) and removes one (drop). Changes are
// made under the outbox's lock, so a sender at work never has its record overwritten; text
// from the records is printed with control bytes as \xNN.
#include "tools/mail_command.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

#include "common/control_bytes.h"
#include "common/layout.h"
#include "common/outbox.h"
#include "common/registry_value.h"
#include "platform/clock.h"
#include "platform/folders.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: tallyctl mail queue | failed\n"
                 "       tallyctl mail retry ID|--all [--at SECONDS]\n"
                 "       tallyctl mail drop ID\n");
    return 2;
}

std::string LocalText(std::int64_t t) {
    if (t == 0) {
        return "-";
    }
    const platform::LocalDate d = platform::BreakDown(static_cast<std::time_t>(t));
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", d.year % 10000, d.month, d.day,
                  d.hour, d.minute);
    return text;
}

// What the mail carries: its reports, or the subject of a mail of its own words.
std::string Contents(const outbox::Entry& entry) {
    std::string text;
    if (!entry.mail.subject.empty()) {
        text = "\"" + entry.mail.subject + "\"";
    }
    for (const std::string& name : entry.mail.attachments) {
        text += (text.empty() ? "" : ", ") + name;
    }
    return EscapeControlBytes(text.empty() ? "(no report)" : text);
}

std::string Reason(const outbox::Entry& entry) {
    return EscapeControlBytes(entry.lastReason.empty() ? "(not tried yet)" : entry.lastReason);
}

int List(const std::string& logsDir, bool failed) {
    std::vector<outbox::Entry> entries;
    if (!outbox::ListEntries(logsDir, failed, &entries)) {
        std::fprintf(
            stderr, "tallyctl mail: %s cannot be read\n",
            (failed ? outbox::FailedFolder(logsDir) : outbox::OutboxFolder(logsDir)).c_str());
        return 1;
    }
    if (entries.empty()) {
        std::printf(failed ? "no failed mail\n" : "the outbox is empty\n");
        return 0;
    }
    for (const outbox::Entry& e : entries) {
        if (e.damaged) {
            std::printf("%s  damaged record: %s\n", e.id.c_str(),
                        EscapeControlBytes(e.problem).c_str());
        } else if (failed) {
            std::printf("%s  %s  tries %d  failed %s\n    why: %s\n", e.id.c_str(),
                        Contents(e).c_str(), e.attempts, LocalText(e.lastAttempt).c_str(),
                        Reason(e).c_str());
        } else {
            std::printf("%s  %s  tries %d  next %s\n    last: %s\n", e.id.c_str(),
                        Contents(e).c_str(), e.attempts, LocalText(e.nextAttempt).c_str(),
                        Reason(e).c_str());
        }
    }
    return 0;
}

std::unique_ptr<platform::FolderLock> LockOrSay(const std::string& logsDir) {
    std::unique_ptr<platform::FolderLock> lock =
        platform::FolderLock::TryAcquire(outbox::LockPath(logsDir));
    if (!lock) {
        std::fprintf(stderr,
                     "tallyctl mail: a sender is at work on the outbox; try again in a "
                     "moment\n");
    }
    return lock;
}

int Retry(const std::string& logsDir, const std::string& which, std::int64_t now) {
    std::unique_ptr<platform::FolderLock> lock = LockOrSay(logsDir);
    if (!lock) {
        return 1;
    }
    std::vector<outbox::Entry> entries;
    outbox::ListEntries(logsDir, false, &entries);
    int changed = 0;
    for (outbox::Entry& e : entries) {
        if ((which == "--all" || which == e.id) && !e.damaged) {
            e.nextAttempt = now;
            if (!outbox::SaveEntry(e)) {
                std::fprintf(stderr, "tallyctl mail: the record of %s cannot be written\n",
                             e.id.c_str());
                return 1;
            }
            std::printf("%s is due now\n", e.id.c_str());
            ++changed;
        }
    }
    outbox::Entry failed;
    if (which != "--all" && changed == 0 && outbox::FindEntry(logsDir, which, true, &failed)) {
        if (!outbox::MoveBack(logsDir, &failed, now)) {
            std::fprintf(stderr, "tallyctl mail: %s cannot be moved back into the outbox%s\n",
                         which.c_str(), failed.damaged ? " (its record is damaged)" : "");
            return 1;
        }
        std::printf("%s is back in the outbox and due now\n", which.c_str());
        ++changed;
    }
    if (changed == 0 && which != "--all") {
        std::fprintf(stderr, "tallyctl mail: no entry %s\n", EscapeControlBytes(which).c_str());
        return 1;
    }
    return 0;
}

int Drop(const std::string& logsDir, const std::string& id) {
    std::unique_ptr<platform::FolderLock> lock = LockOrSay(logsDir);
    if (!lock) {
        return 1;
    }
    for (bool failed : {false, true}) {
        outbox::Entry entry;
        if (outbox::FindEntry(logsDir, id, failed, &entry)) {
            if (!outbox::RemoveEntry(entry)) {
                std::fprintf(stderr, "tallyctl mail: %s cannot be removed\n", id.c_str());
                return 1;
            }
            std::printf("%s removed\n", id.c_str());
            return 0;
        }
    }
    std::fprintf(stderr, "tallyctl mail: no entry %s\n", EscapeControlBytes(id).c_str());
    return 1;
}

bool ParseSeconds(const std::string& text, std::int64_t* out) {
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0) {
        return false;
    }
    *out = value;
    return true;
}

}  // namespace

int RunMailCommand(const std::vector<std::string>& args) {
    if (args.empty()) {
        return Usage();
    }
    const std::string appPath =
        RegistryString(layout::SettingPath(layout::setting::kAppPath), "").Get();
    if (appPath.empty()) {
        std::fprintf(stderr, "tallyctl mail: apppath is not set, so there is no outbox\n");
        return 2;
    }
    const std::string logsDir = outbox::LogsDirOf(appPath);
    const std::string& verb = args[0];
    if ((verb == "queue" || verb == "failed") && args.size() == 1) {
        return List(logsDir, verb == "failed");
    }
    if (verb == "drop" && args.size() == 2) {
        return Drop(logsDir, args[1]);
    }
    if (verb == "retry" && (args.size() == 2 || (args.size() == 4 && args[2] == "--at"))) {
        std::int64_t now = std::time(nullptr);
        if (args.size() == 4 && !ParseSeconds(args[3], &now)) {
            std::fprintf(stderr, "tallyctl mail: --at takes seconds since 1970\n");
            return 2;
        }
        return Retry(logsDir, args[1], now);
    }
    return Usage();
}
