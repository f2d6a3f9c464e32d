#pragma once
// Reading a password for the mail commands.

#include <string>

namespace ordalis::cli {

// One line from standard input; on a terminal it prompts "Password: " on standard error and
// does not echo what is typed.
std::string ReadPassword();

}  // namespace ordalis::cli
