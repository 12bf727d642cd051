// Placeholder until `tallyctl reg` is built.
#include "tools/reg_command.h"

#include <cstdio>

int RunRegCommand(const std::vector<std::string>&) {
    std::fprintf(stderr, "tallyctl: 'reg' is not available in this build\n");
    return 2;
}
