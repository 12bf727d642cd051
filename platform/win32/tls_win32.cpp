// Windows backend of the TLS client: Schannel through SSPI, so the system's certificate
// store and its policies apply. The socket is non-blocking for the session's life and every
// wait is a select on the call's own deadline. The certificate is checked by us after the
// handshake (manual validation) so that each reason has its own answer: the chain with the
// SSL policy for the host name, our own match of the name or IP address against the
// certificate's subjectAltName entries (never its subject), and the roots of SMTPCAFile as an
// in-memory store the chain may end in.
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>
#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>
#include <sspi.h>
#include <wincrypt.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/tls.h"
#include "platform/win32/cert_verify.h"

#ifndef SP_PROT_TLS1_3_CLIENT
#define SP_PROT_TLS1_3_CLIENT 0x00002000
#endif
#ifndef SECURITY_FLAG_IGNORE_UNKNOWN_CA  // wininet.h's, not worth the header
#define SECURITY_FLAG_IGNORE_UNKNOWN_CA 0x00000100
#endif

namespace platform {

struct TlsSession {
    SOCKET socket = INVALID_SOCKET;
    CredHandle credentials{};
    bool haveCredentials = false;
    CtxtHandle context{};
    bool haveContext = false;
    SecPkgContext_StreamSizes sizes{};
    std::string serverName;  // sent as the server name; empty for an address
    std::string incoming;    // received, not yet decrypted
    std::string plain;       // decrypted, not yet received
    std::size_t plainStart = 0;
    bool peerClosed = false;
};

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxCaFile = 4u << 20;

Clock::time_point DeadlineAfter(std::uint32_t timeoutMs) {
    return Clock::now() + std::chrono::milliseconds(timeoutMs);
}

// 1 ready, 0 time-out (WSAETIMEDOUT set), -1 error.
int WaitFor(SOCKET socket, bool forWrite, Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    auto ms = static_cast<std::uint32_t>(std::clamp<long long>(left.count(), 0, 0x7FFFFFFF));
    auto handle = static_cast<SocketHandle>(socket);
    return forWrite ? SocketWaitWritable(handle, ms) : SocketWaitReadable(handle, ms);
}

bool SendAll(TlsSession* s, const char* data, std::size_t length, Clock::time_point deadline) {
    while (length > 0) {
        int chunk = static_cast<int>(std::min<std::size_t>(length, 0x7FFFFFFF));
        int n = ::send(s->socket, data, chunk, 0);
        if (n == SOCKET_ERROR) {
            if (::WSAGetLastError() != WSAEWOULDBLOCK || WaitFor(s->socket, true, deadline) <= 0) {
                return false;
            }
            continue;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

// Appends what arrives to incoming: the count, 0 when the peer closed, -1 on error or
// time-out (WSAETIMEDOUT).
int ReceiveSome(TlsSession* s, Clock::time_point deadline) {
    char buffer[16384];
    for (;;) {
        int n = ::recv(s->socket, buffer, sizeof buffer, 0);
        if (n >= 0) {
            s->incoming.append(buffer, static_cast<std::size_t>(n));
            return n;
        }
        if (::WSAGetLastError() != WSAEWOULDBLOCK || WaitFor(s->socket, false, deadline) <= 0) {
            return -1;
        }
    }
}

std::string StatusText(const char* what, long status) {
    char text[96];
    std::snprintf(text, sizeof text, "%s 0x%08lX", what, static_cast<unsigned long>(status));
    return text;
}

void SendToken(TlsSession* s, SecBuffer& token, Clock::time_point deadline) {
    if (token.pvBuffer) {
        if (token.cbBuffer > 0) {
            SendAll(s, static_cast<const char*>(token.pvBuffer), token.cbBuffer, deadline);
        }
        ::FreeContextBuffer(token.pvBuffer);
        token.pvBuffer = nullptr;
    }
}

// Runs the handshake (or a renegotiation the server started) until it is done.
SECURITY_STATUS Handshake(TlsSession* s, bool first, Clock::time_point deadline, bool* timedOut) {
    const DWORD flags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                        ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                        ISC_REQ_MANUAL_CRED_VALIDATION;
    char* target = s->serverName.empty() ? nullptr : &s->serverName[0];
    ULONG attributes = 0;
    SECURITY_STATUS status = SEC_I_CONTINUE_NEEDED;
    if (first) {
        SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out};
        status =
            ::InitializeSecurityContextA(&s->credentials, nullptr, target, flags, 0, 0, nullptr, 0,
                                         &s->context, &outDesc, &attributes, nullptr);
        if (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK) {
            s->haveContext = true;
        }
        SendToken(s, out, deadline);
        if (status != SEC_I_CONTINUE_NEEDED) {
            return status;
        }
    }
    bool needMore = s->incoming.empty();
    for (int round = 0; round < 64; ++round) {
        if (needMore) {
            int n = ReceiveSome(s, deadline);
            if (n <= 0) {
                *timedOut = n < 0 && ::WSAGetLastError() == WSAETIMEDOUT;
                return SEC_E_INTERNAL_ERROR;
            }
        }
        SecBuffer in[2] = {
            {static_cast<unsigned long>(s->incoming.size()), SECBUFFER_TOKEN, &s->incoming[0]},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
        SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out};
        status = ::InitializeSecurityContextA(&s->credentials, &s->context, target, flags, 0, 0,
                                              &inDesc, 0, nullptr, &outDesc, &attributes, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            needMore = true;
            continue;
        }
        // On failure the token may be the alert that tells the server why.
        SendToken(s, out, deadline);
        if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0) {
            s->incoming.erase(0, s->incoming.size() - in[1].cbBuffer);
        } else {
            s->incoming.clear();
        }
        if (status == SEC_E_OK) {
            return status;
        }
        if (status != SEC_I_CONTINUE_NEEDED && status != SEC_I_INCOMPLETE_CREDENTIALS) {
            return status;
        }
        needMore = s->incoming.empty();
    }
    return SEC_E_INTERNAL_ERROR;
}

bool IsIpv4Address(const std::string& host, std::uint32_t* address) {
    in_addr parsed{};
    if (::inet_pton(AF_INET, host.c_str(), &parsed) != 1) {
        return false;
    }
    std::memcpy(address, &parsed, sizeof *address);
    return true;
}

}  // namespace

HCERTSTORE LoadRoots(const std::string& caFile, std::string* detail) {
    std::ifstream file(caFile, std::ios::binary);
    if (!file) {
        *detail = caFile + ": cannot be opened";
        return nullptr;
    }
    std::string text;
    text.resize(kMaxCaFile + 1);
    file.read(&text[0], static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(file.gcount()));
    if (text.size() > kMaxCaFile) {
        *detail = caFile + ": larger than 4 MiB";
        return nullptr;
    }
    HCERTSTORE store = ::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    if (!store) {
        *detail = StatusText("cannot make a certificate store, error", ::GetLastError());
        return nullptr;
    }
    static const char kBegin[] = "-----BEGIN CERTIFICATE-----";
    static const char kEnd[] = "-----END CERTIFICATE-----";
    int added = 0;
    for (std::size_t at = text.find(kBegin); at != std::string::npos;
         at = text.find(kBegin, at + 1)) {
        std::size_t end = text.find(kEnd, at);
        if (end == std::string::npos) {
            break;
        }
        end += sizeof kEnd - 1;
        DWORD size = 0;
        const char* pem = text.data() + at;
        DWORD pemLength = static_cast<DWORD>(end - at);
        if (!::CryptStringToBinaryA(pem, pemLength, CRYPT_STRING_BASE64HEADER, nullptr, &size,
                                    nullptr, nullptr)) {
            continue;
        }
        std::vector<BYTE> der(size);
        if (::CryptStringToBinaryA(pem, pemLength, CRYPT_STRING_BASE64HEADER, der.data(), &size,
                                   nullptr, nullptr) &&
            ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                               CERT_STORE_ADD_ALWAYS, nullptr)) {
            ++added;
        }
    }
    if (added == 0) {
        ::CertCloseStore(store, 0);
        *detail = caFile + ": holds no PEM certificate";
        return nullptr;
    }
    return store;
}

