#pragma once
// The settings files a command could not read (a syntax error, no permission), said on standard
// error: the variables, mail settings and creators they hold are missing from what the command
// does, and the user must know why.

#include <cstddef>

namespace ordalis::cli {

// Prints "ordalis COMMAND: warning: the settings were not read: REASON" for each settings file
// that could not be read (REASON names the file) and returns how many there were.
std::size_t WarnOfUnreadableSettings(const char* command);

}  // namespace ordalis::cli
