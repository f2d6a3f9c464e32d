#pragma once
// The built-in batch item creators. ODLBatchQueueItemCreator ("MarrowindCon.BuiltIn") makes
// script items (odl), command-file items (bat) and perl items (pl);
// ShellBatchQueueItemCreator ("Ordalis.BuiltIn.Shell"), asked next, makes shell (sh) and python
// (py) items, so a folder of Linux test files runs as it is.
//
// All operations are safe to call from any thread.

#include <cstdint>
#include <memory>
#include <string>

#include "batch/child_process.h"
#include "engine/script.h"
#include "ordalis/interfaces.h"

namespace ordalis {

// What the items a queue asks for need from that queue: the application manager its script
// objects hold, how those script objects pace their clients, and whether the processes a command
// item leaves behind end with it.
struct BatchItemContext {
  std::shared_ptr<IApplicationManager> manager;  // may be null
  Pacing script_pacing;
  batch::Background background = batch::Background::kEnd;
};

// A creator whose file types are a fixed table.
class TableBatchItemCreator : public IBatchQueueItemCreator {
 public:
  // One file type and how its item is made.
  struct Kind {
    const char* file_type;
    std::shared_ptr<IBatchQueueItem> (*make)(const BatchItemContext& context);
  };

  Status get_Version(std::string* version) override;
  Status create(std::uint32_t index, std::shared_ptr<IBatchQueueItem>* item) override;
  Status get_NumberOfFileTypes(std::uint32_t* count) override;
  Status get_FileType(std::uint32_t index, std::string* file_type) override;

 protected:
  TableBatchItemCreator(const Kind* kinds, std::uint32_t count, BatchItemContext context)
      : kinds_(kinds), count_(count), context_(std::move(context)) {}

 private:
  const Kind* kinds_;
  std::uint32_t count_;
  BatchItemContext context_;
};

class ODLBatchQueueItemCreator : public TableBatchItemCreator {
 public:
  static constexpr const char* kIdentifier = "MarrowindCon.BuiltIn";
  explicit ODLBatchQueueItemCreator(BatchItemContext context = {});
};

class ShellBatchQueueItemCreator : public TableBatchItemCreator {
 public:
  static constexpr const char* kIdentifier = "Ordalis.BuiltIn.Shell";
  explicit ShellBatchQueueItemCreator(BatchItemContext context = {});
};

}  // namespace ordalis
