// ordalis testers [--json]: the tester types the catalogue knows, with their creators, modules,
// versions and documented actions.

#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "command.h"
#include "settings_warnings.h"
#include "testers/plugin_host.h"
#include "testers/tester_proxy.h"
#include "testers/testers.h"

namespace ordalis::cli {
namespace {

const CommandSyntax kSyntax{
    "testers",
    "[--json]",
    "Lists every tester type the catalogue knows: its creator identifier, the module that\n"
    "provides it, its version and description, the constructor parameters and each action\n"
    "with its documentation.\n"
    "\n"
    "Modules are found on the plug-in path: the directories of ORDALIS_PLUGIN_PATH\n"
    "(colon-separated), then the installed and the build tree's plug-in directories.\n",
    {{"--json", 0, nullptr, "one JSON document: an array with one object per tester type"}}};

struct ActionInfo {
  std::string name;
  std::string description;
  TextArray in_parameters;
  TextArray out_parameters;
};

struct TypeInfo {
  std::string type;
  std::string creator;
  std::string module;
  std::string version;
  std::string description;
  std::string constructor;
  TextArray constructor_parameters;
  std::vector<ActionInfo> actions;
  std::string error;
};

TypeInfo Describe(const std::string& type, const std::string& creator) {
  TypeInfo info;
  info.type = type;
  info.creator = creator;
  info.module = PluginHost::Instance()->ModuleFile(creator);
  std::string message;
  auto tester = Testers::Instance().Create(type, &message);
  if (!tester) {
    info.error = message;
    return info;
  }
  tester->get_Version(&info.version);
  tester->get_Description(&info.description);
  tester->ConstructorDocumentation(&info.constructor, &info.constructor_parameters);
  std::uint32_t count = 0;
  tester->get_ActionCount(&count);
  for (std::uint32_t i = 0; i < count; ++i) {
    ActionInfo action;
    tester->get_Actions(i, &action.name);
    tester->ActionDocumentation(i, &action.description, &action.in_parameters, &action.out_parameters);
    info.actions.push_back(std::move(action));
  }
  return info;
}

std::string Join(const TextArray& texts) {
  std::string joined;
  for (const std::string& text : texts) joined += (joined.empty() ? "" : ", ") + text;
  return joined;
}

void PrintText(const std::vector<TypeInfo>& types) {
  if (types.empty()) {
    std::printf("No tester types found. Modules are looked for in:\n");
    for (const std::string& dir : PluginHost::PluginPath()) std::printf("  %s\n", dir.c_str());
    return;
  }
  for (const TypeInfo& t : types) {
    std::printf("%s\n", t.type.c_str());
    std::printf("  creator:     %s\n", t.creator.c_str());
    std::printf("  module:      %s\n", t.module.c_str());
    if (!t.error.empty()) {
      std::printf("  error:       %s\n\n", t.error.c_str());
      continue;
    }
    std::printf("  version:     %s\n", t.version.c_str());
    if (!t.description.empty()) std::printf("  description: %s\n", t.description.c_str());
    std::printf("  new %s(%s)\n", t.type.c_str(), Join(t.constructor_parameters).c_str());
    if (!t.constructor.empty()) std::printf("      %s\n", t.constructor.c_str());
    std::printf("  actions:\n");
    for (const ActionInfo& a : t.actions) {
      std::printf("    %s(%s)", a.name.c_str(), Join(a.in_parameters).c_str());
      if (!a.out_parameters.empty()) std::printf(" -> %s", Join(a.out_parameters).c_str());
      std::printf("\n");
      if (!a.description.empty()) std::printf("        %s\n", a.description.c_str());
    }
    std::printf("\n");
  }
}

void PrintJson(const std::vector<TypeInfo>& types) {
  nlohmann::ordered_json all = nlohmann::ordered_json::array();
  for (const TypeInfo& t : types) {
    nlohmann::ordered_json actions = nlohmann::ordered_json::array();
    for (const ActionInfo& a : t.actions) {
      actions.push_back({{"name", a.name},
                         {"description", a.description},
                         {"inParameters", a.in_parameters},
                         {"outParameters", a.out_parameters}});
    }
    nlohmann::ordered_json entry = {{"type", t.type},
                            {"creator", t.creator},
                            {"module", t.module},
                            {"version", t.version},
                            {"description", t.description},
                            {"constructor", {{"description", t.constructor},
                                             {"inParameters", t.constructor_parameters}}},
                            {"actions", actions}};
    if (!t.error.empty()) entry["error"] = t.error;
    all.push_back(std::move(entry));
  }
  std::printf("%s\n", all.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
}

int RunTesters(const std::vector<std::string>& args) {
  ParsedArguments arguments;
  if (int status = ParseOrExit(kSyntax, args, &arguments); status >= 0) return status;
  if (!arguments.operands().empty()) {
    return UsageError(kSyntax, "unexpected argument '" + arguments.operands()[0] + "'");
  }
  bool json = arguments.Has("--json");
  WarnOfUnreadableSettings("testers");
  std::vector<TypeInfo> types;
  for (const auto& [type, creator] : Testers::Instance().Types()) types.push_back(Describe(type, creator));
  if (json) {
    PrintJson(types);
  } else {
    PrintText(types);
  }
  return 0;
}

const CommandRegistration kRegistration{
    {"testers", "list the tester types the catalogue knows, with their actions", &RunTesters}};

}  // namespace
}  // namespace ordalis::cli
