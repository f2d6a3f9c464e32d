#pragma once
// ApplicationManager: the process's settings, as Python sees them.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ordalis/interfaces.h"
#include "settings/application_manager.h"

#include "support.h"
#include "tester.h"

namespace py = pybind11;

namespace ordalis::python {

class PyApplicationManager {
 public:
  PyApplicationManager() : manager_(std::make_shared<CApplicationManager>()) {}
  explicit PyApplicationManager(std::shared_ptr<IApplicationManager> manager) : manager_(std::move(manager)) {
    if (!manager_) throw StatusError(E_POINTER, "no application manager");
  }
  std::string Version() { return Text(&IApplicationManager::get_Version, "Version"); }
  std::string BuildTimeStamp() { return Text(&IApplicationManager::get_BuildTimeStamp, "BuildTimeStamp"); }
  std::vector<std::pair<std::string, std::string>> Variables(bool user) {
    std::uint32_t count = 0;
    Check(user ? manager_->get_UserVariableCount(&count) : manager_->get_SystemVariableCount(&count),
          "VariableCount");
    std::vector<std::pair<std::string, std::string>> list;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::string name, value;
      if ((user ? manager_->get_UserVariableNames(i, &name) : manager_->get_SystemVariableNames(i, &name)) < 0) continue;
      if (user) manager_->get_UserVariableValue(name, &value);
      else manager_->get_SystemVariableValue(name, &value);
      list.emplace_back(name, value);
    }
    return list;
  }
  std::string VariableValue(bool user, const std::string& name) {
    return Out<std::string>("VariableValue", [&](std::string* v) {
      return user ? manager_->get_UserVariableValue(name, v) : manager_->get_SystemVariableValue(name, v);
    });
  }
  void AddVariable(bool user, const std::string& name, const std::string& value) {
    Check(user ? manager_->AddUserVariable(name, value) : manager_->AddSystemVariable(name, value),
          "AddVariable");
  }
  void RemoveVariable(bool user, const std::string& name) {
    Check(user ? manager_->RemoveUserVariable(name) : manager_->RemoveSystemVariable(name), "RemoveVariable");
  }
  std::vector<std::string> TesterCreators() {
    return Guids("TesterCreators", &IApplicationManager::get_TesterCreatorCount, &IApplicationManager::get_TesterCreators);
  }
  bool AddTesterCreator(const std::string& guid) {
    return OutBool("AddTesterCreator", [&](VariantBool* v) { return manager_->AddTesterCreator(guid, v); });
  }
  bool RemoveTesterCreator(const std::string& guid) {
    return OutBool("RemoveTesterCreator", [&](VariantBool* v) { return manager_->RemoveTesterCreator(guid, v); });
  }
  std::vector<std::string> BatchQueueItemCreators() {
    return Guids("BatchQueueItemCreatorCreators", &IApplicationManager::get_BatchQueueItemCreatorCount,
                 &IApplicationManager::get_BatchQueueItemCreatorCreators);
  }
  bool AddBatchQueueItemCreator(const std::string& guid) {
    return OutBool("AddBatchQueueItemCreator", [&](VariantBool* v) { return manager_->AddBatchQueueItemCreator(guid, v); });
  }
  bool RemoveBatchQueueItemCreator(const std::string& guid) {
    return OutBool("RemoveBatchQueueItemCreator",
                   [&](VariantBool* v) { return manager_->RemoveBatchQueueItemCreator(guid, v); });
  }
  std::string SmtpServerName() { return Text(&IApplicationManager::get_SMTPServerName, "SMTPServerName"); }
  void SetSmtpServerName(const std::string& name) { Check(manager_->put_SMTPServerName(name), "SMTPServerName"); }
  void SmtpAuthentication(const std::string& user, const std::string& password) {
    Check(manager_->smtpAuthentication(user, password), "smtpAuthentication");
  }
  std::string SmtpAuthenticationUserName() {
    return Text(&IApplicationManager::get_smtpAuthenticationUserName, "smtpAuthenticationUserName");
  }
  std::string EmailAddresses() { return Text(&IApplicationManager::get_EmailAddresses, "EmailAddresses"); }
  void SetEmailAddresses(const std::string& text) { Check(manager_->put_EmailAddresses(text), "EmailAddresses"); }
  std::vector<PyTesterCreator> AllTesterCreators() {
    std::uint32_t count =
        Out<std::uint32_t>("AllTestCreatorsCount", [&](auto* v) { return manager_->get_AllTestCreatorsCount(v); });
    std::vector<PyTesterCreator> list;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::shared_ptr<ITesterCreator> creator;
      if (manager_->get_AllTestCreators(i, &creator) >= 0 && creator) list.emplace_back(creator);
    }
    return list;
  }
  void LoadCreators() { Check(manager_->LoadCreators(), "LoadCreators"); }
  void UnloadCreators() { Check(manager_->UnloadCreators(), "UnloadCreators"); }
  // The object a results file loads into: a batch queue for batch results, else nothing.
  std::shared_ptr<IUnknown> LoadResults(const std::string& path) {
    return Out<std::shared_ptr<IUnknown>>("LoadResults", [&](auto* v) { return manager_->LoadResults(path, v); });
  }
  bool HasAdminRights() {
    auto later = std::dynamic_pointer_cast<IApplicationManager1>(manager_);
    if (!later) throw StatusError(E_NOINTERFACE, "the application manager does not tell admin rights");
    return OutBool("HasAdminRights", [&](VariantBool* v) { return later->HasAdminRights(v); });
  }

 private:
  std::string Text(Status (IApplicationManager::*getter)(std::string*), const char* name) {
    std::string text;
    Check((manager_.get()->*getter)(&text), name);
    return text;
  }
  std::vector<std::string> Guids(const char* name, Status (IApplicationManager::*count_of)(std::uint32_t*),
                                 Status (IApplicationManager::*guid_at)(std::uint32_t, std::string*)) {
    std::uint32_t count = 0;
    Check((manager_.get()->*count_of)(&count), name);
    std::vector<std::string> list;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::string guid;
      if ((manager_.get()->*guid_at)(i, &guid) >= 0) list.push_back(guid);
    }
    return list;
  }
  std::shared_ptr<IApplicationManager> manager_;
};


}  // namespace ordalis::python
