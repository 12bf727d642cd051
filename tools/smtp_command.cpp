// Placeholder until `tallyctl smtp` is built.
#include "tools/smtp_command.h"

#include <cstdio>

int RunSmtpCommand(const std::vector<std::string>&) {
    std::fprintf(stderr, "tallyctl: 'smtp' is not available in this build\n");
    return 2;
}
