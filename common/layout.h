// The installation's layout in one place: the registry key that holds the settings and the
// name of every value in it, and the names of the files that the proxy and this system keep
// in the installation directory and its Logs folder. Code refers to these names only, so a
// rename touches this file alone. Nothing here fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace layout {

// The settings key below HKEY_LOCAL_MACHINE. Registry names ignore case, so the spelling
// "Software\BriskoFilter" that some of the proxy's own writers use names the same key.
inline constexpr char kSettingsKey[] = "SOFTWARE\\BriskoFilter";

// A value of the settings key as the registry value classes address it:
// "\SOFTWARE\BriskoFilter\" + name.
std::string SettingPath(std::string_view name);

// Values of the settings key.
namespace setting {
inline constexpr char kAppPath[] = "apppath";        // installation directory, ends with "\"
inline constexpr char kReportTime[] = "ReportTime";  // report hour, "0" to "23"
inline constexpr char kCreatedXml[] = "CreatedXml";  // 1 once this report hour's reports exist
inline constexpr char kToSendFile[] = "ToSendFile";  // report files for the mail sender
inline constexpr char kDelLogDate[] = "dellogdate";  // "1", or the first day of retention
// Report gates: a report is made only when its value is 1.
inline constexpr char kRegDaily[] = "RegDaily";
inline constexpr char kRegWeekly[] = "RegWeekly";
inline constexpr char kRegMonthly[] = "RegMonthly";
inline constexpr char kRegDayFilter[] = "RegDayFilter";
inline constexpr char kRegWeekFilter[] = "RegWeekFilter";
inline constexpr char kRegMonFilter[] = "RegMonFilter";
// The mail sender's settings; the five marked are stored shifted.
inline constexpr char kEmailAddress[] = "EmailAddress";         // shifted
inline constexpr char kSmtpServer[] = "SMTPSRV";                // shifted
inline constexpr char kSmtpPort[] = "SMTPPORT";                 // DWORD
inline constexpr char kSmtpAuth[] = "SMTPAUTH";                 // shifted
inline constexpr char kSmtpUser[] = "SMTPEmailAddress4Server";  // shifted
inline constexpr char kSmtpPassword[] = "SMTPPass4MailServer";  // shifted
inline constexpr char kSmtpFrom[] = "SMTPFrom";                 // plain, optional
inline constexpr char kSmtpTls[] = "SMTPTLS";                   // plain: none, starttls, tls
inline constexpr char kSmtpCaFile[] = "SMTPCAFile";             // plain: extra trusted roots
// OAuth for XOAUTH2 and OAUTHBEARER: plain values, then the secrets (platform/secrets.h).
inline constexpr char kSmtpOAuthTokenUrl[] = "SMTPOAuthTokenURL";    // https only
inline constexpr char kSmtpOAuthClientId[] = "SMTPOAuthClientID";    //
inline constexpr char kSmtpOAuthScope[] = "SMTPOAuthScope";          // space-separated
inline constexpr char kSmtpOAuthDeviceUrl[] = "SMTPOAuthDeviceURL";  // for the one-time login
inline constexpr char kSmtpOAuthTenant[] = "SMTPOAuthTenant";        // where a provider needs it
inline constexpr char kSmtpOAuthClientSecret[] = "SMTPOAuthClientSecret";
inline constexpr char kSmtpOAuthRefreshToken[] = "SMTPOAuthRefreshToken";
// The cached access token: its expiry (seconds since 1970), a space, the token.
inline constexpr char kSmtpOAuthAccessToken[] = "SMTPOAuthAccessToken";
// DWORD: hours a mail that may still go is kept in the outbox and tried again (default 24);
// 0: no outbox, a failed mail is not kept.
inline constexpr char kSmtpRetryHours[] = "SMTPRetryHours";
inline constexpr std::uint32_t kDefaultSmtpRetryHours = 24;
// The values that hold secrets, whatever their form: tallyctl warns when a registry file that
// holds one can be read by other users. A new credential or token setting belongs here.
inline constexpr const char* kSecretSettings[] = {kSmtpPassword, kSmtpOAuthClientSecret,
                                                  kSmtpOAuthRefreshToken, kSmtpOAuthAccessToken};
// DWORD, 1: the service names each abandoned task, skipped log and failed write, with its
// reason, one message each; absent or any other value: silent.
inline constexpr char kVerboseLog[] = "VerboseLog";
// How people see the reports and the summary files.
inline constexpr char kReportFormat[] = "ReportFormat";      // "xml" (default) or "xml+html"
inline constexpr char kDashboard[] = "Dashboard";            // DWORD, 1: write summary.html
inline constexpr char kReportStyleUrl[] = "ReportStyleURL";  // base URL of the stylesheets
// Alerts, each rule off while its value is absent or 0 (DWORDs unless marked).
inline constexpr char kAlertDailyMb[] = "AlertDailyMB";          // a client's MB today
inline constexpr char kAlertSpikeFactor[] = "AlertSpikeFactor";  // k times its median day
inline constexpr char kAlertSpikeMinMb[] = "AlertSpikeMinMB";    // and at least this (100)
inline constexpr char kAlertFilters[] = "AlertFilters";          // REG_SZ, comma list
inline constexpr char kAlertFilterCount[] = "AlertFilterCount";  // events of those today (1)
inline constexpr char kAlertMaxPerHour[] = "AlertMaxPerHour";    // mails an hour, then one (10)
// REG_SZ: where each cycle writes its figures for the monitoring's text-file collector.
inline constexpr char kMetricsFile[] = "MetricsFile";
}  // namespace setting

