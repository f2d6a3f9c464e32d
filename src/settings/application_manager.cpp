#include "settings/application_manager.h"

#include <fstream>
#include <mutex>

#include "settings/creator_catalogues.h"

namespace ordalis::settings {

namespace {

struct Loaders {
  std::mutex mutex;
  ResultsLoader script;
  ResultsLoader batch;
};

Loaders& TheLoaders() {
  static Loaders loaders;
  return loaders;
}

ResultsLoader LoaderFor(ResultsKind kind) {
  Loaders& loaders = TheLoaders();
  std::lock_guard lock(loaders.mutex);
  return kind == ResultsKind::kScript ? loaders.script : loaders.batch;
}

constexpr SettingsScope kSystem = SettingsScope::kMachine;
constexpr SettingsScope kUser = SettingsScope::kUser;

Status Answer(std::string* out, std::string text) {
  if (!out) return E_POINTER;
  *out = std::move(text);
  return S_OK;
}

Status Answer(std::uint32_t* out, std::size_t count) {
  if (!out) return E_POINTER;
  *out = static_cast<std::uint32_t>(count);
  return S_OK;
}

std::string At(const std::vector<std::string>& list, std::uint32_t index) {
  return index < list.size() ? list[index] : "";
}

// Runs a loader, which is code of another subsystem: whatever it throws becomes E_FAIL.
Status RunLoader(const ResultsLoader& loader, const std::string& file_name,
                 std::shared_ptr<IUnknown>* results) {
  try {
    return loader(file_name, results);
  } catch (...) {
    results->reset();
    return E_FAIL;
  }
}

}  // namespace

void RegisterResultsLoader(ResultsKind kind, ResultsLoader loader) {
  Loaders& loaders = TheLoaders();
  std::lock_guard lock(loaders.mutex);
  (kind == ResultsKind::kScript ? loaders.script : loaders.batch) = std::move(loader);
}

CApplicationManager::CApplicationManager() : manager_(Manager::Instance()) {}

CApplicationManager::CApplicationManager(Manager& manager) : manager_(manager) {}

std::vector<std::string> CApplicationManager::LoadErrors() const { return manager_.LoadErrors(); }

// ---- Variables ---------------------------------------------------------------------------

Status CApplicationManager::AddSystemVariable(const std::string& name, const std::string& value) {
  return manager_.AddVariable(kSystem, name, value);
}

Status CApplicationManager::RemoveSystemVariable(const std::string& name) {
  return manager_.RemoveVariable(kSystem, name);
}

Status CApplicationManager::get_SystemVariableValue(const std::string& name, std::string* value) {
  return Answer(value, manager_.VariableValue(kSystem, name));
}

Status CApplicationManager::get_SystemVariableCount(std::uint32_t* count) {
  return Answer(count, manager_.VariableCount(kSystem));
}

Status CApplicationManager::get_SystemVariableNames(std::uint32_t index, std::string* name) {
  return Answer(name, manager_.VariableName(kSystem, index));
}

Status CApplicationManager::AddUserVariable(const std::string& name, const std::string& value) {
  return manager_.AddVariable(kUser, name, value);
}

Status CApplicationManager::RemoveUserVariable(const std::string& name) {
  return manager_.RemoveVariable(kUser, name);
}

Status CApplicationManager::get_UserVariableValue(const std::string& name, std::string* value) {
  return Answer(value, manager_.VariableValue(kUser, name));
}

Status CApplicationManager::get_UserVariableCount(std::uint32_t* count) {
  return Answer(count, manager_.VariableCount(kUser));
}

Status CApplicationManager::get_UserVariableNames(std::uint32_t index, std::string* name) {
  return Answer(name, manager_.VariableName(kUser, index));
}

// ---- Creators ----------------------------------------------------------------------------

Status CApplicationManager::AddCreator(CreatorKind kind, const std::string& guid,
                                       VariantBool* added) {
  if (!added) return E_POINTER;
  *added = ToVariantBool(manager_.AddCreator(kind, guid));
  return S_OK;
}

Status CApplicationManager::RemoveCreator(CreatorKind kind, const std::string& guid,
                                          VariantBool* removed) {
  if (!removed) return E_POINTER;
  *removed = ToVariantBool(manager_.RemoveCreator(kind, guid));
  return S_OK;
}

Status CApplicationManager::CreatorCount(CreatorKind kind, std::uint32_t* count) {
  return Answer(count, manager_.Creators(kind).size());
}

Status CApplicationManager::CreatorAt(CreatorKind kind, std::uint32_t index, std::string* guid) {
  return Answer(guid, At(manager_.Creators(kind), index));
}

Status CApplicationManager::AddTesterCreator(const std::string& guid, VariantBool* added) {
  return AddCreator(CreatorKind::kTester, guid, added);
}

Status CApplicationManager::RemoveTesterCreator(const std::string& guid, VariantBool* removed) {
  return RemoveCreator(CreatorKind::kTester, guid, removed);
}

Status CApplicationManager::get_TesterCreatorCount(std::uint32_t* count) {
  return CreatorCount(CreatorKind::kTester, count);
}

Status CApplicationManager::get_TesterCreators(std::uint32_t index, std::string* guid) {
  return CreatorAt(CreatorKind::kTester, index, guid);
}

Status CApplicationManager::AddBatchQueueItemCreator(const std::string& guid, VariantBool* added) {
  return AddCreator(CreatorKind::kBatchItem, guid, added);
}

Status CApplicationManager::RemoveBatchQueueItemCreator(const std::string& guid,
                                                        VariantBool* removed) {
  return RemoveCreator(CreatorKind::kBatchItem, guid, removed);
}

Status CApplicationManager::get_BatchQueueItemCreatorCount(std::uint32_t* count) {
  return CreatorCount(CreatorKind::kBatchItem, count);
}

Status CApplicationManager::get_BatchQueueItemCreatorCreators(std::uint32_t index,
                                                              std::string* guid) {
  return CreatorAt(CreatorKind::kBatchItem, index, guid);
}

Status CApplicationManager::get_AllTestCreatorsCount(std::uint32_t* count) {
  return Answer(count, AllTesterCreatorCount());
}

Status CApplicationManager::get_AllTestCreators(std::uint32_t index,
                                                std::shared_ptr<ITesterCreator>* creator) {
  if (!creator) return E_POINTER;
  *creator = AllTesterCreator(index);
  return S_OK;
}

// Creators are obtained when they are registered or first used; there is nothing to load.
Status CApplicationManager::LoadCreators() { return S_OK; }

Status CApplicationManager::UnloadCreators() { return S_OK; }

// ---- Mail settings -----------------------------------------------------------------------

Status CApplicationManager::get_SMTPServerName(std::string* name) {
  return Answer(name, manager_.SmtpServerName());
}

Status CApplicationManager::put_SMTPServerName(const std::string& name) {
  return manager_.SetSmtpServerName(name);
}

Status CApplicationManager::smtpAuthentication(const std::string& user_name,
                                               const std::string& password) {
  return manager_.SetSmtpAuthentication(user_name, password);
}

Status CApplicationManager::get_smtpAuthenticationUserName(std::string* user_name) {
  if (!user_name) return E_FAIL;
  *user_name = manager_.SmtpUserName();
  return S_OK;
}

Status CApplicationManager::get_EmailAddresses(std::string* addresses) {
  if (!addresses) return E_FAIL;
  *addresses = manager_.EmailAddresses();
  return S_OK;
}

Status CApplicationManager::put_EmailAddresses(const std::string& addresses) {
  return manager_.SetEmailAddresses(addresses);
}

// ---- Component -----------------------------------------------------------------------------

Status CApplicationManager::get_Version(std::string* version) {
  return Answer(version, ComponentVersion());
}

Status CApplicationManager::get_BuildTimeStamp(std::string* stamp) {
  return Answer(stamp, BuildTimeStamp());
}

Status CApplicationManager::HasAdminRights(VariantBool* has_rights) {
  if (!has_rights) return E_POINTER;
  *has_rights = ToVariantBool(manager_.HasAdminRights());
  return S_OK;
}

// A results file names its kind in its root element, the third line of the file.
Status CApplicationManager::LoadResults(const std::string& file_name,
                                        std::shared_ptr<IUnknown>* results) {
  if (!results) return E_POINTER;
  results->reset();
  std::ifstream file(file_name, std::ios::binary);
  if (!file) return E_FAIL;
  std::string line;
  for (int i = 0; i < 3; ++i) {
    if (!std::getline(file, line)) return S_OK;
  }
  if (line.find("odl_batch_result") != std::string::npos) {
    ResultsLoader loader = LoaderFor(ResultsKind::kBatch);
    // Without a batch queue to load them into, batch results cannot be shown.
    if (!loader) return E_FAIL;
    return RunLoader(loader, file_name, results);
  }
  if (line.find("odl_script_result") != std::string::npos) {
    if (ResultsLoader loader = LoaderFor(ResultsKind::kScript)) {
      return RunLoader(loader, file_name, results);
    }
  }
  return S_OK;
}

}  // namespace ordalis::settings