namespace {

// True when one of the certificate's subjectAltName entries satisfies matches; false when it
// has none.
template <typename Matches>
bool AnyAltName(PCCERT_CONTEXT certificate, Matches matches) {
    PCERT_EXTENSION extension =
        ::CertFindExtension(szOID_SUBJECT_ALT_NAME2, certificate->pCertInfo->cExtension,
                            certificate->pCertInfo->rgExtension);
    if (!extension) {
        return false;
    }
    CERT_ALT_NAME_INFO* names = nullptr;
    DWORD size = 0;
    if (!::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                               extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names,
                               &size)) {
        return false;
    }
    bool found = false;
    for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
        found = matches(names->rgAltEntry[i]);
    }
    ::LocalFree(names);
    return found;
}

bool CertificateHasAddress(PCCERT_CONTEXT certificate, std::uint32_t address) {
    return AnyAltName(certificate, [address](const CERT_ALT_NAME_ENTRY& entry) {
        return entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == 4 &&
               std::memcmp(entry.IPAddress.pbData, &address, 4) == 0;
    });
}

bool EqualAsciiNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// A DNS entry for host: the same name in any case, or "*." and a name of two labels at least
// standing for exactly one more label in front (no partial wildcards).
bool DnsEntryNames(const wchar_t* entry, const std::string& host) {
    std::string pattern;
    for (; *entry; ++entry) {
        if (*entry > 127) {
            return false;  // names in certificates are ASCII (A-labels)
        }
        pattern += static_cast<char>(*entry);
    }
    if (pattern.rfind("*.", 0) != 0) {
        return pattern.find('*') == std::string::npos && EqualAsciiNoCase(pattern, host);
    }
    const std::string suffix = pattern.substr(2);
    const std::size_t dot = host.find('.');
    return suffix.find('.') != std::string::npos && suffix.find('*') == std::string::npos &&
           dot != std::string::npos && dot > 0 && EqualAsciiNoCase(host.substr(dot + 1), suffix);
}

