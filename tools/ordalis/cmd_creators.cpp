// ordalis creators: list, register and unregister tester creators (or, with --batch, batch
// item creators) by their identifier text.

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "testers/batch_queue_creators.h"
#include "command.h"
#include "settings_warnings.h"
#include "settings/manager.h"
#include "testers/plugin_host.h"
#include "testers/testers.h"

namespace ordalis::cli {

namespace {

using settings::CreatorKind;
using settings::SettingsScope;

const CommandSyntax kSyntax{
    "creators",
    "[--batch]\n"
    "       ordalis creators add [--batch] ID\n"
    "       ordalis creators remove [--batch] ID",
    "Lists, registers or unregisters the tester creators (with --batch: the batch item\n"
    "creators). ID is the creator's identifier text, a class identifier in braces, e.g.\n"
    "{0E3A5B1C-6F2D-4E8A-9B7C-1D2E3F405162}. A creator is registered only when its catalogue\n"
    "can obtain it from a module on the plug-in path; when it cannot, the reason is shown\n"
    "(no module on the path registers the identifier, or the module's creator is unusable).\n"
    "Registrations go to the machine settings file when it can be written, otherwise to the\n"
    "user's; the list shows both, one creator a line with its module and its tester types:\n"
    "\n"
    "  {AE96A215-DD09-45A8-9075-26D1616B16E9}  /usr/lib/ordalis/plugins/echo.so  types: echo\n"
    "\n"
    "A registered identifier whose module is gone is listed as not loaded and can still be\n"
    "removed.\n",
    {{"--batch", 0, nullptr, "work on the batch item creators"}},
    "The plug-in path: the directories of ORDALIS_PLUGIN_PATH (colon-separated), then the\n"
    "installed and the build tree's plug-in directories.\n"
    "Exit status: 0 done, 1 refused or not written, 2 usage error.\n"};

int Usage(const std::string& problem) { return UsageError(kSyntax, problem); }

// The tester types the catalogue holds from the creator [id], comma-separated.
std::string TypesOf(const std::string& id) {
  std::string types;
  for (const auto& [type, creator] : Testers::Instance().Types()) {
    if (creator == id) types += (types.empty() ? "" : ", ") + type;
  }
  return types;
}

// One line of the list: the identifier, its module and, for a tester creator, its types.
void PrintCreator(CreatorKind kind, const std::string& id, bool accepted) {
  std::string module = PluginHost::Instance()->ModuleFile(id);
  if (module.empty() && id == BatchQueueCreators::kBuiltIn) module = "(built-in)";
  if (!accepted) {
    std::printf("%s  not loaded: %s\n", id.c_str(),
                module.empty() ? "no module on the plug-in path registers it"
                               : ("its creator in " + module + " is not usable").c_str());
    return;
  }
  std::printf("%s  %s", id.c_str(), module.empty() ? "(module unknown)" : module.c_str());
  if (kind == CreatorKind::kTester) std::printf("  types: %s", TypesOf(id).c_str());
  std::printf("\n");
}

int List(Manager& manager, CreatorKind kind) {
  std::vector<std::string> accepted = manager.Creators(kind);
  for (const std::string& id : accepted) PrintCreator(kind, id, true);
  for (const std::string& id : manager.StoredCreators(kind)) {
    if (std::find(accepted.begin(), accepted.end(), id) == accepted.end()) {
      PrintCreator(kind, id, false);
    }
  }
  return 0;
}

// Why the catalogue refused [id]: no module registers it (the plug-in path and the identifiers
// its modules do register are shown), or the module's creator is not usable.
void ExplainRefusal(CreatorKind kind, const std::string& id) {
  std::shared_ptr<PluginHost> host = PluginHost::Instance();
  std::string module = host->ModuleFile(id);
  if (!module.empty()) {
    std::fprintf(stderr, "ordalis creators: %s registers '%s', but its creator %s\n",
                 module.c_str(), id.c_str(),
                 kind == CreatorKind::kTester ? "offers no usable tester type"
                                              : "could not be made");
    return;
  }
  std::fprintf(stderr, "ordalis creators: no module on the plug-in path registers '%s'.\n",
               id.c_str());
  std::fprintf(stderr, "The plug-in path, searched in order (ORDALIS_PLUGIN_PATH adds directories):\n");
  for (const std::string& dir : PluginHost::PluginPath()) std::fprintf(stderr, "  %s\n", dir.c_str());
  std::vector<std::string> ids = kind == CreatorKind::kTester ? host->TesterCreatorIds()
                                                              : host->BatchQueueItemCreatorIds();
  if (ids.empty()) return;
  std::fprintf(stderr, "Identifiers its modules register:\n");
  for (const std::string& known : ids) {
    std::fprintf(stderr, "  %s  %s\n", known.c_str(), host->ModuleFile(known).c_str());
  }
}

int Creators(const std::vector<std::string>& args) {
  ParsedArguments arguments;
  if (int status = ParseOrExit(kSyntax, args, &arguments); status >= 0) return status;
  CreatorKind kind = arguments.Has("--batch") ? CreatorKind::kBatchItem : CreatorKind::kTester;
  const std::vector<std::string>& words = arguments.operands();
  Manager& manager = Manager::Instance();
  WarnOfUnreadableSettings("creators");
  if (words.empty()) return List(manager, kind);
  const std::string& verb = words[0];
  if (verb != "add" && verb != "remove") return Usage("unknown subcommand '" + verb + "'");
  if (words.size() != 2) return Usage("'creators " + verb + "' takes ID");
  std::string reason;
  bool done = verb == "add" ? manager.AddCreator(kind, words[1], &reason)
                            : manager.RemoveCreator(kind, words[1], &reason);
  if (!done) {
    std::fprintf(stderr, "ordalis creators: %s\n", reason.c_str());
    if (verb == "add" && reason.find("refused by the creator catalogue") != std::string::npos) {
      ExplainRefusal(kind, words[1]);
    }
    return 1;
  }
  return 0;
}

const CommandRegistration kRegistration{
    {"creators", "list, register or unregister tester and batch item creators", &Creators}};

}  // namespace

}  // namespace ordalis::cli
