// `tallyctl simulate --app DIR [--days N] [--clients N] [--seed N] [--until YYYY-MM-DD]
// [--report-hour H]`: writes a demo installation the way the proxy would: the client list,
// per-client daily traffic logs, daily filter logs, the user list, and the registry values
// apppath, ReportTime and the six report gates. The same arguments always give the same
// bytes. Bad arguments, a file or a registry value that cannot be written: a message on
// standard error and a non-zero exit status.
#include "tools/simulate_command.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "common/layout.h"
#include "common/registry_value.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "tools/synthetic_install.h"

namespace {

using synthetic::Client;
using synthetic::Random;

struct Options {
    std::string app;
    long days = 45;
    long clients = 6;
    std::uint64_t seed = 1;
    int reportHour = 18;
    bool hasUntil = false;
    int untilDay = 0, untilMonth = 0, untilYear = 0;
};

const char* const kUsers[] = {"frontdesk", "accounts",  "j.miller", "s.garcia",
                              "reception", "warehouse", "k.tanaka", "m.rossi",
                              "lab-01",    "a.novak",   "p.okafor", "l.dubois"};
const char* const kSites[] = {
    "www.example.com",        "news.example.org", "cdn.example.net",   "mail.example.com",
    "docs.example.org",       "shop.example.com", "video.example.net", "maps.example.com",
    "intranet.example.local", "api.example.com",
};
const char* const kPaths[] = {"/",
                              "/index.html",
                              "/search?q=weather&lang=en",
                              "/static/app.js",
                              "/images/logo.png",
                              "/api/v2/items?page=3&size=50",
                              "/downloads/setup.exe",
                              "/watch?v=a1b2c3",
                              "/article/2026/quarterly-report",
                              "/login"};
const char* const kMethods[] = {"GET", "GET", "GET", "POST", "GET", "CONNECT"};
// Sites the proxy blocks, with the filter that blocks each (blanks written as "_").
struct Blocked {
    const char* site;
    const char* filter;
};
const Blocked kBlocked[] = {
    {"games.example.net", "Games_Online"},       {"casino.example.com", "Gambling"},
    {"social.example.org", "Social_Networking"}, {"stream.example.tv", "Streaming_Media"},
    {"ads.example.net", "Advertising"},          {"chat.example.org", "Chat_Rooms"},
    {"phish.example.info", "Phishing"},          {"unblock.example.biz", "Proxy_Avoidance"},
    {"dropper.example.ru", "Malware_Sites"},     {"adult.example.xxx", "Adult_Content"},
};

int Usage() {
    std::fprintf(stderr,
                 "usage: tallyctl simulate --app DIR [--days N] [--clients N] [--seed N] "
                 "[--until YYYY-MM-DD] [--report-hour H]\n");
    return 2;
}

bool ParseLong(const std::string& text, long lo, long hi, long* out) {
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || v < lo || v > hi) {
        return false;
    }
    *out = v;
    return true;
}

bool ParseDate(const std::string& text, Options* o) {
    int y = 0, m = 0, d = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%d-%d-%d%c", &y, &m, &d, &tail) != 3 || y < 1971 || y > 9999) {
        return false;
    }
    // Only a real calendar date comes back unchanged from the C library.
    const platform::LocalDate back = platform::BreakDown(platform::LocalTimeOf(y, m, d, 12));
    if (back.year != y || back.month != m || back.day != d) {
        return false;
    }
    o->untilYear = y;
    o->untilMonth = m;
    o->untilDay = d;
    o->hasUntil = true;
    return true;
}

bool ParseArgs(const std::vector<std::string>& args, Options* o) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (i + 1 >= args.size()) {
            return false;
        }
        const std::string& v = args[++i];
        long n = 0;
        if (a == "--app" && !v.empty()) {
            o->app = v;
        } else if (a == "--days" && ParseLong(v, 1, 3660, &n)) {
            o->days = n;
        } else if (a == "--clients" && ParseLong(v, 1, 240, &n)) {
            o->clients = n;
        } else if (a == "--seed" && ParseLong(v, 0, 2147483647L, &n)) {
            o->seed = static_cast<std::uint64_t>(n);
        } else if (a == "--report-hour" && ParseLong(v, 0, 23, &n)) {
            o->reportHour = static_cast<int>(n);
        } else if (!(a == "--until" && ParseDate(v, o))) {
            return false;
        }
    }
    return !o->app.empty();
}

// Seconds into the day, mostly office hours.
int EventSecond(Random& rng) {
    const int hour = rng.Chance(85) ? static_cast<int>(rng.Between(8, 17))
                                    : static_cast<int>(rng.Between(0, 23));
    return hour * 3600 + static_cast<int>(rng.Between(0, 3599));
}

std::string TimeOfDay(int second) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", second / 3600, second / 60 % 60,
                  second % 60);
    return text;
}

long TransferSize(Random& rng) {
    const long kind = rng.Between(1, 100);
    if (kind <= 60) {
        return rng.Between(300, 40000);  // pages, scripts, images
    }
    if (kind <= 95) {
        return rng.Between(40000, 900000);
    }
    return rng.Between(1000000, 12000000);  // downloads, video
}

// A small office: clients on 192.168.10.x, busy on working days, quiet at weekends.
class Office final : public synthetic::Profile {
  public:
    explicit Office(long clients) : clients_(clients) {}

