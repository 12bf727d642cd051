// A loopback TLS server for the TLS client's tests, with its certificates made at test time:
// a CA that issues server certificates for chosen names, addresses and validity. The server
// runs its TLS through memory buffers so a test decides what reaches the wire and when (a
// record cut in two, a peer that stops reading). Every wait is bounded.
#pragma once

#include <openssl/ssl.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace testing_support {

struct TlsIdentity {
    std::shared_ptr<EVP_PKEY> key;
    std::shared_ptr<X509> certificate;
};

class TlsTestCa {
  public:
    explicit TlsTestCa(const std::string& commonName);
    // A server certificate valid from now + notBeforeSeconds to now + notAfterSeconds.
    TlsIdentity Issue(const std::vector<std::string>& dnsNames,
                      const std::vector<std::string>& ipAddresses, long notBeforeSeconds = -3600,
                      long notAfterSeconds = 86400) const;
    // A server certificate that names its server only in the subject's CN, with no
    // subjectAltName, as certificates did before RFC 2818.
    TlsIdentity IssueWithNameInSubjectOnly(const std::string& commonName) const;
    void WritePem(const std::string& path) const;

  private:
    // alternatives: the subjectAltName's value ("DNS:a,IP:b"), none when empty.
    TlsIdentity IssueServer(const std::string& commonName, const std::string& alternatives,
                            long notBeforeSeconds, long notAfterSeconds) const;
    TlsIdentity self;
};

// The server side of one accepted connection.
class TlsServerConnection {
  public:
    TlsServerConnection(platform::SocketHandle socket, const TlsIdentity& identity);
    ~TlsServerConnection();
    // A hang guard: a handshake takes milliseconds here, but a client under sanitizers on a
    // busy machine may take seconds between its flights.
    bool Handshake(int timeoutMs = 30000);
    // One record, all of it on the wire.
    void Write(const std::string& text);
    // One record of which only the first bytes go out; SendHeld sends the rest.
    void WriteHeldBack(const std::string& text, std::size_t bytesSent);
    void SendHeld();
    // Reads decrypted bytes until count arrived, the peer closed or the time ran out.
    std::string Read(std::size_t count, int timeoutMs = 5000);
    void CloseNotify();
    // Raw bytes, bypassing TLS.
    void SendRaw(const std::string& bytes);

  private:
    bool Fill(int timeoutMs);  // one receive into the TLS input
    void Drain();              // TLS output to the wire

    platform::SocketHandle socket;
    SSL_CTX* context = nullptr;
    SSL* ssl = nullptr;
    BIO* input = nullptr;   // owned by ssl
    BIO* output = nullptr;  // owned by ssl
    std::string held;
};

class TlsTestServer {
  public:
    TlsTestServer();
    ~TlsTestServer();
    std::uint16_t Port() const { return port; }
    // Accepts one client on a thread of its own and hands it to session.
    void Start(std::function<void(platform::SocketHandle)> session);
    // Same, with the TLS handshake done first (session runs only when it succeeded).
    void StartTls(const TlsIdentity& identity, std::function<void(TlsServerConnection&)> session);
    // Waits for the session; true when its handshake succeeded (Start: always true).
    bool Finish();

  private:
    platform::SocketHandle listener = platform::kInvalidSocket;
    std::uint16_t port = 0;
    std::thread worker;
    std::atomic<bool> handshook{true};
};

}  // namespace testing_support
