// `tallyctl cycle [--at "YYYY-MM-DD HH:MM:SS"] [--no-pause] [--cycles N] [--quiet]
// [--verbose]`: runs RunCycle on a worker that reads the registry as the service does,
// optionally with a frozen clock and without pauses, showing each step as it begins and the
// service's messages (the verbose log's among them, when VerboseLog is 1 or --verbose given).
#include "tools/cycle_command.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "aggregator/aggregator_worker.h"
#include "platform/clock.h"
#include "platform/pacer.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: tallyctl cycle [--at \"YYYY-MM-DD HH:MM:SS\"] [--no-pause] "
                 "[--cycles N] [--quiet] [--verbose]\n");
    return 2;
}

}  // namespace

bool ParseCycleTime(const std::string& text, std::time_t* out) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char tail = 0;
    // A date alone must end where the date does; with a time, nothing may follow it.
    const bool withTime =
        std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d%c", &y, &mo, &d, &h, &mi, &s, &tail) == 6;
    if (!withTime && std::sscanf(text.c_str(), "%d-%d-%d%c", &y, &mo, &d, &tail) != 3) {
        return false;
    }
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 ||
        s > 60 || y < 1970 || y > 9999) {
        return false;
    }
    // Only a real calendar date comes back unchanged ("2026-02-30" would become 2 March).
    const platform::LocalDate back = platform::BreakDown(platform::LocalTimeOf(y, mo, d, 12));
    if (back.year != y || back.month != mo || back.day != d) {
        return false;
    }
    *out = platform::LocalTimeOf(y, mo, d, h, mi, s);
    return *out != static_cast<std::time_t>(-1);
}

int RunCycleCommand(const std::vector<std::string>& args) {
    std::unique_ptr<platform::Clock> clock = std::make_unique<platform::SystemClock>();
    bool pauses = true, quiet = false, verbose = false;
    long cycles = 1;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--at" && i + 1 < args.size()) {
            std::time_t t = 0;
            if (!ParseCycleTime(args[++i], &t)) {
                std::fprintf(stderr, "tallyctl cycle: cannot read the time '%s'\n",
                             args[i].c_str());
                return 2;
            }
            clock = std::make_unique<platform::FixedClock>(t);
        } else if (args[i] == "--no-pause") {
            pauses = false;
        } else if (args[i] == "--quiet") {
            quiet = true;
        } else if (args[i] == "--verbose") {
            verbose = true;
        } else if (args[i] == "--cycles" && i + 1 < args.size()) {
            char* end = nullptr;
            cycles = std::strtol(args[++i].c_str(), &end, 10);
            if (*end != '\0' || cycles < 1 || cycles > 100000) {
                return Usage();
            }
        } else {
            return Usage();
        }
    }

    platform::StoppablePacer pacer(pauses);
    std::string message;
    bool constructed = false;
    ServiceHooks hooks;
    // Before the worker exists the only message is the missing path, which ends the command;
    // afterwards every message (the verbose log's) is shown between the steps.
    hooks.logMessage = [&message, &constructed](const std::string& text) {
        if (!constructed) {
            message = text;
            return;
        }
        std::printf("    %s\n", text.c_str());
        std::fflush(stdout);
    };
    AggregatorWorker worker(*clock, pacer, hooks);
    constructed = true;
    if (!worker.HasAppPath()) {
        std::fprintf(stderr, "tallyctl cycle: %s\n", message.c_str());
        return 1;
    }
    if (verbose) {
        worker.ForceVerboseLog();
    }
    if (!quiet) {
        worker.SetStepObserver([](const CycleStep& step) {
            std::printf("  %s", step.name);
            for (int i = 0; i < step.argCount; ++i) {
                std::printf("%s%d", i == 0 ? " (" : ", ", step.args[i]);
            }
            std::printf("%s\n", step.argCount > 0 ? ")" : "");
            std::fflush(stdout);
        });
    }
    for (long n = 1; n <= cycles; ++n) {
        auto start = std::chrono::steady_clock::now();
        worker.RunCycle();
        double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        std::printf("cycle %ld done in %.1f ms\n", n, ms);
        std::fflush(stdout);
    }
    return 0;
}
