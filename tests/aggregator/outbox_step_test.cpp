// The cycle's outbox step: the sender is wanted only for a due (or damaged) entry and never
// while another holds the lock; the worker starts it with -outbox, not when the outbox is off
// and not a second time in a cycle whose dispatch started it.
#include "aggregator/outbox_step.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "aggregator/aggregator_worker.h"
#include "common/outbox.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/process.h"
#include "platform/thread.h"
#include "tests/support/test_env.h"

using testing_support::SetRegDword;
using testing_support::SetRegString;

namespace {

class OutboxStepTest : public testing_support::RegistryTest {
  protected:
    OutboxStepTest() {
        app = scratch_.Path() + "/app/";
        logs = outbox::LogsDirOf(app);
        platform::CreateDirectories(logs);
        SetRegString("apppath", app);
    }

    std::string Keep(std::int64_t next) {
        OutboxMail mail;
        mail.recipients = "desk@test";
        std::string id;
        EXPECT_TRUE(outbox::Enqueue(logs, mail, now, &id));
        outbox::Entry entry;
        EXPECT_TRUE(outbox::FindEntry(logs, id, false, &entry));
        entry.nextAttempt = next;
        EXPECT_TRUE(outbox::SaveEntry(entry));
        return id;
    }

    // A sender stand-in that notes its arguments in a file beside it.
    bool InstallSender() {
        if (std::strcmp(platform::kSenderProgram, "postvane") != 0) {
            return false;
        }
        const std::string path = app + platform::kSenderProgram;
        testing_support::WriteAll(path,
                                  "#!/bin/sh\necho \"run $*\" >> \"$(dirname \"$0\")/runs\"\n");
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        return true;
    }
    // The stand-in's runs; it is not waited for, so give it a moment (at most 5 s).
    std::string Runs(std::size_t expectedLines) {
        std::string runs;
        for (int i = 0; i < 100; ++i) {
            runs = testing_support::Exists(app + "runs") ? testing_support::ReadAll(app + "runs")
                                                         : std::string();
            const auto lines = static_cast<std::size_t>(std::count(runs.begin(), runs.end(), '\n'));
            if (lines >= expectedLines && i >= 4) {
                break;
            }
            platform::SleepMilliseconds(50);
        }
        return runs;
    }

    std::vector<std::string> Steps(std::time_t when) {
        platform::FixedClock clock(when);
        testing_support::RecordingPacer pacer;
        AggregatorWorker worker(clock, pacer, {});
        std::vector<std::string> steps;
        worker.SetStepObserver([&](const CycleStep& step) { steps.push_back(step.name); });
        // Dispatch and the step as the cycle runs them.
        worker.DispatchReports();
        worker.SendOutbox();
        return steps;
    }

    std::string app;
    std::string logs;
    const std::int64_t now = platform::LocalTimeOf(2026, 7, 31, 18);
};

TEST_F(OutboxStepTest, TheSenderIsWantedForADueEntryWhenNoneIsAtWork) {
    EXPECT_FALSE(outbox_step::SenderWanted(logs, now));  // no outbox yet
    const std::string later = Keep(now + 300);
    EXPECT_FALSE(outbox_step::SenderWanted(logs, now + 299));
    EXPECT_TRUE(outbox_step::SenderWanted(logs, now + 300));
    {
        std::unique_ptr<platform::FolderLock> held =
            platform::FolderLock::TryAcquire(outbox::LockPath(logs));
        ASSERT_TRUE(held);
        EXPECT_FALSE(outbox_step::SenderWanted(logs, now + 300));
    }
    EXPECT_TRUE(outbox_step::SenderWanted(logs, now + 300));
    // A damaged record is due at once: the sender moves it to failed\ and says so.
    Keep(now + 3600);
    testing_support::WriteAll(outbox::OutboxFolder(logs) + "/" + later + "/record", "broken");
    EXPECT_TRUE(outbox_step::SenderWanted(logs, now));
}

TEST_F(OutboxStepTest, TheCycleStartsTheSenderForTheOutboxOnlyWhenNeeded) {
    if (!InstallSender()) {
        GTEST_SKIP() << "the stand-in sender is a shell script";
    }
    SetRegString("ReportTime", "14");
    Keep(now);
    EXPECT_EQ(Steps(now), (std::vector<std::string>{"SendOutbox"}));
    EXPECT_EQ(Runs(1), "run -outbox\n");

    // Off: nothing is started, whatever waits.
    SetRegDword("SMTPRetryHours", 0);
    EXPECT_TRUE(Steps(now).empty());
    SetRegDword("SMTPRetryHours", 24);

    // At the report hour dispatch starts the sender, which sends what is due as well.
    std::filesystem::remove(app + "runs");
    EXPECT_TRUE(Steps(platform::LocalTimeOf(2026, 7, 31, 14)).empty());
    EXPECT_EQ(Runs(1), "run \n");
}

}  // namespace
