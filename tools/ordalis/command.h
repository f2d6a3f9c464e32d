#pragma once
// The command table of the `ordalis` front end. A subcommand is a function taking its own
// arguments (without the subcommand name) and returning the process exit status: 0 success,
// 1 test failure or errors found, 2 usage error or a file that cannot be read.

#include <string>
#include <vector>

#include "option_table.h"

namespace ordalis::cli {

using CommandFunction = int (*)(const std::vector<std::string>& args);

struct Command {
  // One word ("run"), or two words ("mail test") for a subcommand that lives apart from the
  // command it extends; the two-word form is matched first.
  const char* name;
  const char* summary;  // one line for `ordalis --help`
  CommandFunction run;
};

// Registers [command]; used through a file-scope CommandRegistration object.
void RegisterCommand(const Command& command);
const std::vector<Command>& Commands();

struct CommandRegistration {
  explicit CommandRegistration(const Command& command) { RegisterCommand(command); }
};

}  // namespace ordalis::cli
