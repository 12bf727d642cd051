// Base64 codec of the mail sender (authentication exchanges and MIME bodies): one reusable
// object with its own growing, zero-terminated buffers. Encoding never fails; decoding never
// rejects input: characters outside the alphabet decode as the value 62 and a trailing
// incomplete group decodes as far as it goes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CBase64Codec {
  public:
    CBase64Codec() = default;
    CBase64Codec(const CBase64Codec&) = default;
    CBase64Codec& operator=(const CBase64Codec&) = default;
    virtual ~CBase64Codec() = default;

    // Encodes the bytes of a zero-terminated text; a null text does nothing.
    virtual void Encode(const char* text);
    virtual void Encode(const unsigned char* data, std::uint32_t length);
    // Decodes a zero-terminated text; a null text does nothing. Line ends, TAB and spaces
    // (codes 7 to 13 and 32) are skipped.
    virtual void Decode(const char* text);
    virtual void Decode(const unsigned char* data, std::uint32_t length);

    // Results of the last operation. Both buffers are zero-terminated; before any operation
    // they are empty texts.
    virtual const unsigned char* DecodedData() const;
    virtual const char* EncodedText() const;
    virtual std::uint32_t DecodedLength() const;
    virtual std::uint32_t EncodedLength() const;

    // Byte-string forms of the above (embedded zero bytes allowed).
    void EncodeBytes(std::string_view bytes);
    void DecodeText(std::string_view text);
    std::string EncodedString() const { return std::string(EncodedText(), EncodedLength()); }
    std::string DecodedString() const;

    // Allocated sizes (the buffer rule: grow only, to (n / 4096 + 1) * 4096 bytes).
    std::uint32_t DecodedCapacity() const { return decodedCapacity; }
    std::uint32_t EncodedCapacity() const { return encodedCapacity; }

  protected:
    // Internal steps, replaceable by a derived coder.
    virtual void ReserveEncoded(std::uint32_t size);
    virtual void ReserveDecoded(std::uint32_t size);
    virtual void LoadEncoded(const unsigned char* data, std::uint32_t length);
    virtual void LoadDecoded(const unsigned char* data, std::uint32_t length);
    // One group of 1 to 3 bytes into 4 characters at out.
    virtual void EncodeGroup(const unsigned char* in, std::uint32_t count, char* out);
    // One group of 2 to 4 characters; returns the number of bytes written at out.
    virtual std::uint32_t DecodeGroup(const unsigned char* in, std::uint32_t count,
                                      unsigned char* out);
    virtual void SplitGroup(const unsigned char in[3], unsigned char out[4]);
    virtual void JoinGroup(const unsigned char in[4], unsigned char out[3]);
    virtual bool IsSkipped(unsigned char c) const;

  private:
    void DoEncode();
    void DoDecode();

    std::vector<unsigned char> decoded;  // capacity bytes, zero-filled on reserve
    std::vector<unsigned char> encoded;
    std::uint32_t decodedCapacity = 0;
    std::uint32_t encodedCapacity = 0;
    std::uint32_t decodedLength = 0;
    std::uint32_t encodedLength = 0;
};
