// ordalis tree [--json] SCRIPT: prints the item tree of a loaded script.

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "command.h"
#include "language/script_item.h"
#include "language/script_loader.h"

namespace ordalis::cli {

namespace {

constexpr const char* kHelp =
    "Usage: ordalis tree [--json] SCRIPT\n"
    "\n"
    "Loads the script with its include files, without running it, and prints its item\n"
    "tree: one line per item, indented by depth, with the item type, its text in double\n"
    "quotes and its line number.\n"
    "\n"
    "  --json   print the tree as one JSON object per item instead:\n"
    "           {\"type\", \"text\", \"scriptText\", \"file\", \"line\", \"children\": [...]},\n"
    "           the root item at the top\n"
    "\n"
    "Exit status: 0 when the tree holds no error item, 1 when it does, 2 when the script\n"
    "cannot be opened or the arguments are wrong.\n";

const char* TypeName(ItemType type) {
  const char* name = ItemTypeName(type);
  return name ? name : "unknownItem";
}

bool HasErrors(const ScriptItem& item) {
  if (item.type() == errorItem) return true;
  for (const ScriptItemPtr& child : item.children()) {
    if (HasErrors(*child)) return true;
  }
  return false;
}

void PrintText(const ScriptItem& item, int depth, std::string& out) {
  out.append(static_cast<std::size_t>(depth) * 2, ' ');
  out += TypeName(item.type());
  out += " \"" + item.text() + "\" line " + std::to_string(item.line()) + "\n";
  for (const ScriptItemPtr& child : item.children()) PrintText(*child, depth + 1, out);
}

nlohmann::ordered_json ToJson(ScriptItem& item) {
  nlohmann::ordered_json children = nlohmann::ordered_json::array();
  for (const ScriptItemPtr& child : item.children()) children.push_back(ToJson(*child));
  // Script texts may hold bytes that are not UTF-8; the dump replaces them.
  return nlohmann::ordered_json{{"type", TypeName(item.type())},
                        {"text", item.text()},
                        {"scriptText", item.ScriptTextOf()},
                        {"file", item.file_name()},
                        {"line", item.line()},
                        {"children", std::move(children)}};
}

int Tree(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  bool json = false;
  std::vector<std::string> scripts;
  for (const std::string& arg : args) {
    if (arg == "--json") {
      json = true;
    } else {
      scripts.push_back(arg);
    }
  }
  if (scripts.size() != 1) {
    std::fputs(kHelp, stderr);
    return 2;
  }
  const std::string& path = scripts.front();
  ScriptItemPtr root = ScriptItem::Make(rootItem, path, path, 0);
  ScriptLoader loader;
  if (!loader.Load(path, root)) {
    std::fprintf(stderr, "ordalis tree: cannot open '%s'\n", path.c_str());
    return 2;
  }
  bool errors = HasErrors(*root);
  if (json) {
    std::cout << ToJson(*root).dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
              << "\n";
  } else {
    std::string out;
    PrintText(*root, 0, out);
    std::fwrite(out.data(), 1, out.size(), stdout);
  }
  return errors ? 1 : 0;
}

const CommandRegistration kRegistration(
    {"tree", "print the item tree of a loaded script", &Tree});

}  // namespace

}  // namespace ordalis::cli
