// Secrets kept beside the settings (an OAuth client secret, refresh token, cached access
// token): readable by administrators and the service alone. On POSIX they are values of the
// settings key in the registry file, which is its owner's alone (mode 0600); on Windows they
// are encrypted with DPAPI for the local machine, in a subkey of the settings key whose
// security descriptor grants only SYSTEM, Administrators and the service's account. A write
// replaces the value in one step: the old one stays until the new one is in place. Every call
// returns a Windows error code (0 on success) and never throws.
#pragma once

#include <string>

namespace platform {

// settingsKey: below HKEY_LOCAL_MACHINE. kErrorFileNotFound when the secret is absent.
long ReadSecret(const std::string& settingsKey, const std::string& name, std::string* value);
long WriteSecret(const std::string& settingsKey, const std::string& name, const std::string& value);
// Absent already counts as done.
long DeleteSecret(const std::string& settingsKey, const std::string& name);

}  // namespace platform
