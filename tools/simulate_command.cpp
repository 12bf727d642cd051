// Placeholder until `tallyctl simulate` is built.
#include "tools/simulate_command.h"

#include <cstdio>

int RunSimulateCommand(const std::vector<std::string>&) {
    std::fprintf(stderr, "tallyctl: 'simulate' is not available in this build\n");
    return 2;
}
