// Our own NTLM provider for systems without an NTLM package: the client side of the NTLM
// exchange with NTLMv2 responses, computed from the configured user name and password
// ("DOMAIN\user" gives the domain). It writes the NEGOTIATE message, reads the server's
// CHALLENGE message and answers with the AUTHENTICATE message. A malformed or truncated
// challenge fails with kSecInvalidToken, an output buffer too small with kSecBufferTooSmall.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "mailer/smtp/digests.h"
#include "mailer/smtp/ntlm_provider.h"
#include "platform/clock.h"

class NtlmV2Provider final : public NtlmProvider {
  public:
    using ClientChallenge = std::array<unsigned char, 8>;

    // The clock gives the response's time stamp when the server sends none. Not owned.
    NtlmV2Provider(const std::string& user, std::string password, const platform::Clock& clock);
    ~NtlmV2Provider() override;

    platform::SecurityStatus AcquireCredentials() override;
    platform::SecurityStatus InitializeContext(const unsigned char* input, std::size_t inputLength,
                                               unsigned char* output,
                                               std::size_t* outputLength) override;
    platform::SecurityStatus CompleteToken(unsigned char* output,
                                           std::size_t* outputLength) override;
    void DeleteContext() override;
    void FreeCredentials() override;

    // Replaces the random client challenge (tests).
    void SetClientChallenge(const ClientChallenge& value) {
        clientChallenge = value;
        fixedChallenge = true;
    }

    // NTOWFv2: HMAC-MD5 keyed with MD4 of the UTF-16 password over the UTF-16 of the
    // upper-cased user name followed by the domain.
    static Digest16 ResponseKey(std::string_view user, std::string_view domain,
                                std::string_view password);
    // The 8-bit ANSI text as UTF-16LE bytes; upper-cased when asked.
    static std::string ToUtf16(std::string_view ansi, bool upper = false);

  private:
    std::string BuildNegotiate() const;
    platform::SecurityStatus BuildAuthenticate(const unsigned char* challenge, std::size_t length,
                                               std::string* out);

    std::string userName;
    std::string domainName;
    std::string password;
    const platform::Clock& clock;
    ClientChallenge clientChallenge{};
    bool fixedChallenge = false;
    bool haveCredentials = false;
    int step = 0;  // 0: no context, 1: NEGOTIATE written, 2: AUTHENTICATE written
};
