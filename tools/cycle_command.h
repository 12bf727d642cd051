// `tallyctl cycle`: one (or N) aggregation cycles of a worker built as the service builds it.
#pragma once

#include <string>
#include <vector>

int RunCycleCommand(const std::vector<std::string>& args);
