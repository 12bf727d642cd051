// The sender's OAuth access token: the cached one while more than five minutes are left,
// else a new one from the token endpoint (the refresh-token grant when a refresh token is
// stored, the client-credentials grant otherwise). A refresh token that the endpoint returns
// replaces the stored one at once, before the access token is used: a run that stops in
// between still holds a valid refresh token (the old until the new is written). Failures
// throw the token endpoint's CSMTPExceptions, or kOAuthSettings / kOAuthSecretStore.
#pragma once

#include <ctime>
#include <memory>
#include <string>

#include "mailer/oauth/token_endpoint.h"
#include "mailer/smtp/smtp_connection.h"
#include "platform/clock.h"

// A cached token is reused when it has more than this left.
inline constexpr std::time_t kTokenReuseMargin = 5 * 60;

bool CachedTokenUsable(std::time_t expiresAt, std::time_t now);

// The plain settings and the client secret, as stored.
OAuthSettings ReadOAuthSettings();

// The stored secrets: SMTPOAuthRefreshToken; the cache ("expiry token") of
// SMTPOAuthAccessToken. Writes throw kOAuthSecretStore on failure.
std::string StoredRefreshToken();
void StoreRefreshToken(const std::string& token);
void StoreCachedToken(const std::string& token, std::time_t expiresAt);
// Empty when there is none or it cannot be read.
std::string CachedToken(std::time_t* expiresAt);
void ForgetCachedToken();

class OAuthTokens {
  public:
    OAuthTokens(OAuthSettings settings, const platform::Clock& clock, HttpPost post);

    // The token for this run's AUTH.
    std::string Current();
    // A new token, whatever the cache holds (after the server refused the cached one).
    std::string Fresh();
    // The grant behind the last token handed out (for `tallyctl smtp oauth test`).
    const TokenGrant& LastGrant() const { return last_; }
    // Fetches counted, for the tests.
    int Fetches() const { return fetches_; }

  private:
    TokenEndpoint endpoint_;
    const platform::Clock& clock_;
    TokenGrant last_;
    int fetches_ = 0;
};

// Throws kOAuthSettings naming what is missing or wrong (an https token URL and a client id
// are needed; a client secret or a stored refresh token for a grant).
void CheckOAuthSettings(const OAuthSettings& settings, bool haveRefreshToken);

// A run's OAuth start: null for the other methods; for an OAuth method refuses clear text
// (kSmtpOAuthNoTls) before anything is fetched or connected, then reads the settings.
std::unique_ptr<OAuthTokens> StartOAuth(AuthMethod method, TlsMode mode,
                                        const platform::Clock& clock, HttpPost post);
