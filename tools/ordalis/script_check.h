#pragma once
// What `ordalis check` and `ordalis run --strict` share: the installed testers as the checker
// sees them, the variables the settings files hold, and the printing of findings.

#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "check/script_checker.h"

namespace ordalis::cli {

// The tester catalogue as `ordalis testers` sees it. A type's actions are read from a tester
// of that type, made the first time they are asked for.
class InstalledTesters : public TesterTypes {
 public:
  InstalledTesters();
  std::vector<std::string> Types() const override;
  const std::vector<std::string>* Actions(const std::string& type) const override;
  const DeclaredParameters* Parameters(const std::string& type, const std::string& action) const override;

 private:
  // A type's actions and, when its tester declares them, the parameters of each.
  struct TypeActions {
    std::vector<std::string> names;
    std::map<std::string, DeclaredParameters> parameters;
  };
  const TypeActions* Read(const std::string& type) const;

  std::vector<std::string> types_;
  mutable std::map<std::string, std::unique_ptr<TypeActions>> actions_;
};

// The names of the user and system variables in the settings files (lower case), read without
// changing either file. Unreadable files contribute nothing.
std::set<std::string> StoredVariableNames();

// Prints each finding on its own line to [out]; returns whether one of them is an error, or,
// with [warnings_fail], a warning.
// Findings print as FindingLine, or as GccFindingLine for editors and CI that read compiler
// output.
enum class WarningsFail { kNo, kYes };
enum class FindingFormat { kPlain, kGcc };
bool PrintFindings(const std::vector<Finding>& findings, std::FILE* out,
                   WarningsFail warnings_fail = WarningsFail::kNo,
                   FindingFormat format = FindingFormat::kPlain);

}  // namespace ordalis::cli
