#pragma once
// The documentation of the installed tester types, as `ordalis testers` shows it, read from a
// tester of each type the first time the type is asked for; the editor servers offer it in
// completion and hover.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ordalis/interfaces.h"

namespace ordalis::cli {

struct ActionDoc {
  std::string name;  // as the tester spells it
  std::string description;
  TextArray in_parameters;
  TextArray out_parameters;
};

struct TypeDoc {
  std::string type;
  std::string description;
  std::string constructor;
  TextArray constructor_parameters;
  std::vector<ActionDoc> actions;
};

// "name(in, …) -> out, …" as `ordalis testers` prints an action.
std::string ActionSignature(const ActionDoc& action);

class TesterCatalogue {
 public:
  // The installed type names, lower case.
  const std::vector<std::string>& Types();
  // The documentation of [type] (any case); null when no tester of it can be made.
  const TypeDoc* Find(const std::string& type);

 private:
  bool listed_ = false;
  std::vector<std::string> types_;
  std::map<std::string, std::unique_ptr<TypeDoc>> docs_;
};

}  // namespace ordalis::cli
