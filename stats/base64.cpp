// Base64 codec with the tolerance the proxy's logs need; see base64.h for the statuses.
#include "stats/base64.h"

#include <cstring>

namespace stats {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// 6-bit value of each byte: 0 to 63 for the alphabet, 0 for "=", kForeign for any other
// byte of 0x7F or below, kHigh above it.
constexpr unsigned char kForeign = 0xFE;
constexpr unsigned char kHigh = 0xFF;

struct SextetTable {
    unsigned char value[256];
    constexpr SextetTable() : value() {
        for (int c = 0; c < 256; ++c)
            value[c] = c > 0x7F ? kHigh : kForeign;
        for (int i = 0; i < 64; ++i)
            value[static_cast<unsigned char>(kAlphabet[i])] = i;
        value[static_cast<unsigned char>('=')] = 0;
    }
};
constexpr SextetTable kSextets;

// Decodes text (treated as ending with a NUL) into out, which has room for
// text.size() / 4 * 3 bytes; *written receives the count. Returns the status.
int DecodeInto(std::string_view text, char* out, std::size_t* written) {
    *written = 0;
    if (text.empty())
        return kBase64Empty;
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    char* o = out;
    // Whole groups of four alphabet characters.
    while (i + 4 <= n) {
        const unsigned a = kSextets.value[in[i]], b = kSextets.value[in[i + 1]],
                       c = kSextets.value[in[i + 2]], d = kSextets.value[in[i + 3]];
        if ((a | b | c | d) & 0xC0)
            break;
        const unsigned bits = (a << 18) | (b << 12) | (c << 6) | d;
        o[0] = static_cast<char>(bits >> 16);
        o[1] = static_cast<char>((bits >> 8) & 0xFF);
        o[2] = static_cast<char>(bits & 0xFF);
        o += 3;
        i += 4;
    }
    // The rest, one character at a time, up to the first byte that ends decoding.
    int pending = 0;
    int status = kBase64Stopped;
    unsigned accumulator = 0;
    for (;; ++i) {
        const unsigned v = i < n ? kSextets.value[in[i]] : kForeign;
        if (v == kHigh) {
            status = kBase64HighByte;
            break;
        }
        if (v == kForeign)
            break;
        accumulator = (accumulator << 6) | v;
        if (++pending == 4) {
            o[0] = static_cast<char>((accumulator >> 16) & 0xFF);
            o[1] = static_cast<char>((accumulator >> 8) & 0xFF);
            o[2] = static_cast<char>(accumulator & 0xFF);
            o += 3;
            accumulator = 0;
            pending = 0;
        }
    }
    *written = static_cast<std::size_t>(o - out);
    return pending != 0 ? kBase64Incomplete : status;
}

}  // namespace

int Base64Decode(const char* text, char* out) {
    std::size_t n = 0;
    const int status = DecodeInto(std::string_view(text), out, &n);
    out[n] = '\0';
    return status;
}

int Base64Decode(std::string_view text, std::string* out) {
    out->resize(text.size() / 4 * 3);
    std::size_t n = 0;
    const int status = DecodeInto(text, out->data(), &n);
    out->resize(n);
    return status;
}

std::string Base64DecodeText(std::string_view text) {
    std::string decoded;
    Base64Decode(text, &decoded);
    const std::size_t nul = decoded.find('\0');
    if (nul != std::string::npos)
        decoded.resize(nul);
    return decoded;
}

void Base64EncodeGroup(const unsigned char* in, char* out, int len) {
    const unsigned char b0 = in[0];
    const unsigned char b1 = len >= 2 ? in[1] : 0;
    const unsigned char b2 = len >= 3 ? in[2] : 0;
    out[0] = kAlphabet[b0 >> 2];
    out[1] = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
    out[2] = len >= 2 ? kAlphabet[((b1 & 15) << 2) | (b2 >> 6)] : '=';
    out[3] = len >= 3 ? kAlphabet[b2 & 63] : '=';
}

namespace {

template <typename Out>
void EncodeInto(std::string_view text, Out out) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t i = 0;
    char group[4];
    for (; i + 3 <= text.size(); i += 3) {
        Base64EncodeGroup(bytes + i, group, 3);
        out(group);
    }
    if (i < text.size()) {
        Base64EncodeGroup(bytes + i, group, static_cast<int>(text.size() - i));
        out(group);
    }
}

}  // namespace

void Base64Encode(const char* text, char* out) {
    std::size_t n = 0;
    EncodeInto(std::string_view(text), [&](const char* group) {
        std::memcpy(out + n, group, 4);
        n += 4;
    });
    out[n] = '\0';
}

std::string Base64Encode(std::string_view text) {
    std::string encoded;
    encoded.reserve((text.size() + 2) / 3 * 4);
    EncodeInto(text, [&](const char* group) { encoded.append(group, 4); });
    return encoded;
}

}  // namespace stats
