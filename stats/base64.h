// The base64 codec of the proxy's log lines and of the statistic lines: standard alphabet,
// "=" padding, no line breaks. The decoder is deliberately tolerant because the logs are
// written by another program: it stops at the first byte it cannot use, keeps every complete
// group decoded so far, and says through its status why it stopped (nobody has to look).
#pragma once

#include <string>
#include <string_view>

namespace stats {

// Why decoding stopped. A full decode of a well-formed text ends with kBase64Stopped,
// because the end of the text counts as a byte outside the alphabet.
enum Base64Status : int {
    kBase64Empty = 0,       // the text was empty
    kBase64HighByte = 1,    // a byte above 0x7F
    kBase64Stopped = 2,     // a byte outside the alphabet and not "=" (the end included)
    kBase64Incomplete = 3,  // stopped inside a group of four; that group was dropped
};

// Decodes a NUL-terminated text into out, which needs room for strlen(text) / 4 * 3 + 1
// bytes, and NUL-terminates it. "=" decodes as the value 0, so 'QQ==' yields "A\0\0".
int Base64Decode(const char* text, char* out);
// The same over a counted text; the end of the view (or an embedded NUL) ends decoding.
// out receives every decoded byte, zero bytes included.
int Base64Decode(std::string_view text, std::string* out);
// A decoded line as the readers use it: decoded as above and cut at the first zero byte,
// the way a C string ends there.
std::string Base64DecodeText(std::string_view text);

// Encodes len (1 to 3) bytes of in into four characters, padding with "=" when len < 3.
// Bytes past len are taken as 0 (and not read), which is what a NUL-terminated text gives.
void Base64EncodeGroup(const unsigned char* in, char* out, int len);
// Encodes a NUL-terminated text into out (room for (strlen + 2) / 3 * 4 + 1 bytes).
void Base64Encode(const char* text, char* out);
// Encodes a counted text; every byte is encoded, zero bytes included.
std::string Base64Encode(std::string_view text);

}  // namespace stats
