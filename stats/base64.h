// The log store's base64: the common codec with the policy the proxy's logs need (decoding
// stops at the first byte it cannot use and keeps every complete group before it; see
// common/base64.h), under the names the statistics, reports and tools use.
#pragma once

#include <cstring>
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

// Decodes a NUL-terminated text into out, which needs room for strlen(text) / 4 * 3 + 1
// bytes, and NUL-terminates it. "=" decodes as the value 0, so 'QQ==' yields "A\0\0".
inline int Base64Decode(const char* text, char* out) {
    std::string decoded;
    const int status = Base64Decode(std::string_view(text), &decoded);
    std::memcpy(out, decoded.data(), decoded.size());
    out[decoded.size()] = '\0';
    return status;
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

// Encodes a NUL-terminated text into out (room for (strlen + 2) / 3 * 4 + 1 bytes).
inline void Base64Encode(const char* text, char* out) {
    const std::string encoded = ::Base64Encode(text);
    std::memcpy(out, encoded.data(), encoded.size());
    out[encoded.size()] = '\0';
}

}  // namespace stats
