// The NTLM exchange: first token, then challenge and response until the provider is done.
// Returns the last status; a negative status from any step ends the exchange with it.
#include "mailer/smtp/ntlm_authenticator.h"

#include <vector>

namespace {

// Releases the provider's context and credentials however the exchange ends.
class ProviderRelease {
  public:
    explicit ProviderRelease(NtlmProvider& p) : provider(p) {}
    ~ProviderRelease() {
        provider.DeleteContext();
        provider.FreeCredentials();
    }
    ProviderRelease(const ProviderRelease&) = delete;
    ProviderRelease& operator=(const ProviderRelease&) = delete;

  private:
    NtlmProvider& provider;
};

bool Continues(platform::SecurityStatus status) {
    return status == platform::kSecContinueNeeded || status == platform::kSecCompleteAndContinue;
}

// One InitializeContext step with its CompleteAuthToken when the package asks for it.
platform::SecurityStatus Step(NtlmProvider& provider, const unsigned char* input,
                              std::size_t inputLength, std::vector<unsigned char>& output,
                              std::size_t* outputLength) {
    *outputLength = output.size();
    platform::SecurityStatus status =
        provider.InitializeContext(input, inputLength, output.data(), outputLength);
    if (status == platform::kSecCompleteNeeded || status == platform::kSecCompleteAndContinue) {
        platform::SecurityStatus completed = provider.CompleteToken(output.data(), outputLength);
        if (completed < 0) {
            return completed;
        }
    }
    return status;
}

}  // namespace

platform::SecurityStatus CNTLMAuthenticator::Authenticate(NtlmProvider& provider) {
    std::vector<unsigned char> outputToken(platform::kNtlmMaxToken);
    std::vector<unsigned char> inputToken(platform::kNtlmMaxToken);

    platform::SecurityStatus status = provider.AcquireCredentials();
    if (status < 0) {
        return status;
    }
    ProviderRelease release(provider);

    std::size_t outputLength = 0;
    status = Step(provider, nullptr, 0, outputToken, &outputLength);
    if (status < 0) {
        return status;
    }
    bool more = Continues(status);
    status = transport.SendInitialToken(outputToken.data(), outputLength);
    while (status >= 0 && more) {
        std::size_t inputLength = 0;
        status = transport.ReadChallenge(inputToken.data(), inputToken.size(), &inputLength);
        if (status < 0) {
            break;
        }
        status = Step(provider, inputToken.data(), inputLength, outputToken, &outputLength);
        if (status < 0) {
            break;
        }
        more = Continues(status);
        status = transport.SendResponseToken(outputToken.data(), outputLength);
    }
    return status;
}
