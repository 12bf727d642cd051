// The token endpoint's requests and the judging of its answers (see the header).
#include "mailer/oauth/token_endpoint.h"

#include <algorithm>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "mailer/smtp/smtp_exception.h"
#include "mailer/smtp/smtp_failures.h"

namespace {

// An endpoint's own words, shown in a log line: printable ASCII, bounded.
std::string SafeText(const std::string& text, std::size_t limit = 200) {
    std::string out;
    for (unsigned char c : text.substr(0, limit)) {
        out += c >= ' ' && c <= '~' ? static_cast<char>(c) : '?';
    }
    return out;
}

std::string StringField(const nlohmann::json& object, const char* name) {
    auto it = object.find(name);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

[[noreturn]] void Throw(std::uint32_t code, const std::string& text) {
    throw SmtpProtocolFailure(code, text);
}

// The errors that say the client or its settings are wrong: repeating will not help.
bool IsRefusal(const std::string& error) {
    static const char* const kRefusals[] = {
        "invalid_request", "invalid_client", "unauthorized_client", "unsupported_grant_type",
        "invalid_scope",   "access_denied",  "expired_token"};
    for (const char* refusal : kRefusals) {
        if (error == refusal) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string EndpointName(const std::string& url) {
    return SafeText(url.substr(0, url.find_first_of("?#")));
}

TokenEndpoint::Answer TokenEndpoint::Post(const std::string& url, const FormFields& fields,
                                          bool basic) const {
    platform::HttpRequest request;
    request.url = url;
    request.caFile = settings_.caFile;
    for (const auto& [name, value] : fields) {
        if (basic && (name == "client_id" || name == "client_secret")) {
            continue;
        }
        request.form += (request.form.empty() ? "" : "&") + platform::FormEncode(name) + "=" +
                        platform::FormEncode(value);
    }
    if (basic) {
        // RFC 6749 2.3.1: the credentials are form-encoded before they go into Basic.
        request.basicUser = platform::FormEncode(settings_.clientId);
        request.basicPassword = platform::FormEncode(settings_.clientSecret);
    }
    const std::string where = EndpointName(url);
    const platform::HttpAnswer http = post_(request);
    switch (http.failure) {
        case platform::HttpFailure::None:
            break;
        case platform::HttpFailure::Url:
            Throw(kOAuthSettings, where + " is not an https URL (" + SafeText(http.detail) + ")");
        case platform::HttpFailure::Unreachable:
            Throw(kOAuthUnreachable, where + ": " + SafeText(http.detail));
        case platform::HttpFailure::TooLarge:
            Throw(kOAuthNoToken, where + ": " + SafeText(http.detail));
        case platform::HttpFailure::Tls:
            throw CSMTPException(TlsFailureCode(http.tls),
                                 "token endpoint " + where + ": " + SafeText(http.detail));
    }
    Answer answer;
    answer.status = http.status;
    const nlohmann::json json = nlohmann::json::parse(http.body, nullptr, false);
    const bool ok = http.status >= 200 && http.status < 300;
    if (ok && json.is_object()) {
        answer.json = http.body;
        return answer;
    }
    const std::string status = "HTTP " + std::to_string(http.status) + " from " + where;
    if (!json.is_object()) {
        Throw(kOAuthNoToken, status + ": the answer is not JSON");
    }
    answer.error = SafeText(StringField(json, "error"), 64);
    answer.description = SafeText(StringField(json, "error_description"));
    // An endpoint may quote what it was sent; the secrets among that stay out of our lines.
    for (const auto& [name, value] : fields) {
        const bool secret =
            name == "client_secret" || name == "refresh_token" || name == "device_code";
        for (std::size_t at; secret && !value.empty() &&
                             (at = answer.description.find(value)) != std::string::npos;) {
            answer.description.replace(at, value.size(), "[withheld]");
        }
    }
    if (answer.error.empty()) {
        Throw(kOAuthNoToken, status + ": the answer names no error");
    }
    return answer;
}

void TokenEndpoint::Refused(const std::string& url, const Answer& answer) const {
    std::string text = "HTTP " + std::to_string(answer.status) + " from " + EndpointName(url) +
                       ": " + answer.error;
    if (!answer.description.empty()) {
        text += ": " + answer.description;
    }
    if (answer.error == "invalid_grant") {
        Throw(kOAuthInvalidGrant, text);
    }
    // An unknown error (temporarily_unavailable, a server's own) may pass on a later try.
    Throw(IsRefusal(answer.error) ? kOAuthGrantRefused : kOAuthNoToken, text);
}

TokenGrant TokenEndpoint::ReadGrant(const std::string& json, std::time_t now) {
    const nlohmann::json object = nlohmann::json::parse(json, nullptr, false);
    TokenGrant grant;
    if (object.is_object()) {
        grant.accessToken = StringField(object, "access_token");
        grant.refreshToken = StringField(object, "refresh_token");
        grant.scope = SafeText(StringField(object, "scope"));
        // Without expires_in the token is taken as good for an hour, what providers give.
        long long lifetime = 3600;
        auto it = object.find("expires_in");
        if (it != object.end() && it->is_number_integer()) {
            lifetime = it->get<long long>();
        } else if (it != object.end() && it->is_string()) {
            lifetime = std::atoll(it->get<std::string>().c_str());
        }
        lifetime = std::max(0LL, std::min(lifetime, 366LL * 86400));
        grant.expiresAt = now + static_cast<std::time_t>(lifetime);
    }
    // A token goes on an AUTH line inside base64, but it must still be a token (RFC 6750).
    if (grant.accessToken.empty() || grant.accessToken.size() > 16 * 1024 ||
        grant.accessToken.find_first_of(" \x01\r\n") != std::string::npos) {
        Throw(kOAuthNoToken, "the answer holds no usable access_token");
    }
    if (grant.refreshToken.find_first_of("\r\n") != std::string::npos) {
        grant.refreshToken.clear();
    }
    return grant;
}

TokenGrant TokenEndpoint::Grant(FormFields fields, std::time_t now) const {
    fields.emplace_back("client_id", settings_.clientId);
    if (!settings_.clientSecret.empty()) {
        fields.emplace_back("client_secret", settings_.clientSecret);
    }
    if (!settings_.scope.empty()) {
        fields.emplace_back("scope", settings_.scope);
    }
    Answer answer = Post(settings_.tokenUrl, fields);
    if (answer.error == "invalid_client" && !settings_.clientSecret.empty()) {
        answer = Post(settings_.tokenUrl, fields, true);
    }
    if (!answer.error.empty()) {
        Refused(settings_.tokenUrl, answer);
    }
    return ReadGrant(answer.json, now);
}

TokenGrant TokenEndpoint::Refresh(const std::string& refreshToken, std::time_t now) const {
    return Grant({{"grant_type", "refresh_token"}, {"refresh_token", refreshToken}}, now);
}

TokenGrant TokenEndpoint::ClientCredentials(std::time_t now) const {
    return Grant({{"grant_type", "client_credentials"}}, now);
}
