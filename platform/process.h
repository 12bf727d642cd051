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

}  // namespace platform
