// tally_bench: generates a synthetic proxy installation (clients x days x records per
// client-day, and filter lines per day) and measures the statistic work of one aggregation
// cycle on it with the pauses off: the time of each of the eighteen tasks and of the cycle,
// the files opened and bytes read, the pauses the cycle would have slept, and the peak
// memory. For comparison it also times the floor (one pass that reads and decodes every log
// once), the check pass (list every log, read today's) and the directory scans a literal
// implementation would make (a fresh scan of the whole log directory per search pattern).
// On Windows the peak memory covers the whole process. Exit status 2 for bad arguments, 1 when the
// installation cannot be written, 3 when a cycle's statistic texts differ from the first's.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "aggregator/alert_rules.h"
#include "aggregator/metrics_file.h"
#include "aggregator/today_figures.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/pacer.h"
#include "platform/process.h"
#include "stats/base64.h"
#include "stats/log_context.h"
#include "stats/log_index.h"
#include "stats/log_names.h"
#include "stats/log_store.h"
#include "stats/read_counters.h"
#include "stats/tasks.h"
#include "tools/synthetic_install.h"

namespace {

struct Options {
    std::string dir = "/tmp/tally_bench";
    long clients = 200;
    long days = 365;
    long records = 100;
    long filterLines = 100;
    int year = 2026, month = 12, day = 31;  // the last day generated, and "today"
    bool reuse = false;
    bool keep = false;
    bool perTaskListing = false;
    bool tasks = false;  // print each task's figures
    bool plain = true;   // also run a cycle without reuse
    long steadyCycles = 1;
    long repeat = 1;           // floor, check, cold and steady measured this many times
    long literalSamples = 24;  // search patterns replayed as literal directory scans
    long changes = 0;          // steady cycles with the proxy's changes between them
    bool alerts = false;       // also time the alert check and the metrics file, all rules on
};

// The lowest of the measurements made, and the peak memory of the cycles.
struct Figures {
    double floor = 1e9, check = 1e9, cold = 1e9, steady = 1e9, plain = 1e9;
    // Of the cycles with changes: the watched one, its full-listing reference, and reading
    // just the appended bytes.
    double changedWatched = 1e9, changedFull = 1e9, appendedOnly = 1e9;
    // Of the first cold and the first steady cycle (later runs inherit freed memory).
    long coldPeakKb = -1, coldBeforeKb = 0, steadyPeakKb = -1, steadyBeforeKb = 0;
    std::size_t trafficEntries = 0, filterEntries = 0, filterBytes = 0;
    std::vector<std::string> patterns;  // the searches of one cycle, in order
    double alerts = 1e9;                // the alert check and metrics text of a steady cycle
};
Figures figures;

// Counts the pauses instead of sleeping.
class CountingPacer final : public platform::Pacer {
  public:
    bool Pause(std::uint32_t ms) override {
        ++count;
        totalMs += ms;
        return true;
    }
    bool StopRequested() const override { return false; }
    void RequestStop() override {}
    std::uint64_t count = 0;
    std::uint64_t totalMs = 0;
};

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long Kb(std::uint64_t bytes) {
    return static_cast<long>(bytes / 1024);
}

std::string TwoDigits(long v) {
    return (v < 10 ? "0" : "") + std::to_string(v);
}

std::string ClientKey(long i) {
    return "10." + std::to_string(i / 62500) + "." + std::to_string(i / 250 % 250) + "." +
           std::to_string(i % 250 + 1);
}

std::string ParamsLine(const Options& o) {
    return std::to_string(o.clients) + " " + std::to_string(o.days) + " " +
           std::to_string(o.records) + " " + std::to_string(o.filterLines) + " " +
           std::to_string(o.year) + "-" + std::to_string(o.month) + "-" + std::to_string(o.day) +
           "\n";
}

// The same load every day: each client with the same number of records of random size and
// hour, and the same number of filter events.
class UniformLoad final : public synthetic::Profile {
  public:
    explicit UniformLoad(const Options& o) : o_(o) {}

    std::vector<synthetic::Client> Clients(synthetic::Random&) const override {
        std::vector<synthetic::Client> clients;
        for (long c = 0; c < o_.clients; ++c) {
            clients.push_back({ClientKey(c), "bench", "", 100});
        }
        return clients;
    }

