#pragma once
// Runs a command line through the shell, as a user would type it, and collects what it prints on
// standard output and its exit status. The line carries its own redirections ("2>&1" to collect
// standard error too). Used by the tests that drive the `ordalis` command and other programs.

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace ordalis::testing_support {

struct CommandOutcome {
  int status = -1;  // the exit status; -1 when the command did not exit normally or did not start
  std::string output;
};

// Collects the output and status of a command started with popen(..., "r"); a null [pipe] (the
// command did not start) gives status -1.
inline CommandOutcome FinishCommandLine(std::FILE* pipe) {
  CommandOutcome outcome;
  if (pipe == nullptr) return outcome;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) outcome.output.append(buffer, got);
  int status = ::pclose(pipe);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

inline CommandOutcome RunCommandLine(const std::string& command_line) {
  return FinishCommandLine(::popen(command_line.c_str(), "r"));
}

// "<build>/ordalis ARGUMENTS 2>&1": the command line of the `ordalis` command just built.
inline std::string OrdalisCommandLine(const std::string& arguments) {
  return std::string(ORDALIS_BINARY_DIR) + "/ordalis " + arguments + " 2>&1";
}

}  // namespace ordalis::testing_support
