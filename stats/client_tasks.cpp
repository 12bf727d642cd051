// Traffic totals per client of the client list, per day or month of six periods. Each entry
// of logip.log gives one encoded line, its period computed anew for the entry. A missing
// client list gives no line; a read failure keeps the lines made so far; a stop request ends
// the task without storing anything.
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "common/control_bytes.h"
#include "common/layout.h"
#include "platform/files.h"
#include "stats/base64.h"
#include "stats/line_reader.h"
#include "stats/log_names.h"
#include "stats/log_store.h"
#include "stats/periods.h"
#include "stats/read_counters.h"
#include "stats/tasks.h"

namespace stats {

namespace {

// The period of an entry, computed anew for each entry but only when the clock has moved on
// since the last one: the units depend on nothing but the current time, so the same second
// gives the same units without the calendar arithmetic (which dominated with many clients).
class PeriodForEntry {
  public:
    PeriodForEntry(const platform::Clock& clock, Period period, const CycleDate& date)
        : clock_(clock), period_(period), date_(date) {}
    const std::vector<PeriodUnit>& Units() {
        const std::time_t now = clock_.Now();
        if (!known_ || now != at_) {
            units_ = UnitsOf(period_, clock_, date_);
            at_ = now;
            known_ = true;
        }
        return units_;
    }

  private:
    const platform::Clock& clock_;
    Period period_;
    CycleDate date_;
    bool known_ = false;
    std::time_t at_ = 0;
    std::vector<PeriodUnit> units_;
};

std::string ClientLine(LogContext& ctx, std::size_t slots, PeriodForEntry& period,
                       const std::string& key) {
    std::vector<std::int64_t> totals(slots, 0);
    if (!IsSafeClientKey(key)) {
        if (ctx.Verbose()) {
            ctx.Note("client key \"" + EscapeControlBytes(key) +
                     "\" could name a file outside the log folder: no log searched, its line is "
                     "all zeros");
        }
    } else {
        const std::vector<PeriodUnit>& units = period.Units();
        for (std::size_t s = 0; s < units.size() && s < totals.size(); ++s) {
            totals[s] = SaturatingAdd(totals[s], SumClientLogs(ctx, StampOf(units[s]), key));
        }
    }
    return Base64Encode(key + " " + SlotList(totals)) + "\n";
}

}  // namespace

void BuildClientTotals(LogContext& ctx, Period period, const CycleDate& date, std::string& slot) {
    ctx.BeginTask();
    auto list = platform::File::Open(ctx.LogDirectory() + layout::kClientList,
                                     platform::OpenMode::Read, platform::ShareMode::ReadWrite);
    if (!list) {
        ctx.Note(std::string(layout::kClientList) +
                 " cannot be opened (missing, or no access): no client lines");
        return;
    }
    LogReads().filesOpened.fetch_add(1, std::memory_order_relaxed);
    LineReader reader(*list, LineReader::Mode::Text);
    std::string lines;
    std::string entry;
    PeriodForEntry units(*ctx.settings.clock, period, date);
    const std::size_t slots = InfoOf(period).slots;
    for (;;) {
        const LineReader::Result result = reader.Next(&entry);
        if (result == LineReader::Result::End) {
            break;
        }
        if (result == LineReader::Result::Error) {
            ctx.Note(std::string("reading ") + layout::kClientList +
                     " failed: the clients after the lines made so far are missing");
            break;
        }
        if (ctx.StopRequested()) {
            return;
        }
        if (result == LineReader::Result::TooLong) {
            continue;
        }
        lines += ClientLine(ctx, slots, units, ClientKeyOf(Base64DecodeText(entry)));
    }
    slot += lines;
}

}  // namespace stats