    std::vector<std::string> Traffic(synthetic::Random& random, const synthetic::Client&,
                                     const platform::LocalDate&) const override {
        std::vector<std::string> records;
        for (long r = 0; r < o_.records; ++r) {
            records.push_back(std::to_string(200 + random.Below(250000)) + "*GET http://site" +
                              std::to_string(random.Below(5000)) + ".example/page" +
                              std::to_string(random.Below(100000)) +
                              " HTTP/1.1 200 OK Time:" + TwoDigits(random.Below(24)) + ":" +
                              TwoDigits(random.Below(60)) + ":" + TwoDigits(random.Below(60)));
        }
        return records;
    }

    std::vector<std::string> Filter(synthetic::Random& random,
                                    const std::vector<synthetic::Client>&,
                                    const platform::LocalDate& date) const override {
        static const char* kFilters[] = {"Adult_Content", "Gambling",        "Social_Networking",
                                         "Malware_Sites", "Streaming_Media", "Advertising"};
        const std::string stamp = stats::DayStamp(date.day, date.month, date.year);
        std::vector<std::string> records;
        for (long f = 0; f < o_.filterLines; ++f) {
            records.push_back(stamp + " " + ClientKey(random.Below(o_.clients)) + " user" +
                              std::to_string(random.Below(50)) + " " + TwoDigits(random.Below(24)) +
                              ":00:00 http://blocked" + std::to_string(random.Below(900)) +
                              ".example/ " + kFilters[random.Below(6)] + " ");
        }
        return records;
    }

  private:
    const Options& o_;
};

struct Reads {
    std::uint64_t files, bytes;
};

Reads Snapshot() {
    return {stats::LogReads().filesOpened.load(), stats::LogReads().bytesRead.load()};
}

void PrintReads(const char* what, double seconds, Reads before) {
    const Reads after = Snapshot();
    std::printf("%-54s %7.3f s  %8llu files  %10.1f MB read\n", what, seconds,
                static_cast<unsigned long long>(after.files - before.files),
                static_cast<double>(after.bytes - before.bytes) / 1e6);
}

// Reads and decodes every log once: the least any cycle has to do.
void FloorPass(const std::string& logs) {
    const Reads before = Snapshot();
    const auto start = std::chrono::steady_clock::now();
    stats::LogIndex index;
    index.Load(logs);
    std::int64_t total = 0;
    std::string filterText;
    for (const platform::DirEntry& e : index.Entries()) {
        const std::string path = logs + e.name;
        if (e.name.rfind("Filter_", 0) == 0) {
            filterText.clear();
            stats::CopyFilterLines(path, filterText);
        } else if (e.name.size() > 11 && e.name[2] == '_' && e.name[5] == '_') {
            stats::HourTotals hours{};
            stats::ReadTrafficFile(path, hours);
            total += stats::SumOf(hours);
        }
    }
    const double took = Seconds(start);
    figures.floor = std::min(figures.floor, took);
    PrintReads("floor: every log read once", took, before);
    std::printf("  (sum of all traffic: %lld bytes)\n", static_cast<long long>(total));
}

// Logs read today: what a cycle that reuses every unchanged result still has to read.
void CheckPass(const Options& o, const std::string& logs) {
    const Reads before = Snapshot();
    const auto start = std::chrono::steady_clock::now();
    std::vector<platform::DirEntry> entries;
    platform::ListDirectory(logs, &entries);
    const std::string today = stats::DayStamp(o.day, o.month, o.year) + "_";
    for (const platform::DirEntry& e : entries) {
        if (e.name.rfind(today, 0) == 0) {
            stats::HourTotals hours{};
            stats::ReadTrafficFile(logs + e.name, hours);
        }
    }
    const double took = Seconds(start);
    figures.check = std::min(figures.check, took);
    PrintReads("check: list all, read today's logs", took, before);
}

// One context for several cycles, as the worker keeps one for its lifetime.
class CycleRunner {
  public:
    // watch off: a full listing every cycle and today's logs read whole (the reference).
    CycleRunner(const Options& o, const std::string& app, bool reuse, bool watch = true)
        : o_(o), clock_(platform::LocalTimeOf(o.year, o.month, o.day, 12)) {
        ctx_.settings.appPath = app;
        ctx_.settings.clock = &clock_;
        ctx_.settings.pacer = &pacer_;
        ctx_.settings.reuseResults = reuse;
        ctx_.settings.watchLogFolder = watch;
        ctx_.settings.readAppended = watch;
        ctx_.settings.verbose = [](const std::string& line) {
            std::printf("  verbose log: %s\n", line.c_str());
        };
    }

