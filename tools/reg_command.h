// `tallyctl reg`.
#pragma once

#include <string>
#include <vector>

int RunRegCommand(const std::vector<std::string>& args);
