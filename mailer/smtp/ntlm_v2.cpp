// Client side of the NTLM exchange with NTLMv2 responses, for systems without an NTLM
// package. Message layouts are those of the NTLM protocol: 8-byte signature, message type,
// then (length, capacity, offset) triples pointing into a payload. Every field read from the
// server's challenge is bounds-checked; a bad challenge fails with kSecInvalidToken.
#include "mailer/smtp/ntlm_v2.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <utility>

#include "mailer/mime/encoders.h"

namespace {

constexpr char kSignature[8] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', '\0'};

constexpr std::uint32_t kNegotiateUnicode = 0x00000001;
constexpr std::uint32_t kNegotiateOem = 0x00000002;
constexpr std::uint32_t kRequestTarget = 0x00000004;
constexpr std::uint32_t kNegotiateNtlm = 0x00000200;
constexpr std::uint32_t kAlwaysSign = 0x00008000;
constexpr std::uint32_t kExtendedSessionSecurity = 0x00080000;
constexpr std::uint32_t kTargetInfo = 0x00800000;
constexpr std::uint32_t kNegotiate128 = 0x20000000;
constexpr std::uint32_t kNegotiate56 = 0x80000000;

constexpr std::uint32_t kClientFlags = kNegotiateUnicode | kNegotiateOem | kRequestTarget |
                                       kNegotiateNtlm | kAlwaysSign | kExtendedSessionSecurity |
                                       kNegotiate128 | kNegotiate56;

constexpr std::uint16_t kAvEol = 0;
constexpr std::uint16_t kAvTimestamp = 7;

// Seconds from 1601-01-01 (the NTLM time stamp's epoch) to 1970-01-01.
constexpr std::int64_t kEpochDifference = 11644473600;

void PutU16(std::string* out, std::uint16_t v) {
    out->push_back(static_cast<char>(v & 0xFF));
    out->push_back(static_cast<char>(v >> 8));
}

void PutU32(std::string* out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
}

void PutU64(std::string* out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) {
        out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
}

std::uint16_t GetU16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t GetU32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Writes a (length, capacity, offset) triple at position pos of the fixed header.
void SetField(std::string* message, std::size_t pos, std::size_t length, std::size_t offset) {
    std::string field;
    PutU16(&field, static_cast<std::uint16_t>(length));
    PutU16(&field, static_cast<std::uint16_t>(length));
    PutU32(&field, static_cast<std::uint32_t>(offset));
    message->replace(pos, field.size(), field);
}

// Upper case of the code points an 8-bit ANSI text can hold.
std::uint32_t UpperOf(std::uint32_t c) {
    if (c >= 'a' && c <= 'z') {
        return c - 0x20;
    }
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) {
        return c - 0x20;
    }
    switch (c) {
        case 0xFF:
            return 0x178;
        case 0x161:
            return 0x160;
        case 0x153:
            return 0x152;
        case 0x17E:
            return 0x17D;
        default:
            return c;
    }
}

std::string DigestBytes(const Digest16& d) {
    return std::string(reinterpret_cast<const char*>(d.data()), d.size());
}

// What the AUTHENTICATE message needs of the server's CHALLENGE message.
struct ServerChallenge {
    std::uint32_t flags = 0;
    std::string challenge;   // 8 bytes
    std::string targetInfo;  // the AV pairs, may be empty
};

// Every field is bounds-checked: false for anything that is not a whole CHALLENGE message.
bool ReadChallenge(const unsigned char* message, std::size_t length, ServerChallenge* out) {
    if (!message || length < 32 || std::memcmp(message, kSignature, 8) != 0 ||
        GetU32(message + 8) != 2) {
        return false;
    }
    out->flags = GetU32(message + 20);
    out->challenge.assign(reinterpret_cast<const char*>(message + 24), 8);
    if (length >= 48) {
        const std::uint32_t infoLength = GetU16(message + 40);
        const std::uint32_t infoOffset = GetU32(message + 44);
        if (infoLength > 0) {
            if (infoOffset > length || infoLength > length - infoOffset) {
                return false;
            }
            out->targetInfo.assign(reinterpret_cast<const char*>(message + infoOffset), infoLength);
        }
    }
    return true;
}

