// The Linux service's account: used only when it can read the logs and write below the
// installation and the registry's folder, given the registry file then, and root (with a
// reason) otherwise. Run as root, the account is "nobody" and its rights are tried in its
// identity; run as anyone else, the account is the caller's own.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/posix/service_account.h"
#include "tests/support/test_env.h"

namespace {

using platform::service_account::Choice;
using platform::service_account::Prepare;
using platform::service_account::Setup;
using testing_support::ScratchDir;
using testing_support::WriteAll;

struct Identity {
    std::string name;
    uid_t uid = 0;
    gid_t gid = 0;
};

bool AccountForTest(Identity* out) {
    const passwd* entry = geteuid() == 0 ? getpwnam("nobody") : getpwuid(geteuid());
    if (entry == nullptr || (geteuid() == 0 && entry->pw_uid == 0)) {
        return false;
    }
    *out = {entry->pw_name, entry->pw_uid, entry->pw_gid};
    return true;
}

// An installation the account can work with, in a folder of its own.
struct Installation {
    explicit Installation(const Identity& who) : account(who) {
        WriteAll(app + "/Logs/08_12_2026_10.0.0.5", "log");
        WriteAll(app + "/brisko.users", "users");
        WriteAll(reg + "/registry.reg", "settings");
        EXPECT_EQ(chmod((reg + "/registry.reg").c_str(), 0600), 0);
        for (const std::string& path :
             {app, app + "/Logs", app + "/Logs/08_12_2026_10.0.0.5", app + "/brisko.users"}) {
            Grant(path);
        }
        setup.account = account.name;
        setup.data.installation = app + "/";
        setup.data.logFolders = {app + "/Logs/"};
        setup.data.readFiles = {app + "/brisko.users"};
        setup.registryFile = reg + "/registry.reg";
        setup.root = dir / "no-tools";
    }

    // What the account owns; for the caller's own account that is everything here.
    void Grant(const std::string& path) const {
        if (geteuid() == 0) {
            EXPECT_EQ(chown(path.c_str(), account.uid, account.gid), 0) << path;
        }
    }
    // What the account may not touch: root's (when run as root), with no rights for others.
    static void Deny(const std::string& path, mode_t mode) {
        if (geteuid() == 0) {
            EXPECT_EQ(chown(path.c_str(), 0, 0), 0) << path;
        }
        EXPECT_EQ(chmod(path.c_str(), mode), 0) << path;
    }

    Identity account;
    ScratchDir dir;
    std::string app = dir / "app";
    std::string reg = dir / "etc";
    Setup setup;
};

uid_t OwnerOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st.st_uid;
}

TEST(ServiceAccount, TheAccountIsUsedWhenItCanDoItsWork) {
    Identity account;
    if (!AccountForTest(&account)) {
        GTEST_SKIP() << "no account to try";
    }
    for (const bool linked : {false, true}) {
        SCOPED_TRACE(linked ? "the registry path a link to the file elsewhere" : "a plain file");
        Installation in(account);
        std::string file = in.reg + "/registry.reg";
        std::vector<std::string> writable = {in.app, in.reg};
        if (linked) {
            // The lock lies beside the link, the file where it leads: both folders are needed.
            const std::string links = in.dir / "links";
            WriteAll(links + "/registry.reg.lock", "");
            ASSERT_EQ(unlink((links + "/registry.reg.lock").c_str()), 0);
            ASSERT_EQ(symlink(file.c_str(), (links + "/registry.reg").c_str()), 0);
            in.setup.registryFile = links + "/registry.reg";
            writable = {in.app, links, in.reg};
        }
        const Choice choice = Prepare(in.setup);
        EXPECT_EQ(choice.reason, "");
        EXPECT_EQ(choice.user, account.name);
        EXPECT_EQ(choice.readWritePaths, writable);
        // The registry's own folders and the file are the account's now; the file stays
        // private.
        for (const std::string& folder : writable) {
            EXPECT_EQ(OwnerOf(folder), account.uid) << folder;
        }
        EXPECT_EQ(OwnerOf(file), account.uid);
        struct stat st {};
        ASSERT_EQ(stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
    }
}

TEST(ServiceAccount, RootStaysWithTheReasonWhenTheAccountCannot) {
    Identity account;
    if (!AccountForTest(&account)) {
        GTEST_SKIP() << "no account to try";
    }
    const struct {
        const char* what;
        std::function<void(Installation&)> arrange;
        std::string reason;  // the end of the reason given; APP and REG stand for the folders
    } cases[] = {
        {"a log it cannot read",
         [](Installation& in) { Installation::Deny(in.app + "/Logs/08_12_2026_10.0.0.5", 0); },
         "cannot read APP/Logs/08_12_2026_10.0.0.5"},
        {"an installation it cannot write",
         [](Installation& in) { Installation::Deny(in.app, 0555); }, "cannot write APP/"},
        {"a user list it cannot read",
         [](Installation& in) { Installation::Deny(in.app + "/brisko.users", 0); },
         "cannot read APP/brisko.users"},
        {"a registry folder shared with other files, not its own",
         [](Installation& in) {
             WriteAll(in.reg + "/other.conf", "x");
             Installation::Deny(in.reg, 0555);
         },
         "cannot write REG"},
        {"no installation set", [](Installation& in) { in.setup.data.installation.clear(); },
         "the installation directory (apppath) is not set"},
        {"no such account, and none can be made",
         [](Installation& in) { in.setup.account = "tallyvane-test-absent"; },
         "there is no account tallyvane-test-absent and it could not be created"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Installation in(account);
        c.arrange(in);
        std::string reason = c.reason;
        for (const auto& [mark, path] : {std::pair<std::string, std::string>{"APP", in.app},
                                         std::pair<std::string, std::string>{"REG", in.reg}}) {
            if (const std::size_t at = reason.find(mark); at != std::string::npos) {
                reason.replace(at, mark.size(), path);
            }
        }
        const Choice choice = Prepare(in.setup);
        EXPECT_EQ(choice.user, "root");
        ASSERT_GE(choice.reason.size(), reason.size()) << choice.reason;
        EXPECT_EQ(choice.reason.substr(choice.reason.size() - reason.size()), reason);
        EXPECT_FALSE(choice.readWritePaths.empty());
        if (geteuid() == 0) {
            EXPECT_EQ(OwnerOf(in.reg + "/registry.reg"), 0u) << "given away";
        }
    }
}

}  // namespace
