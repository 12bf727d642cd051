// The SASL messages of the OAuth methods, before base64: XOAUTH2's initial response, and
// OAUTHBEARER's (RFC 7628) with its GS2 header, and what an error challenge says. Nothing
// here fails; an error challenge that is not the expected JSON has an empty status.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// "user=" user "\x01auth=Bearer " token "\x01\x01".
std::string XOAuth2Response(const std::string& user, const std::string& token);
// "n,a=" user "," "\x01host=" host "\x01port=" port "\x01auth=Bearer " token "\x01\x01"; the
// user name with "," and "=" escaped as RFC 5801 asks.
std::string OAuthBearerResponse(const std::string& user, const std::string& host,
                                std::uint32_t port, const std::string& token);
// The "status" of a decoded error challenge ({"status":"invalid_token","scope":...}), empty
// when it is not such a JSON object. Bounded to a short printable text: it goes into a log line.
std::string ErrorChallengeStatus(std::string_view decoded);
