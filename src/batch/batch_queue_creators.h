#pragma once
// BatchQueueCreators: the process-wide list of batch item creator identifiers, in the order the
// batch queue asks them for an item. The built-in creator "MarrowindCon.BuiltIn" (odl, bat, pl)
// is always first and the built-in "Ordalis.BuiltIn.Shell" (sh, py) second; plug-in creators
// follow in the order they were added. The process-wide list offers every batch item creator
// found on the plug-in path when it is first used; the application manager adds those registered
// in the settings store with Add.
//
// Given a file name, the list walks its creators in order and the first that declares the file's
// type (compared ignoring case) makes the item, which a new BatchQueueRunner wraps.
//
// All operations are safe to call from any thread.

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ordalis/interfaces.h"

namespace ordalis {

class PluginHost;
class BatchQueueRunner;
struct BatchItemContext;

class BatchQueueCreators {
 public:
  // The identifier of the built-in creator (scripts, command files, perl files).
  static constexpr const char* kBuiltIn = "MarrowindCon.BuiltIn";
  // The identifier of the built-in creator of shell and python files.
  static constexpr const char* kBuiltInShell = "Ordalis.BuiltIn.Shell";

  // The process-wide list; created on first use.
  static BatchQueueCreators& Instance();

  // A list holding only the built-in identifiers, whose plug-in creators come from [host] (the
  // process-wide host when null).
  explicit BatchQueueCreators(std::shared_ptr<PluginHost> host);
  BatchQueueCreators(const BatchQueueCreators&) = delete;
  BatchQueueCreators& operator=(const BatchQueueCreators&) = delete;

  // Appends [id] when a creator can be obtained for it; false (and no change) otherwise. An
  // identifier already in the list is not added twice and answers true.
  bool Add(const std::string& id);

  std::size_t Count() const;
  // The [index]-th identifier, or an empty text past the end.
  std::string Identifier(std::size_t index) const;
  // A copy of the whole list, for a walk that must not hold the lock.
  std::vector<std::string> Identifiers() const;

  // A runner for [file_name] whose item the first creator declaring the file's type made, with
  // the file name set (a script item loads the script here); null when no creator makes one.
  // Built-in items get [context].
  std::shared_ptr<BatchQueueRunner> CreateRunner(const std::string& file_name,
                                                 const BatchItemContext& context) const;
  // True when some creator declares the type of [file_name].
  bool Accepts(const std::string& file_name) const;

 private:
  // The creator behind [id], built-in or from the plug-in host; null when it cannot be had.
  std::shared_ptr<IBatchQueueItemCreator> Creator(const std::string& id,
                                                  const BatchItemContext& context) const;
  // The index of [file_type] among [creator]'s types, or -1.
  static long TypeIndex(IBatchQueueItemCreator& creator, const std::string& file_type);

  std::shared_ptr<PluginHost> host_;
  mutable std::mutex mutex_;
  std::vector<std::string> ids_;
};

}  // namespace ordalis
