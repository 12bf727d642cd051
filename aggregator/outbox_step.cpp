// The outbox step of the cycle, right after dispatch: when an entry is due it starts the mail
// sender with -outbox, unless one is at work (its lock is held) or dispatch has just started
// one, which sends what is due as well. With SMTPRetryHours 0 the step does nothing. Like
// the rest of the cycle it reports nothing; the sender reports each mail's outcome.
#include "aggregator/outbox_step.h"

#include <memory>
#include <vector>

#include "aggregator/aggregator_worker.h"
#include "common/layout.h"
#include "common/outbox.h"
#include "common/registry_value.h"
#include "platform/files.h"
#include "platform/folders.h"

namespace outbox_step {

bool SenderWanted(const std::string& logsDir, std::int64_t now) {
    if (!platform::FileExists(outbox::OutboxFolder(logsDir))) {
        return false;
    }
    std::vector<outbox::Entry> entries;
    if (!outbox::ListEntries(logsDir, false, &entries)) {
        return false;
    }
    bool due = false;
    for (const outbox::Entry& entry : entries) {
        due = due || entry.damaged || entry.nextAttempt <= now;
    }
    // Taken and given back at once: only a sender at work holds it for long.
    return due && platform::FolderLock::TryAcquire(outbox::LockPath(logsDir)) != nullptr;
}

}  // namespace outbox_step

void AggregatorWorker::SendOutbox() {
    if (appPath.empty() || senderStarted_ ||
        RegistryDword(layout::SettingPath(layout::setting::kSmtpRetryHours),
                      layout::setting::kDefaultSmtpRetryHours)
                .Get() == 0) {
        return;
    }
    if (!outbox_step::SenderWanted(outbox::LogsDirOf(appPath), clock_.Now())) {
        return;
    }
    Observe({"SendOutbox", {}, 0});
    StartSender({"-outbox"});
}
