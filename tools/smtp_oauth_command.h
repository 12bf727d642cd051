// `tallyctl smtp oauth set|test|login`: the OAuth settings of XOAUTH2 and OAUTHBEARER.
//   set [--provider microsoft|google|custom] [--tenant T] [--account app|user]
//       [--client-id ID] [--client-secret S] [--scope S] [--token-url U] [--device-url U]
//     writes what is given; a provider fills in its documented URLs and scope (Microsoft:
//     the application scope with --account app, the default when a client secret is given,
//     else the delegated one). Any change forgets the cached access token.
//   test   fetches a token and prints its expiry and granted scope, never the token.
//   login  the one-time device login of a delegated account; stores the refresh token.
// Exit status: 0 done, 1 the token endpoint failed (its line on standard error), 2 usage
// error or a value that cannot be stored.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// args are the words after "oauth".
int RunSmtpOAuthCommand(const std::vector<std::string>& args);

// The OAuth lines of `tallyctl smtp show` (secrets as set / not set only).
void PrintOAuthSettings(std::FILE* out);
