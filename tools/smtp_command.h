// `tallyctl smtp`.
#pragma once

#include <string>
#include <vector>

int RunSmtpCommand(const std::vector<std::string>& args);
