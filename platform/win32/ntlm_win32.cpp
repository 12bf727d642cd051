// Windows backend of the NTLM security package: SSPI's "NTLM" package, with the configured
// account as explicit credentials or else the account running the program. Every result is
// the package's own SECURITY_STATUS.
#include <windows.h>
#define SECURITY_WIN32
#include <security.h>
#include <sspi.h>

#include "platform/ntlm.h"

namespace platform {
namespace {

CredHandle ToCred(const NtlmCredentials& c) {
    CredHandle h;
    h.dwLower = static_cast<ULONG_PTR>(c.lower);
    h.dwUpper = static_cast<ULONG_PTR>(c.upper);
    return h;
}

CtxtHandle ToCtxt(const NtlmContext& c) {
    CtxtHandle h;
    h.dwLower = static_cast<ULONG_PTR>(c.lower);
    h.dwUpper = static_cast<ULONG_PTR>(c.upper);
    return h;
}

}  // namespace

bool HasSystemNtlm() {
    return true;
}

SecurityStatus NtlmAcquireCredentials(NtlmCredentials* credentials, const std::string& user,
                                      const std::string& password) {
    CredHandle handle;
    TimeStamp expiry;
    char package[] = "NTLM";
    // The service's own account has no mail credentials: a configured user name is passed
    // explicitly, "DOMAIN\user" split at the first backslash.
    std::string name = user;
    std::string domain;
    std::size_t split = user.find('\\');
    if (split != std::string::npos) {
        domain = user.substr(0, split);
        name = user.substr(split + 1);
    }
    std::string secret = password;
    SEC_WINNT_AUTH_IDENTITY_A identity{};
    identity.User = reinterpret_cast<unsigned char*>(&name[0]);
    identity.UserLength = static_cast<unsigned long>(name.size());
    identity.Domain = reinterpret_cast<unsigned char*>(&domain[0]);
    identity.DomainLength = static_cast<unsigned long>(domain.size());
    identity.Password = reinterpret_cast<unsigned char*>(&secret[0]);
    identity.PasswordLength = static_cast<unsigned long>(secret.size());
    identity.Flags = SEC_WINNT_AUTH_IDENTITY_ANSI;
    SECURITY_STATUS status = ::AcquireCredentialsHandleA(
        nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, user.empty() ? nullptr : &identity,
        nullptr, nullptr, &handle, &expiry);
    ::SecureZeroMemory(&secret[0], secret.size());
    if (status >= 0) {
        credentials->lower = handle.dwLower;
        credentials->upper = handle.dwUpper;
        credentials->valid = true;
    }
    return status;
}

SecurityStatus NtlmInitializeContext(NtlmCredentials* credentials, NtlmContext* context,
                                     const unsigned char* input, std::size_t inputLength,
                                     unsigned char* output, std::size_t* outputLength) {
    CredHandle cred = ToCred(*credentials);
    SecBuffer outBuffer;
    outBuffer.BufferType = SECBUFFER_TOKEN;
    outBuffer.cbBuffer = static_cast<unsigned long>(*outputLength);
    outBuffer.pvBuffer = output;
    SecBufferDesc outDesc;
    outDesc.ulVersion = SECBUFFER_VERSION;
    outDesc.cBuffers = 1;
    outDesc.pBuffers = &outBuffer;

    SecBuffer inBuffer;
    inBuffer.BufferType = SECBUFFER_TOKEN;
    inBuffer.cbBuffer = static_cast<unsigned long>(inputLength);
    inBuffer.pvBuffer = const_cast<unsigned char*>(input);
    SecBufferDesc inDesc;
    inDesc.ulVersion = SECBUFFER_VERSION;
    inDesc.cBuffers = 1;
    inDesc.pBuffers = &inBuffer;

    ULONG attributes = 0;
    TimeStamp expiry;
    SECURITY_STATUS status;
    if (!context->valid) {
        CtxtHandle fresh;
        status = ::InitializeSecurityContextA(&cred, nullptr, nullptr, 0, 0, SECURITY_NATIVE_DREP,
                                              nullptr, 0, &fresh, &outDesc, &attributes, &expiry);
        if (status >= 0) {
            context->lower = fresh.dwLower;
            context->upper = fresh.dwUpper;
            context->valid = true;
        }
    } else {
        CtxtHandle existing = ToCtxt(*context);
        status =
            ::InitializeSecurityContextA(&cred, &existing, nullptr, 0, 0, SECURITY_NATIVE_DREP,
                                         &inDesc, 0, &existing, &outDesc, &attributes, &expiry);
        context->lower = existing.dwLower;
        context->upper = existing.dwUpper;
    }
    *outputLength = status >= 0 ? outBuffer.cbBuffer : 0;
    return status;
}

SecurityStatus NtlmCompleteToken(NtlmContext* context, unsigned char* output,
                                 std::size_t* outputLength) {
    SecBuffer outBuffer;
    outBuffer.BufferType = SECBUFFER_TOKEN;
    outBuffer.cbBuffer = static_cast<unsigned long>(*outputLength);
    outBuffer.pvBuffer = output;
    SecBufferDesc outDesc;
    outDesc.ulVersion = SECBUFFER_VERSION;
    outDesc.cBuffers = 1;
    outDesc.pBuffers = &outBuffer;
    CtxtHandle handle = ToCtxt(*context);
    SECURITY_STATUS status = ::CompleteAuthToken(&handle, &outDesc);
    if (status >= 0) {
        *outputLength = outBuffer.cbBuffer;
    }
    return status;
}

void NtlmDeleteContext(NtlmContext* context) {
    if (context->valid) {
        CtxtHandle handle = ToCtxt(*context);
        ::DeleteSecurityContext(&handle);
    }
    *context = NtlmContext{};
}

void NtlmFreeCredentials(NtlmCredentials* credentials) {
    if (credentials->valid) {
        CredHandle handle = ToCred(*credentials);
        ::FreeCredentialsHandle(&handle);
    }
    *credentials = NtlmCredentials{};
}

}  // namespace platform
