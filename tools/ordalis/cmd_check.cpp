// ordalis check SCRIPT...: parses scripts without running them and prints every error found.

#include <cstdio>
#include <string>
#include <vector>

#include "command.h"
#include "language/script_item.h"
#include "language/script_loader.h"

namespace ordalis::cli {

namespace {

constexpr const char* kHelp =
    "Usage: ordalis check SCRIPT...\n"
    "\n"
    "Loads each script with its include files, without running it, and prints one line\n"
    "per error found:\n"
    "\n"
    "  FILE(LINE) : Error: TEXT\n"
    "\n"
    "Exit status: 0 when no script has an error, 1 when at least one error was found,\n"
    "2 when a script file cannot be opened or no script was named.\n";

// Prints the error line of every error item below [item]; returns how many there were.
std::size_t PrintErrors(const ScriptItem& item) {
  std::size_t errors = 0;
  if (item.type() == errorItem) {
    std::string line = item.ErrorLine(item.text());
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
    ++errors;
  }
  for (const ScriptItemPtr& child : item.children()) errors += PrintErrors(*child);
  return errors;
}

int Check(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (args.empty()) {
    std::fputs(kHelp, stderr);
    return 2;
  }
  bool unreadable = false;
  std::size_t errors = 0;
  for (const std::string& path : args) {
    ScriptItemPtr root = ScriptItem::Make(rootItem, path, path, 0);
    ScriptLoader loader;
    if (!loader.Load(path, root)) {
      std::fprintf(stderr, "ordalis check: cannot open '%s'\n", path.c_str());
      unreadable = true;
      continue;
    }
    errors += PrintErrors(*root);
  }
  if (unreadable) return 2;
  return errors > 0 ? 1 : 0;
}

const CommandRegistration kRegistration(
    {"check", "parse scripts and print every error they contain", &Check});

}  // namespace

}  // namespace ordalis::cli
