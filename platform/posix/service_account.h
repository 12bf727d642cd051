// The account the Linux service runs as. Its own system account where the installation
// allows it: the account is created when missing (root only), must be able to read the logs
// and write below the installation, and is given the registry file (and, when the file has
// a folder of its own, that folder). Otherwise the service stays root, held in by the unit's
// hardening, and the choice says why. Nothing here fails: a step that cannot be done is the
// reason for root.
#pragma once

#include <string>
#include <vector>

#include "platform/service.h"

namespace platform::service_account {

inline constexpr char kAccount[] = "tallyvane";

struct Choice {
    std::string user;                         // the unit's User=: the account, or "root"
    std::string reason;                       // why root, empty when the account is used
    std::vector<std::string> readWritePaths;  // the installation and the registry's folders
};

struct Setup {
    std::string account = kAccount;
    ServiceData data;
    std::string registryFile;  // as configured (a link is followed to the file it names)
    std::string root = "/";    // where useradd is looked for
};

Choice Prepare(const Setup& setup);

// The first of these programs found below root (the full path), empty when none is.
std::string ProgramUnder(const std::string& root, const std::vector<const char*>& candidates);

}  // namespace platform::service_account
