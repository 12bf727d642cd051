// The mail sender's settings in the registry (HKEY_LOCAL_MACHINE\Software\BriskoFilter) and
// their stored form. Five string values are kept shifted: every byte is stored with its code
// raised by kSettingShift = 5, with 8-bit wrap-around ("abc" is stored as "fgh", a byte 0xFD
// as 0x02); the proxy's configuration and `tallyctl smtp set` write them so, Postvane lowers
// them again. ToSendFile, SMTPPORT, SMTPFrom, SMTPTLS and SMTPCAFile are plain. Reads never fail: a
// missing value gives its default.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "mailer/smtp/smtp_connection.h"

constexpr unsigned char kSettingShift = 5;

// Value names.
inline constexpr char kSettingRecipients[] = "EmailAddress";       // shifted
inline constexpr char kSettingAttachments[] = "ToSendFile";        // plain
inline constexpr char kSettingServer[] = "SMTPSRV";                // shifted
inline constexpr char kSettingAuth[] = "SMTPAUTH";                 // shifted
inline constexpr char kSettingUser[] = "SMTPEmailAddress4Server";  // shifted
inline constexpr char kSettingPassword[] = "SMTPPass4MailServer";  // shifted
inline constexpr char kSettingPort[] = "SMTPPORT";                 // DWORD
inline constexpr char kSettingFrom[] = "SMTPFrom";                 // plain, optional
inline constexpr char kSettingTls[] = "SMTPTLS";                   // plain, optional
inline constexpr char kSettingCaFile[] = "SMTPCAFile";             // plain, optional

// The From mailbox when SMTPFrom is absent or empty: a placeholder that can never be
// delivered to (".invalid" is reserved for that).
inline constexpr char kPlaceholderFrom[] = "reports@postvane.invalid";

std::string ShiftSetting(std::string_view plain);
std::string UnshiftSetting(std::string_view stored);

// "Software\BriskoFilter\" + name.
std::string SettingPath(const char* name);

std::string ReadShiftedSetting(const char* name);
std::string ReadPlainSetting(const char* name);
std::uint32_t ReadDwordSetting(const char* name);

// The exact, case-sensitive method texts; anything else is AUTH LOGIN.
AuthMethod AuthMethodFromSetting(const std::string& text);
// The setting text of a method ("None", "CRAM MD5", "AUTH LOGIN", "AUTH PLAIN", "NTLM").
const char* AuthSettingText(AuthMethod method);
// True when text is one of the five method texts.
bool IsAuthSettingText(const std::string& text);

// SMTPTLS: "none" (also when absent or empty), "starttls" or "tls", in any case, blanks
// around ignored. False for anything else: a mistyped value must not mean clear text.
bool TlsModeFromSetting(const std::string& text, TlsMode* mode);
// The stored text of a mode: "none", "starttls", "tls".
const char* TlsSettingText(TlsMode mode);
