// Talking to an OAuth 2.0 token endpoint (RFC 6749, RFC 8628): one form POST, its JSON answer
// read and judged. A failure throws a CSMTPException whose code says what the administrator
// must do (unreachable, refused grant, invalid_grant, unusable settings, the certificate
// codes of the mail server's TLS) and whose text quotes the endpoint's `error` and
// `error_description`, never a token or secret.
#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/http.h"

// How requests reach the network; tests give one of their own.
using HttpPost = std::function<platform::HttpAnswer(const platform::HttpRequest&)>;

// The plain OAuth settings (common/layout.h) and the secrets the grants need.
struct OAuthSettings {
    std::string tokenUrl;
    std::string clientId;
    std::string scope;
    std::string deviceUrl;
    std::string caFile;  // SMTPCAFile: the same extra roots as for the mail server
    std::string clientSecret;
};

// A token endpoint's answer to a grant.
struct TokenGrant {
    std::string accessToken;
    std::time_t expiresAt = 0;
    std::string refreshToken;  // empty when none came
    std::string scope;         // as granted, empty when not said
};

using FormFields = std::vector<std::pair<std::string, std::string>>;

class TokenEndpoint {
  public:
    TokenEndpoint(OAuthSettings settings, HttpPost post)
        : settings_(std::move(settings)), post_(std::move(post)) {}

    // The refresh-token grant (RFC 6749 section 6).
    TokenGrant Refresh(const std::string& refreshToken, std::time_t now) const;
    // The client-credentials grant (section 4.4): credentials in the body first, then as
    // HTTP Basic when the endpoint refuses the body's as invalid_client.
    TokenGrant ClientCredentials(std::time_t now) const;

    // An answer of the endpoint at url to fields: the JSON object of a 2xx answer in
    // *object; a refusal with `error` gives false with *error set (the caller decides, as the
    // device flow must for authorization_pending); anything else throws.
    struct Answer {
        long status = 0;
        std::string error;        // `error` of a refusal
        std::string description;  // `error_description`, made safe for a log line
        std::string json;         // the whole 2xx answer
    };
    Answer Post(const std::string& url, const FormFields& fields, bool basic = false) const;
    // A token grant from a 2xx answer's JSON; throws kOAuthNoToken when it holds none.
    static TokenGrant ReadGrant(const std::string& json, std::time_t now);
    // Throws the failure that a refusal stands for (invalid_grant: the login must be repeated).
    [[noreturn]] void Refused(const std::string& url, const Answer& answer) const;

    const OAuthSettings& Settings() const { return settings_; }

  private:
    TokenGrant Grant(FormFields fields, std::time_t now) const;

    OAuthSettings settings_;
    HttpPost post_;
};

// What a URL is named by in messages: scheme, host and path, no query (which could hold
// anything).
std::string EndpointName(const std::string& url);
