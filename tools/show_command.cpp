// Placeholder until `tallyctl show` is built.
#include "tools/show_command.h"

#include <cstdio>

int RunShowCommand(const std::vector<std::string>&) {
    std::fprintf(stderr, "tallyctl: 'show' is not available in this build\n");
    return 2;
}
