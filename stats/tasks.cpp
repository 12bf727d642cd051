// Dispatch of a statistic to its kind's task; see tasks.h.
#include "stats/tasks.h"

namespace stats {

void RunStatistic(LogContext& ctx, const Statistic& statistic, const CycleDate& date,
                  std::string& slot) {
    const CycleDate given = OnlyStepArguments(statistic.args, date);
    switch (statistic.kind) {
        case Kind::Traffic:
            BuildTrafficTotals(ctx, statistic.period, given, slot);
            return;
        case Kind::Client:
            BuildClientTotals(ctx, statistic.period, given, slot);
            return;
        case Kind::Filter:
            CollectFilterExtract(ctx, statistic.period, given, slot);
            return;
    }
}

}  // namespace stats
