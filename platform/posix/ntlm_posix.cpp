// POSIX backend of the NTLM security package: there is none. Every operation fails with
// kSecUnsupported; the mail sender then uses its own NTLMv2 provider.
#include "platform/ntlm.h"

namespace platform {

bool HasSystemNtlm() {
    return false;
}

SecurityStatus NtlmAcquireCredentials(NtlmCredentials*, const std::string&, const std::string&) {
    return kSecUnsupported;
}

SecurityStatus NtlmInitializeContext(NtlmCredentials*, NtlmContext*, const unsigned char*,
                                     std::size_t, unsigned char*, std::size_t* outputLength) {
    if (outputLength) {
        *outputLength = 0;
    }
    return kSecUnsupported;
}

SecurityStatus NtlmCompleteToken(NtlmContext*, unsigned char*, std::size_t*) {
    return kSecUnsupported;
}

void NtlmDeleteContext(NtlmContext* context) {
    if (context) {
        *context = NtlmContext{};
    }
}

void NtlmFreeCredentials(NtlmCredentials* credentials) {
    if (credentials) {
        *credentials = NtlmCredentials{};
    }
}

}  // namespace platform
