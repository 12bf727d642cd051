// Names of the TLS set-up failures, the same on every platform.
#include "platform/tls.h"

namespace platform {

const char* TlsFailureName(TlsFailure failure) {
    switch (failure) {
        case TlsFailure::None:
            return "no failure";
        case TlsFailure::Expired:
            return "expired";
        case TlsFailure::UnknownIssuer:
            return "unknown issuer";
        case TlsFailure::NameMismatch:
            return "name mismatch";
        case TlsFailure::Certificate:
            return "certificate not acceptable";
        case TlsFailure::CaFile:
            return "CA file unusable";
        case TlsFailure::Handshake:
            return "handshake failed";
        case TlsFailure::TimedOut:
            return "handshake timed out";
    }
    return "unknown failure";
}

}  // namespace platform
