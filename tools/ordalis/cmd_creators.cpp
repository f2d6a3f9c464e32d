// ordalis creators: list, register and unregister tester creators (or, with --batch, batch
// item creators) by their identifier text.

#include <cstdio>
#include <string>
#include <vector>

#include "command.h"
#include "settings/manager.h"

namespace ordalis::cli {

namespace {

using settings::CreatorKind;
using settings::SettingsScope;

constexpr const char* kHelp =
    "Usage: ordalis creators [--batch]\n"
    "       ordalis creators add [--batch] ID\n"
    "       ordalis creators remove [--batch] ID\n"
    "\n"
    "Lists, registers or unregisters the tester creators (with --batch: the batch item\n"
    "creators). ID is the creator's identifier text, a class identifier in braces, e.g.\n"
    "{0E3A5B1C-6F2D-4E8A-9B7C-1D2E3F405162}. A creator is registered only when its catalogue\n"
    "can obtain it. Registrations go to the machine settings file when it can be written,\n"
    "otherwise to the user's; the list shows both.\n"
    "\n"
    "  --batch    work on the batch item creators\n"
    "\n"
    "Exit status: 0 done, 1 refused or not written, 2 usage error.\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "ordalis creators: %s\n\n%s", problem.c_str(), kHelp);
  return 2;
}

void WarnAboutUnreadableFiles(const Manager& manager) {
  for (const std::string& error : manager.LoadErrors()) {
    std::fprintf(stderr, "ordalis creators: warning: %s\n", error.c_str());
  }
}

int Creators(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  CreatorKind kind = CreatorKind::kTester;
  std::vector<std::string> words;
  for (const std::string& arg : args) {
    if (arg == "--batch") {
      kind = CreatorKind::kBatchItem;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage("unknown option '" + arg + "'");
    } else {
      words.push_back(arg);
    }
  }
  Manager& manager = Manager::Instance();
  WarnAboutUnreadableFiles(manager);
  if (words.empty()) {
    for (const std::string& id : manager.Creators(kind)) std::printf("%s\n", id.c_str());
    return 0;
  }
  const std::string& verb = words[0];
  if (verb != "add" && verb != "remove") return Usage("unknown subcommand '" + verb + "'");
  if (words.size() != 2) return Usage("'creators " + verb + "' takes ID");
  std::string reason;
  bool done = verb == "add" ? manager.AddCreator(kind, words[1], &reason)
                            : manager.RemoveCreator(kind, words[1], &reason);
  if (!done) {
    std::fprintf(stderr, "ordalis creators: %s\n", reason.c_str());
    return 1;
  }
  return 0;
}

const CommandRegistration kRegistration{
    {"creators", "list, register or unregister tester and batch item creators", &Creators}};

}  // namespace

}  // namespace ordalis::cli
