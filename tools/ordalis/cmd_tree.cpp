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

const CommandSyntax kSyntax{
    "tree",
    "[--json] SCRIPT",
    "Loads the script with its include files, without running it, and prints its item\n"
    "tree: one line per item, indented by depth, with the item type, its text in double\n"
    "quotes and its line number.\n",
    {{"--json", 0, nullptr,
      "print the tree as one JSON object per item instead: {\"type\", \"text\", \"scriptText\", \"file\", "
      "\"line\", \"children\": [...]}, the root item at the top, written compactly on one line"}},
    "Exit status: 0 when the tree holds no error item, 1 when it does, 2 when the script\n"
    "cannot be opened or the arguments are wrong.\n"};

const char* TypeName(ItemType type) {
  const char* name = ItemTypeName(type);
  return name ? name : "unknownItem";
}

void PrintLine(const ScriptItem& item, int depth, std::string& out) {
  out.append(static_cast<std::size_t>(depth) * 2, ' ');
  out += TypeName(item.type());
  out += " \"" + item.text() + "\" line " + std::to_string(item.line()) + "\n";
}

void PrintText(const ScriptItem& item, int depth, std::string& out) {
  PrintLine(item, depth, out);
  for (const ScriptItemPtr& child : item.children()) PrintText(*child, depth + 1, out);
}

// A JSON string; script texts may hold bytes that are not UTF-8, which become U+FFFD.
void AppendJsonString(const std::string& text, std::string& out) {
  out += nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Writes out what [out] holds once it has grown past a buffer's worth.
void Flush(std::string& out, bool always = false) {
  if (out.empty() || (!always && out.size() < (1u << 16))) return;
  std::fwrite(out.data(), 1, out.size(), stdout);
  out.clear();
}

// The JSON object of [item] up to its list of children.
void WriteJsonHead(ScriptItem& item, std::string& out) {
  out += "{\"type\":";
  AppendJsonString(TypeName(item.type()), out);
  out += ",\"text\":";
  AppendJsonString(item.text(), out);
  out += ",\"scriptText\":";
  AppendJsonString(item.ScriptTextOf(), out);
  out += ",\"file\":";
  AppendJsonString(item.file_name(), out);
  out += ",\"line\":" + std::to_string(item.line()) + ",\"children\":[";
}

// Writes [item] and its children as one compact JSON object, streamed out in pieces: no
// document is built and nothing is indented, so memory stays flat and the output grows with the
// script times its nesting (bounded by the front end's nesting limit), never with the square of
// the depth.
void WriteJson(ScriptItem& item, std::string& out) {
  WriteJsonHead(item, out);
  bool first = true;
  for (const ScriptItemPtr& child : item.children()) {
    if (!first) out += ',';
    first = false;
    Flush(out);
    WriteJson(*child, out);
  }
  out += "]}";
}

// Prints a script's tree as it is read: the root, then each statement of the top level once it
// stands whole, which is then let go, so a script of any length is printed in little memory.
class TreePrinter {
 public:
  explicit TreePrinter(bool json) : json_(json) {}

  void Statements(ScriptItem& root) {
    if (!started_) {
      started_ = true;
      if (json_) {
        WriteJsonHead(root, out_);
      } else {
        PrintLine(root, 0, out_);
      }
    }
    for (const ScriptItemPtr& statement : root.children()) {
      errors_ = errors_ || HasErrorItems(*statement);
      if (json_) {
        if (written_ > 0) out_ += ',';
        WriteJson(*statement, out_);
      } else {
        PrintText(*statement, 1, out_);
      }
      ++written_;
      Flush(out_);
    }
    root.TakeChildren();
  }

  void Finish(ScriptItem& root) {
    Statements(root);
    if (json_) out_ += "]}\n";
    Flush(out_, true);
  }

  bool errors() const { return errors_; }

 private:
  const bool json_;
  bool started_ = false;
  bool errors_ = false;
  std::size_t written_ = 0;
  std::string out_;
};

int Tree(const std::vector<std::string>& args) {
  ParsedArguments arguments;
  if (int status = ParseOrExit(kSyntax, args, &arguments); status >= 0) return status;
  bool json = arguments.Has("--json");
  const std::vector<std::string>& scripts = arguments.operands();
  if (scripts.size() != 1) return UsageError(kSyntax, scripts.empty() ? "no script given" : "one script at a time");
  const std::string& path = scripts.front();
  ScriptItemPtr root = ScriptItem::Make(rootItem, path, path, 0);
  ScriptLoader loader;
  TreePrinter printer(json);
  if (!loader.Load(path, root, [&](ScriptItem& top) { printer.Statements(top); })) {
    std::fprintf(stderr, "ordalis tree: cannot open '%s'\n", path.c_str());
    return 2;
  }
  printer.Finish(*root);
  return printer.errors() ? 1 : 0;
}

const CommandRegistration kRegistration(
    {"tree", "print the item tree of a loaded script", &Tree});

}  // namespace

}  // namespace ordalis::cli
