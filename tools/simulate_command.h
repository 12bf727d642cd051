// `tallyctl simulate`.
#pragma once

#include <string>
#include <vector>

int RunSimulateCommand(const std::vector<std::string>& args);
