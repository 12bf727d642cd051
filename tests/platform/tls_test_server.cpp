// Loopback TLS server and test CA: certificates made with OpenSSL at test time, TLS through
// memory buffers that the server moves to and from its socket itself.
#include "tests/platform/tls_test_server.h"

#include <openssl/err.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace testing_support {
namespace {

std::shared_ptr<EVP_PKEY> NewKey() {
    return std::shared_ptr<EVP_PKEY>(EVP_EC_gen("P-256"), EVP_PKEY_free);
}

void AddExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    if (!extension) {
        throw std::runtime_error("bad extension " + value);
    }
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

// An unsigned certificate for key, issued by issuer (itself when issuer is null).
std::shared_ptr<X509> NewCertificate(EVP_PKEY* key, const std::string& commonName, X509* issuer,
                                     long notBefore, long notAfter) {
    std::shared_ptr<X509> certificate(X509_new(), X509_free);
    X509* x = certificate.get();
    X509_set_version(x, 2);
    unsigned char serial[8];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7F;
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(number, X509_get_serialNumber(x));
    BN_free(number);
    X509_gmtime_adj(X509_getm_notBefore(x), notBefore);
    X509_gmtime_adj(X509_getm_notAfter(x), notAfter);
    X509_set_pubkey(x, key);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    X509_set_issuer_name(x, X509_get_subject_name(issuer ? issuer : x));
    return certificate;
}

}  // namespace