// Below the installation directory: the log folder (as a path piece with its separator) and
// the user list.
inline constexpr char kLogsFolder[] = "Logs\\";
inline constexpr char kUserList[] = "brisko.users";

// A file of the log folder as a path below the installation directory: "\Logs\" + name.
std::string InLogsFolder(std::string_view name);

// In the log folder: the proxy's client list, and the names of its logs. A traffic log is
// DD_MM_YYYY_ followed by the client key, a filter log Filter_DD_MM_YYYY.log.
inline constexpr char kClientList[] = "logip.log";
inline constexpr char kFilterLogPrefix[] = "Filter_";
inline constexpr char kFilterLogExtension[] = ".log";

// The thirteen summary files in the order the cycle writes them: the traffic totals of all
// six periods, then the filter extracts and the client totals, one file for each period.
inline constexpr std::size_t kSummaryFileCount = 13;
inline constexpr const char* kSummaryFiles[kSummaryFileCount] = {
    "brisko.trf", "brisko.001", "brisko.002", "brisko.003", "brisko.004",
    "brisko.005", "brisko.006", "brisko.011", "brisko.012", "brisko.013",
    "brisko.014", "brisko.015", "brisko.016"};
inline constexpr const char* kTrafficSummaryFile = kSummaryFiles[0];
// period: 0 for the week up to 5 for the year.
constexpr const char* FilterSummaryFile(std::size_t period) {
    return kSummaryFiles[1 + period];
}
constexpr const char* ClientSummaryFile(std::size_t period) {
    return kSummaryFiles[7 + period];
}

// The report files in the log folder. The daily ones carry their date after the stem:
// stem, "_", three date parts joined by "_", then the extension. The daily traffic report
// names the month first (day_MM_DD_YYYY.xml), the daily filter report the day first
// (filterday_DD_MM_YYYY.xml).
inline constexpr char kReportExtension[] = ".xml";
inline constexpr char kDailyTrafficReportStem[] = "day";
inline constexpr bool kDailyTrafficReportMonthFirst = true;
inline constexpr char kDailyFilterReportStem[] = "filterday";
inline constexpr bool kDailyFilterReportMonthFirst = false;
inline constexpr char kWeeklyTrafficReport[] = "week.xml";
inline constexpr char kMonthlyTrafficReport[] = "month.xml";
inline constexpr char kWeeklyFilterReport[] = "filterweek.xml";
inline constexpr char kMonthlyFilterReport[] = "filtermonth.xml";
// Each report's HTML twin has the report's name with this extension instead of its own.
inline constexpr char kHtmlReportExtension[] = ".html";
// The page of the summary files that the cycle writes beside them when asked to.
inline constexpr char kDashboardFile[] = "summary.html";
// In the log folder: what the alerts of the day have fired (beside the summary files), the
// copy of a damaged one, and the folder of alert mails handed to the mail sender.
inline constexpr char kAlertStateFile[] = "alerts.state";
inline constexpr char kDamagedSuffix[] = ".damaged";
inline constexpr char kAlertMailFolder[] = "alerts";

}  // namespace layout