    // The texts of the last cycle.
    const std::vector<std::string>& Texts() const { return texts_; }
    // Off: the texts may differ from the first cycle's (the logs are changed between them).
    bool sameTextsExpected = true;

    // Returns the cycle's work time.
    double Run(const char* title, bool perTask) {
        const stats::CycleDate date = stats::CycleDateOf(platform::BreakDown(clock_.Now()));
        std::vector<std::string> slots(stats::kStatisticCount);
        pacer_.count = 0;
        pacer_.totalMs = 0;
        const bool peakReset = platform::ResetPeakResident();
        const long rssBefore = Kb(platform::ResidentBytes());
        const Reads before = Snapshot();
        const auto start = std::chrono::steady_clock::now();
        if (!perTask) {
            ctx_.BeginCycle();
        }
        std::vector<std::string> patterns;
        ctx_.settings.searchLog = figures.patterns.empty() ? &patterns : nullptr;
        if (!perTask && o_.tasks) {
            // The listing of the cycle (and the check of the reuse table against it), which
            // the first search would otherwise take.
            const auto listingStart = std::chrono::steady_clock::now();
            ctx_.Logs();
            std::printf("%-54s %7.3f s\n", "listing of the log directory", Seconds(listingStart));
        }
        std::uint64_t slotBytes = 0;
        for (std::size_t i = 0; i < stats::kStatisticCount; ++i) {
            const Reads taskBefore = Snapshot();
            const auto taskStart = std::chrono::steady_clock::now();
            stats::RunStatistic(ctx_, stats::kStatistics[i], date, slots[i]);
            if (o_.tasks) {
                PrintReads(stats::kStatistics[i].step, Seconds(taskStart), taskBefore);
            }
            slotBytes += slots[i].size();
        }
        const double took = Seconds(start);
        ctx_.settings.searchLog = nullptr;
        if (!patterns.empty()) {
            figures.patterns = std::move(patterns);
        }
        PrintReads(title, took, before);
        const long peakKb = Kb(platform::PeakResidentBytes());
        std::printf(
            "  statistic texts %.1f MB; pauses not slept %llu (%.0f s); peak memory %ld MB"
            "%s, %ld MB before; reuse table %zu traffic logs, %zu filter logs (%.1f MB)\n",
            static_cast<double>(slotBytes) / 1e6, static_cast<unsigned long long>(pacer_.count),
            static_cast<double>(pacer_.totalMs) / 1000.0, peakKb / 1024,
            peakReset ? "" : " (whole process)", rssBefore / 1024, ctx_.caches.traffic.Size(),
            ctx_.caches.filter.Size(), static_cast<double>(ctx_.caches.filter.Bytes()) / 1e6);
        if (ctx_.settings.reuseResults &&
            (cycles_ == 0 ? figures.coldPeakKb : figures.steadyPeakKb) < 0) {
            (cycles_ == 0 ? figures.coldPeakKb : figures.steadyPeakKb) = peakKb;
            (cycles_ == 0 ? figures.coldBeforeKb : figures.steadyBeforeKb) = rssBefore;
            figures.trafficEntries = ctx_.caches.traffic.Size();
            figures.filterEntries = ctx_.caches.filter.Size();
            figures.filterBytes = ctx_.caches.filter.Bytes();
        }
        if (o_.alerts) {
            Alerts(date, slots, took);
        }
        if (last_.empty()) {
            last_ = slots;
        } else if (sameTextsExpected && slots != last_) {
            std::printf("  ** the statistic texts differ from the first cycle's **\n");
            differed = true;
        }
        ++cycles_;
        texts_ = std::move(slots);
        return took;
    }

    static bool differed;

