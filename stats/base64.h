// The log store's base64: the common codec with the policy the proxy's logs need (decoding
// stops at the first byte it cannot use and keeps every complete group before it; see
// common/base64.h), under the names the statistics, reports and tools use.
#pragma once

#include <string>
#include <string_view>

#include "common/base64.h"

namespace stats {

using ::Base64Encode;
using ::Base64EncodeGroup;
using ::Base64Status;
using ::kBase64Empty;
using ::kBase64HighByte;
using ::kBase64Incomplete;
using ::kBase64Stopped;

// Decodes a counted text; the end of the view (or an embedded NUL) ends decoding. out
// receives every decoded byte, zero bytes included. Returns the status.
inline int Base64Decode(std::string_view text, std::string* out) {
    return ::Base64Decode(text, Base64Decoding::StopAtFirstBadByte, out);
}

// A decoded line as the readers use it: decoded as above and cut at the first zero byte,
// the way a C string ends there.
inline std::string Base64DecodeText(std::string_view text) {
    std::string decoded;
    Base64Decode(text, &decoded);
    const std::size_t nul = decoded.find('\0');
    if (nul != std::string::npos) {
        decoded.resize(nul);
    }
    return decoded;
}

}  // namespace stats
