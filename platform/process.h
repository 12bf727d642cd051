// Starting programs: the mail sender runs on its own (hidden on Windows, detached elsewhere)
// and nobody waits for it; a helper program (the service manager's tool) is waited for
// within a bound.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// The file name of the mail sender beside the application ("Postvane.exe" on Windows).
extern const char kSenderProgram[];

// False when the program could not be started (or its start not confirmed within seconds).
// The arguments are plain words (no blanks or quotes: the shell passes them as one line).
bool StartDetached(const std::string& path, const std::vector<std::string>& arguments = {});

// Runs argv[0] (a full path) with the arguments that follow, standard streams on the null
// device, and waits at most timeoutMs for it to end; one still running then is killed. The
// exit status, or -1 when it could not be started, was killed or did not exit normally.
int RunProgram(const std::vector<std::string>& argv, std::uint32_t timeoutMs);

// The full file name of the running program.
std::string CurrentProgramPath();

// Sets (or, with an empty value, removes) an environment variable of this process.
void SetEnvironmentValue(const std::string& name, const std::string& value);

}  // namespace platform