    // The work the cycle adds at its end when every alert rule and the metrics file are on:
    // today's figures with the 28-day history, the rules, and the metrics text.
    void Alerts(const stats::CycleDate& date, const std::vector<std::string>& slots, double cycle) {
        AlertRules rules;
        rules.dailyMb = 1;
        rules.spikeFactor = 2;
        rules.spikeMinMb = 0;
        rules.filters = ParseFilterList(
            "Adult Content,Gambling,Social Networking,Malware Sites,Streaming Media,Advertising");
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = platform::ThreadCpuSeconds();
        const std::string& clients =
            slots[stats::IndexOf(stats::Kind::Client, stats::Period::TwoWeeks)];
        const std::string& traffic =
            slots[stats::IndexOf(stats::Kind::Traffic, stats::Period::TwoWeeks)];
        const TodayFigures today =
            GatherToday(ctx_, date, clients, traffic, {&rules, true, &spikeHistory_});
        const std::size_t alerts = CheckAlertRules(rules, today.clients).size();
        MetricsFigures metrics;
        metrics.today = &today;
        const std::size_t metricBytes = FormatMetrics(metrics).size();
        const double took = Seconds(start);
        const double cpu = platform::ThreadCpuSeconds() - cpuStart;
        std::printf(
            "  alert check and metrics text %.4f s, %.4f s on the CPU (%.1f %% of the cycle): "
            "%zu alerts, %zu bytes of metrics\n",
            took, cpu, cycle > 0 ? 100.0 * took / cycle : 0.0, alerts, metricBytes);
        if (ctx_.settings.reuseResults && cycles_ > 0) {
            figures.alerts = std::min(figures.alerts, took);
        }
    }

  private:
    const Options& o_;
    platform::FixedClock clock_;
    CountingPacer pacer_;
    stats::LogContext ctx_;
    SpikeHistory spikeHistory_;  // as the worker keeps it between cycles
    int cycles_ = 0;             // cycles run on ctx_
    std::vector<std::string> texts_;
    static std::vector<std::string> last_;
};

std::vector<std::string> CycleRunner::last_;
bool CycleRunner::differed = false;

// Replays a sample of the cycle's search patterns the way a literal implementation runs
// them: each a fresh search of the whole log directory (every name listed and matched, as a
// FindFirstFileA/FindNextFileA loop does). Only the scanning is timed, not the reading of
// what is found; the per-scan time is multiplied by the number of searches in a cycle.
void LiteralScans(const Options& o, const std::string& logs) {
    const std::vector<std::string>& all = figures.patterns;
    if (all.empty() || o.literalSamples == 0) {
        return;
    }
    const std::size_t samples = std::min<std::size_t>(all.size(), o.literalSamples);
    std::size_t found = 0;
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < samples; ++i) {
        // Spread over the cycle: traffic, client and filter searches all get sampled.
        const std::string& pattern = all[i * all.size() / samples];
        found += platform::FindFiles(logs + pattern).size();
    }
    const double perScan = Seconds(start) / static_cast<double>(samples);
    std::printf(
        "literal per-pattern directory scans: %zu searches per cycle; %zu sampled, %.3f s per "
        "scan (%zu files found)\n  => about %.0f s of scanning per cycle, before any log is "
        "read\n",
        all.size(), samples, perScan, found, perScan * static_cast<double>(all.size()));
}

// What the proxy does between two cycles, undone at the end so the installation can be reused:
// today's logs grow, a new client's log appears, retention takes a period away.
class ProxyChanges {
  public:
    ProxyChanges(const Options& o, const std::string& logs) : o_(o), logs_(logs) {}
    ~ProxyChanges() { Undo(); }

