// Starting a program that runs on its own: hidden on Windows, detached elsewhere; nobody
// waits for it.
#pragma once

#include <string>

namespace platform {

// The file name of the mail sender beside the application ("Postvane.exe" on Windows).
extern const char kSenderProgram[];

// False when the program could not be started.
bool StartDetached(const std::string& path);

// The full file name of the running program.
std::string CurrentProgramPath();

// Sets (or, with an empty value, removes) an environment variable of this process.
void SetEnvironmentValue(const std::string& name, const std::string& value);

}  // namespace platform
