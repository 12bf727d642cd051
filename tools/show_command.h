// `tallyctl show`.
#pragma once

#include <string>
#include <vector>

int RunShowCommand(const std::vector<std::string>& args);
