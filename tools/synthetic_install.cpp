// Writing a synthetic installation; see synthetic_install.h.
#include "tools/synthetic_install.h"

#include <algorithm>

#include "common/layout.h"
#include "platform/files.h"
#include "stats/base64.h"
#include "stats/date_cursor.h"
#include "stats/log_names.h"

namespace synthetic {

namespace {

// One base64 line per record, each ending in CR LF.
bool WriteLog(const std::string& path, const std::vector<std::string>& records, Counts* counts,
              std::string* failed) {
    std::string bytes;
    for (const std::string& record : records) {
        bytes += stats::Base64Encode(record);
        bytes += "\r\n";
    }
    auto file =
        platform::File::Open(path, platform::OpenMode::WriteTruncate, platform::ShareMode::None);
    if (!file || !file->Write(bytes.data(), bytes.size())) {
        *failed = path;
        return false;
    }
    counts->bytes += bytes.size();
    return true;
}

platform::LocalDate NoonOf(int year, int month, int day) {
    return platform::BreakDown(platform::LocalTimeOf(year, month, day, 12));
}

}  // namespace

std::vector<std::string> InTimeOrder(std::vector<Event> events) {
    std::stable_sort(events.begin(), events.end(),
                     [](const Event& a, const Event& b) { return a.second < b.second; });
    std::vector<std::string> texts;
    texts.reserve(events.size());
    for (Event& event : events) {
        texts.push_back(std::move(event.text));
    }
    return texts;
}

bool WriteInstallation(const std::string& app, const Profile& profile, std::uint64_t seed,
                       long days, int year, int month, int day, Counts* counts,
                       std::string* failed) {
    *counts = Counts{};
    const std::string logs = platform::AppendPath(app, layout::kLogsFolder);
    if (!platform::CreateDirectories(logs)) {
        *failed = logs;
        return false;
    }
    Random rng(seed);
    const std::vector<Client> clients = profile.Clients(rng);
    counts->clients = static_cast<long>(clients.size());

    std::vector<std::string> list;
    std::vector<std::string> users;
    for (const Client& c : clients) {
        list.push_back(c.host + "|" + c.key);
        if (!c.user.empty()) {
            users.push_back(c.user + "|" + c.key);
        }
    }
    counts->usersListed = static_cast<long>(users.size());
    if (!WriteLog(logs + layout::kClientList, list, counts, failed) ||
        (!users.empty() &&
         !WriteLog(platform::AppendPath(app, layout::kUserList), users, counts, failed))) {
        return false;
    }

    // Day by day from the first through the last, each at noon so that a change of daylight
    // saving time never moves it to a neighbouring date.
    const platform::FixedClock last(platform::LocalTimeOf(year, month, day, 12));
    stats::DateCursor cursor(last);
    cursor.DaysFromToday(static_cast<int>(days - 1), 0);
    platform::LocalDate date = NoonOf(cursor.startYear, cursor.startMonth, cursor.startDay);
    counts->first = date;
    for (long d = 0; d < days; ++d) {
        const std::string stamp = stats::DayStamp(date.day, date.month, date.year);
        for (const Client& c : clients) {
            const std::vector<std::string> records = profile.Traffic(rng, c, date);
            if (records.empty()) {
                continue;  // the client was not on line: the proxy writes no log
            }
            if (!WriteLog(logs + stats::TrafficLogName(stamp, c.key), records, counts, failed)) {
                return false;
            }
            ++counts->trafficLogs;
            counts->records += static_cast<long>(records.size());
        }
        const std::vector<std::string> events = profile.Filter(rng, clients, date);
        if (!events.empty()) {
            if (!WriteLog(logs + stats::FilterLogName(stamp), events, counts, failed)) {
                return false;
            }
            ++counts->filterLogs;
            counts->events += static_cast<long>(events.size());
        }
        cursor.NextDay(date.day, date.month, date.year);
        date = NoonOf(cursor.nextYear, cursor.nextMonth, cursor.nextDay);
    }
    return true;
}

}  // namespace synthetic
