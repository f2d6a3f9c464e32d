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
  const TypeActions* actions = Read(type);
  return actions ? &actions->names : nullptr;
}

const DeclaredParameters* InstalledTesters::Parameters(const std::string& type,
                                                       const std::string& action) const {
  const TypeActions* actions = Read(type);
  if (actions == nullptr) return nullptr;
  auto found = actions->parameters.find(action);
  return found == actions->parameters.end() ? nullptr : &found->second;
}

// A tester declares the parameters of its actions when it names one for any of them; an action
// it then gives no names to takes none.
const InstalledTesters::TypeActions* InstalledTesters::Read(const std::string& type) const {
  auto known = actions_.find(type);
  if (known != actions_.end()) return known->second.get();
  std::unique_ptr<TypeActions> actions;
  std::string message;
  if (auto tester = Testers::Instance().Create(type, &message)) {
    actions = std::make_unique<TypeActions>();
    std::uint32_t count = 0;
    tester->get_ActionCount(&count);
    std::map<std::string, DeclaredParameters> parameters;
    bool declares = false;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::string name;
      if (!Succeeded(tester->get_Actions(i, &name))) continue;
      actions->names.push_back(name);
      std::string description;
      TextArray in;
      TextArray out;
      if (!Succeeded(tester->ActionDocumentation(i, &description, &in, &out))) continue;
      declares |= !in.empty();
      bool open_ended = !in.empty() && in.back().size() >= 3 &&
                        in.back().compare(in.back().size() - 3, 3, "...") == 0;
      parameters[name] = DeclaredParameters{in.size(), open_ended};
    }
    if (declares) actions->parameters = std::move(parameters);
  }
  return actions_.emplace(type, std::move(actions)).first->second.get();
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

bool PrintFindings(const std::vector<Finding>& findings, std::FILE* out, WarningsFail warnings_fail,
                   FindingFormat format) {
  bool failed = false;
  for (const Finding& finding : findings) {
    std::string line = (format == FindingFormat::kGcc ? GccFindingLine(finding) : FindingLine(finding)) + "\n";
    std::fwrite(line.data(), 1, line.size(), out);
    failed |= finding.severity == Severity::kError ||
              (finding.severity == Severity::kWarning && warnings_fail == WarningsFail::kYes);
  }
  return failed;
}

}  // namespace ordalis::cli
