#include "batch/item_creation.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "batch/batch_paths.h"
#include "batch/batch_queue_runner.h"
#include "batch/builtin_creators.h"
#include "platform/text.h"
#include "testers/tester_utilities.h"

namespace ordalis {

namespace {

// The creator behind [id], built-in or from the plug-in host; null when it cannot be had.
std::shared_ptr<IBatchQueueItemCreator> Creator(const BatchQueueCreators& creators, const std::string& id,
                                                const BatchItemContext& context) {
  if (id == BatchQueueCreators::kBuiltIn) return std::make_shared<ODLBatchQueueItemCreator>(context);
  if (id == BatchQueueCreators::kBuiltInShell) return std::make_shared<ShellBatchQueueItemCreator>(context);
  std::shared_ptr<IBatchQueueItemCreator> creator;
  if (Failed(CTesterUtilities(creators.Host()).BatchQueueItemCreator(id, &creator))) return nullptr;
  return creator;
}

// The index of [file_type] among [creator]'s types, or -1.
long TypeIndex(IBatchQueueItemCreator& creator, const std::string& file_type) {
  std::uint32_t count = 0;
  if (Failed(creator.get_NumberOfFileTypes(&count))) return -1;
  for (std::uint32_t index = 0; index < count; ++index) {
    std::string declared;
    if (Succeeded(creator.get_FileType(index, &declared)) && EqualsIgnoringCase(declared, file_type)) {
      return static_cast<long>(index);
    }
  }
  return -1;
}

}  // namespace

// Creators are plug-in code: each is asked outside the list's lock, and one that throws is
// passed over like one that cannot be had.
std::shared_ptr<BatchQueueRunner> CreateRunner(const BatchQueueCreators& creators, const std::string& file_name,
                                               const BatchItemContext& context) {
  std::string file_type = batch::FileType(file_name);
  for (const std::string& id : creators.Identifiers()) {
    try {
      std::shared_ptr<IBatchQueueItemCreator> creator = Creator(creators, id, context);
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

bool Accepts(const BatchQueueCreators& creators, const std::string& file_name) {
  std::string file_type = batch::FileType(file_name);
  for (const std::string& id : creators.Identifiers()) {
    try {
      std::shared_ptr<IBatchQueueItemCreator> creator = Creator(creators, id, BatchItemContext{});
      if (creator && TypeIndex(*creator, file_type) >= 0) return true;
    } catch (...) {
      continue;
    }
  }
  return false;
}

}  // namespace ordalis
