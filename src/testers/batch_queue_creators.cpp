#include "testers/batch_queue_creators.h"

#include <algorithm>
#include <utility>

#include "testers/plugin_host.h"
#include "testers/tester_utilities.h"

namespace ordalis {

BatchQueueCreators& BatchQueueCreators::Instance() {
  static BatchQueueCreators* instance = [] {
    auto* list = new BatchQueueCreators(PluginHost::Instance());
    for (const std::string& id : list->host_->BatchQueueItemCreatorIds()) list->Add(id);
    return list;
  }();
  return *instance;
}

BatchQueueCreators::BatchQueueCreators(std::shared_ptr<PluginHost> host)
    : host_(host ? std::move(host) : PluginHost::Instance()), ids_{kBuiltIn, kBuiltInShell} {}

bool BatchQueueCreators::Add(const std::string& id) {
  {
    std::lock_guard lock(mutex_);
    if (std::find(ids_.begin(), ids_.end(), id) != ids_.end()) return true;
  }
  std::shared_ptr<IBatchQueueItemCreator> creator;
  if (Failed(CTesterUtilities(host_).BatchQueueItemCreator(id, &creator)) || !creator) return false;
  creator.reset();
  std::lock_guard lock(mutex_);
  if (std::find(ids_.begin(), ids_.end(), id) == ids_.end()) ids_.push_back(id);
  return true;
}

std::size_t BatchQueueCreators::Count() const {
  std::lock_guard lock(mutex_);
  return ids_.size();
}

std::string BatchQueueCreators::Identifier(std::size_t index) const {
  std::lock_guard lock(mutex_);
  return index < ids_.size() ? ids_[index] : std::string();
}

std::vector<std::string> BatchQueueCreators::Identifiers() const {
  std::lock_guard lock(mutex_);
  return ids_;
}

}  // namespace ordalis
