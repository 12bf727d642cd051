// The Windows Sockets error number that stands for an errno value on POSIX, shared by the
// socket and TLS backends so a failure reads the same whichever layer met it.
#pragma once

namespace platform {

int ToWsaError(int err);

}  // namespace platform
