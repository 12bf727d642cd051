// Base64 codec with the tolerance the proxy's logs need; see base64.h for the statuses.
#include "stats/base64.h"

#include <cstring>

namespace stats {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// 6-bit value of a base64 character, 0 for "=", -1 for anything else.
int SextetOf(unsigned char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    if (c == '=')
        return 0;
    return -1;
}

// Runs the decoder over text (treated as ending with a NUL) and hands every decoded byte to
// emit. Returns the status.
template <typename Emit>
int DecodeInto(std::string_view text, Emit emit) {
    if (text.empty())
        return kBase64Empty;
    unsigned int accumulator = 0;
    int pending = 0;
    int status = kBase64Stopped;
    for (std::size_t i = 0;; ++i) {
        const unsigned char c = i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
        if (c > 0x7F) {
            status = kBase64HighByte;
            break;
        }
        const int value = SextetOf(c);
        if (value < 0) {
            status = kBase64Stopped;
            break;
        }
        accumulator = (accumulator << 6) | static_cast<unsigned int>(value);
        if (++pending == 4) {
            emit(static_cast<char>((accumulator >> 16) & 0xFF));
            emit(static_cast<char>((accumulator >> 8) & 0xFF));
            emit(static_cast<char>(accumulator & 0xFF));
            accumulator = 0;
            pending = 0;
        }
    }
    return pending != 0 ? kBase64Incomplete : status;
}

}  // namespace

int Base64Decode(const char* text, char* out) {
    std::size_t n = 0;
    const int status = DecodeInto(std::string_view(text), [&](char c) { out[n++] = c; });
    out[n] = '\0';
    return status;
}

int Base64Decode(std::string_view text, std::string* out) {
    out->clear();
    out->reserve(text.size() / 4 * 3);
    return DecodeInto(text, [&](char c) { out->push_back(c); });
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
