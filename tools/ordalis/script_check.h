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

 private:
  std::vector<std::string> types_;
  mutable std::map<std::string, std::unique_ptr<std::vector<std::string>>> actions_;
};

// The names of the user and system variables in the settings files (lower case), read without
// changing either file. Unreadable files contribute nothing.
std::set<std::string> StoredVariableNames();

// Prints each finding on its own line to [out]; returns whether one of them is an error, or,
// with [warnings_fail], a warning.
enum class WarningsFail { kNo, kYes };
bool PrintFindings(const std::vector<Finding>& findings, std::FILE* out,
                   WarningsFail warnings_fail = WarningsFail::kNo);

}  // namespace ordalis::cli