    // The changes before the step-th changed cycle (from 0).
    void Apply(long step) {
        appended_.clear();
        const std::string today = stats::DayStamp(o_.day, o_.month, o_.year);
        for (long c = 0; c < o_.clients; ++c) {
            Append(today + "_" + ClientKey(c), {Record(c, step, 0), Record(c, step, 1)});
        }
        if (o_.filterLines > 0) {
            Append(stats::FilterLogName(today), {today + " " + ClientKey(step % o_.clients) +
                                                 " user1 12:00:00 "
                                                 "http://blocked1.example/ Gambling "});
        }
        if (step % 3 == 1) {
            // A client seen for the first time today.
            const std::string key = "10.250.0." + std::to_string(step);
            Append("logip.log", {"bench|" + key});
            Append(today + "_" + key, {Record(0, step, 2)});
            created_.push_back(logs_ + today + "_" + key);
        }
        if (step % 3 == 2) {
            // Retention: the oldest 30 days go (moved aside, to be put back).
            const std::time_t last = platform::LocalTimeOf(o_.year, o_.month, o_.day, 12);
            const std::string aside = logs_ + "../Retired/";
            std::filesystem::create_directories(aside);
            for (long back = o_.days - 1 - 30 * (step / 3);
                 back > o_.days - 31 - 30 * (step / 3) && back > 0; --back) {
                const platform::LocalDate d = platform::BreakDown(last - back * 86400);
                const std::string stamp = stats::DayStamp(d.day, d.month, d.year);
                std::vector<std::string> names;
                for (long c = 0; c < o_.clients; ++c) {
                    names.push_back(stamp + "_" + ClientKey(c));
                }
                names.push_back(stats::FilterLogName(stamp));
                for (const std::string& name : names) {
                    std::error_code failed;
                    std::filesystem::rename(logs_ + name, aside + name, failed);
                    if (!failed) {
                        moved_.emplace_back(aside + name, logs_ + name);
                    }
                }
            }
        }
    }

    // Reads just the bytes appended by the last Apply: the least a cycle has to read.
    double ReadAppended() const {
        const auto start = std::chrono::steady_clock::now();
        std::vector<char> buffer(64 * 1024);
        std::uint64_t bytes = 0;
        for (const auto& [path, offset] : appended_) {
            auto file =
                platform::File::Open(path, platform::OpenMode::Read, platform::ShareMode::None);
            if (file && file->Seek(offset)) {
                for (std::int64_t n; (n = file->Read(buffer.data(), buffer.size())) > 0;) {
                    bytes += static_cast<std::uint64_t>(n);
                }
            }
        }
        const double took = Seconds(start);
        std::printf("%-54s %7.3f s  %8zu files  %10.3f MB read\n",
                    "reading just the appended bytes", took, appended_.size(),
                    static_cast<double>(bytes) / 1e6);
        return took;
    }

    void Undo() {
        for (const auto& [path, size] : grown_) {
            std::error_code ignored;
            std::filesystem::resize_file(path, size, ignored);
        }
        for (const std::string& path : created_) {
            std::error_code ignored;
            std::filesystem::remove(path, ignored);
        }
        for (const auto& [from, to] : moved_) {
            std::error_code ignored;
            std::filesystem::rename(from, to, ignored);
        }
        std::error_code ignored;
        std::filesystem::remove(logs_ + "../Retired", ignored);
        grown_.clear();
        created_.clear();
        moved_.clear();
    }

  private:
    static std::string Record(long client, long step, long n) {
        return std::to_string(300 + client % 1000 + step * 7 + n) +
               "*GET http://site1.example/page HTTP/1.1 200 OK Time:12:" + TwoDigits(step % 60) +
               ":" + TwoDigits(n);
    }

    void Append(const std::string& name, const std::vector<std::string>& records) {
        const std::string path = logs_ + name;
        std::error_code missing;
        const std::uint64_t size = std::filesystem::file_size(path, missing);
        const std::uint64_t before = missing ? 0 : size;
        if (!missing && originalSize_.emplace(path, size).second) {
            grown_.emplace_back(path, size);
        }
        std::ofstream out(path, std::ios::binary | std::ios::app);
        for (const std::string& r : records) {
            out << stats::Base64Encode(r) << "\r\n";
        }
        appended_.emplace_back(path, before);
    }

    const Options& o_;
    std::string logs_;
    std::vector<std::pair<std::string, std::uint64_t>> appended_;  // this step's, from where
    std::map<std::string, std::uint64_t> originalSize_;
    std::vector<std::pair<std::string, std::uint64_t>> grown_;
    std::vector<std::string> created_;
    std::vector<std::pair<std::string, std::string>> moved_;
};

