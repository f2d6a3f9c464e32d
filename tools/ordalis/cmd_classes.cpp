// ordalis classes: the creatable classes of the component, by programmatic identifier, with
// the interfaces each object answers.

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "command.h"
#include "ordalis/interfaces.h"
#include "server/factory.h"

namespace ordalis::cli {
namespace {

const CommandSyntax kSyntax{
    "classes", "",
    "Lists the classes a client of libordalis.so can create with CreateInstance: each\n"
    "programmatic identifier (also accepted with the version suffix \".1\", in any case of\n"
    "letters) and the interfaces a new object of it answers. Every class is created once to\n"
    "ask it, so a class that cannot be made is shown as such.\n",
    {},
    "Exit status: 0 every class could be made, 1 one could not, 2 usage error.\n"};

template <typename Interface>
void AddIfAnswered(const std::shared_ptr<IUnknown>& object, const char* name, std::string* list) {
  if (!std::dynamic_pointer_cast<Interface>(object)) return;
  if (!list->empty()) *list += ", ";
  *list += name;
}

std::string InterfacesOf(const std::shared_ptr<IUnknown>& object) {
  std::string list;
  AddIfAnswered<IScript>(object, "IScript", &list);
  AddIfAnswered<IScriptItem>(object, "IScriptItem", &list);
  AddIfAnswered<IApplicationManager1>(object, "IApplicationManager1", &list);
  AddIfAnswered<ITesterUtilities1>(object, "ITesterUtilities1", &list);
  AddIfAnswered<IBatchQueue>(object, "IBatchQueue", &list);
  AddIfAnswered<IScriptProxy>(object, "IScriptProxy", &list);
  AddIfAnswered<IBatchQueueItem2>(object, "IBatchQueueItem2", &list);
  // The classes with event sources, which clients advise through it.
  AddIfAnswered<IConnectionPointContainer>(object, "IConnectionPointContainer", &list);
  return list;
}

int Classes(const std::vector<std::string>& args) {
  ParsedArguments arguments;
  if (int status = ParseOrExit(kSyntax, args, &arguments); status >= 0) return status;
  if (!arguments.operands().empty()) {
    return UsageError(kSyntax, "unexpected argument '" + arguments.operands()[0] + "'");
  }
  int status = 0;
  for (const std::string& progid : ClassProgids()) {
    std::shared_ptr<IUnknown> object;
    if (CreateInstance(progid + ".1", &object) != S_OK || !object) {
      std::printf("%-28s (cannot be created)\n", progid.c_str());
      status = 1;
      continue;
    }
    std::printf("%-28s %s\n", progid.c_str(), InterfacesOf(object).c_str());
  }
  return status;
}

const CommandRegistration kRegistration({"classes", "list the component's creatable classes", Classes});

}  // namespace
}  // namespace ordalis::cli