// The response's time stamp: the server's, when its target info carries one (that keeps the
// response inside its window), else the clock's, in 100 ns since 1601.
std::uint64_t Timestamp(const std::string& targetInfo, const platform::Clock& clock,
                        bool* fromServer) {
    for (std::size_t pos = 0; pos + 4 <= targetInfo.size();) {
        const auto* pair = reinterpret_cast<const unsigned char*>(targetInfo.data() + pos);
        const std::uint16_t id = GetU16(pair);
        const std::uint16_t len = GetU16(pair + 2);
        if (id == kAvEol || pos + 4 + len > targetInfo.size()) {
            break;
        }
        if (id == kAvTimestamp && len == 8) {
            *fromServer = true;
            return static_cast<std::uint64_t>(GetU32(pair + 4)) |
                   (static_cast<std::uint64_t>(GetU32(pair + 8)) << 32);
        }
        pos += 4 + len;
    }
    *fromServer = false;
    const std::int64_t seconds = static_cast<std::int64_t>(clock.Now()) + kEpochDifference;
    return seconds > 0 ? static_cast<std::uint64_t>(seconds) * 10000000u : 0;
}

// The AUTHENTICATE message: the 64-byte fixed part, then domain, user and the two responses
// (no workstation, no session key: no signing or sealing follows).
std::string AuthenticateMessage(const std::string& domain, const std::string& user,
                                const std::string& lmResponse, const std::string& ntResponse,
                                std::uint32_t flags) {
    std::string message(kSignature, sizeof kSignature);
    PutU32(&message, 3);
    message.append(64 - message.size(), '\0');
    std::size_t offset = 64;
    SetField(&message, 28, domain.size(), offset);
    offset += domain.size();
    SetField(&message, 36, user.size(), offset);
    offset += user.size();
    SetField(&message, 44, 0, offset);
    SetField(&message, 12, lmResponse.size(), offset);
    offset += lmResponse.size();
    SetField(&message, 20, ntResponse.size(), offset);
    offset += ntResponse.size();
    SetField(&message, 52, 0, offset);
    std::string flagBytes;
    PutU32(&flagBytes, flags);
    message.replace(60, 4, flagBytes);
    return message + domain + user + lmResponse + ntResponse;
}

}  // namespace

NtlmV2Provider::NtlmV2Provider(const std::string& user, std::string passwordText,
                               const platform::Clock& clockSource)
    : password(std::move(passwordText)), clock(clockSource) {
    std::size_t slash = user.find('\\');
    if (slash == std::string::npos) {
        userName = user;
    } else {
        domainName = user.substr(0, slash);
        userName = user.substr(slash + 1);
    }
}

NtlmV2Provider::~NtlmV2Provider() {
    // The password does not outlive the provider in readable form.
    std::fill(password.begin(), password.end(), '\0');
}

std::string NtlmV2Provider::ToUtf16(std::string_view ansi, bool upper) {
    // AnsiToUtf8 gives well-formed UTF-8; decode it into UTF-16LE units.
    std::string utf8 = AnsiToUtf8(ansi);
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        unsigned char b = static_cast<unsigned char>(utf8[i]);
        std::uint32_t cp = b;
        std::size_t extra = 0;
        if (b >= 0xF0) {
            cp = b & 0x07;
            extra = 3;
        } else if (b >= 0xE0) {
            cp = b & 0x0F;
            extra = 2;
        } else if (b >= 0xC0) {
            cp = b & 0x1F;
            extra = 1;
        }
        ++i;
        for (std::size_t k = 0; k < extra && i < utf8.size(); ++k, ++i) {
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i]) & 0x3F);
        }
        if (upper) {
            cp = UpperOf(cp);
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            PutU16(&out, static_cast<std::uint16_t>(0xD800 + (cp >> 10)));
            PutU16(&out, static_cast<std::uint16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            PutU16(&out, static_cast<std::uint16_t>(cp));
        }
    }
    return out;
}