    std::vector<Client> Clients(Random& rng) const override {
        std::vector<Client> clients;
        for (long i = 0; i < clients_; ++i) {
            Client c;
            c.key = "192.168.10." + std::to_string(10 + i);
            char host[32];
            std::snprintf(host, sizeof host, "WS-%03ld", i + 1);
            c.host = host;
            // The last client of a larger office is missing from the user list.
            if (clients_ < 3 || i + 1 < clients_) {
                c.user = i < static_cast<long>(std::size(kUsers)) ? kUsers[i]
                                                                  : "user" + std::to_string(i + 1);
            }
            c.activity = static_cast<int>(rng.Between(40, 160));
            clients.push_back(c);
        }
        return clients;
    }

    std::vector<std::string> Traffic(Random& rng, const Client& c,
                                     const platform::LocalDate& date) const override {
        const long base = Weekend(date) ? rng.Between(0, 6) : rng.Between(10, 50);
        const long n = base * c.activity / 100;
        std::vector<synthetic::Event> records;
        for (long i = 0; i < n; ++i) {
            const int second = EventSecond(rng);
            records.push_back({second, std::to_string(TransferSize(rng)) + "*" +
                                           rng.Pick(kMethods) + " http://" + rng.Pick(kSites) +
                                           rng.Pick(kPaths) +
                                           " HTTP/1.1 Time:" + TimeOfDay(second)});
        }
        return synthetic::InTimeOrder(std::move(records));
    }

    std::vector<std::string> Filter(Random& rng, const std::vector<Client>& clients,
                                    const platform::LocalDate& date) const override {
        const long events = Weekend(date) ? rng.Between(0, 4) : rng.Between(2, 20);
        char dateToken[16];
        std::snprintf(dateToken, sizeof dateToken, "%02d/%02d/%d", date.day, date.month, date.year);
        std::vector<synthetic::Event> lines;
        for (long i = 0; i < events; ++i) {
            const Client& c = clients[static_cast<std::size_t>(
                rng.Between(0, static_cast<long>(clients.size()) - 1))];
            const int second = EventSecond(rng);
            const Blocked& blocked = rng.Pick(kBlocked);
            const std::string url = std::string("http://") + blocked.site + rng.Pick(kPaths);
            // Six tokens, each followed by one blank; blanks in the filter name are "_".
            lines.push_back({second, std::string(dateToken) + " " + c.key + " " +
                                         (c.user.empty() ? "-" : c.user) + " " + TimeOfDay(second) +
                                         " " + url + " " + blocked.filter + " "});
        }
        return synthetic::InTimeOrder(std::move(lines));
    }

  private:
    static bool Weekend(const platform::LocalDate& date) {
        return date.weekday == 1 || date.weekday == 7;
    }
    long clients_;
};

template <typename V>
bool StoreValue(const char* name, const V& value) {
    const std::string path = layout::SettingPath(name);
    RegistryValue<V>(path, V{}).Set(value);
    if (RegistryValue<V>(path, V{}).Get() != value) {
        std::fprintf(stderr, "tallyctl simulate: cannot set the registry value %s\n", name);
        return false;
    }
    return true;
}

}  // namespace

int RunSimulateCommand(const std::vector<std::string>& args) {
    Options o;
    if (!ParseArgs(args, &o)) {
        return Usage();
    }
    std::string appPath = o.app;
    if (appPath.back() != '/' && appPath.back() != '\\') {
        appPath += platform::kPathSeparator;
    }
    const std::string logs = platform::AppendPath(appPath, layout::kLogsFolder);
    if (!platform::CreateDirectories(logs)) {
        std::fprintf(stderr, "tallyctl simulate: cannot create %s\n", logs.c_str());
        return 1;
    }

    if (!o.hasUntil) {
        const platform::LocalDate today = platform::BreakDown(platform::SystemClock().Now());
        o.untilDay = today.day;
        o.untilMonth = today.month;
        o.untilYear = today.year;
    }
    synthetic::Counts counts;
    std::string failed;
    if (!synthetic::WriteInstallation(appPath, Office(o.clients), o.seed, o.days, o.untilYear,
                                      o.untilMonth, o.untilDay, &counts, &failed)) {
        std::fprintf(stderr, "tallyctl simulate: cannot write %s\n", failed.c_str());
        return 1;
    }

    namespace setting = layout::setting;
    const char* gates[] = {setting::kRegDaily,     setting::kRegWeekly,     setting::kRegMonthly,
                           setting::kRegDayFilter, setting::kRegWeekFilter, setting::kRegMonFilter};
    bool stored = StoreValue<std::string>(setting::kAppPath, appPath) &&
                  StoreValue<std::string>(setting::kReportTime, std::to_string(o.reportHour));
    for (const char* gate : gates) {
        stored = stored && StoreValue<std::uint32_t>(gate, 1);
    }
    // A fresh installation has made no report in this hour yet.
    stored = stored && StoreValue<std::uint32_t>(setting::kCreatedXml, 0);
    if (!stored) {
        return 1;
    }

    std::printf("Simulated proxy installation in %s\n", appPath.c_str());
    std::printf("  %ld clients in Logs%c%s, %ld named in %s\n", counts.clients,
                platform::kPathSeparator, layout::kClientList, counts.usersListed,
                layout::kUserList);
    std::printf("  %ld days, %02d/%02d/%d to %02d/%02d/%d (seed %llu)\n", o.days, counts.first.day,
                counts.first.month, counts.first.year, o.untilDay, o.untilMonth, o.untilYear,
                static_cast<unsigned long long>(o.seed));
    std::printf("  %ld traffic logs with %ld records, %ld filter logs with %ld events\n",
                counts.trafficLogs, counts.records, counts.filterLogs, counts.events);
    std::printf("  registry: apppath, ReportTime %d, all six reports switched on\n", o.reportHour);
    return 0;
}
