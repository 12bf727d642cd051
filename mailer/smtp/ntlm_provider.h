// The NTLM security package as the mail sender's NTLM exchange sees it: five operations
// (acquire credentials, initialise a context from an optional input token into an output
// token, complete a token, delete the context, free the credentials) returning
// SECURITY_STATUS values. MakeNtlmProvider picks the system's package where there is one
// (SSPI on Windows) and our own NTLMv2 provider elsewhere; both use the configured user name
// and password, and the system's package the running account when no user name is set.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>

#include "platform/ntlm.h"

class NtlmProvider {
  public:
    virtual ~NtlmProvider() = default;
    virtual platform::SecurityStatus AcquireCredentials() = 0;
    // input is null for the first step. *outputLength: capacity in, length written out.
    virtual platform::SecurityStatus InitializeContext(const unsigned char* input,
                                                       std::size_t inputLength,
                                                       unsigned char* output,
                                                       std::size_t* outputLength) = 0;
    virtual platform::SecurityStatus CompleteToken(unsigned char* output,
                                                   std::size_t* outputLength) = 0;
    // Both do nothing when there is nothing to release.
    virtual void DeleteContext() = 0;
    virtual void FreeCredentials() = 0;
};

// The operating system's package (platform/ntlm.h). An empty user means the account that
// runs the program.
class SystemNtlmProvider final : public NtlmProvider {
  public:
    SystemNtlmProvider(std::string user, std::string password)
        : user(std::move(user)), password(std::move(password)) {}
    ~SystemNtlmProvider() override;
    platform::SecurityStatus AcquireCredentials() override;
    platform::SecurityStatus InitializeContext(const unsigned char* input, std::size_t inputLength,
                                               unsigned char* output,
                                               std::size_t* outputLength) override;
    platform::SecurityStatus CompleteToken(unsigned char* output,
                                           std::size_t* outputLength) override;
    void DeleteContext() override;
    void FreeCredentials() override;

  private:
    std::string user;
    std::string password;
    platform::NtlmCredentials credentials;
    platform::NtlmContext context;
};

// user may be "DOMAIN\user"; on Windows an empty user name means the running account.
std::unique_ptr<NtlmProvider> MakeNtlmProvider(const std::string& user,
                                               const std::string& password);
