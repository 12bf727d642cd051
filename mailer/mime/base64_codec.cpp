// Base64 codec of the mail sender (RFC 2045 alphabet, "=" padding). Buffers grow in steps
// of 4096 bytes and are zero-filled on every reserve, so results are always zero-terminated.
// Decoding is lenient by design: unknown characters count as the value 62, a lone trailing
// character is ignored. A request too large for 32-bit lengths throws std::length_error.
#include "mailer/mime/base64_codec.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr unsigned char kNotInAlphabet = 254;
constexpr unsigned char kPad = 255;
constexpr std::uint32_t kStep = 4096;

// One table for every codec, built on first use. Characters with bit 7 set decode as the
// same character without it.
const std::array<unsigned char, 256>& DecodingTable() {
    static const std::array<unsigned char, 256> table = [] {
        std::array<unsigned char, 256> t{};
        t.fill(kNotInAlphabet);
        for (unsigned i = 0; i < 64; ++i) {
            const auto c = static_cast<unsigned char>(kAlphabet[i]);
            t[c] = static_cast<unsigned char>(i);
            t[c | 0x80] = static_cast<unsigned char>(i);
        }
        t['='] = kPad;
        t['=' | 0x80] = kPad;
        return t;
    }();
    return table;
}

void Reserve(std::vector<unsigned char>& buffer, std::uint32_t& capacity, std::uint32_t& length,
             std::uint64_t size) {
    if (size > UINT32_MAX - kStep) {
        throw std::length_error("base64 buffer too large");
    }
    if (capacity < size) {
        capacity = static_cast<std::uint32_t>((size / kStep + 1) * kStep);
        buffer.assign(capacity, 0);
    } else {
        std::fill(buffer.begin(), buffer.end(), 0);
    }
    length = 0;
}

}  // namespace

void CBase64Codec::Encode(const char* text) {
    if (text == nullptr) {
        return;
    }
    Encode(reinterpret_cast<const unsigned char*>(text),
           static_cast<std::uint32_t>(std::strlen(text)));
}

void CBase64Codec::Encode(const unsigned char* data, std::uint32_t length) {
    LoadDecoded(data, length);
    // Twice the input is enough from 2 bytes on, and the step rounding covers the rest.
    const std::uint64_t exact = (static_cast<std::uint64_t>(length) + 2) / 3 * 4;
    ReserveEncoded(static_cast<std::uint32_t>(
        std::min<std::uint64_t>(std::max<std::uint64_t>(2ull * length, exact), UINT32_MAX)));
    DoEncode();
}

void CBase64Codec::Decode(const char* text) {
    if (text == nullptr) {
        return;
    }
    Decode(reinterpret_cast<const unsigned char*>(text),
           static_cast<std::uint32_t>(std::strlen(text)));
}

void CBase64Codec::Decode(const unsigned char* data, std::uint32_t length) {
    LoadEncoded(data, length);
    ReserveDecoded(encodedLength);
    DoDecode();
}

void CBase64Codec::EncodeBytes(std::string_view bytes) {
    if (bytes.size() > UINT32_MAX - kStep) {
        throw std::length_error("base64 input too large");
    }
    Encode(reinterpret_cast<const unsigned char*>(bytes.data()),
           static_cast<std::uint32_t>(bytes.size()));
}

void CBase64Codec::DecodeText(std::string_view text) {
    if (text.size() > UINT32_MAX - kStep) {
        throw std::length_error("base64 input too large");
    }
    Decode(reinterpret_cast<const unsigned char*>(text.data()),
           static_cast<std::uint32_t>(text.size()));
}

const unsigned char* CBase64Codec::DecodedData() const {
    static const unsigned char empty[1] = {0};
    return decoded.empty() ? empty : decoded.data();
}

const char* CBase64Codec::EncodedText() const {
    return encoded.empty() ? "" : reinterpret_cast<const char*>(encoded.data());
}

std::uint32_t CBase64Codec::DecodedLength() const {
    return decodedLength;
}
std::uint32_t CBase64Codec::EncodedLength() const {
    return encodedLength;
}

std::string CBase64Codec::DecodedString() const {
    return std::string(reinterpret_cast<const char*>(DecodedData()), DecodedLength());
}

