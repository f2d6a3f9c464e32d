#pragma once
// BatchQueueCreators: the process-wide list of batch item creator identifiers, in the order the
// batch queue asks them for an item. The built-in creator "MarrowindCon.BuiltIn" (odl, bat, pl)
// is always first and the built-in "Ordalis.BuiltIn.Shell" (sh, py) second; plug-in creators
// follow in the order they were added. The process-wide list offers every batch item creator
// found on the plug-in path when it is first used; the application manager adds those registered
// in the settings store with Add.
//
// The list lives beside the tester catalogue, below the settings store that offers it the
// registered identifiers; the walk that makes an item of a file (batch/item_creation.h) sits
// with the batch queue above the engine, since the built-in items run scripts.
//
// All operations are safe to call from any thread.

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ordalis {

class PluginHost;

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
  // The plug-in host the list's plug-in creators come from.
  const std::shared_ptr<PluginHost>& Host() const { return host_; }

 private:
  std::shared_ptr<PluginHost> host_;
  mutable std::mutex mutex_;
  std::vector<std::string> ids_;
};

}  // namespace ordalis
