// CNTLMAuthenticator: the NTLM token exchange, independent of the transport. The transport
// (NtlmTransport, the SMTP connection's AUTH NTLM lines) carries the tokens; Authenticate
// drives an NTLM provider through its steps and returns the last SECURITY_STATUS (negative:
// failure). The provider's context and credentials are released in every case.
#pragma once

#include <cstddef>

#include "mailer/smtp/ntlm_provider.h"

// How the tokens travel between us and the server.
class NtlmTransport {
  public:
    virtual platform::SecurityStatus SendInitialToken(const unsigned char* token,
                                                      std::size_t length) = 0;
    // Fills buffer (capacity bytes) with the server's decoded challenge.
    virtual platform::SecurityStatus ReadChallenge(unsigned char* buffer, std::size_t capacity,
                                                   std::size_t* length) = 0;
    virtual platform::SecurityStatus SendResponseToken(const unsigned char* token,
                                                       std::size_t length) = 0;

  protected:
    ~NtlmTransport() = default;
};

class CNTLMAuthenticator {
  public:
    explicit CNTLMAuthenticator(NtlmTransport& tokens) : transport(tokens) {}

    // Runs the whole exchange with provider. Exceptions thrown by the transport pass
    // through (after the provider's resources are released).
    platform::SecurityStatus Authenticate(NtlmProvider& provider);

  private:
    NtlmTransport& transport;
};
