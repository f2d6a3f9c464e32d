// ordalis vars: list, set and remove the user variables (or, with --system, the system
// variables) that scripts read like their own.

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "command.h"
#include "platform/text.h"
#include "settings/manager.h"
#include "value_literal.h"

namespace ordalis::cli {

namespace {

using settings::SettingsScope;

const char kDescription[] =
    "Lists, sets or removes the user variables (with --system: the system variables shared by\n"
    "every user of the machine). Scripts read them like their own variables: a name that is\n"
    "not a script variable is looked up among the user variables, then the system variables.\n"
    "Names are kept in lower case.\n"
    "\n"
    "The list shows each variable with its scope and the kind of value a script reads from it:\n"
    "\n"
    "  limit = 10  [user, Integer]\n"
    "\n"
    "A VALUE is a script literal, checked before it is stored: 12, -7, 0x1f, 2.5, \"text\"\n"
    "(the quotes are part of the value: quote them for the shell, '\"a b\"'), true, false,\n"
    "[1, 2], or a list 1,2. Anything else is refused, since no script could read it.\n";

const CommandSyntax kSyntax{
    "vars",
    "[--user | --system]\n"
    "       ordalis vars set [--system] [--string] NAME VALUE\n"
    "       ordalis vars remove [--system] NAME",
    kDescription,
    {
        {"--user", 0, nullptr, "list the user variables only"},
        {"--system", 0, nullptr, "list, set or remove the system variables (machine settings file)"},
        {"--string", 0, nullptr, "store VALUE as text: 'ordalis vars set --string name a b c' stores \"a b c\""},
    },
    "Settings files: ORDALIS_USER_SETTINGS (default ~/.config/ordalis/settings.json) and\n"
    "ORDALIS_MACHINE_SETTINGS (default /etc/ordalis/settings.json).\n"
    "Exit status: 0 done, 1 the change could not be written, 2 usage error (a VALUE that is no\n"
    "script literal included) or a settings file that cannot be read.\n",
    2};

enum class Listed { kBoth, kUser, kSystem };

int Usage(const char* problem) { return UsageError(kSyntax, problem); }

// The scope's file must have been readable for its variables to mean anything.
bool ScopeReadable(const Manager& manager, SettingsScope scope) {
  std::string error = manager.LoadError(scope);
  if (error.empty()) return true;
  std::fprintf(stderr, "ordalis vars: %s\n", error.c_str());
  return false;
}

void ListScope(Manager& manager, SettingsScope scope) {
  const char* word = scope == SettingsScope::kUser ? "user" : "system";
  for (const auto& [name, value] : manager.Variables(scope)) {
    std::printf("%s = %s  [%s, %s]\n", name.c_str(), value.c_str(), word, LiteralKind(value).c_str());
  }
}

// User variables first: a script finds them before a system variable of the same name.
int List(Manager& manager, Listed listed) {
  bool user = listed != Listed::kSystem;
  bool system = listed != Listed::kUser;
  if (user && !ScopeReadable(manager, SettingsScope::kUser)) return 2;
  if (system && !ScopeReadable(manager, SettingsScope::kMachine)) return 2;
  if (user) ListScope(manager, SettingsScope::kUser);
  if (system) ListScope(manager, SettingsScope::kMachine);
  return 0;
}

// The text to store for VALUE: the literal itself, or with --string the text as a literal.
std::optional<std::string> StoredText(const std::string& value, bool as_string) {
  std::string problem;
  std::optional<std::string> literal = as_string ? StringLiteral(value, &problem)
                                                 : CheckedLiteral(value, &problem);
  if (!literal) std::fprintf(stderr, "ordalis vars: %s\n\n%s", problem.c_str(), kLiteralForms);
  return literal;
}

int Report(Manager& manager, Status status, const char* what) {
  if (Succeeded(status)) return 0;
  std::string error = manager.LastError();
  std::fprintf(stderr, "ordalis vars: %s failed%s%s\n", what, error.empty() ? "" : ": ",
               error.c_str());
  return 1;
}

int Vars(const std::vector<std::string>& args) {
  ParsedArguments arguments;
  if (int status = ParseOrExit(kSyntax, args, &arguments); status >= 0) return status;
  bool system = arguments.Has("--system");
  SettingsScope scope = system ? SettingsScope::kMachine : SettingsScope::kUser;
  Listed listed = system ? Listed::kSystem : arguments.Has("--user") ? Listed::kUser : Listed::kBoth;
  bool as_string = arguments.Has("--string");
  const std::vector<std::string>& words = arguments.operands();
  Manager& manager = Manager::Instance();
  if (words.empty()) return List(manager, listed);
  const std::string verb = words[0];
  if (verb == "set") {
    if (words.size() < 3 || (words.size() > 3 && !as_string)) {
      return Usage("'vars set' takes NAME and VALUE");
    }
    std::string value = words[2];
    for (std::size_t i = 3; i < words.size(); ++i) value += " " + words[i];
    std::optional<std::string> stored = StoredText(value, as_string);
    if (!stored) return 2;
    if (!ScopeReadable(manager, scope)) return 2;
    return Report(manager, manager.AddVariable(scope, words[1], *stored), "setting the variable");
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
