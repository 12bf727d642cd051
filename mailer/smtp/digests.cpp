// MD5 (RFC 1321), MD4 (RFC 1320) and HMAC-MD5 (RFC 2104) of the SMTP authentication, written
// here so the sender needs no crypto library; MD4 and MD5 share one block frame. Digests of any
// input; nothing fails. Contexts are wiped after finalising because they may have held a password.
#include "mailer/smtp/digests.h"

#include <cstring>

namespace {

inline std::uint32_t Rotl(std::uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

inline std::uint32_t Load32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline void Store32(std::uint32_t v, unsigned char* p) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

// Zeroing that the optimiser cannot drop.
void Wipe(void* p, std::size_t n) {
    volatile unsigned char* v = static_cast<volatile unsigned char*>(p);
    while (n-- > 0) {
        *v++ = 0;
    }
}

// A block's sixteen little-endian words.
void LoadWords(const unsigned char* block, std::uint32_t (&x)[16]) {
    for (int i = 0; i < 16; ++i) {
        x[i] = Load32(block + 4 * i);
    }
}

// The end of every step: the words move round, the new one in b's place.
inline void Rotate(std::uint32_t (&v)[4], std::uint32_t next) {
    v[0] = v[3];
    v[3] = v[2];
    v[2] = v[1];
    v[1] = next;
}

// The end of a block: the working words added to the state, the block's words wiped.
void AddAndWipe(std::uint32_t (&state)[4], const std::uint32_t (&v)[4], std::uint32_t (&x)[16]) {
    for (int i = 0; i < 4; ++i) {
        state[i] += v[i];
    }
    Wipe(x, sizeof(x));
}

}  // namespace

// ---- block functions ----

void Md5Compress(std::uint32_t (&state)[4], const unsigned char* block) {
    static const std::uint32_t k[64] = {
        0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
        0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
        0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
        0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
        0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
        0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
        0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
        0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
        0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
        0xeb86d391};
    static const int shifts[4][4] = {
        {7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
    std::uint32_t x[16];
    LoadWords(block, x);
    std::uint32_t v[4] = {state[0], state[1], state[2], state[3]};
    for (int i = 0; i < 64; ++i) {
        const std::uint32_t b = v[1], c = v[2], d = v[3];
        std::uint32_t f;
        int g;
        switch (i / 16) {
            case 0:
                f = (b & c) | (~b & d);
                g = i;
                break;
            case 1:
                f = (d & b) | (~d & c);
                g = (5 * i + 1) % 16;
                break;
            case 2:
                f = b ^ c ^ d;
                g = (3 * i + 5) % 16;
                break;
            default:
                f = c ^ (b | ~d);
                g = (7 * i) % 16;
                break;
        }
        Rotate(v, v[1] + Rotl(v[0] + f + k[i] + x[g], shifts[i / 16][i % 4]));
    }
    AddAndWipe(state, v, x);
}

void Md4Compress(std::uint32_t (&state)[4], const unsigned char* block) {
    // Three rounds of 16 steps: words in order, by column, in bit-reversed order.
    static const int shifts[3][4] = {{3, 7, 11, 19}, {3, 5, 9, 13}, {3, 9, 11, 15}};
    static const int words[3][16] = {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
                                     {0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15},
                                     {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15}};
    static const std::uint32_t added[3] = {0, 0x5a827999u, 0x6ed9eba1u};
    std::uint32_t x[16];
    LoadWords(block, x);
    std::uint32_t v[4] = {state[0], state[1], state[2], state[3]};
    for (int i = 0; i < 48; ++i) {
        const std::uint32_t b = v[1], c = v[2], d = v[3];
        const int round = i / 16;
        const std::uint32_t f = round == 0   ? (b & c) | (~b & d)
                                : round == 1 ? (b & c) | (b & d) | (c & d)
                                             : b ^ c ^ d;
        Rotate(v, Rotl(v[0] + f + x[words[round][i % 16]] + added[round], shifts[round][i % 4]));
    }
    AddAndWipe(state, v, x);
}

// ---- the frame ----

template <void (*Compress)(std::uint32_t (&)[4], const unsigned char*)>
BlockDigest<Compress>::~BlockDigest() {
    Wipe(this, sizeof(*this));
}

template <void (*Compress)(std::uint32_t (&)[4], const unsigned char*)>
void BlockDigest<Compress>::Reset() {
    // MD4 and MD5 start from the same words.
    state[0] = 0x67452301;
    state[1] = 0xefcdab89;
    state[2] = 0x98badcfe;
    state[3] = 0x10325476;
    bitCount = 0;
    std::memset(buffer, 0, sizeof(buffer));
}

template <void (*Compress)(std::uint32_t (&)[4], const unsigned char*)>
void BlockDigest<Compress>::Update(const void* data, std::size_t length) {
    const auto* in = static_cast<const unsigned char*>(data);
    std::size_t used = static_cast<std::size_t>((bitCount >> 3) & 63);
    bitCount += static_cast<std::uint64_t>(length) << 3;
    if (used > 0) {
        const std::size_t take = length < 64 - used ? length : 64 - used;
        std::memcpy(buffer + used, in, take);
        used += take;
        in += take;
        length -= take;
        if (used < 64) {
            return;
        }
        Compress(state, buffer);
    }
    while (length >= 64) {
        Compress(state, in);
        in += 64;
        length -= 64;
    }
    if (length > 0) {
        std::memcpy(buffer, in, length);
    }
}

template <void (*Compress)(std::uint32_t (&)[4], const unsigned char*)>
Digest16 BlockDigest<Compress>::Final() {
    unsigned char lengthBytes[8];
    const std::uint64_t bits = bitCount;
    for (int i = 0; i < 8; ++i) {
        lengthBytes[i] = static_cast<unsigned char>(bits >> (8 * i));
    }
    const std::size_t used = static_cast<std::size_t>((bits >> 3) & 63);
    static const unsigned char padding[64] = {0x80};
    Update(padding, used < 56 ? 56 - used : 120 - used);
    Update(lengthBytes, 8);
    Digest16 digest;
    for (int i = 0; i < 4; ++i) {
        Store32(state[i], digest.data() + 4 * i);
    }
    Wipe(state, sizeof(state));
    Wipe(buffer, sizeof(buffer));
    Wipe(&bitCount, sizeof(bitCount));
    Reset();
    return digest;
}

template class BlockDigest<Md5Compress>;
template class BlockDigest<Md4Compress>;

// ---- one-shot forms and HMAC ----

Digest16 Md5(std::string_view bytes) {
    Md5Context context;
    context.Update(bytes);
    return context.Final();
}

Digest16 Md4(std::string_view bytes) {
    Md4Context context;
    context.Update(bytes);
    return context.Final();
}

void HmacMd5(const unsigned char* data, std::size_t dataLength, const unsigned char* key,
             std::size_t keyLength, unsigned char digest[16]) {
    unsigned char block[64] = {};
    if (keyLength > 64) {
        const Digest16 reduced =
            Md5(std::string_view(reinterpret_cast<const char*>(key), keyLength));
        std::memcpy(block, reduced.data(), reduced.size());
    } else if (keyLength > 0) {
        std::memcpy(block, key, keyLength);
    }
    unsigned char pad[64];
    for (int i = 0; i < 64; ++i) {
        pad[i] = static_cast<unsigned char>(block[i] ^ 0x36);
    }
    Md5Context context;
    context.Update(pad, sizeof(pad));
    if (dataLength > 0) {
        context.Update(data, dataLength);
    }
    const Digest16 inner = context.Final();
    for (int i = 0; i < 64; ++i) {
        pad[i] = static_cast<unsigned char>(block[i] ^ 0x5c);
    }
    context.Update(pad, sizeof(pad));
    context.Update(inner.data(), inner.size());
    const Digest16 outer = context.Final();
    std::memcpy(digest, outer.data(), outer.size());
    Wipe(block, sizeof(block));
    Wipe(pad, sizeof(pad));
}

Digest16 HmacMd5(std::string_view key, std::string_view data) {
    Digest16 digest;
    HmacMd5(reinterpret_cast<const unsigned char*>(data.data()), data.size(),
            reinterpret_cast<const unsigned char*>(key.data()), key.size(), digest.data());
    return digest;
}

std::string DigestHex(const Digest16& digest) {
    static const char hex[] = "0123456789abcdef";
    std::string text;
    text.reserve(32);
    for (unsigned char b : digest) {
        text += hex[b >> 4];
        text += hex[b & 15];
    }
    return text;
}
