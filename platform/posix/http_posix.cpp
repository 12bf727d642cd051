// HttpPostForm through libcurl with its OpenSSL back end: https only, no redirects, TLS 1.2 or
// newer, the system's roots plus the request's PEM file, the answer capped while it arrives.
// The proxy comes from the environment (https_proxy, no_proxy), as curl takes it.
#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <mutex>

#include "platform/http.h"
#include "platform/posix/openssl_verify.h"

namespace platform {

namespace {

struct Transfer {
    const HttpRequest* request;
    HttpAnswer* answer;
    bool tooLarge = false;
    bool caFileFailed = false;
};

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const std::size_t bytes = size * count;
    if (transfer->answer->body.size() + bytes > transfer->request->maxAnswerBytes) {
        transfer->tooLarge = true;
        return 0;  // ends the transfer
    }
    transfer->answer->body.append(data, bytes);
    return bytes;
}

// The extra roots go into the store curl has already filled with the system's.
CURLcode AddRoots(CURL*, void* sslContext, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const std::string& caFile = transfer->request->caFile;
    if (!caFile.empty() && SSL_CTX_load_verify_locations(static_cast<SSL_CTX*>(sslContext),
                                                         caFile.c_str(), nullptr) != 1) {
        transfer->caFileFailed = true;
        return CURLE_SSL_CACERT_BADFILE;
    }
    return CURLE_OK;
}

void Judge(CURL* curl, CURLcode code, const Transfer& transfer, const char* words) {
    HttpAnswer& answer = *transfer.answer;
    answer.detail = words[0] ? words : curl_easy_strerror(code);
    if (transfer.tooLarge) {
        answer.failure = HttpFailure::TooLarge;
        answer.detail = "the answer is longer than " +
                        std::to_string(transfer.request->maxAnswerBytes) + " bytes";
        return;
    }
    switch (code) {
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
            answer.failure = HttpFailure::Url;
            return;
        case CURLE_SSL_CACERT_BADFILE:
            answer.failure = HttpFailure::Tls;
            answer.tls = TlsFailure::CaFile;
            answer.detail = transfer.request->caFile + ": cannot be read or holds no certificate";
            return;
        case CURLE_PEER_FAILED_VERIFICATION: {
            long result = 0;
            curl_easy_getinfo(curl, CURLINFO_SSL_VERIFYRESULT, &result);
            answer.failure = HttpFailure::Tls;
            // curl checks the name itself, before it records the chain's verdict: a refusal
            // with no verdict yet (its initial X509_V_ERR_UNSPECIFIED) or a good one was
            // a refusal of the name.
            answer.tls = result == X509_V_OK || result == X509_V_ERR_UNSPECIFIED
                             ? TlsFailure::NameMismatch
                             : TlsFailureOfVerifyResult(result);
            return;
        }
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_SSL_CERTPROBLEM:
            answer.failure = HttpFailure::Tls;
            answer.tls = TlsFailure::Handshake;
            return;
        default:
            answer.failure = HttpFailure::Unreachable;
            return;
    }
}

}  // namespace

HttpAnswer HttpPostForm(const HttpRequest& request) {
    static std::once_flag started;
    std::call_once(started, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    HttpAnswer answer;
    if (request.url.rfind("https://", 0) != 0) {
        answer.failure = HttpFailure::Url;
        answer.detail = "not an https URL";
        return answer;
    }
    CURL* curl = curl_easy_init();
    if (!curl) {
        answer.failure = HttpFailure::Unreachable;
        answer.detail = "the HTTP library cannot be started";
        return answer;
    }
    Transfer transfer{&request, &answer};
    char words[CURL_ERROR_SIZE] = {};
    curl_slist* headers = curl_slist_append(nullptr, "Accept: application/json");
    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, AddRoots);
    curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.connectTimeoutMs));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(request.totalTimeoutMs));
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.form.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(request.form.size()));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, words);
    if (!request.basicUser.empty()) {
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
        curl_easy_setopt(curl, CURLOPT_USERNAME, request.basicUser.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, request.basicPassword.c_str());
    }
    const CURLcode code = curl_easy_perform(curl);
    if (code == CURLE_OK) {
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
    } else {
        answer.body.clear();
        Judge(curl, code, transfer, words);
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return answer;
}

}  // namespace platform
