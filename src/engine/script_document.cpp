#include "engine/script_document.h"

#include "language/script_loader.h"

namespace ordalis {

namespace {

// Whether [item] or anything below it failed or is in error (a load that produced error items).
bool HasFailure(const ScriptItem& item) {
  std::vector<const ScriptItem*> pending = {&item};
  while (!pending.empty()) {
    const ScriptItem* next = pending.back();
    pending.pop_back();
    Result result = next->current_result();
    if (result == TestFailed || result == TestError) return true;
    for (const ScriptItemPtr& child : next->children()) pending.push_back(child.get());
  }
  return false;
}

// The root of the tree [item] belongs to.
ScriptItemPtr RootOf(const ScriptItemPtr& item) {
  ScriptItem* top = item.get();
  while (top->parent() != nullptr) top = top->parent();
  return top->shared_from_this();
}

void SplitPath(const std::string& path, LoadedScript* names) {
  names->path = path;
  std::size_t separator = path.find_last_of("/\\");
  bool bare = separator == std::string::npos;
  names->file_name = bare ? path : path.substr(separator + 1);
  names->directory = bare ? std::string(".") : path.substr(0, separator);
}

}  // namespace

ScriptDocument::ScriptDocument() {
  auto initial = std::make_shared<LoadedScript>();
  initial->root = ScriptItem::Make(rootItem, "proxyroot", "N/A", 0);
  current_.store(initial->root.get());
  loaded_ = std::move(initial);
}

std::shared_ptr<const LoadedScript> ScriptDocument::Current() const {
  std::lock_guard lock(mutex_);
  return loaded_;
}

std::shared_ptr<const LoadedScript> ScriptDocument::Publish(ScriptItemPtr root, const LoadedScript& names) {
  auto next = std::make_shared<LoadedScript>(names);
  next->root = std::move(root);
  std::shared_ptr<const LoadedScript> previous = std::move(loaded_);
  loaded_ = std::move(next);
  return previous;
}

LoadOutcome ScriptDocument::Load(const std::string& path) {
  LoadedScript names;
  SplitPath(path, &names);
  ScriptItemPtr fresh = ScriptItem::Make(rootItem, "root", names.file_name, 0);
  ScriptLoader loader;
  bool read = loader.Load(path, fresh);
  LoadOutcome outcome = read && !HasFailure(*fresh) ? LoadOutcome::kClean : LoadOutcome::kWithErrors;
  // The names the loader settled on: the file name alone, and the loader's directory.
  SplitPath(loader.FileName(), &names);
  names.directory = loader.Directory();
  std::shared_ptr<const LoadedScript> previous;
  std::vector<ScriptItemPtr> dropped;
  {
    std::lock_guard lock(mutex_);
    current_.store(fresh.get());
    previous = Publish(std::move(fresh), names);
    dropped.swap(pending_chunks_);
  }
  return outcome;
}

void ScriptDocument::SetFileNames(const std::string& path) {
  std::shared_ptr<const LoadedScript> previous;
  std::lock_guard lock(mutex_);
  LoadedScript names = *loaded_;
  SplitPath(path, &names);
  previous = Publish(loaded_->root, names);
}

void ScriptDocument::MakeRemoteRoot() {
  ScriptItemPtr fresh = ScriptItem::Make(rootItem, "proxyroot", "N/A", 0);
  std::shared_ptr<const LoadedScript> previous;
  std::vector<ScriptItemPtr> dropped;
  std::lock_guard lock(mutex_);
  current_.store(fresh.get());
  previous = Publish(std::move(fresh), *loaded_);
  dropped.swap(pending_chunks_);
}

bool ScriptDocument::QueueChunk(const std::string& text) {
  ScriptItemPtr chunk = ScriptItem::Make(rootItem, "chunk", "N/A", 0);
  ScriptLoader loader;
  if (!loader.LoadText(text, chunk)) return false;
  std::lock_guard lock(mutex_);
  pending_chunks_.push_back(std::move(chunk));
  return true;
}

bool ScriptDocument::HasPendingChunk() const {
  std::lock_guard lock(mutex_);
  return !pending_chunks_.empty();
}

// A new root like the published one, holding its statements followed by those of every chunk
// waiting; the chunk's first statement becomes the current item. The statements already there
// move to the new root as their parent, so a function defined in one chunk is found from the
// next. The old root keeps its list for whoever still holds it.
ScriptItemPtr ScriptDocument::AdoptPendingChunks(std::shared_ptr<const LoadedScript>* previous) {
  const ScriptItem& old = *loaded_->root;
  ScriptItemPtr root = ScriptItem::Make(old.type(), old.text(), old.file_name(), old.line());
  root->ReserveChildren(old.child_count());
  for (const ScriptItemPtr& child : old.children()) root->AddChild(child);
  std::size_t first_new = root->child_count();
  for (const ScriptItemPtr& chunk : pending_chunks_) {
    for (const ScriptItemPtr& child : chunk->children()) root->AddChild(child);
  }
  pending_chunks_.clear();
  ScriptItemPtr start = first_new < root->child_count() ? root->children()[first_new] : root;
  current_.store(start.get());
  run_tree_ = root;
  *previous = Publish(std::move(root), *loaded_);
  return start;
}

ScriptItemPtr ScriptDocument::TakeStart(bool* adopted) {
  ScriptItemPtr previous_tree;
  std::shared_ptr<const LoadedScript> previous_state;
  std::lock_guard lock(mutex_);
  previous_tree = run_tree_;
  *adopted = !pending_chunks_.empty();
  if (*adopted) return AdoptPendingChunks(&previous_state);
  ScriptItem* current = current_.load(std::memory_order_acquire);
  ScriptItemPtr start = current != nullptr ? current->shared_from_this() : loaded_->root;
  run_tree_ = RootOf(start);
  return start;
}

void ScriptDocument::EndRun() {
  ScriptItemPtr finished;
  std::lock_guard lock(mutex_);
  current_.store(loaded_->root.get());
  finished.swap(run_tree_);
}

ScriptItemPtr ScriptDocument::CurrentItem() const {
  std::lock_guard lock(mutex_);
  ScriptItem* current = current_.load(std::memory_order_acquire);
  return current != nullptr ? current->shared_from_this() : nullptr;
}

ItemPlace ScriptDocument::CurrentPlace() const {
  std::lock_guard lock(mutex_);
  ScriptItem* current = current_.load(std::memory_order_acquire);
  if (current == nullptr) return ItemPlace();
  return ItemPlace{current->file_name(), current->line()};
}

}  // namespace ordalis
