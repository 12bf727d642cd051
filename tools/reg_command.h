// `tallyctl reg`: the settings with the syntax of Windows' own reg command (add, query,
// delete, import, export), on the registry backend of the platform.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// args are the words after "reg". Returns 0 on success, 1 on failure (as reg does).
int RunRegCommand(const std::vector<std::string>& args);

// The same with its streams given: answers to Yes/No questions are read from in.
int RunRegCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                  std::ostream& err);