// Steady cycles with the proxy's changes between them, each timed with the watch and
// against a cycle with a full listing (and today's logs read whole), whose texts it must equal.
void ChangedCycles(const Options& o, const std::string& app, CycleRunner& watched) {
    CycleRunner reference(o, app, true, false);
    reference.sameTextsExpected = false;
    watched.sameTextsExpected = false;
    reference.Run("reference (full listing, reuse): cold", false);
    ProxyChanges changes(o, app + "Logs/");
    for (long step = 0; step < o.changes; ++step) {
        changes.Apply(step);
        std::printf("\nchanges %ld: today's logs grown%s\n", step + 1,
                    step % 3 == 1   ? ", a new client's log"
                    : step % 3 == 2 ? ", the oldest 30 days taken away"
                                    : "");
        const double appended = changes.ReadAppended();
        const double full = reference.Run("reference: full listing, today's logs whole", false);
        const double took = watched.Run("steady cycle with the watch", false);
        const bool same = watched.Texts() == reference.Texts();
        std::printf(
            "  texts %s the reference's; %.1fx the appended bytes' reading, %.2fx the "
            "reference\n",
            same ? "identical to" : "** DIFFER from **", took / appended, took / full);
        if (!same) {
            CycleRunner::differed = true;
        }
        figures.changedWatched = std::min(figures.changedWatched, took);
        figures.changedFull = std::min(figures.changedFull, full);
        figures.appendedOnly = std::min(figures.appendedOnly, appended);
    }
}

