// Message digests of the mail sender: MD5 (RFC 1321) and HMAC-MD5 (RFC 2104) for CRAM-MD5
// and NTLMv2, MD4 (RFC 1320) for the NTLM password hash. Pure computations; nothing fails.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using Digest16 = std::array<unsigned char, 16>;

// Incremental MD5. Final returns the digest and zeroes the context; it may then be reused
// as a fresh one.
class Md5Context {
  public:
    Md5Context() { Reset(); }
    ~Md5Context();
    void Reset();
    void Update(const void* data, std::size_t length);
    void Update(std::string_view bytes) { Update(bytes.data(), bytes.size()); }
    Digest16 Final();

  private:
    void Transform(const unsigned char block[64]);
    std::uint32_t state[4];
    std::uint64_t bitCount;
    unsigned char buffer[64];
};

// Incremental MD4, same shape as Md5Context.
class Md4Context {
  public:
    Md4Context() { Reset(); }
    ~Md4Context();
    void Reset();
    void Update(const void* data, std::size_t length);
    void Update(std::string_view bytes) { Update(bytes.data(), bytes.size()); }
    Digest16 Final();

  private:
    void Transform(const unsigned char block[64]);
    std::uint32_t state[4];
    std::uint64_t bitCount;
    unsigned char buffer[64];
};

Digest16 Md5(const void* data, std::size_t length);
inline Digest16 Md5(std::string_view bytes) {
    return Md5(bytes.data(), bytes.size());
}
Digest16 Md4(const void* data, std::size_t length);
inline Digest16 Md4(std::string_view bytes) {
    return Md4(bytes.data(), bytes.size());
}

// HMAC-MD5 with block size 64: HmacMd5(key, data). A key longer than 64 bytes is replaced by
// its MD5 digest.
Digest16 HmacMd5(std::string_view key, std::string_view data);
// The same with raw buffers, arguments in the order data, key.
void HmacMd5(const unsigned char* data, std::size_t dataLength, const unsigned char* key,
             std::size_t keyLength, unsigned char digest[16]);

// 32 lower-case hexadecimal digits ("%02x" per byte).
std::string DigestHex(const Digest16& digest);
