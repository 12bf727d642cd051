// The server certificate checks of the Windows TLS client, shared with the HTTP client so a
// token endpoint is verified exactly as the mail server is: the chain with the SSL policy,
// the name or IP address against the subjectAltName entries only, and the extra roots.
#pragma once

#include <wincrypt.h>
#include <windows.h>

#include <string>

#include "platform/tls.h"

namespace platform {

// The PEM certificates of caFile as a memory store; null with detail when unusable.
HCERTSTORE LoadRoots(const std::string& caFile, std::string* detail);
// roots may be null. detail says why on failure.
TlsFailure VerifyServerCertificate(PCCERT_CONTEXT remote, const std::string& host, HCERTSTORE roots,
                                   std::string* detail);

}  // namespace platform
