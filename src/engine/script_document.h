#pragma once
// ScriptDocument: the loaded script of one script object — its item tree and the names it was
// loaded under — and the current item, the place a run is at.
//
// A tree is built completely before it is published and its structure never changes once
// published: Load and MakeRemoteRoot build a new tree, and a remote chunk is parsed apart and
// then published as a new root holding the earlier statements and the chunk's. Whoever holds a
// root may therefore walk it from any thread. A run keeps the tree it executes alive until it
// ends, so nothing a client or a log line reaches is freed under it.
//
// All operations are safe to call from any thread unless marked "run thread".

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "language/script_item.h"

namespace ordalis {

// One published state of the document: a root and the names the script goes by.
struct LoadedScript {
  ScriptItemPtr root;
  std::string file_name;  // without its directory
  std::string path;       // as last given to SetFileNames
  std::string directory;  // the script's directory, base of its results directory
};

// Whether a load left error items in the tree (or could not read the file at all).
enum class LoadOutcome { kClean, kWithErrors };

// Where a place in the script is: the file name and line of an item.
struct ItemPlace {
  std::string file_name;
  std::uint32_t line = 0;
};

class ScriptDocument {
 public:
  // A document holding the remote root: a rootItem "proxyroot" from file "N/A".
  ScriptDocument();
  ScriptDocument(const ScriptDocument&) = delete;
  ScriptDocument& operator=(const ScriptDocument&) = delete;

  std::shared_ptr<const LoadedScript> Current() const;
  ScriptItemPtr root() const { return Current()->root; }

  // Loads the script file at [path] into a new tree, publishes it under the names the loader
  // settled on and makes its root the current item. Pending remote chunks are dropped.
  LoadOutcome Load(const std::string& path);
  // Stores [path] as the script path and splits it into file name and directory ("." when it
  // has no directory part).
  void SetFileNames(const std::string& path);
  // Publishes a new remote root ("proxyroot", "N/A") and makes it the current item.
  void MakeRemoteRoot();

  // Parses [text] as statements to append to the script, apart from the published tree; the
  // run thread publishes them (AdoptPendingChunks). False when the text cannot be parsed.
  bool QueueChunk(const std::string& text);
  bool HasPendingChunk() const;

  // ---- run thread ---------------------------------------------------------------------------
  // Where the next stretch of a run starts: the first statement of the chunks waiting, once
  // they are published (then [adopted] is set), otherwise the current item, otherwise the root.
  // The tree it belongs to is kept alive until EndRun.
  ScriptItemPtr TakeStart(bool* adopted);
  // The run is over: the root becomes the current item and the run's tree is let go.
  void EndRun();
  // The item the run is executing; [item] lies in the tree the run keeps alive. Cheap.
  void SetCurrentItem(ScriptItem* item) { current_.store(item, std::memory_order_release); }

  // ---- clients and log lines ------------------------------------------------------------
  // The current item, or null.
  ScriptItemPtr CurrentItem() const;
  // The file name and line of the current item (empty and 0 without one).
  ItemPlace CurrentPlace() const;

 private:
  // Publishes [root] under [names]' names; the caller holds mutex_. The previous state is
  // returned so it is released after the lock.
  std::shared_ptr<const LoadedScript> Publish(ScriptItemPtr root, const LoadedScript& names);
  // With mutex_ held; the state it replaces goes to [previous], to be released after the lock.
  ScriptItemPtr AdoptPendingChunks(std::shared_ptr<const LoadedScript>* previous);

  mutable std::mutex mutex_;
  std::shared_ptr<const LoadedScript> loaded_;
  ScriptItemPtr run_tree_;                    // the tree the run in progress executes
  std::vector<ScriptItemPtr> pending_chunks_;  // parsed remote chunks, each below a root of its own
  // Points into the published tree or into run_tree_; changed by the run thread without the
  // lock, and read under the lock, which keeps both trees from being let go meanwhile.
  std::atomic<ScriptItem*> current_{nullptr};
};

}  // namespace ordalis