void CBase64Codec::ReserveEncoded(std::uint32_t size) {
    Reserve(encoded, encodedCapacity, encodedLength, size);
}

void CBase64Codec::ReserveDecoded(std::uint32_t size) {
    Reserve(decoded, decodedCapacity, decodedLength, size);
}

void CBase64Codec::LoadEncoded(const unsigned char* data, std::uint32_t length) {
    ReserveEncoded(length);
    std::uint32_t kept = 0;
    for (std::uint32_t i = 0; i < length; ++i) {
        if (!IsSkipped(data[i])) {
            encoded[kept++] = data[i];
        }
    }
    encodedLength = kept;
}

void CBase64Codec::LoadDecoded(const unsigned char* data, std::uint32_t length) {
    ReserveDecoded(length);
    if (length > 0) {
        std::memcpy(decoded.data(), data, length);
    }
    decodedLength = length;
}

void CBase64Codec::SplitGroup(const unsigned char in[3], unsigned char out[4]) {
    out[0] = static_cast<unsigned char>(in[0] >> 2);
    out[1] = static_cast<unsigned char>(((in[0] & 0x03) << 4) | (in[1] >> 4));
    out[2] = static_cast<unsigned char>(((in[1] & 0x0F) << 2) | (in[2] >> 6));
    out[3] = static_cast<unsigned char>(in[2] & 0x3F);
}

void CBase64Codec::JoinGroup(const unsigned char in[4], unsigned char out[3]) {
    out[0] = static_cast<unsigned char>((in[0] << 2) | (in[1] >> 4));
    out[1] = static_cast<unsigned char>((in[1] << 4) | (in[2] >> 2));
    out[2] = static_cast<unsigned char>((in[2] << 6) | in[3]);
}

bool CBase64Codec::IsSkipped(unsigned char c) const {
    return (c >= 7 && c <= 13) || c == ' ';
}

void CBase64Codec::EncodeGroup(const unsigned char* in, std::uint32_t count, char* out) {
    unsigned char bytes[3] = {0, 0, 0};
    std::memcpy(bytes, in, count);
    unsigned char values[4];
    SplitGroup(bytes, values);
    for (int i = 0; i < 4; ++i) {
        out[i] = kAlphabet[values[i]];
    }
    if (count < 3) {
        out[3] = '=';
    }
    if (count < 2) {
        out[2] = '=';
    }
}

std::uint32_t CBase64Codec::DecodeGroup(const unsigned char* in, std::uint32_t count,
                                        unsigned char* out) {
    const auto& table = DecodingTable();
    unsigned char values[4] = {0, 0, 0, 0};
    for (std::uint32_t i = 0; i < count; ++i) {
        const unsigned char v = table[in[i]];
        values[i] = v == kNotInAlphabet ? 62 : v == kPad ? 0 : v;
    }
    unsigned char bytes[3];
    JoinGroup(values, bytes);
    // 4 characters carry 3 bytes, 3 carry 2, 2 carry 1; each trailing pad (at most two)
    // stands for a missing byte.
    std::uint32_t n = count - 1;
    for (std::uint32_t i = count; i > count - 2 && n > 0 && table[in[i - 1]] == kPad; --i) {
        --n;
    }
    std::memcpy(out, bytes, n);
    return n;
}

void CBase64Codec::DoEncode() {
    std::uint32_t in = 0;
    std::uint32_t out = 0;
    auto* text = reinterpret_cast<char*>(encoded.data());
    while (in < decodedLength) {
        const std::uint32_t count = std::min<std::uint32_t>(3, decodedLength - in);
        EncodeGroup(decoded.data() + in, count, text + out);
        in += count;
        out += 4;
    }
    encodedLength = out;
}

void CBase64Codec::DoDecode() {
    std::uint32_t in = 0;
    std::uint32_t out = 0;
    while (encodedLength - in >= 2) {
        const std::uint32_t count = std::min<std::uint32_t>(4, encodedLength - in);
        // Groups are written one after the other, so padding inside the text (joined
        // encodings) leaves no gaps of stale bytes.
        out += DecodeGroup(encoded.data() + in, count, decoded.data() + out);
        in += count;
    }
    decodedLength = out;
}
