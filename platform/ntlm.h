// The system's NTLM security package, where the operating system has one (SSPI's "NTLM"
// package on Windows): the five operations the mail sender's NTLM exchange needs. Where
// HasSystemNtlm() is false every operation fails with kSecUnsupported and the mail sender
// uses its own provider instead. Results are SECURITY_STATUS values: negative is failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

using SecurityStatus = std::int32_t;

constexpr SecurityStatus kSecOk = 0;
constexpr SecurityStatus kSecContinueNeeded = 0x00090312;       // SEC_I_CONTINUE_NEEDED
constexpr SecurityStatus kSecCompleteNeeded = 0x00090313;       // SEC_I_COMPLETE_NEEDED
constexpr SecurityStatus kSecCompleteAndContinue = 0x00090314;  // SEC_I_COMPLETE_AND_CONTINUE
constexpr SecurityStatus kSecInsufficientMemory = static_cast<SecurityStatus>(0x80090300);
constexpr SecurityStatus kSecUnsupported = static_cast<SecurityStatus>(0x80090302);
constexpr SecurityStatus kSecInternalError = static_cast<SecurityStatus>(0x80090304);
constexpr SecurityStatus kSecInvalidToken = static_cast<SecurityStatus>(0x80090308);
constexpr SecurityStatus kSecBufferTooSmall = static_cast<SecurityStatus>(0x80090321);

// Largest token either side of the exchange may hold.
constexpr std::size_t kNtlmMaxToken = 12000;

// Opaque handles of the package (zero while not acquired or created).
struct NtlmCredentials {
    std::uintptr_t lower = 0;
    std::uintptr_t upper = 0;
    bool valid = false;
};
struct NtlmContext {
    std::uintptr_t lower = 0;
    std::uintptr_t upper = 0;
    bool valid = false;
};

bool HasSystemNtlm();

// Outbound credentials: those of the account running the program when user is empty,
// otherwise user ("DOMAIN\user" gives the domain too) with password.
SecurityStatus NtlmAcquireCredentials(NtlmCredentials* credentials, const std::string& user,
                                      const std::string& password);
// One step of the exchange: with no valid context a new one is made (input ignored);
// otherwise the input token continues it. *outputLength holds the capacity of output on
// entry and the length written on return.
SecurityStatus NtlmInitializeContext(NtlmCredentials* credentials, NtlmContext* context,
                                     const unsigned char* input, std::size_t inputLength,
                                     unsigned char* output, std::size_t* outputLength);
// Completes the token when a step asked for it (same output buffer and length).
SecurityStatus NtlmCompleteToken(NtlmContext* context, unsigned char* output,
                                 std::size_t* outputLength);
void NtlmDeleteContext(NtlmContext* context);
void NtlmFreeCredentials(NtlmCredentials* credentials);

}  // namespace platform
