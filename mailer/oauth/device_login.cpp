// The device authorization grant's dialogue with the endpoints (see the header).
#include "mailer/oauth/device_login.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "mailer/smtp/smtp_exception.h"
#include "mailer/smtp/smtp_failures.h"

namespace {

constexpr char kDeviceGrant[] = "urn:ietf:params:oauth:grant-type:device_code";
constexpr long kDefaultInterval = 5;  // RFC 8628 3.2
constexpr long kLongestInterval = 120;

std::string Text(const nlohmann::json& object, const char* name) {
    auto it = object.find(name);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

long Number(const nlohmann::json& object, const char* name, long fallback) {
    auto it = object.find(name);
    return it != object.end() && it->is_number_integer() ? it->get<long>() : fallback;
}

// Shown on a terminal: printable ASCII only.
bool Printable(const std::string& text) {
    return !text.empty() && text.size() <= 512 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c <= '~'; });
}

}  // namespace

TokenGrant RunDeviceLogin(const TokenEndpoint& endpoint, platform::Pacer& pacer, std::time_t now,
                          const std::function<void(const DevicePrompt&)>& show) {
    const OAuthSettings& settings = endpoint.Settings();
    if (settings.deviceUrl.rfind("https://", 0) != 0) {
        throw SmtpProtocolFailure(kOAuthSettings, settings.deviceUrl.empty()
                                                      ? "SMTPOAuthDeviceURL is not set"
                                                      : "SMTPOAuthDeviceURL is not an https URL");
    }
    FormFields ask = {{"client_id", settings.clientId}};
    if (!settings.scope.empty()) {
        ask.emplace_back("scope", settings.scope);
    }
    const TokenEndpoint::Answer codeAnswer = endpoint.Post(settings.deviceUrl, ask);
    if (!codeAnswer.error.empty()) {
        endpoint.Refused(settings.deviceUrl, codeAnswer);
    }
    const nlohmann::json code = nlohmann::json::parse(codeAnswer.json, nullptr, false);
    DevicePrompt prompt;
    prompt.userCode = Text(code, "user_code");
    // Google names it verification_url, as drafts of the RFC did.
    prompt.verificationUrl = Text(code, "verification_uri");
    if (prompt.verificationUrl.empty()) {
        prompt.verificationUrl = Text(code, "verification_url");
    }
    const std::string deviceCode = Text(code, "device_code");
    prompt.expiresIn = std::clamp(Number(code, "expires_in", 900), 1L, 86400L);
    long interval = std::clamp(Number(code, "interval", kDefaultInterval), 1L, kLongestInterval);
    if (deviceCode.empty() || !Printable(prompt.userCode) || !Printable(prompt.verificationUrl)) {
        throw SmtpProtocolFailure(kOAuthNoToken, "the device endpoint " +
                                                     EndpointName(settings.deviceUrl) +
                                                     " gave no usable code and URL");
    }
    show(prompt);

    FormFields poll = {{"grant_type", kDeviceGrant},
                       {"device_code", deviceCode},
                       {"client_id", settings.clientId}};
    if (!settings.clientSecret.empty()) {
        poll.emplace_back("client_secret", settings.clientSecret);
    }
    long waited = 0;
    for (;;) {
        if (waited + interval > prompt.expiresIn) {
            throw SmtpProtocolFailure(kOAuthGrantRefused,
                                      "the login was not approved before its code expired");
        }
        if (!pacer.Pause(static_cast<std::uint32_t>(interval * 1000))) {
            throw SmtpProtocolFailure(kOAuthGrantRefused, "the login was stopped");
        }
        waited += interval;
        const TokenEndpoint::Answer answer = endpoint.Post(settings.tokenUrl, poll);
        if (answer.error.empty()) {
            return TokenEndpoint::ReadGrant(answer.json, now + waited);
        }
        if (answer.error == "authorization_pending") {
            continue;
        }
        if (answer.error == "slow_down") {
            interval = std::min(interval + 5, kLongestInterval);
            continue;
        }
        endpoint.Refused(settings.tokenUrl, answer);
    }
}
