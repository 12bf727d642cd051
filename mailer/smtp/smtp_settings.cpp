// Reading the mail sender's settings: shifted and plain strings and the port, through the
// registry value classes. Missing values give the defaults (empty text, 0); nothing fails.
#include "mailer/smtp/smtp_settings.h"

#include "common/registry_value.h"

namespace {

struct MethodText {
    const char* text;
    AuthMethod method;
};

constexpr MethodText kMethods[] = {
    {"None", AuthNone},        {"CRAM MD5", AuthCramMD5}, {"AUTH LOGIN", AuthLogin},
    {"AUTH PLAIN", AuthPlain}, {"NTLM", AuthNtlm},
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

std::string SettingPath(const char* name) {
    return std::string("Software\\BriskoFilter\\") + name;
}

std::string ReadShiftedSetting(const char* name) {
    return UnshiftSetting(ReadPlainSetting(name));
}

std::string ReadPlainSetting(const char* name) {
    RegistryString value(SettingPath(name), std::string());
    return value.Get();
}

std::uint32_t ReadDwordSetting(const char* name) {
    RegistryDword value(SettingPath(name), 0);
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