// Schannel's SSL policy falls back to the subject's CN when a certificate has no DNS
// subjectAltName; a name there is no name (RFC 6125 6.4.4), so the entries are matched here.
bool CertificateHasName(PCCERT_CONTEXT certificate, const std::string& host) {
    return AnyAltName(certificate, [&host](const CERT_ALT_NAME_ENTRY& entry) {
        return entry.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME && entry.pwszDNSName &&
               DnsEntryNames(entry.pwszDNSName, host);
    });
}

TlsFailure FromPolicyError(DWORD error) {
    switch (error) {
        case static_cast<DWORD>(CERT_E_EXPIRED):
        case static_cast<DWORD>(CERT_E_VALIDITYPERIODNESTING):
            return TlsFailure::Expired;
        case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
        case static_cast<DWORD>(CERT_E_CHAINING):
        case static_cast<DWORD>(CERT_E_UNTRUSTEDCA):
            return TlsFailure::UnknownIssuer;
        case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
            return TlsFailure::NameMismatch;
        default:
            return TlsFailure::Certificate;
    }
}

// The chain engine's own verdict; revocation that could not be checked is no failure, as
// revocation is not asked for.
TlsFailure FromChainStatus(DWORD status, bool trustedByFile) {
    if (status & CERT_TRUST_IS_NOT_TIME_VALID) {
        return TlsFailure::Expired;
    }
    if (status & CERT_TRUST_IS_PARTIAL_CHAIN) {
        return TlsFailure::UnknownIssuer;
    }
    if ((status & CERT_TRUST_IS_UNTRUSTED_ROOT) && !trustedByFile) {
        return TlsFailure::UnknownIssuer;
    }
    const DWORD ignored = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_REVOCATION_STATUS_UNKNOWN |
                          CERT_TRUST_IS_OFFLINE_REVOCATION | CERT_TRUST_NO_ISSUANCE_CHAIN_POLICY;
    return (status & ~ignored) != 0 ? TlsFailure::Certificate : TlsFailure::None;
}

bool ChainEndsIn(PCCERT_CHAIN_CONTEXT chain, HCERTSTORE roots) {
    if (!roots || chain->cChain == 0 || chain->rgpChain[0]->cElement == 0) {
        return false;
    }
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
    PCCERT_CONTEXT top = simple->rgpElement[simple->cElement - 1]->pCertContext;
    PCCERT_CONTEXT found =
        ::CertFindCertificateInStore(roots, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, top, nullptr);
    if (found) {
        ::CertFreeCertificateContext(found);
    }
    return found != nullptr;
}

}  // namespace

