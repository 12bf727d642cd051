// The one-time login of a delegated account: the device authorization grant (RFC 8628). The
// device endpoint gives a user code and a verification URL, which the caller shows; the token
// endpoint is then polled at the interval it asks for (five seconds more at each slow_down)
// until the user approved, refused (access_denied) or the code expired (expired_token, or its
// lifetime used up). Pauses go through the pacer, so a stop ends the wait. Failures throw
// the token endpoint's CSMTPExceptions.
#pragma once

#include <ctime>
#include <functional>
#include <string>

#include "mailer/oauth/token_endpoint.h"
#include "platform/pacer.h"

struct DevicePrompt {
    std::string verificationUrl;
    std::string userCode;
    long expiresIn = 0;  // seconds
};

// now: the time the grant's expiry counts from.
TokenGrant RunDeviceLogin(const TokenEndpoint& endpoint, platform::Pacer& pacer, std::time_t now,
                          const std::function<void(const DevicePrompt&)>& show);
