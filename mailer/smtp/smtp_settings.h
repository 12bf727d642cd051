// The mail sender's settings in the registry (their names are in common/layout.h) and
// their stored form. Five string values are kept shifted: every byte is stored with its code
// raised by kSettingShift = 5, with 8-bit wrap-around ("abc" is stored as "fgh", a byte 0xFD
// as 0x02); the proxy's configuration and `tallyctl smtp set` write them so, Postvane lowers
// them again. ToSendFile, SMTPPORT, SMTPFrom, SMTPTLS and SMTPCAFile are plain. Reads never fail: a
// missing value gives its default.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/layout.h"
#include "mailer/smtp/smtp_connection.h"

constexpr unsigned char kSettingShift = 5;

// The From mailbox when SMTPFrom is absent or empty: a placeholder that can never be
// delivered to (".invalid" is reserved for that).
inline constexpr char kPlaceholderFrom[] = "reports@postvane.invalid";

std::string ShiftSetting(std::string_view plain);
std::string UnshiftSetting(std::string_view stored);

std::string ReadShiftedSetting(const char* name);
std::string ReadPlainSetting(const char* name);
std::uint32_t ReadDwordSetting(const char* name);

// The exact, case-sensitive method texts (the five of old, "XOAUTH2" and "OAUTHBEARER");
// anything else is AUTH LOGIN.
AuthMethod AuthMethodFromSetting(const std::string& text);
// The setting text of a method ("None", "CRAM MD5", "AUTH LOGIN", "AUTH PLAIN", "NTLM",
// "XOAUTH2", "OAUTHBEARER").
const char* AuthSettingText(AuthMethod method);
// True when text is one of the method texts.
bool IsAuthSettingText(const std::string& text);

// SMTPTLS: "none" (also when absent or empty), "starttls" or "tls", in any case, blanks
// around ignored. False for anything else: a mistyped value must not mean clear text.
bool TlsModeFromSetting(const std::string& text, TlsMode* mode);
// The stored text of a mode: "none", "starttls", "tls".
const char* TlsSettingText(TlsMode mode);
