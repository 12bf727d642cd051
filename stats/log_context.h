// What every statistic task and report reader needs from the worker: where the logs are,
// what time it is, and the pacer for the scan pauses.
#pragma once

#include <string>

#include "platform/clock.h"
#include "platform/pacer.h"

namespace stats {

struct LogContext {
    std::string appPath;  // the proxy's installation directory, ending with a separator
    const platform::Clock* clock = nullptr;
    platform::Pacer* pacer = nullptr;
};

}  // namespace stats
