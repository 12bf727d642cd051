// The base64 codec of both programs: the standard alphabet with "=" padding and no line
// breaks (RFC 4648). Encoding has one form. Decoding never fails outright, because both of
// its inputs come from other programs, but how it tolerates bad input is a choice each
// caller names:
//   - StopAtFirstBadByte (the proxy's log lines): decoding stops at the first byte outside
//     the alphabet (the end of the text counts as one), "=" counts as the value 0, a group
//     of four left unfinished is dropped, and the status says why it stopped.
//   - Lenient (the mail sender's server prompts): line ends, TAB and space (codes 7 to 13
//     and 32) are skipped, bit 7 is ignored, any other foreign byte counts as the value 62,
//     trailing "=" shorten their group, and an unfinished group gives the bytes it holds.
#pragma once

#include <string>
#include <string_view>

enum class Base64Decoding { StopAtFirstBadByte, Lenient };

// Why decoding stopped. A full decode of a well-formed text ends with kBase64Stopped, because
// the end of the text counts as a byte outside the alphabet. Lenient decoding gives only
// kBase64Empty or kBase64Stopped.
enum Base64Status : int {
    kBase64Empty = 0,       // the text was empty
    kBase64HighByte = 1,    // a byte above 0x7F
    kBase64Stopped = 2,     // a byte outside the alphabet and not "=" (the end included)
    kBase64Incomplete = 3,  // stopped inside a group of four; that group was dropped
};

// Decodes text into *out (replacing its content; zero bytes included) and returns the status.
int Base64Decode(std::string_view text, Base64Decoding policy, std::string* out);

// Encodes len (1 to 3) bytes of in into four characters, padding with "=" when len < 3.
// Bytes past len are taken as 0 (and not read), which is what a NUL-terminated text gives.
void Base64EncodeGroup(const unsigned char* in, char* out, int len);
// Every byte encoded, zero bytes included.
std::string Base64Encode(std::string_view bytes);
// The same, appended to *out (for encoding a stream piece by piece into one buffer).
void Base64EncodeAppend(std::string_view bytes, std::string* out);
