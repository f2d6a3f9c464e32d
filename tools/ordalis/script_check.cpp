#include "script_check.h"

#include "platform/text.h"
#include "settings/settings_store.h"
#include "testers/tester_proxy.h"
#include "testers/testers.h"

namespace ordalis::cli {

InstalledTesters::InstalledTesters() {
  for (const auto& [type, creator] : Testers::Instance().Types()) types_.push_back(type);
}

std::vector<std::string> InstalledTesters::Types() const { return types_; }

const std::vector<std::string>* InstalledTesters::Actions(const std::string& type) const {
  auto known = actions_.find(type);
  if (known != actions_.end()) return known->second.get();
  std::unique_ptr<std::vector<std::string>> names;
  std::string message;
  if (auto tester = Testers::Instance().Create(type, &message)) {
    names = std::make_unique<std::vector<std::string>>();
    std::uint32_t count = 0;
    tester->get_ActionCount(&count);
    for (std::uint32_t i = 0; i < count; ++i) {
      std::string name;
      if (Succeeded(tester->get_Actions(i, &name))) names->push_back(name);
    }
  }
  return actions_.emplace(type, std::move(names)).first->second.get();
}

std::set<std::string> StoredVariableNames() {
  using namespace settings;
  std::set<std::string> names;
  for (SettingsScope scope : {SettingsScope::kMachine, SettingsScope::kUser}) {
    SettingsKey root;
    std::string error;
    if (SettingsFile(DefaultSettingsPath(scope)).Read(&root, &error) != SettingsFile::ReadStatus::kOk) {
      continue;
    }
    const SettingsKey* ordalis = root.Find(kOrdalisKeyPath);
    const SettingsKey* variables = ordalis ? ordalis->Subkey("Variables") : nullptr;
    if (variables == nullptr) continue;
    for (const std::string& name : variables->SubkeyNames()) names.insert(LowerAscii(name));
  }
  return names;
}

bool PrintFindings(const std::vector<Finding>& findings, std::FILE* out, WarningsFail warnings_fail) {
  bool failed = false;
  for (const Finding& finding : findings) {
    std::string line = FindingLine(finding) + "\n";
    std::fwrite(line.data(), 1, line.size(), out);
    failed |= finding.severity == Severity::kError ||
              (finding.severity == Severity::kWarning && warnings_fail == WarningsFail::kYes);
  }
  return failed;
}

}  // namespace ordalis::cli
