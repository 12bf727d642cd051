// Dispatch of a statistic to its kind's task; see tasks.h.
#include "stats/tasks.h"

namespace stats {

void RunStatistic(LogContext& ctx, const Statistic& statistic, const CycleDate& date,
                  std::string& slot) {
    const CycleDate given = OnlyStepArguments(statistic.args, date);
    ctx.SetTaskName(statistic.step);
    switch (statistic.kind) {
        case Kind::Traffic:
            BuildTrafficTotals(ctx, statistic.period, given, slot);
            break;
        case Kind::Client:
            BuildClientTotals(ctx, statistic.period, given, slot);
            break;
        case Kind::Filter:
            CollectFilterExtract(ctx, statistic.period, given, slot);
            break;
    }
    ctx.SetTaskName(nullptr);
}

}  // namespace stats
