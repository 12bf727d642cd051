// The system NTLM package behind the provider interface, and the choice between it and our
// own NTLMv2 provider. Failures are the package's SECURITY_STATUS values.
#include "mailer/smtp/ntlm_provider.h"

#include "mailer/smtp/ntlm_v2.h"
#include "platform/clock.h"

SystemNtlmProvider::~SystemNtlmProvider() {
    DeleteContext();
    FreeCredentials();
}

platform::SecurityStatus SystemNtlmProvider::AcquireCredentials() {
    return platform::NtlmAcquireCredentials(&credentials, user, password);
}

platform::SecurityStatus SystemNtlmProvider::InitializeContext(const unsigned char* input,
                                                               std::size_t inputLength,
                                                               unsigned char* output,
                                                               std::size_t* outputLength) {
    return platform::NtlmInitializeContext(&credentials, &context, input, inputLength, output,
                                           outputLength);
}

platform::SecurityStatus SystemNtlmProvider::CompleteToken(unsigned char* output,
                                                           std::size_t* outputLength) {
    return platform::NtlmCompleteToken(&context, output, outputLength);
}

void SystemNtlmProvider::DeleteContext() {
    if (context.valid) {
        platform::NtlmDeleteContext(&context);
    }
}

void SystemNtlmProvider::FreeCredentials() {
    if (credentials.valid) {
        platform::NtlmFreeCredentials(&credentials);
    }
}

std::unique_ptr<NtlmProvider> MakeNtlmProvider(const std::string& user,
                                               const std::string& password) {
    if (platform::HasSystemNtlm()) {
        return std::make_unique<SystemNtlmProvider>(user, password);
    }
    static const platform::SystemClock clock;
    return std::make_unique<NtlmV2Provider>(user, password, clock);
}
