#include "batch/batch_queue_creators.h"

#include <algorithm>
#include <strings.h>
#include <utility>

#include "batch/batch_paths.h"
#include "batch/batch_queue_runner.h"
#include "batch/builtin_creators.h"
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

std::shared_ptr<IBatchQueueItemCreator> BatchQueueCreators::Creator(const std::string& id,
                                                                    const BatchItemContext& context) const {
  if (id == kBuiltIn) return std::make_shared<ODLBatchQueueItemCreator>(context);
  if (id == kBuiltInShell) return std::make_shared<ShellBatchQueueItemCreator>(context);
  std::shared_ptr<IBatchQueueItemCreator> creator;
  if (Failed(CTesterUtilities(host_).BatchQueueItemCreator(id, &creator))) return nullptr;
  return creator;
}

long BatchQueueCreators::TypeIndex(IBatchQueueItemCreator& creator, const std::string& file_type) {
  std::uint32_t count = 0;
  if (Failed(creator.get_NumberOfFileTypes(&count))) return -1;
  for (std::uint32_t index = 0; index < count; ++index) {
    std::string declared;
    if (Succeeded(creator.get_FileType(index, &declared)) &&
        strcasecmp(declared.c_str(), file_type.c_str()) == 0) {
      return static_cast<long>(index);
    }
  }
  return -1;
}

// Creators are plug-in code: each is asked outside the list's lock, and one that throws is
// passed over like one that cannot be had.
std::shared_ptr<BatchQueueRunner> BatchQueueCreators::CreateRunner(const std::string& file_name,
                                                                   const BatchItemContext& context) const {
  std::string file_type = batch::FileType(file_name);
  for (const std::string& id : Identifiers()) {
    try {
      std::shared_ptr<IBatchQueueItemCreator> creator = Creator(id, context);
      if (!creator) continue;
      long index = TypeIndex(*creator, file_type);
      std::shared_ptr<IBatchQueueItem> item;
      if (index < 0 || Failed(creator->create(static_cast<std::uint32_t>(index), &item)) || !item) continue;
      auto runner = std::make_shared<BatchQueueRunner>(std::move(item));
      runner->put_FileName(file_name);
      return runner;
    } catch (...) {
      continue;
    }
  }
  return nullptr;
}

bool BatchQueueCreators::Accepts(const std::string& file_name) const {
  std::string file_type = batch::FileType(file_name);
  for (const std::string& id : Identifiers()) {
    try {
      std::shared_ptr<IBatchQueueItemCreator> creator = Creator(id, BatchItemContext{});
      if (creator && TypeIndex(*creator, file_type) >= 0) return true;
    } catch (...) {
      continue;
    }
  }
  return false;
}

}  // namespace ordalis
