// The one base64 codec; see the header for the two decoding policies. Encoding and decoding
// never fail; the strict policy reports through its status where it stopped.
#include "common/base64.h"

#include <algorithm>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Value of each byte under each policy: 0 to 63 for the alphabet, and the marks below.
constexpr unsigned char kForeign = 0xFE;  // not in the alphabet
constexpr unsigned char kHigh = 0xFF;     // strict: above 0x7F
constexpr unsigned char kPad = 0xFF;      // lenient: "=", with or without bit 7

struct SextetTables {
    unsigned char strict[256];
    unsigned char lenient[256];
    constexpr SextetTables() : strict(), lenient() {
        for (int c = 0; c < 256; ++c) {
            strict[c] = c > 0x7F ? kHigh : kForeign;
            lenient[c] = kForeign;
        }
        for (int i = 0; i < 64; ++i) {
            const auto c = static_cast<unsigned char>(kAlphabet[i]);
            strict[c] = static_cast<unsigned char>(i);
            lenient[c] = static_cast<unsigned char>(i);
            lenient[c | 0x80] = static_cast<unsigned char>(i);
        }
        strict[static_cast<unsigned char>('=')] = 0;
        lenient[static_cast<unsigned char>('=')] = kPad;
        lenient[static_cast<unsigned char>('=') | 0x80] = kPad;
    }
};
constexpr SextetTables kSextets;

// Decodes text (treated as ending with a NUL) into out, which has room for
// text.size() / 4 * 3 bytes; *written receives the count. Returns the status.
int DecodeStrict(std::string_view text, char* out, std::size_t* written) {
    *written = 0;
    if (text.empty()) {
        return kBase64Empty;
    }
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    const unsigned char* table = kSextets.strict;
    std::size_t i = 0;
    char* o = out;
    // Whole groups of four alphabet characters.
    while (i + 4 <= n) {
        const unsigned a = table[in[i]], b = table[in[i + 1]], c = table[in[i + 2]],
                       d = table[in[i + 3]];
        if ((a | b | c | d) & 0xC0) {
            break;
        }
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
        const unsigned v = i < n ? table[in[i]] : kForeign;
        if (v == kHigh) {
            status = kBase64HighByte;
            break;
        }
        if (v == kForeign) {
            break;
        }
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

bool IsSkipped(unsigned char c) {
    return (c >= 7 && c <= 13) || c == ' ';
}

int DecodeLenient(std::string_view text, std::string* out) {
    std::string kept;
    kept.reserve(text.size());
    for (char c : text) {
        if (!IsSkipped(static_cast<unsigned char>(c))) {
            kept += c;
        }
    }
    out->clear();
    out->reserve(kept.size() / 4 * 3 + 2);
    const unsigned char* table = kSextets.lenient;
    const auto* in = reinterpret_cast<const unsigned char*>(kept.data());
    // Groups are taken one after the other, so padding inside the text (joined encodings)
    // leaves no gaps; a single leftover character carries no whole byte.
    for (std::size_t at = 0; kept.size() - at >= 2;) {
        const std::size_t count = std::min<std::size_t>(4, kept.size() - at);
        unsigned bits = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            const unsigned char v = i < count ? table[in[at + i]] : 0;
            bits = (bits << 6) | (v == kForeign ? 62 : v == kPad ? 0 : v);
        }
        // 4 characters carry 3 bytes, 3 carry 2, 2 carry 1; each trailing pad (at most two)
        // stands for a missing byte.
        std::size_t bytes = count - 1;
        for (std::size_t i = count; i > count - 2 && bytes > 0 && table[in[at + i - 1]] == kPad;
             --i) {
            --bytes;
        }
        const char group[3] = {static_cast<char>(bits >> 16), static_cast<char>((bits >> 8) & 0xFF),
                               static_cast<char>(bits & 0xFF)};
        out->append(group, bytes);
        at += count;
    }
    return text.empty() ? kBase64Empty : kBase64Stopped;
}

}  // namespace

int Base64Decode(std::string_view text, Base64Decoding policy, std::string* out) {
    if (policy == Base64Decoding::Lenient) {
        return DecodeLenient(text, out);
    }
    out->resize(text.size() / 4 * 3);
    std::size_t n = 0;
    const int status = DecodeStrict(text, out->data(), &n);
    out->resize(n);
    return status;
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

void Base64EncodeAppend(std::string_view bytes, std::string* out) {
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t at = out->size();
    out->resize(at + (bytes.size() + 2) / 3 * 4);
    char* o = out->data() + at;
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3, o += 4) {
        Base64EncodeGroup(in + i, o, 3);
    }
    if (i < bytes.size()) {
        Base64EncodeGroup(in + i, o, static_cast<int>(bytes.size() - i));
    }
}

std::string Base64Encode(std::string_view bytes) {
    std::string encoded;
    Base64EncodeAppend(bytes, &encoded);
    return encoded;
}
