// The report mail's subject and text from the attached file names and the run's date; see the
// header. Names are matched without regard to case, as Windows names are.
#include "mailer/report_mail_text.h"

#include <chrono>
#include <cstdio>
#include <optional>
#include <string_view>

#include "common/layout.h"
#include "platform/nocase.h"

namespace {

namespace chrono = std::chrono;

constexpr char kSubject[] = "Email Reports from Brisko Web Proxy";

enum class Cadence { Daily, Weekly, Monthly };
constexpr const char* kCadenceWords[] = {"daily", "weekly", "monthly"};

// The reports as the writers name their files: a daily file is its stem, "_" and a date, the
// others have a fixed name; each also comes as its HTML twin.
struct ReportName {
    const char* title;
    Cadence cadence;
    const char* file;  // the daily ones: the stem
    bool monthFirst;   // the daily ones: the order of the date's parts
};
constexpr ReportName kReportNames[] = {
    {"Daily website traffic", Cadence::Daily, layout::kDailyTrafficReportStem,
     layout::kDailyTrafficReportMonthFirst},
    {"Daily filter activity", Cadence::Daily, layout::kDailyFilterReportStem,
     layout::kDailyFilterReportMonthFirst},
    {"Weekly website traffic", Cadence::Weekly, layout::kWeeklyTrafficReport, false},
    {"Weekly filter activity", Cadence::Weekly, layout::kWeeklyFilterReport, false},
    {"Monthly website traffic", Cadence::Monthly, layout::kMonthlyTrafficReport, false},
    {"Monthly filter activity", Cadence::Monthly, layout::kMonthlyFilterReport, false},
};
constexpr int kOtherFile = -1;

// What one file is: a report (with its date when daily) or an other file.
struct Recognised {
    int report = kOtherFile;
    std::optional<chrono::sys_days> date;
    bool operator==(const Recognised&) const = default;
};

std::optional<chrono::sys_days> DateOf(int day, int month, int year) {
    // The calendar types keep only the low bits of what they are given: range first.
    if (day < 1 || day > 31 || month < 1 || month > 12 || year < 1 || year > 9999) {
        return std::nullopt;
    }
    const chrono::year_month_day date{chrono::year{year}, chrono::month{unsigned(month)},
                                      chrono::day{unsigned(day)}};
    if (!date.ok()) {
        return std::nullopt;
    }
    return chrono::sys_days{date};
}

// "07_31_2026" as a date, the parts in the order of the report; nothing unless exactly that.
std::optional<chrono::sys_days> DateInName(std::string_view text, bool monthFirst) {
    constexpr std::string_view kShape = "99_99_9999";
    if (text.size() != kShape.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (digit != (kShape[i] == '9')) {
            return std::nullopt;
        }
    }
    auto number = [&](std::size_t at, std::size_t length) {
        int value = 0;
        for (std::size_t i = at; i < at + length; ++i) {
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    const int first = number(0, 2);
    const int second = number(3, 2);
    return monthFirst ? DateOf(second, first, number(6, 4)) : DateOf(first, second, number(6, 4));
}

// The name without its report or HTML extension; nothing when it has neither.
std::optional<std::string_view> ReportStem(std::string_view name) {
    for (std::string_view extension : {layout::kReportExtension, layout::kHtmlReportExtension}) {
        if (name.size() > extension.size() && platform::EndsWithNoCase(name, extension)) {
            return name.substr(0, name.size() - extension.size());
        }
    }
    return std::nullopt;
}

Recognised Recognise(std::string_view name) {
    const std::optional<std::string_view> stem = ReportStem(name);
    if (!stem) {
        return {};
    }
    for (int i = 0; i < static_cast<int>(std::size(kReportNames)); ++i) {
        const ReportName& report = kReportNames[i];
        std::string_view file = report.file;
        if (report.cadence != Cadence::Daily) {
            file.remove_suffix(std::string_view(layout::kReportExtension).size());
            if (platform::EqualNoCase(*stem, file)) {
                return {i, std::nullopt};
            }
            continue;
        }
        if (stem->size() > file.size() && platform::StartsWithNoCase(*stem, file) &&
            (*stem)[file.size()] == '_') {
            if (auto date = DateInName(stem->substr(file.size() + 1), report.monthFirst)) {
                return {i, date};
            }
        }
    }
    return {};
}

std::string Numeric(chrono::sys_days days) {
    const chrono::year_month_day date{days};
    char text[16];
    std::snprintf(text, sizeof text, "%02u/%02u/%04d", unsigned(date.day()), unsigned(date.month()),
                  int(date.year()));
    return text;
}

std::string WithWeekday(chrono::sys_days days) {
    static constexpr const char* kWeekdays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                "Thursday", "Friday", "Saturday"};
    return std::string(kWeekdays[chrono::weekday{days}.c_encoding()]) + " " + Numeric(days);
}

// The period a report covers, after its title.
std::string PeriodText(const ReportName& report, const Recognised& file,
                       std::optional<chrono::sys_days> run) {
    if (report.cadence == Cadence::Daily) {
        return ", " + Numeric(*file.date);
    }
    if (!run) {
        return {};
    }
    if (report.cadence == Cadence::Weekly) {
        // The week's statistics run from its Sunday through the day they are made.
        const chrono::sys_days sunday = *run - chrono::days{chrono::weekday{*run}.c_encoding()};
        return ", " + WithWeekday(sunday) + (sunday == *run ? "" : " to " + WithWeekday(*run));
    }
    // The month's statistics are those of the calendar month before the run's.
    static constexpr const char* kMonths[] = {"January",   "February", "March",    "April",
                                              "May",       "June",     "July",     "August",
                                              "September", "October",  "November", "December"};
    const chrono::year_month month =
        chrono::year_month_day{*run}.year() / chrono::year_month_day{*run}.month() -
        chrono::months{1};
    const chrono::sys_days first{month / chrono::day{1}};
    const chrono::sys_days last{month / chrono::last};
    return ", " + std::string(kMonths[unsigned(month.month()) - 1]) + " " +
           std::to_string(int(month.year())) + " (" + Numeric(first) + " to " + Numeric(last) + ")";
}

struct Entry {
    Recognised what;
    std::vector<std::string> files;
};

std::string Joined(std::string_view list, std::string_view word) {
    return std::string(list) + (list.empty() ? "" : ", ") + std::string(word);
}

// A name as the text shows it: the text stays ASCII and its lines its own, whatever bytes a
// path in the registry holds.
std::string Printable(std::string_view name) {
    std::string out(name);
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < ' ' || static_cast<unsigned char>(c) >= 127) {
            c = '?';
        }
    }
    return out;
}

