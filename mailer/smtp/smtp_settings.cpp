// Reading the mail sender's settings: shifted and plain strings and the port, through the
// registry value classes. Missing values give the defaults (empty text, 0); nothing fails.
#include "mailer/smtp/smtp_settings.h"

#include "common/registry_value.h"
#include "platform/nocase.h"

namespace {

struct MethodText {
    const char* text;
    AuthMethod method;
};

constexpr MethodText kMethods[] = {
    {"None", AuthNone},
    {"CRAM MD5", AuthCramMD5},
    {"AUTH LOGIN", AuthLogin},
    {"AUTH PLAIN", AuthPlain},
    {"NTLM", AuthNtlm},
    {"XOAUTH2", AuthXOAuth2},
    {"OAUTHBEARER", AuthOAuthBearer},
};

struct TlsText {
    const char* text;
    TlsMode mode;
};

constexpr TlsText kTlsModes[] = {
    {"none", TlsMode::None},
    {"starttls", TlsMode::StartTls},
    {"tls", TlsMode::Implicit},
};

std::string ShiftBy(std::string_view text, unsigned char amount) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(static_cast<unsigned char>(c) + amount);
    }
    return out;
}

}  // namespace

std::string ShiftSetting(std::string_view plain) {
    return ShiftBy(plain, kSettingShift);
}

std::string UnshiftSetting(std::string_view stored) {
    return ShiftBy(stored, static_cast<unsigned char>(256 - kSettingShift));
}

std::string ReadShiftedSetting(const char* name) {
    return UnshiftSetting(ReadPlainSetting(name));
}

std::string ReadPlainSetting(const char* name) {
    RegistryString value(layout::SettingPath(name), std::string());
    return value.Get();
}

std::uint32_t ReadDwordSetting(const char* name) {
    RegistryDword value(layout::SettingPath(name), 0);
    return value.Get();
}

AuthMethod AuthMethodFromSetting(const std::string& text) {
    AuthMethod method = AuthLogin;
    for (const MethodText& entry : kMethods) {
        if (text == entry.text) {
            method = entry.method;
        }
    }
    return method;
}

const char* AuthSettingText(AuthMethod method) {
    for (const MethodText& entry : kMethods) {
        if (entry.method == method) {
            return entry.text;
        }
    }
    return "AUTH LOGIN";
}

bool IsAuthSettingText(const std::string& text) {
    for (const MethodText& entry : kMethods) {
        if (text == entry.text) {
            return true;
        }
    }
    return false;
}

bool TlsModeFromSetting(const std::string& text, TlsMode* mode) {
    std::size_t first = text.find_first_not_of(" \t");
    std::string_view word;
    if (first != std::string::npos) {
        word = std::string_view(text).substr(first, text.find_last_not_of(" \t") + 1 - first);
    }
    if (word.empty()) {
        *mode = TlsMode::None;
        return true;
    }
    for (const TlsText& entry : kTlsModes) {
        if (platform::EqualNoCase(word, entry.text)) {
            *mode = entry.mode;
            return true;
        }
    }
    return false;
}

const char* TlsSettingText(TlsMode mode) {
    for (const TlsText& entry : kTlsModes) {
        if (entry.mode == mode) {
            return entry.text;
        }
    }
    return "none";
}