TlsTestCa::TlsTestCa(const std::string& commonName) {
    self.key = NewKey();
    self.certificate = NewCertificate(self.key.get(), commonName, nullptr, -86400, 10 * 86400);
    X509* x = self.certificate.get();
    AddExtension(x, x, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(x, x, NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(x, x, NID_subject_key_identifier, "hash");
    X509_sign(x, self.key.get(), EVP_sha256());
}

TlsIdentity TlsTestCa::Issue(const std::vector<std::string>& dnsNames,
                             const std::vector<std::string>& ipAddresses, long notBeforeSeconds,
                             long notAfterSeconds) const {
    std::string alternatives;
    for (const std::string& name : dnsNames) {
        alternatives += (alternatives.empty() ? "DNS:" : ",DNS:") + name;
    }
    for (const std::string& address : ipAddresses) {
        alternatives += (alternatives.empty() ? "IP:" : ",IP:") + address;
    }
    return IssueServer(dnsNames.empty() ? "server" : dnsNames[0], alternatives, notBeforeSeconds,
                       notAfterSeconds);
}

TlsIdentity TlsTestCa::IssueWithNameInSubjectOnly(const std::string& commonName) const {
    return IssueServer(commonName, "", -3600, 86400);
}

TlsIdentity TlsTestCa::IssueServer(const std::string& commonName, const std::string& alternatives,
                                   long notBeforeSeconds, long notAfterSeconds) const {
    TlsIdentity issued;
    issued.key = NewKey();
    issued.certificate = NewCertificate(issued.key.get(), commonName, self.certificate.get(),
                                        notBeforeSeconds, notAfterSeconds);
    X509* x = issued.certificate.get();
    AddExtension(x, self.certificate.get(), NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(x, self.certificate.get(), NID_ext_key_usage, "serverAuth");
    AddExtension(x, self.certificate.get(), NID_authority_key_identifier, "keyid");
    if (!alternatives.empty()) {
        AddExtension(x, self.certificate.get(), NID_subject_alt_name, alternatives);
    }
    X509_sign(x, self.key.get(), EVP_sha256());
    return issued;
}

void TlsTestCa::WritePem(const std::string& path) const {
    FILE* file = std::fopen(path.c_str(), "w");
    if (!file) {
        throw std::runtime_error("cannot write " + path);
    }
    PEM_write_X509(file, self.certificate.get());
    std::fclose(file);
}

TlsServerConnection::TlsServerConnection(platform::SocketHandle socket, const TlsIdentity& identity)
    : socket(socket) {
    context = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate(context, identity.certificate.get());
    SSL_CTX_use_PrivateKey(context, identity.key.get());
    ssl = SSL_new(context);
    input = BIO_new(BIO_s_mem());
    output = BIO_new(BIO_s_mem());
    SSL_set_bio(ssl, input, output);
    SSL_set_accept_state(ssl);
}

TlsServerConnection::~TlsServerConnection() {
    SSL_free(ssl);
    SSL_CTX_free(context);
    ERR_clear_error();
}

bool TlsServerConnection::Fill(int timeoutMs) {
    if (platform::SocketWaitReadable(socket, static_cast<std::uint32_t>(timeoutMs)) != 1) {
        return false;
    }
    char buffer[16384];
    long n = platform::SocketReceive(socket, buffer, sizeof buffer);
    if (n <= 0) {
        return false;
    }
    BIO_write(input, buffer, static_cast<int>(n));
    return true;
}

void TlsServerConnection::SendRaw(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        long n = platform::SocketSend(socket, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

void TlsServerConnection::Drain() {
    char buffer[16384];
    int n;
    while ((n = BIO_read(output, buffer, sizeof buffer)) > 0) {
        SendRaw(std::string(buffer, static_cast<std::size_t>(n)));
    }
}

bool TlsServerConnection::Handshake(int timeoutMs) {
    for (;;) {
        int rc = SSL_do_handshake(ssl);
        Drain();
        if (rc == 1) {
            return true;
        }
        if (SSL_get_error(ssl, rc) != SSL_ERROR_WANT_READ || !Fill(timeoutMs)) {
            return false;
        }
    }
}

void TlsServerConnection::Write(const std::string& text) {
    SSL_write(ssl, text.data(), static_cast<int>(text.size()));
    Drain();
}

void TlsServerConnection::WriteHeldBack(const std::string& text, std::size_t bytesSent) {
    Drain();
    SSL_write(ssl, text.data(), static_cast<int>(text.size()));
    std::string record;
    char buffer[16384];
    int n;
    while ((n = BIO_read(output, buffer, sizeof buffer)) > 0) {
        record.append(buffer, static_cast<std::size_t>(n));
    }
    SendRaw(record.substr(0, bytesSent));
    held = record.substr(bytesSent);
}

void TlsServerConnection::SendHeld() {
    SendRaw(held);
    held.clear();
}

std::string TlsServerConnection::Read(std::size_t count, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string text;
    char buffer[16384];
    while (text.size() < count) {
        int n = SSL_read(ssl, buffer, sizeof buffer);
        Drain();
        if (n > 0) {
            text.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (SSL_get_error(ssl, n) != SSL_ERROR_WANT_READ || left <= 0 ||
            !Fill(static_cast<int>(left))) {
            break;
        }
    }
    return text;
}

void TlsServerConnection::CloseNotify() {
    SSL_shutdown(ssl);
    Drain();
}

TlsTestServer::TlsTestServer() {
    platform::SocketStartup();
    listener = platform::SocketListenLoopback(0);
    port = platform::SocketLocalPort(listener);
}

TlsTestServer::~TlsTestServer() {
    Finish();
    platform::SocketClose(listener);
}

void TlsTestServer::Start(std::function<void(platform::SocketHandle)> session) {
    worker = std::thread([this, session = std::move(session)] {
        platform::SocketHandle client = platform::SocketAccept(listener, 10000);
        if (client == platform::kInvalidSocket) {
            return;
        }
        session(client);
        platform::SocketClose(client);
    });
}

void TlsTestServer::StartTls(const TlsIdentity& identity,
                             std::function<void(TlsServerConnection&)> session) {
    Start([this, identity, session = std::move(session)](platform::SocketHandle client) {
        TlsServerConnection connection(client, identity);
        handshook = connection.Handshake();
        if (handshook) {
            session(connection);
        }
    });
}

bool TlsTestServer::Finish() {
    if (worker.joinable()) {
        worker.join();
    }
    return handshook;
}

}  // namespace testing_support
