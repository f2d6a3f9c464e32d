#pragma once
// CApplicationManager: the automation face (IApplicationManager1) of the process's single
// settings store. Every object shows the same state; all operations are safe to call from any
// thread.

#include <functional>
#include <memory>
#include <string>

#include "ordalis/interfaces.h"
#include "settings/manager.h"

namespace ordalis::settings {

// The two kinds of results file LoadResults recognises by their root element.
enum class ResultsKind { kScript, kBatch };

// Makes the object that holds a loaded results file: the batch subsystem registers one that
// creates a batch queue and loads the file into it; the engine may register one for script
// results. A loader answers with the status of loading and sets [object] when it made one.
using ResultsLoader =
    std::function<Status(const std::string& file_name, std::shared_ptr<IUnknown>* object)>;

// Installs (or, with an empty loader, removes) the loader for [kind]. Safe from any thread;
// meant to be called once at start-up.
void RegisterResultsLoader(ResultsKind kind, ResultsLoader loader);

class CApplicationManager : public IApplicationManager1 {
 public:
  // A face over Manager::Instance().
  CApplicationManager();
  // A face over [manager], which must outlive this object.
  explicit CApplicationManager(Manager& manager);

  // The settings files that could not be read when the settings were loaded, one line each
  // naming the file and the reason; a run logs them, since it goes on without what they hold.
  std::vector<std::string> LoadErrors() const;

  Status AddSystemVariable(const std::string& name, const std::string& value) override;
  Status RemoveSystemVariable(const std::string& name) override;
  Status get_SystemVariableValue(const std::string& name, std::string* value) override;
  Status get_SystemVariableCount(std::uint32_t* count) override;
  Status get_SystemVariableNames(std::uint32_t index, std::string* name) override;
  Status AddTesterCreator(const std::string& guid, VariantBool* added) override;
  Status RemoveTesterCreator(const std::string& guid, VariantBool* removed) override;
  Status get_TesterCreatorCount(std::uint32_t* count) override;
  Status get_TesterCreators(std::uint32_t index, std::string* guid) override;
  Status get_SMTPServerName(std::string* name) override;
  Status put_SMTPServerName(const std::string& name) override;
  Status smtpAuthentication(const std::string& user_name, const std::string& password) override;
  Status get_smtpAuthenticationUserName(std::string* user_name) override;
  Status get_EmailAddresses(std::string* addresses) override;
  Status put_EmailAddresses(const std::string& addresses) override;
  Status get_AllTestCreatorsCount(std::uint32_t* count) override;
  Status get_AllTestCreators(std::uint32_t index, std::shared_ptr<ITesterCreator>* creator) override;
  Status get_Version(std::string* version) override;
  Status get_BuildTimeStamp(std::string* stamp) override;
  Status LoadCreators() override;
  Status UnloadCreators() override;
  Status AddBatchQueueItemCreator(const std::string& guid, VariantBool* added) override;
  Status get_BatchQueueItemCreatorCount(std::uint32_t* count) override;
  Status get_BatchQueueItemCreatorCreators(std::uint32_t index, std::string* guid) override;
  Status RemoveBatchQueueItemCreator(const std::string& guid, VariantBool* removed) override;
  Status AddUserVariable(const std::string& name, const std::string& value) override;
  Status RemoveUserVariable(const std::string& name) override;
  Status get_UserVariableValue(const std::string& name, std::string* value) override;
  Status get_UserVariableCount(std::uint32_t* count) override;
  Status get_UserVariableNames(std::uint32_t index, std::string* name) override;
  Status LoadResults(const std::string& file_name, std::shared_ptr<IUnknown>* results) override;
  Status HasAdminRights(VariantBool* has_rights) override;

 private:
  Status AddCreator(CreatorKind kind, const std::string& guid, VariantBool* added);
  Status RemoveCreator(CreatorKind kind, const std::string& guid, VariantBool* removed);
  Status CreatorCount(CreatorKind kind, std::uint32_t* count);
  Status CreatorAt(CreatorKind kind, std::uint32_t index, std::string* guid);

  Manager& manager_;
};

}  // namespace ordalis::settings

namespace ordalis {
using settings::CApplicationManager;
}  // namespace ordalis
