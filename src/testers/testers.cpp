#include "testers/testers.h"

#include <iterator>

#include "ordalis/plugin.h"
#include "platform/text.h"
#include "testers/plugin_host.h"
#include "testers/tester_proxy.h"
#include "testers/tester_utilities.h"

namespace ordalis {

Testers& Testers::Instance() {
  static Testers* instance = [] {
    auto* catalogue = new Testers(PluginHost::Instance());
    for (const std::string& id : catalogue->host_->TesterCreatorIds()) catalogue->Add(id);
    return catalogue;
  }();
  return *instance;
}

Testers::Testers(std::shared_ptr<PluginHost> host)
    : host_(host ? std::move(host) : PluginHost::Instance()) {}

std::string Testers::Lower(std::string text) { return LowerAscii(text); }

bool Testers::Add(const std::string& class_id) {
  try {
    std::shared_ptr<ITesterCreator> creator;
    if (Failed(CTesterUtilities(host_).TesterCreator(class_id, &creator)) || !creator) return false;
    std::uint32_t count = 0;
    if (Failed(creator->get_NumberOfTypes(&count)) || count == 0) return false;
    bool stored = false;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::shared_ptr<ITester> tester;
      if (Failed(creator->create(i, &tester)) || !tester) continue;
      std::string type;
      if (Failed(tester->get_TesterType(&type))) continue;
      type = Lower(std::move(type));
      if (type.empty()) continue;
      std::lock_guard lock(mutex_);
      types_[type] = class_id;
      stored = true;
    }
    return stored;
  } catch (...) {
    return false;
  }
}

std::size_t Testers::Count() const {
  std::lock_guard lock(mutex_);
  return types_.size();
}

std::vector<std::pair<std::string, std::string>> Testers::Types() const {
  std::lock_guard lock(mutex_);
  return {types_.begin(), types_.end()};
}

std::shared_ptr<ITesterCreator> Testers::Creator(std::size_t index) const {
  std::string class_id;
  {
    std::lock_guard lock(mutex_);
    if (index >= types_.size()) return nullptr;
    class_id = std::next(types_.begin(), static_cast<std::ptrdiff_t>(index))->second;
  }
  std::shared_ptr<ITesterCreator> creator;
  if (Failed(CTesterUtilities(host_).TesterCreator(class_id, &creator))) return nullptr;
  return creator;
}

std::shared_ptr<TesterProxy> Testers::Create(const std::string& type_name,
                                             std::string* message) const {
  std::string ignored;
  std::string& text = message ? *message : ignored;
  std::string name = Lower(type_name);
  text = "Type '" + name + "' ";
  try {
    std::string class_id;
    {
      std::lock_guard lock(mutex_);
      auto found = types_.find(name);
      if (found == types_.end()) {
        text += "not found";
        return nullptr;
      }
      class_id = found->second;
    }
    auto proxy = std::make_shared<TesterProxy>(host_);
    std::string error;
    if (!proxy->Create(class_id, name, &error)) {
      text += error;
      return nullptr;
    }
    text += "created successfully";
    return proxy;
  } catch (const AutomationError& error) {
    text += "exception " + std::to_string(error.code()) + " " + error.what();
  } catch (...) {
    text += "Unknown exception";
  }
  return nullptr;
}

}  // namespace ordalis