bool ParseDate(const std::string& text, Options* o) {
    return std::sscanf(text.c_str(), "%d-%d-%d", &o->year, &o->month, &o->day) == 3 &&
           o->month >= 1 && o->month <= 12 && o->day >= 1 && o->day <= 31 && o->year >= 1971;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: tally_bench [--dir DIR] [--clients N] [--days N] [--records N]\n"
                 "                   [--filter-lines N] [--at YYYY-MM-DD] [--reuse] [--keep]\n"
                 "                   [--per-task-listing] [--tasks] [--steady N] [--no-plain]\n"
                 "                   [--repeat N] [--literal-samples N] [--changes N]\n"
                 "                   [--alerts]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        auto number = [&](long* out, long min, long max) {
            char* end = nullptr;
            *out = std::strtol(argv[++i], &end, 10);
            return *end == '\0' && *out >= min && *out <= max;
        };
        if (a == "--dir" && hasValue) {
            o.dir = argv[++i];
        } else if (a == "--clients" && hasValue) {
            if (!number(&o.clients, 1, 60000)) {
                return Usage();
            }
        } else if (a == "--days" && hasValue) {
            if (!number(&o.days, 1, 3660)) {
                return Usage();
            }
        } else if (a == "--records" && hasValue) {
            if (!number(&o.records, 0, 1000000)) {
                return Usage();
            }
        } else if (a == "--filter-lines" && hasValue) {
            if (!number(&o.filterLines, 0, 1000000)) {
                return Usage();
            }
        } else if (a == "--at" && hasValue) {
            if (!ParseDate(argv[++i], &o)) {
                return Usage();
            }
        } else if (a == "--reuse") {
            o.reuse = true;
        } else if (a == "--keep") {
            o.keep = true;
        } else if (a == "--per-task-listing") {
            o.perTaskListing = true;
        } else if (a == "--steady" && hasValue) {
            if (!number(&o.steadyCycles, 0, 1000)) {
                return Usage();
            }
        } else if (a == "--repeat" && hasValue) {
            if (!number(&o.repeat, 1, 100)) {
                return Usage();
            }
        } else if (a == "--literal-samples" && hasValue) {
            if (!number(&o.literalSamples, 0, 100000)) {
                return Usage();
            }
        } else if (a == "--changes" && hasValue) {
            if (!number(&o.changes, 0, 1000)) {
                return Usage();
            }
        } else if (a == "--no-plain") {
            o.plain = false;
        } else if (a == "--tasks") {
            o.tasks = true;
        } else if (a == "--alerts") {
            o.alerts = true;
        } else {
            return Usage();
        }
    }
    const std::string app = o.dir + "/";
    const std::string logs = app + "Logs/";
    std::string params;
    const bool reusable =
        o.reuse &&
        platform::ReadFileBytes(logs + "bench.params", platform::ShareMode::None, &params) &&
        params == ParamsLine(o);
    std::printf(
        "installation: %s, %ld clients x %ld days x %ld records, %ld filter lines/day, "
        "today %d-%02d-%02d\n",
        app.c_str(), o.clients, o.days, o.records, o.filterLines, o.year, o.month, o.day);
    if (!reusable) {
        if (platform::FileExists(logs + "bench.params") || platform::FileExists(logs)) {
            std::fprintf(stderr, "tally_bench: %s exists; remove it or pass --reuse\n",
                         logs.c_str());
            return 1;
        }
        const auto start = std::chrono::steady_clock::now();
        synthetic::Counts counts;
        std::string failed;
        // A fixed seed: the same data on every run.
        if (!synthetic::WriteInstallation(app, UniformLoad(o), 42, o.days, o.year, o.month, o.day,
                                          &counts, &failed)) {
            std::fprintf(stderr, "tally_bench: cannot write %s\n", failed.c_str());
            return 1;
        }
        if (!platform::ReplaceFileBytes(logs + "bench.params", ParamsLine(o))) {
            std::fprintf(stderr, "tally_bench: cannot write %sbench.params\n", logs.c_str());
            return 1;
        }
        std::printf("generated %ld logs, %.1f MB in %.1f s\n",
                    counts.trafficLogs + counts.filterLogs + 1,
                    static_cast<double>(counts.bytes) / 1e6, Seconds(start));
    } else {
        std::printf("reusing the generated installation\n");
    }
    for (long r = 0; r < o.repeat; ++r) {
        std::printf("\n");
        FloorPass(logs);
        std::printf("\n");
        CheckPass(o, logs);
        std::printf("\n");
        if (o.plain && r == 0) {
            CycleRunner plain(o, app, false);
            figures.plain =
                plain.Run(o.perTaskListing ? "cycle, every log read by each task (listing per task)"
                                           : "cycle, every log read by each task",
                          o.perTaskListing);
        }
        {
            CycleRunner reuse(o, app, true);
            figures.cold =
                std::min(figures.cold, reuse.Run("cycle reusing results: cold", o.perTaskListing));
            for (long i = 0; i < o.steadyCycles; ++i) {
                figures.steady =
                    std::min(figures.steady,
                             reuse.Run("cycle reusing results: steady state", o.perTaskListing));
            }
            if (o.changes > 0 && r == 0 && !o.perTaskListing) {
                ChangedCycles(o, app, reuse);
            }
        }
    }
    std::printf("\n");
    LiteralScans(o, logs);
    std::printf("\nsummary (lowest of %ld run%s):\n", o.repeat, o.repeat == 1 ? "" : "s");
    std::printf("  floor %.3f s, check %.3f s\n", figures.floor, figures.check);
    if (o.plain) {
        std::printf("  cycle without reuse %.3f s (%.2fx floor)\n", figures.plain,
                    figures.plain / figures.floor);
    }
    std::printf("  cold cycle %.3f s (%.2fx floor), steady cycle %.3f s (%.2fx check)\n",
                figures.cold, figures.cold / figures.floor, figures.steady,
                figures.steady / figures.check);
    if (o.alerts && figures.alerts < 1e9) {
        std::printf("  alert check and metrics text after a steady cycle %.4f s (%.1f %% more)\n",
                    figures.alerts, 100.0 * figures.alerts / figures.steady);
    }
    std::printf(
        "  peak memory (resident) of the first cold cycle %ld MB (%ld MB before it), of the "
        "first steady cycle %ld MB (%ld MB before it);\n  reuse table %zu traffic logs, %zu "
        "filter logs holding %.1f MB of lines\n",
        figures.coldPeakKb / 1024, figures.coldBeforeKb / 1024, figures.steadyPeakKb / 1024,
        figures.steadyBeforeKb / 1024, figures.trafficEntries, figures.filterEntries,
        static_cast<double>(figures.filterBytes) / 1e6);
    if (o.changes > 0 && figures.changedWatched < 1e9) {
        std::printf(
            "  with changes between cycles: watched %.3f s (%.1fx reading just the "
            "appended bytes, %.3f s), full listing %.3f s\n",
            figures.changedWatched, figures.changedWatched / figures.appendedOnly,
            figures.appendedOnly, figures.changedFull);
    }
    if (CycleRunner::differed) {
        std::printf("  ** some cycle's statistic texts differed **\n");
    }
    if (!o.keep && !reusable) {
        // The Logs folder did not exist before (generation refuses otherwise), so all of it
        // is ours to remove.
        std::error_code ignored;
        std::filesystem::remove_all(logs, ignored);
        std::filesystem::remove(app, ignored);  // only when empty
        std::printf("\ngenerated installation deleted (pass --keep to keep it)\n");
    }
    return CycleRunner::differed ? 3 : 0;
}
