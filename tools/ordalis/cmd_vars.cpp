// ordalis vars: list, set and remove the user variables (or, with --system, the system
// variables) that scripts read like their own.

#include <cstdio>
#include <string>
#include <vector>

#include "command.h"
#include "platform/text.h"
#include "settings/manager.h"

namespace ordalis::cli {

namespace {

using settings::SettingsScope;

constexpr const char* kHelp =
    "Usage: ordalis vars [--system]\n"
    "       ordalis vars set [--system] NAME VALUE\n"
    "       ordalis vars remove [--system] NAME\n"
    "\n"
    "Lists, sets or removes the user variables (with --system: the system variables shared by\n"
    "every user of the machine). Scripts read them like their own variables; names are kept in\n"
    "lower case and a value is kept exactly as given, written as a script literal (12, \"text\",\n"
    "true, [1, 2]).\n"
    "\n"
    "  --system   work on the system variables (machine settings file)\n"
    "\n"
    "Settings files: ORDALIS_USER_SETTINGS (default ~/.config/ordalis/settings.json) and\n"
    "ORDALIS_MACHINE_SETTINGS (default /etc/ordalis/settings.json).\n"
    "Exit status: 0 done, 1 the change could not be written, 2 usage error or a settings file\n"
    "that cannot be read.\n";

int Usage(const char* problem) {
  std::fprintf(stderr, "ordalis vars: %s\n\n%s", problem, kHelp);
  return 2;
}

// The scope's file must have been readable for its variables to mean anything.
bool ScopeReadable(const Manager& manager, SettingsScope scope) {
  std::string error = manager.LoadError(scope);
  if (error.empty()) return true;
  std::fprintf(stderr, "ordalis vars: %s\n", error.c_str());
  return false;
}

int List(Manager& manager, SettingsScope scope) {
  if (!ScopeReadable(manager, scope)) return 2;
  for (const auto& [name, value] : manager.Variables(scope)) {
    std::printf("%s = %s\n", name.c_str(), value.c_str());
  }
  return 0;
}

int Report(Manager& manager, Status status, const char* what) {
  if (Succeeded(status)) return 0;
  std::string error = manager.LastError();
  std::fprintf(stderr, "ordalis vars: %s failed%s%s\n", what, error.empty() ? "" : ": ",
               error.c_str());
  return 1;
}

int Vars(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  SettingsScope scope = SettingsScope::kUser;
  std::vector<std::string> words;
  for (const std::string& arg : args) {
    if (arg == "--system") {
      scope = SettingsScope::kMachine;
    } else if (arg.size() > 1 && arg[0] == '-' && words.empty()) {
      return Usage(("unknown option '" + arg + "'").c_str());
    } else {
      words.push_back(arg);
    }
  }
  Manager& manager = Manager::Instance();
  if (words.empty()) return List(manager, scope);
  const std::string verb = words[0];
  if (verb == "set") {
    if (words.size() != 3) return Usage("'vars set' takes NAME and VALUE");
    if (!ScopeReadable(manager, scope)) return 2;
    return Report(manager, manager.AddVariable(scope, words[1], words[2]), "setting the variable");
  }
  if (verb == "remove") {
    if (words.size() != 2) return Usage("'vars remove' takes NAME");
    if (!ScopeReadable(manager, scope)) return 2;
    if (manager.Variables(scope).count(LowerAscii(words[1])) == 0) {
      std::fprintf(stderr, "ordalis vars: no variable '%s'\n", words[1].c_str());
      return 1;
    }
    return Report(manager, manager.RemoveVariable(scope, words[1]), "removing the variable");
  }
  return Usage(("unknown subcommand '" + verb + "'").c_str());
}

const CommandRegistration kRegistration{
    {"vars", "list, set or remove user and system variables", &Vars}};

}  // namespace

}  // namespace ordalis::cli
