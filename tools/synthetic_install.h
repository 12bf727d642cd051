// A seeded generator of synthetic proxy installations, shared by `tallyctl simulate` and the
// bench: the client list, the user list and the logs of a run of days, written as the proxy
// writes them (base64 lines, each ending in CR LF). What the logs hold comes from a profile
// (the simulator's office browsing in working hours, the bench's uniform load); the same
// profile and seed always give the same bytes, on every platform. A file that cannot be
// written ends the run with its path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace synthetic {

// splitmix64: the same sequence on every platform and compiler.
class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, n).
    long Below(long n) { return static_cast<long>(Next() % static_cast<std::uint64_t>(n)); }
    // Uniform in [lo, hi].
    long Between(long lo, long hi) { return lo + Below(hi - lo + 1); }
    bool Chance(int percent) { return Between(1, 100) <= percent; }
    template <typename T, std::size_t N>
    const T& Pick(const T (&items)[N]) {
        return items[Next() % N];
    }

  private:
    std::uint64_t state_;
};

struct Client {
    std::string key;     // after the "|" of its client-list entry, and in its logs' names
    std::string host;    // before the "|"
    std::string user;    // its name in the user list; empty: not listed there
    int activity = 100;  // percent of the typical volume
};

// A log line with the second of the day it happened at.
struct Event {
    int second;
    std::string text;
};
// The texts in time order, as the proxy appends them; events of the same second keep theirs.
std::vector<std::string> InTimeOrder(std::vector<Event> events);

// What an installation holds. The generator calls it in a fixed order with one Random: the
// clients once, then for each day each client's traffic, then the day's filter events.
class Profile {
  public:
    virtual ~Profile() = default;
    virtual std::vector<Client> Clients(Random& rng) const = 0;
    // The records of the client's traffic log of the day, in file order; none: no log.
    virtual std::vector<std::string> Traffic(Random& rng, const Client& client,
                                             const platform::LocalDate& day) const = 0;
    // The records of the day's filter log, in file order; none: no log.
    virtual std::vector<std::string> Filter(Random& rng, const std::vector<Client>& clients,
                                            const platform::LocalDate& day) const = 0;
};

struct Counts {
    long clients = 0;
    long usersListed = 0;
    long trafficLogs = 0;
    long records = 0;
    long filterLogs = 0;
    long events = 0;
    std::uint64_t bytes = 0;
    platform::LocalDate first{};  // the first day written
};

// Writes the installation below app (which ends with a separator): the client list in the
// log folder, the user list when some client has a user name, and the logs of `days` days
// ending with the day year-month-day. False, with *failed set to the path, when a file
// cannot be written.
bool WriteInstallation(const std::string& app, const Profile& profile, std::uint64_t seed,
                       long days, int year, int month, int day, Counts* counts,
                       std::string* failed);

}  // namespace synthetic