// The files of an entry, indented, as many to a line as keep it within 72 characters.
std::string FileLines(const std::vector<std::string>& files) {
    constexpr std::size_t kWidth = 72;
    std::string out;
    std::string line;
    for (const std::string& file : files) {
        const std::string name = Printable(file);
        if (!line.empty() && line.size() + 2 + name.size() + 1 > kWidth) {
            out += line + ",\n";
            line.clear();
        }
        line = line.empty() ? "  " + name : line + ", " + name;
    }
    return out + line + "\n";
}

}  // namespace

ReportMailText ComposeReportMail(const std::vector<std::string>& fileNames, int day, int month,
                                 int year) {
    const std::optional<chrono::sys_days> run = DateOf(day, month, year);
    char asGiven[48];
    std::snprintf(asGiven, sizeof asGiven, "%02d/%02d/%04d", day, month, year);
    const std::string runNumeric = run ? Numeric(*run) : asGiven;
    const std::string runText = run ? WithWeekday(*run) : asGiven;

    // One entry per report (and date), in the order the mail carries them; the files of each
    // in that order too.
    std::vector<Entry> entries;
    bool cadences[std::size(kCadenceWords)] = {};
    bool xml = false;
    bool html = false;
    for (const std::string& name : fileNames) {
        const Recognised what = Recognise(name);
        auto entry = entries.begin();
        while (entry != entries.end() && !(entry->what == what)) {
            ++entry;
        }
        if (entry == entries.end()) {
            entry = entries.insert(entry, Entry{what, {}});
        }
        entry->files.push_back(name);
        if (what.report != kOtherFile) {
            cadences[static_cast<int>(kReportNames[what.report].cadence)] = true;
        }
        xml = xml || platform::EndsWithNoCase(name, layout::kReportExtension);
        html = html || platform::EndsWithNoCase(name, layout::kHtmlReportExtension);
    }

    ReportMailText text;
    if (entries.empty()) {
        text.subject = std::string(kSubject) + " - " + runNumeric + " no report";
        text.body = "The Brisko Web Proxy wrote no report this time (" + runText + ").\n" +
                    "A report is written when it is due, switched on and has records to list.\n";
        return text;
    }
    std::string kinds;
    for (std::size_t i = 0; i < std::size(kCadenceWords); ++i) {
        if (cadences[i]) {
            kinds = Joined(kinds, kCadenceWords[i]);
        }
    }
    text.body = "The reports the Brisko Web Proxy wrote on " + runText + " are attached:\n\n";
    for (const Entry& entry : entries) {
        if (entry.what.report == kOtherFile) {
            // Named for what it is: nothing this system writes.
            const bool one = entry.files.size() == 1;
            text.body += one ? "Other file\n" : "Other files\n";
            kinds = Joined(kinds, one ? "other file" : "other files");
        } else {
            const ReportName& report = kReportNames[entry.what.report];
            text.body += report.title + PeriodText(report, entry.what, run) + "\n";
        }
        text.body += FileLines(entry.files);
    }
    text.subject = std::string(kSubject) + " - " + runNumeric + " " + kinds;
    if (xml || html) {
        text.body += "\n";
    }
    if (xml) {
        text.body += std::string("Open the ") + layout::kReportExtension +
                     " files in a web browser or a spreadsheet program.\n";
    }
    if (html) {
        text.body +=
            std::string("Open the ") + layout::kHtmlReportExtension + " files in a web browser.\n";
    }
    return text;
}
