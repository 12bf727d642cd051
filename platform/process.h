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
// The arguments follow the program's name, each passed as one.
bool StartDetached(const std::string& path, const std::vector<std::string>& args = {});

// Runs argv[0] (a full path) with the arguments that follow, standard streams on the null
// device, and waits at most timeoutMs for it to end; one still running then is killed. The
// exit status, or -1 when it could not be started, was killed or did not exit normally.
int RunProgram(const std::vector<std::string>& argv, std::uint32_t timeoutMs);

// The full file name of the running program.
std::string CurrentProgramPath();

// Sets (or, with an empty value, removes) an environment variable of this process.
void SetEnvironmentValue(const std::string& name, const std::string& value);

// Memory of this process held resident (the working set on Windows), in bytes; 0 when the
// system does not tell. The peak is the most held since the start or the last reset.
std::uint64_t ResidentBytes();
std::uint64_t PeakResidentBytes();
// Starts the peak over from what is held now; false where the system cannot (Windows): the
// peak then covers the whole process.
bool ResetPeakResident();

// CPU time the calling thread has used, in seconds: tells the work of a short step from the
// time it waited for a core on a busy machine.
double ThreadCpuSeconds();

}  // namespace platform
