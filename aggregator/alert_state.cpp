// The alert state file: a header line, the mail hour line, then one line per fired alert with
// the client last, its bytes outside printable ASCII (and "%" and blanks) as %XX, so no key
// can add a line or a field.
#include "aggregator/alert_state.h"

#include <algorithm>
#include <cstdio>

#include "common/layout.h"
#include "platform/files.h"
#include "platform/text_mode.h"

namespace {

constexpr char kHeader[] = "tallyvane-alerts 1";
constexpr std::size_t kMaxStateBytes = 4 << 20;
constexpr std::size_t kMaxFired = 100000;

std::string EncodeKey(std::string_view key) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : key) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u <= ' ' || u >= 0x7f || c == '%') {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 15];
        } else {
            out += c;
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool DecodeKey(std::string_view text, std::string* out) {
    std::string key;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char u = static_cast<unsigned char>(text[i]);
        if (u <= ' ' || u >= 0x7f) {
            return false;
        }
        if (text[i] != '%') {
            key += text[i];
            continue;
        }
        const int hi = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
        const int lo = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
        if (hi < 0 || lo < 0) {
            return false;
        }
        key += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    *out = std::move(key);
    return true;
}

bool IsDay(std::string_view day) {
    int y = 0, m = 0, d = 0;
    char tail = 0;
    return day.size() == 10 &&
           std::sscanf(std::string(day).c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) == 3 &&
           m >= 1 && m <= 12 && d >= 1 && d <= 31;
}

// Splits at single spaces into exactly count fields; false otherwise.
bool Fields(std::string_view line, std::size_t count, std::vector<std::string_view>* out) {
    out->clear();
    std::size_t start = 0;
    while (out->size() + 1 < count) {
        const std::size_t space = line.find(' ', start);
        if (space == std::string_view::npos) {
            return false;
        }
        out->push_back(line.substr(start, space - start));
        start = space + 1;
    }
    out->push_back(line.substr(start));
    for (std::string_view f : *out) {
        if (f.empty()) {
            return false;
        }
    }
    return true;
}

bool Number(std::string_view text, std::int64_t low, std::int64_t high, std::int64_t* out) {
    if (text.empty() || text.size() > 19) {
        return false;
    }
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    if (value < low || value > high) {
        return false;
    }
    *out = value;
    return true;
}

}  // namespace

bool AlertState::HasFired(std::string_view day, AlertRule rule, std::string_view client) const {
    return std::any_of(fired.begin(), fired.end(), [&](const FiredAlert& f) {
        return f.day == day && f.rule == rule && f.client == client;
    });
}

void AlertState::KeepDay(std::string_view day) {
    fired.erase(std::remove_if(fired.begin(), fired.end(),
                               [&](const FiredAlert& f) { return f.day != day && !f.inSummary; }),
                fired.end());
}

std::string FormatAlertState(const AlertState& state) {
    std::string out = std::string(kHeader) + "\n";
    out += "hour " + (state.mailHour.empty() ? std::string("-") : EncodeKey(state.mailHour)) + " " +
           std::to_string(state.mailsInHour) + "\n";
    for (const FiredAlert& f : state.fired) {
        char time[8];
        std::snprintf(time, sizeof time, "%02d:%02d", f.hour, f.minute);
        out += "alert " + f.day + " " + time + " " + InfoOf(f.rule).key + " " +
               std::to_string(f.figure) + " " + std::to_string(f.compared) + " " +
               (f.inSummary ? "1" : "0") + " " + EncodeKey(f.client) + "\n";
    }
    return out;
}

bool ParseAlertState(std::string_view bytes, AlertState* out) {
    if (bytes.size() > kMaxStateBytes) {
        return false;
    }
    AlertState state;
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos) {
            return false;  // cut short: the last line has no end
        }
        std::string_view line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.push_back(line);
        start = end + 1;
    }
    if (lines.size() < 2 || lines[0] != kHeader || lines.size() - 2 > kMaxFired) {
        return false;
    }
    std::vector<std::string_view> f;
    std::int64_t n = 0;
    if (!Fields(lines[1], 3, &f) || f[0] != "hour" || !Number(f[2], 0, UINT32_MAX, &n)) {
        return false;
    }
    if (f[1] != "-" && !DecodeKey(f[1], &state.mailHour)) {
        return false;
    }
    state.mailsInHour = static_cast<std::uint32_t>(n);
    for (std::size_t i = 2; i < lines.size(); ++i) {
        FiredAlert a;
        std::int64_t hour = 0, minute = 0, flag = 0;
        if (!Fields(lines[i], 8, &f) || f[0] != "alert" || !IsDay(f[1]) || f[2].size() != 5 ||
            f[2][2] != ':' || !Number(f[2].substr(0, 2), 0, 23, &hour) ||
            !Number(f[2].substr(3), 0, 59, &minute) || !AlertRuleOfKey(f[3], &a.rule) ||
            !Number(f[4], 0, INT64_MAX, &a.figure) || !Number(f[5], 0, INT64_MAX, &a.compared) ||
            !Number(f[6], 0, 1, &flag) || !DecodeKey(f[7], &a.client)) {
            return false;
        }
        a.day = std::string(f[1]);
        a.hour = static_cast<int>(hour);
        a.minute = static_cast<int>(minute);
        a.inSummary = flag == 1;
        state.fired.push_back(std::move(a));
    }
    *out = std::move(state);
    return true;
}

StateLoad LoadAlertState(const std::string& path, AlertState* state) {
    *state = AlertState{};
    if (!platform::FileExists(path)) {
        return StateLoad::Absent;
    }
    std::string bytes;
    if (platform::ReadFileBytes(path, platform::ShareMode::None, &bytes, kMaxStateBytes + 1) &&
        ParseAlertState(bytes, state)) {
        return StateLoad::Loaded;
    }
    // Kept for whoever wants to see what went wrong; the next save replaces the original.
    if (!bytes.empty()) {
        platform::ReplaceFileBytes(path + layout::kDamagedSuffix, bytes);
    }
    *state = AlertState{};
    return StateLoad::Damaged;
}

bool SaveAlertState(const std::string& path, const AlertState& state) {
    return platform::ReplaceFileBytes(path, platform::ToTextMode(FormatAlertState(state)));
}
