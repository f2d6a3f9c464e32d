// ordalis: the command-line front end of the Ordalis test-script engine.

#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "command.h"

namespace ordalis::cli {

namespace {

std::vector<Command>& Table() {
  static std::vector<Command> table;
  return table;
}

void PrintUsage(std::FILE* out) {
  std::fprintf(out,
               "Usage: ordalis COMMAND [OPTIONS] [ARGUMENTS]\n"
               "\n"
               "Ordalis runs test scripts against tester plug-ins and records a result on every\n"
               "statement.\n"
               "\n"
               "Commands:\n");
  std::vector<Command> sorted = Table();
  std::sort(sorted.begin(), sorted.end(),
            [](const Command& a, const Command& b) { return std::strcmp(a.name, b.name) < 0; });
  for (const Command& command : sorted) {
    std::fprintf(out, "  %-10s %s\n", command.name, command.summary);
  }
  std::fprintf(out,
               "\n"
               "Run 'ordalis COMMAND --help' for the options of one command.\n"
               "Exit status: 0 success, 1 test failure or errors found, 2 usage error or a file\n"
               "that cannot be read or written.\n");
}

void IgnoreSignal(int) {}

// A closed console (`ordalis run … | head -1`) and a file-size limit are write errors, not
// deaths: a write then fails with EPIPE or EFBIG, the console loses its lines and every other
// file is written, or reported, as without them. A handler that does nothing is used instead of
// SIG_IGN so that programs the commands start (command files, perl files) get the default
// behaviour back when they are executed.
void SurviveWriteSignals() {
  struct sigaction action {};
  action.sa_handler = IgnoreSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGPIPE, &action, nullptr);
  sigaction(SIGXFSZ, &action, nullptr);
}

}  // namespace

void RegisterCommand(const Command& command) { Table().push_back(command); }

const std::vector<Command>& Commands() { return Table(); }

}  // namespace ordalis::cli

int main(int argc, char** argv) {
  using namespace ordalis::cli;
  SurviveWriteSignals();
  if (argc < 2) {
    PrintUsage(stderr);
    return 2;
  }
  std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    PrintUsage(stdout);
    return 0;
  }
  if (name == "--version") {
    std::printf("ordalis 4.0\n");
    return 0;
  }
  // A two-word command ("mail test") wins over its one-word prefix ("mail").
  if (argc >= 3) {
    std::string two_words = name + " " + argv[2];
    for (const Command& command : Commands()) {
      if (two_words == command.name) return command.run(std::vector<std::string>(argv + 3, argv + argc));
    }
  }
  std::vector<std::string> args(argv + 2, argv + argc);
  for (const Command& command : Commands()) {
    if (name == command.name) return command.run(args);
  }
  std::fprintf(stderr, "ordalis: unknown command '%s'\n\n", name.c_str());
  PrintUsage(stderr);
  return 2;
}
