// The access token of a run: cache decision, grant choice, storing a rotated refresh token
// first (see the header).
#include "mailer/oauth/oauth_tokens.h"

#include <cstdlib>

#include "common/layout.h"
#include "mailer/smtp/smtp_exception.h"
#include "mailer/smtp/smtp_settings.h"
#include "platform/registry.h"
#include "platform/secrets.h"

namespace {

std::string Secret(const char* name) {
    std::string value;
    platform::ReadSecret(layout::kSettingsKey, name, &value);
    return value;
}

void StoreSecret(const char* name, const std::string& value) {
    if (platform::WriteSecret(layout::kSettingsKey, name, value) != platform::kErrorSuccess) {
        throw SmtpProtocolFailure(kOAuthSecretStore, std::string(name) + " cannot be written");
    }
}

}  // namespace

bool CachedTokenUsable(std::time_t expiresAt, std::time_t now) {
    return expiresAt - now > kTokenReuseMargin;
}

OAuthSettings ReadOAuthSettings() {
    OAuthSettings settings;
    settings.tokenUrl = ReadPlainSetting(layout::setting::kSmtpOAuthTokenUrl);
    settings.clientId = ReadPlainSetting(layout::setting::kSmtpOAuthClientId);
    settings.scope = ReadPlainSetting(layout::setting::kSmtpOAuthScope);
    settings.deviceUrl = ReadPlainSetting(layout::setting::kSmtpOAuthDeviceUrl);
    settings.caFile = ReadPlainSetting(layout::setting::kSmtpCaFile);
    settings.clientSecret = Secret(layout::setting::kSmtpOAuthClientSecret);
    return settings;
}

std::string StoredRefreshToken() {
    return Secret(layout::setting::kSmtpOAuthRefreshToken);
}

void StoreRefreshToken(const std::string& token) {
    StoreSecret(layout::setting::kSmtpOAuthRefreshToken, token);
}

void StoreCachedToken(const std::string& token, std::time_t expiresAt) {
    StoreSecret(layout::setting::kSmtpOAuthAccessToken,
                std::to_string(static_cast<long long>(expiresAt)) + " " + token);
}

std::string CachedToken(std::time_t* expiresAt) {
    const std::string stored = Secret(layout::setting::kSmtpOAuthAccessToken);
    const std::size_t space = stored.find(' ');
    if (space == std::string::npos || space == 0 || space + 1 == stored.size() ||
        stored.find_first_not_of("0123456789") != space) {
        *expiresAt = 0;
        return {};
    }
    *expiresAt = static_cast<std::time_t>(std::atoll(stored.substr(0, space).c_str()));
    return stored.substr(space + 1);
}

void ForgetCachedToken() {
    platform::DeleteSecret(layout::kSettingsKey, layout::setting::kSmtpOAuthAccessToken);
}

void CheckOAuthSettings(const OAuthSettings& settings, bool haveRefreshToken) {
    auto fail = [](const std::string& why) { throw SmtpProtocolFailure(kOAuthSettings, why); };
    if (settings.tokenUrl.rfind("https://", 0) != 0) {
        fail(settings.tokenUrl.empty() ? "SMTPOAuthTokenURL is not set"
                                       : "SMTPOAuthTokenURL is not an https URL");
    }
    if (settings.clientId.empty()) {
        fail("SMTPOAuthClientID is not set");
    }
    if (!haveRefreshToken && settings.clientSecret.empty()) {
        fail("neither a refresh token (tallyctl smtp oauth login) nor a client secret is stored");
    }
}

OAuthTokens::OAuthTokens(OAuthSettings settings, const platform::Clock& clock, HttpPost post)
    : endpoint_(std::move(settings), std::move(post)), clock_(clock) {}

std::string OAuthTokens::Current() {
    std::time_t expiresAt = 0;
    std::string cached = CachedToken(&expiresAt);
    if (!cached.empty() && CachedTokenUsable(expiresAt, clock_.Now())) {
        last_ = TokenGrant{cached, expiresAt, {}, {}};
        return cached;
    }
    return Fresh();
}

std::string OAuthTokens::Fresh() {
    const std::string refreshToken = StoredRefreshToken();
    CheckOAuthSettings(endpoint_.Settings(), !refreshToken.empty());
    ++fetches_;
    const std::time_t now = clock_.Now();
    last_ = refreshToken.empty() ? endpoint_.ClientCredentials(now)
                                 : endpoint_.Refresh(refreshToken, now);
    if (!last_.refreshToken.empty() && last_.refreshToken != refreshToken) {
        StoreRefreshToken(last_.refreshToken);
    }
    StoreCachedToken(last_.accessToken, last_.expiresAt);
    return last_.accessToken;
}

std::unique_ptr<OAuthTokens> StartOAuth(AuthMethod method, TlsMode mode,
                                        const platform::Clock& clock, HttpPost post) {
    if (!IsOAuthMethod(method)) {
        return nullptr;
    }
    RefuseTokenInClear(method, mode);
    return std::make_unique<OAuthTokens>(ReadOAuthSettings(), clock, std::move(post));
}
