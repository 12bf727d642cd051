// Message digests of the SMTP authentication: MD5 (RFC 1321) and HMAC-MD5 (RFC 2104) for
// CRAM-MD5 and NTLMv2, MD4 (RFC 1320) for the NTLM password hash. Pure computations; nothing
// fails.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using Digest16 = std::array<unsigned char, 16>;

// The block functions: one 64-byte block into the four state words.
void Md5Compress(std::uint32_t (&state)[4], const unsigned char* block);
void Md4Compress(std::uint32_t (&state)[4], const unsigned char* block);

// An incremental digest of 64-byte blocks with a little-endian bit count, the frame that MD4
// and MD5 share; they differ only in the block function. Final returns the digest and wipes
// the context (it may have held a password); it may then be reused as a fresh one.
template <void (*Compress)(std::uint32_t (&)[4], const unsigned char*)>
class BlockDigest {
  public:
    BlockDigest() { Reset(); }
    ~BlockDigest();
    BlockDigest(const BlockDigest&) = delete;
    BlockDigest& operator=(const BlockDigest&) = delete;
    void Reset();
    void Update(const void* data, std::size_t length);
    void Update(std::string_view bytes) { Update(bytes.data(), bytes.size()); }
    Digest16 Final();

  private:
    std::uint32_t state[4];
    std::uint64_t bitCount;
    unsigned char buffer[64];
};

using Md5Context = BlockDigest<Md5Compress>;
using Md4Context = BlockDigest<Md4Compress>;

Digest16 Md5(std::string_view bytes);
Digest16 Md4(std::string_view bytes);

// HMAC-MD5 with block size 64: HmacMd5(key, data). A key longer than 64 bytes is replaced by
// its MD5 digest.
Digest16 HmacMd5(std::string_view key, std::string_view data);
// The same with raw buffers, arguments in the order data, key.
void HmacMd5(const unsigned char* data, std::size_t dataLength, const unsigned char* key,
             std::size_t keyLength, unsigned char digest[16]);

// 32 lower-case hexadecimal digits ("%02x" per byte).
std::string DigestHex(const Digest16& digest);
