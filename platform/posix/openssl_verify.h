// OpenSSL's verification results as the TLS failure kinds of tls.h: shared by the TLS
// sessions and the HTTP client, so both report a refused certificate in the same words.
#pragma once

#include "platform/tls.h"

namespace platform {

TlsFailure TlsFailureOfVerifyResult(long result);

}  // namespace platform
