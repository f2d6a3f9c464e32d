#pragma once
// ScriptOutline: the names of a loaded script as an editor shows them — where each function is
// defined and called, where each variable is assigned and read, which tester type a variable
// holds once `name = new type(...)` assigned it, which actions are called on it, and the named
// results. Read from the tree the loader builds, never from the text.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "language/script_item.h"

namespace ordalis::cli {

// A place in a script: its file ("N/A" for text given to the loader), line and column
// (both from 1; the column counts bytes and is 0 when not known).
struct Place {
  std::string file;
  std::uint32_t line = 0;
  std::uint32_t column = 0;
};

struct Occurrence {
  enum class Kind { kVariableRead, kVariableAssigned, kFunctionCall, kFunctionDefinition, kAction, kType };
  Kind kind;
  std::string name;  // as written
  std::string key;   // lower case: names are compared without case
  Place place;
  std::string object;  // for an action: the variable it is called on, lower case
};

struct NamedResult {
  std::string name;
  Place place;
};

class ScriptOutline {
 public:
  explicit ScriptOutline(const ScriptItem& root);

  const std::vector<Occurrence>& occurrences() const { return occurrences_; }
  const std::vector<NamedResult>& results() const { return results_; }
  // The definition of the function [key] (lower case); null when the script has none.
  const Occurrence* Definition(const std::string& key) const;
  // The tester type [variable] (lower case) holds after its first `new`; empty when unknown.
  std::string TypeOf(const std::string& variable) const;
  // The variable and function names (as first written), each once.
  std::vector<std::string> VariableNames() const;
  std::vector<std::string> FunctionNames() const;

 private:
  void Visit(const ScriptItem& item);
  void Add(Occurrence::Kind kind, const ScriptItem& item, std::string object = "");

  std::vector<Occurrence> occurrences_;
  std::vector<NamedResult> results_;
  std::map<std::string, std::string> types_;
};

}  // namespace ordalis::cli