Digest16 NtlmV2Provider::ResponseKey(std::string_view user, std::string_view domain,
                                     std::string_view password) {
    Digest16 ntHash = Md4(ToUtf16(password));
    std::string identity = ToUtf16(user, true) + ToUtf16(domain);
    return HmacMd5(DigestBytes(ntHash), identity);
}

platform::SecurityStatus NtlmV2Provider::AcquireCredentials() {
    haveCredentials = true;
    return platform::kSecOk;
}

std::string NtlmV2Provider::BuildNegotiate() const {
    std::string message(kSignature, sizeof kSignature);
    PutU32(&message, 1);
    PutU32(&message, kClientFlags);
    // Neither domain nor workstation is supplied here.
    message.append(16, '\0');
    SetField(&message, 16, 0, 32);
    SetField(&message, 24, 0, 32);
    return message;
}

platform::SecurityStatus NtlmV2Provider::BuildAuthenticate(const unsigned char* challenge,
                                                           std::size_t length, std::string* out) {
    ServerChallenge server;
    if (!ReadChallenge(challenge, length, &server)) {
        return platform::kSecInvalidToken;
    }
    if (!fixedChallenge) {
        std::random_device random;
        for (auto& byte : clientChallenge) {
            byte = static_cast<unsigned char>(random() & 0xFF);
        }
    }
    const std::string client(reinterpret_cast<const char*>(clientChallenge.data()), 8);
    const std::string key = DigestBytes(ResponseKey(userName, domainName, password));
    bool serverTime = false;
    const std::uint64_t timestamp = Timestamp(server.targetInfo, clock, &serverTime);
    std::string blob;
    blob += "\x01\x01";
    blob.append(6, '\0');
    PutU64(&blob, timestamp);
    blob += client;
    blob.append(4, '\0');
    blob += server.targetInfo;
    blob.append(4, '\0');
    const std::string ntResponse = DigestBytes(HmacMd5(key, server.challenge + blob)) + blob;
    // With the server's time stamp the LMv2 response is left out, as the protocol asks.
    const std::string lmResponse =
        serverTime ? std::string(24, '\0')
                   : DigestBytes(HmacMd5(key, server.challenge + client)) + client;

    const bool unicode = (server.flags & kNegotiateUnicode) != 0;
    std::uint32_t flags =
        (server.flags & (kClientFlags | kTargetInfo)) & ~(kNegotiateUnicode | kNegotiateOem);
    flags |= unicode ? kNegotiateUnicode : kNegotiateOem;
    std::string message =
        AuthenticateMessage(unicode ? ToUtf16(domainName) : domainName,
                            unicode ? ToUtf16(userName) : userName, lmResponse, ntResponse, flags);
    if (message.size() > 0xFFFF) {
        return platform::kSecInvalidToken;  // target info too large for the field widths
    }
    *out = std::move(message);
    return platform::kSecOk;
}

platform::SecurityStatus NtlmV2Provider::InitializeContext(const unsigned char* input,
                                                           std::size_t inputLength,
                                                           unsigned char* output,
                                                           std::size_t* outputLength) {
    if (!haveCredentials) {
        return platform::kSecInternalError;
    }
    std::string token;
    platform::SecurityStatus status;
    if (step == 0) {
        token = BuildNegotiate();
        status = platform::kSecContinueNeeded;
    } else if (step == 1) {
        status = BuildAuthenticate(input, inputLength, &token);
        if (status < 0) {
            *outputLength = 0;
            return status;
        }
    } else {
        *outputLength = 0;
        return platform::kSecInvalidToken;  // the exchange is already over
    }
    if (token.size() > *outputLength) {
        *outputLength = 0;
        return platform::kSecBufferTooSmall;
    }
    std::memcpy(output, token.data(), token.size());
    *outputLength = token.size();
    ++step;
    return status;
}

platform::SecurityStatus NtlmV2Provider::CompleteToken(unsigned char*, std::size_t*) {
    return platform::kSecOk;  // never asked for: the tokens are complete as written
}

void NtlmV2Provider::DeleteContext() {
    step = 0;
}

void NtlmV2Provider::FreeCredentials() {
    haveCredentials = false;
}