TlsFailure VerifyServerCertificate(PCCERT_CONTEXT remote, const std::string& host, HCERTSTORE roots,
                                   std::string* detail) {
    HCERTSTORE additional = remote->hCertStore;  // the intermediates the server sent
    HCERTSTORE collection = nullptr;
    if (roots) {
        collection = ::CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
        if (collection) {
            ::CertAddStoreToCollection(collection, remote->hCertStore, 0, 0);
            ::CertAddStoreToCollection(collection, roots, 0, 0);
            additional = collection;
        }
    }
    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {serverAuth};
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    TlsFailure failure = TlsFailure::None;
    if (!::CertGetCertificateChain(nullptr, remote, nullptr, additional, &chainPara, 0, nullptr,
                                   &chain)) {
        *detail = StatusText("no certificate chain, error", ::GetLastError());
        failure = TlsFailure::Certificate;
    } else {
        std::uint32_t address = 0;
        bool byAddress = IsIpv4Address(host, &address);
        std::wstring wideHost;
        if (!byAddress) {
            int length = ::MultiByteToWideChar(CP_ACP, 0, host.c_str(), -1, nullptr, 0);
            wideHost.resize(length > 0 ? static_cast<std::size_t>(length) : 1);
            ::MultiByteToWideChar(CP_ACP, 0, host.c_str(), -1, &wideHost[0], length);
        }
        SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
        ssl.cbSize = sizeof ssl;
        ssl.dwAuthType = AUTHTYPE_SERVER;
        // An address is matched below: the policy knows names only.
        ssl.pwszServerName = byAddress ? nullptr : &wideHost[0];
        CERT_CHAIN_POLICY_PARA policy{};
        policy.cbSize = sizeof policy;
        policy.pvExtraPolicyPara = &ssl;
        CERT_CHAIN_POLICY_STATUS verdict{};
        verdict.cbSize = sizeof verdict;
        bool trustedByFile = ChainEndsIn(chain, roots);
        BOOL ran =
            ::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &verdict);
        if (ran && verdict.dwError == static_cast<DWORD>(CERT_E_UNTRUSTEDROOT) && trustedByFile) {
            // A root of SMTPCAFile: trusted here, everything else still checked.
            ssl.fdwChecks = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
            policy.dwFlags = CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG;
            verdict = CERT_CHAIN_POLICY_STATUS{};
            verdict.cbSize = sizeof verdict;
            ran =
                ::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &verdict);
        }
        TlsFailure fromChain = FromChainStatus(chain->TrustStatus.dwErrorStatus, trustedByFile);
        if (!ran) {
            *detail = StatusText("certificate policy not run, error", ::GetLastError());
            failure = TlsFailure::Certificate;
        } else if (verdict.dwError != 0) {
            *detail = StatusText("certificate refused, error", static_cast<long>(verdict.dwError));
            failure = FromPolicyError(verdict.dwError);
        } else if (fromChain != TlsFailure::None) {
            // Some policy engines pass a chain that stops short of any root; the chain's own
            // verdict is checked as well.
            *detail = StatusText("certificate chain refused, trust status",
                                 static_cast<long>(chain->TrustStatus.dwErrorStatus));
            failure = fromChain;
        } else if (byAddress && !CertificateHasAddress(remote, address)) {
            *detail = "the certificate has no IP address entry for " + host;
            failure = TlsFailure::NameMismatch;
        } else if (!byAddress && !CertificateHasName(remote, host)) {
            *detail = "the certificate has no DNS name entry for " + host +
                      " (a name only in its subject is not taken)";
            failure = TlsFailure::NameMismatch;
        }
        ::CertFreeCertificateChain(chain);
    }
    if (collection) {
        ::CertCloseStore(collection, 0);
    }
    return failure;
}

