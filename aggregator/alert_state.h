// What the alerts have done, kept across cycles and restarts in one small text file beside
// the summary files: the alerts fired (each once per client, rule and day), how many mails
// went out in the current hour, and the alerts that wait for the hour's summary mail. The
// file is replaced atomically; one that cannot be read back is set aside (copied to
// "<name>.damaged") and the day starts afresh, so its alerts may repeat once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "aggregator/alert_rules.h"

struct FiredAlert {
    std::string day;  // YYYY-MM-DD
    int hour = 0;
    int minute = 0;
    AlertRule rule = AlertRule::DailyLimit;
    std::int64_t figure = 0;
    std::int64_t compared = 0;
    bool inSummary = false;  // waits for the summary mail at the end of its hour
    std::string client;
};

struct AlertState {
    std::string mailHour;  // "YYYY-MM-DD HH" of mailsInHour
    std::uint32_t mailsInHour = 0;
    std::vector<FiredAlert> fired;

    bool HasFired(std::string_view day, AlertRule rule, std::string_view client) const;
    // Drops the alerts of other days, except those still waiting for their summary.
    void KeepDay(std::string_view day);
};

std::string FormatAlertState(const AlertState& state);
// False for anything but a file FormatAlertState could have written (within bounds).
bool ParseAlertState(std::string_view bytes, AlertState* out);

enum class StateLoad { Absent, Loaded, Damaged };
// Damaged: the file was set aside and *state is empty.
StateLoad LoadAlertState(const std::string& path, AlertState* state);
bool SaveAlertState(const std::string& path, const AlertState& state);