namespace {

// The server's certificate against the system's roots (and roots), host and usage.
TlsFailure VerifyServer(TlsSession* s, const std::string& host, HCERTSTORE roots,
                        std::string* detail) {
    PCCERT_CONTEXT remote = nullptr;
    SECURITY_STATUS status =
        ::QueryContextAttributesA(&s->context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote);
    if (status != SEC_E_OK || !remote) {
        *detail = StatusText("no server certificate, status", status);
        return TlsFailure::Certificate;
    }
    const TlsFailure failure = VerifyServerCertificate(remote, host, roots, detail);
    ::CertFreeCertificateContext(remote);
    return failure;
}

void Free(TlsSession* s) {
    if (s->haveContext) {
        ::DeleteSecurityContext(&s->context);
    }
    if (s->haveCredentials) {
        ::FreeCredentialsHandle(&s->credentials);
    }
    u_long blocking = 0;
    ::ioctlsocket(s->socket, FIONBIO, &blocking);
    delete s;
}

// 1 when decrypted bytes are held or the peer closed, 0 on time-out, -1 on error.
int Fill(TlsSession* s, Clock::time_point deadline) {
    for (;;) {
        if (s->plainStart < s->plain.size() || s->peerClosed) {
            return 1;
        }
        if (!s->incoming.empty()) {
            SecBuffer buffers[4] = {
                {static_cast<unsigned long>(s->incoming.size()), SECBUFFER_DATA, &s->incoming[0]},
                {0, SECBUFFER_EMPTY, nullptr},
                {0, SECBUFFER_EMPTY, nullptr},
                {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
            SECURITY_STATUS status = ::DecryptMessage(&s->context, &desc, 0, nullptr);
            if (status == SEC_E_OK || status == SEC_I_RENEGOTIATE ||
                status == SEC_I_CONTEXT_EXPIRED) {
                std::string data, extra;
                for (const SecBuffer& b : buffers) {
                    if (b.BufferType == SECBUFFER_DATA && b.pvBuffer) {
                        data.assign(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
                    } else if (b.BufferType == SECBUFFER_EXTRA && b.pvBuffer) {
                        extra.assign(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
                    }
                }
                s->plain = std::move(data);
                s->plainStart = 0;
                s->incoming = std::move(extra);
                if (status == SEC_I_CONTEXT_EXPIRED) {
                    s->peerClosed = true;  // the peer's goodbye
                } else if (status == SEC_I_RENEGOTIATE) {
                    bool timedOut = false;
                    if (Handshake(s, false, deadline, &timedOut) != SEC_E_OK) {
                        ::WSASetLastError(timedOut ? WSAETIMEDOUT : kWsaConnReset);
                        return -1;
                    }
                }
                continue;
            }
            if (status != SEC_E_INCOMPLETE_MESSAGE) {
                ::WSASetLastError(kWsaConnReset);
                return -1;
            }
        }
        int n = ReceiveSome(s, deadline);
        if (n == 0) {
            s->peerClosed = true;  // closed without goodbye: the end of the stream all the same
        } else if (n < 0) {
            return ::WSAGetLastError() == WSAETIMEDOUT ? 0 : -1;
        }
    }
}

}  // namespace

TlsSession* TlsConnect(SocketHandle socket, const std::string& host, const std::string& caFile,
                       std::uint32_t timeoutMs, TlsFailure* failure, std::string* detail) {
    *failure = TlsFailure::None;
    detail->clear();
    Clock::time_point deadline = DeadlineAfter(timeoutMs);
    HCERTSTORE roots = nullptr;
    if (!caFile.empty()) {
        roots = LoadRoots(caFile, detail);
        if (!roots) {
            *failure = TlsFailure::CaFile;
            return nullptr;
        }
    }
    auto* s = new TlsSession;
    s->socket = static_cast<SOCKET>(socket);
    std::uint32_t address = 0;
    if (!IsIpv4Address(host, &address)) {
        s->serverName = host;
    }
    auto fail = [&](TlsFailure why, std::string words) -> TlsSession* {
        *failure = why;
        *detail = std::move(words);
        if (roots) {
            ::CertCloseStore(roots, 0);
        }
        Free(s);
        return nullptr;
    };
    if (host.empty()) {
        return fail(TlsFailure::NameMismatch, "no host name to check");
    }
    u_long nonBlocking = 1;
    if (::ioctlsocket(s->socket, FIONBIO, &nonBlocking) == SOCKET_ERROR) {
        return fail(TlsFailure::Handshake, StatusText("socket error", ::WSAGetLastError()));
    }

    SCHANNEL_CRED settings{};
    settings.dwVersion = SCHANNEL_CRED_VERSION;
    settings.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    settings.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    char package[] = UNISP_NAME_A;
    SECURITY_STATUS status =
        ::AcquireCredentialsHandleA(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &settings,
                                    nullptr, nullptr, &s->credentials, nullptr);
    if (status != SEC_E_OK) {
        return fail(TlsFailure::Handshake, StatusText("no TLS credentials, status", status));
    }
    s->haveCredentials = true;

    bool timedOut = false;
    status = Handshake(s, true, deadline, &timedOut);
    if (status != SEC_E_OK) {
        return timedOut
                   ? fail(TlsFailure::Handshake, "no answer within the time-out")
                   : fail(TlsFailure::Handshake, StatusText("handshake failed, status", status));
    }
    SecPkgContext_ConnectionInfo info{};
    if (::QueryContextAttributesA(&s->context, SECPKG_ATTR_CONNECTION_INFO, &info) != SEC_E_OK ||
        (info.dwProtocol & (SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT)) == 0) {
        return fail(TlsFailure::Handshake, "the server does not speak TLS 1.2 or newer");
    }
    if (::QueryContextAttributesA(&s->context, SECPKG_ATTR_STREAM_SIZES, &s->sizes) != SEC_E_OK) {
        return fail(TlsFailure::Handshake, "no stream sizes");
    }
    std::string why;
    TlsFailure verified = VerifyServer(s, host, roots, &why);
    if (verified != TlsFailure::None) {
        return fail(verified, why);
    }
    if (roots) {
        ::CertCloseStore(roots, 0);
    }
    return s;
}

long TlsSend(TlsSession* s, const void* data, std::size_t length, std::uint32_t timeoutMs) {
    Clock::time_point deadline = DeadlineAfter(timeoutMs);
    const char* next = static_cast<const char*>(data);
    std::size_t left = length;
    std::string record;
    while (left > 0) {
        std::size_t piece = std::min<std::size_t>(left, s->sizes.cbMaximumMessage);
        record.assign(s->sizes.cbHeader + piece + s->sizes.cbTrailer, '\0');
        char* head = &record[0];
        std::memcpy(head + s->sizes.cbHeader, next, piece);
        SecBuffer buffers[4] = {
            {s->sizes.cbHeader, SECBUFFER_STREAM_HEADER, head},
            {static_cast<unsigned long>(piece), SECBUFFER_DATA, head + s->sizes.cbHeader},
            {s->sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, head + s->sizes.cbHeader + piece},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        if (::EncryptMessage(&s->context, 0, &desc, 0) != SEC_E_OK) {
            ::WSASetLastError(kWsaConnReset);
            return -1;
        }
        std::size_t total = buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
        if (!SendAll(s, head, total, deadline)) {
            return -1;
        }
        next += piece;
        left -= piece;
    }
    return static_cast<long>(length);
}

long TlsReceive(TlsSession* s, void* buffer, std::size_t size, std::uint32_t timeoutMs) {
    if (size == 0) {
        return 0;
    }
    int ready = Fill(s, DeadlineAfter(timeoutMs));
    if (ready <= 0) {
        return -1;
    }
    std::size_t held = s->plain.size() - s->plainStart;
    if (held == 0) {
        return 0;  // the peer closed
    }
    std::size_t count = std::min(held, size);
    std::memcpy(buffer, s->plain.data() + s->plainStart, count);
    s->plainStart += count;
    return static_cast<long>(count);
}

int TlsWaitReadable(TlsSession* s, std::uint32_t timeoutMs) {
    return Fill(s, DeadlineAfter(timeoutMs));
}

void TlsClose(TlsSession* s) {
    if (!s) {
        return;
    }
    if (s->haveContext && !s->peerClosed) {
        // One try at the goodbye: whatever the socket takes at once.
        DWORD type = SCHANNEL_SHUTDOWN;
        SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
        SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, &control};
        if (::ApplyControlToken(&s->context, &controlDesc) == SEC_E_OK) {
            SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
            SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out};
            ULONG attributes = 0;
            char* target = s->serverName.empty() ? nullptr : &s->serverName[0];
            ::InitializeSecurityContextA(&s->credentials, &s->context, target,
                                         ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                             ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY |
                                             ISC_REQ_STREAM,
                                         0, 0, nullptr, 0, nullptr, &outDesc, &attributes, nullptr);
            SendToken(s, out, Clock::now());
        }
    }
    Free(s);
}

}  // namespace platform
