#include "report/run_annotations.h"

#include <algorithm>

#include "engine/results_writer.h"
#include "language/script_item.h"

namespace ordalis::report {

namespace {

constexpr std::size_t kRecentStatements = 4096;
// Parent chains are walked with a bound, like every walk over the tree.
constexpr int kMaxAncestors = 100000;

// Whether the results document writes the children of [type] at all (inside the node, or after
// it for if and while); for every other type the children are part of the statement's text.
bool WritesChildren(ItemType type) {
  switch (type) {
    case errorItem: case rootItem: case thenItem: case elseItem: case doItem:
    case testResultItem: case resultItem: case includeItem: case endIncludeItem:
    case ignoreResultItem: case functionItem: case ifItem: case whileItem:
      return true;
    default:
      return false;
  }
}

bool IsBlock(ItemType type) {
  switch (type) {
    case rootItem: case ifItem: case thenItem: case elseItem: case whileItem: case doItem:
    case resultItem: case includeItem: case endIncludeItem: case ignoreResultItem:
    case functionItem:
      return true;
    default:
      return false;
  }
}

// Whether the statement just executed failed: its current result is the one this execution set
// (recorded or not), read without the lock of its records, since it is asked for every statement.
bool JustFailed(const ScriptItem& item) {
  Result result = item.current_result();
  return result == TestFailed || result == TestError;
}

bool IsDescendant(const ScriptItem* item, const ScriptItem* ancestor) {
  int steps = 0;
  for (const ScriptItem* at = item; at != nullptr && steps < kMaxAncestors; at = at->parent(), ++steps) {
    if (at == ancestor) return true;
  }
  return false;
}

// The function body [item] sits in, or null.
const ScriptItem* EnclosingFunction(const ScriptItem* item) {
  int steps = 0;
  for (const ScriptItem* at = item->parent(); at != nullptr && steps < kMaxAncestors;
       at = at->parent(), ++steps) {
    if (at->type() == functionItem) return at;
  }
  return nullptr;
}

// Whether [item] ran as part of [row]: it is inside the row's statement, or inside a function
// other than the one the row itself sits in (a function the row's statement called).
bool RanInside(const ScriptItem* item, const ScriptItem* row) {
  if (item == row) return false;
  if (IsDescendant(item, row)) return true;
  const ScriptItem* function = EnclosingFunction(item);
  return function != nullptr && !IsDescendant(row, function);
}

}  // namespace

bool IsBlockType(std::string_view type_word) {
  static constexpr std::string_view kBlocks[] = {
      "root", "if", "then", "else", "while", "do", "result", "include", "endinclude",
      "ignoreResultItem", "functionItem"};
  return std::find(std::begin(kBlocks), std::end(kBlocks), type_word) != std::end(kBlocks);
}

void RunRecorder::OnLogLine(std::string line) {
  std::lock_guard lock(mutex_);
  if (recent_lines_.size() < kLinesBeforeFailure) {
    recent_lines_.push_back(std::move(line));
  } else {
    recent_lines_[next_line_] = std::move(line);
  }
  next_line_ = (next_line_ + 1) % kLinesBeforeFailure;
}

void RunRecorder::OnExecuted(ScriptItem* item) {
  if (item == nullptr) return;
  bool failed = JustFailed(*item);
  Executed entry{item, failed && !IsBlock(item->type())};
  // Only a failure touches what Finish and OnLogLine share: a statement that passes takes no
  // lock. The ring of recent statements is the run thread's own.
  if (failed) NoteFailure(entry);
  if (recent_.size() < kRecentStatements) {
    recent_.push_back(entry);
  } else {
    // Field by field: the entry is built on the stack a moment before, and copying it whole
    // stalls on reading it back.
    recent_[next_executed_].item = entry.item;
    recent_[next_executed_].failed = entry.failed;
  }
  next_executed_ = (next_executed_ + 1) % kRecentStatements;
}

// Keeps the log lines that led to a failing statement, and the failure a result row ends with.
// The ring does not hold [entry] yet.
void RunRecorder::NoteFailure(const Executed& entry) {
  ScriptItem* item = entry.item;
  std::lock_guard lock(mutex_);
  if (entry.failed && failure_lines_.size() < kFailuresWithLines &&
      failure_lines_.find(item) == failure_lines_.end()) {
    std::vector<std::string>& lines = failure_lines_[item];
    for (std::size_t i = 0; i < recent_lines_.size(); ++i) {
      std::size_t at = recent_lines_.size() < kLinesBeforeFailure ? i : (next_line_ + i) % kLinesBeforeFailure;
      lines.push_back(recent_lines_[at]);
    }
  }
  if (item->type() == resultItem && row_failures_.find(item) == row_failures_.end()) {
    AttributeToRow(item);
  }
}

// Walks back over the statements that ran since the row started and keeps the earliest that
// failed. Called with the lock held.
void RunRecorder::AttributeToRow(ScriptItem* row) {
  ScriptItem* earliest = nullptr;
  for (std::size_t back = 1; back <= recent_.size(); ++back) {
    std::size_t at = (next_executed_ + kRecentStatements - back) % kRecentStatements;
    if (recent_.size() < kRecentStatements) at = recent_.size() - back;
    const Executed& entry = recent_[at];
    if (!RanInside(entry.item, row)) break;
    if (entry.failed) earliest = entry.item;
  }
  if (earliest != nullptr) row_failures_[row] = earliest;
}

RunAnnotations RunRecorder::Finish(ScriptItem& root) {
  RunAnnotations notes;
  std::unordered_map<const ScriptItem*, std::size_t> index_of;
  NoteTree(root, &notes, &index_of);
  std::lock_guard lock(mutex_);
  for (auto& [item, lines] : failure_lines_) {
    auto found = index_of.find(item);
    if (found != index_of.end()) notes.failure_logs[found->second] = std::move(lines);
  }
  for (const auto& [row, failing] : row_failures_) {
    auto row_index = index_of.find(row);
    auto failing_index = index_of.find(failing);
    if (row_index != index_of.end() && failing_index != index_of.end()) {
      notes.row_failures[row_index->second] = failing_index->second;
    }
  }
  return notes;
}

void NoteTree(ScriptItem& root, RunAnnotations* notes,
              std::unordered_map<const ScriptItem*, std::size_t>* index_of) {
  std::unordered_map<std::string, std::uint32_t> file_index;
  // The document's order is a pre-order walk over the children it writes; the explicit stack
  // keeps deep scripts off the machine stack.
  std::vector<const ScriptItem*> pending = {&root};
  while (!pending.empty()) {
    const ScriptItem* item = pending.back();
    pending.pop_back();
    auto [file, added] = file_index.try_emplace(item->file_name(),
                                                static_cast<std::uint32_t>(notes->files.size()));
    if (added) notes->files.push_back(item->file_name());
    std::uint32_t line = item->line() == 0xFFFFFFFFu ? 0 : item->line();
    (*index_of)[item] = notes->nodes.size();
    notes->nodes.push_back(NodeNote{ResultsTypeName(item->type()), file->second, line});
    if (!WritesChildren(item->type())) continue;
    for (std::size_t i = item->child_count(); i > 0; --i) pending.push_back(item->child(i - 1));
  }
}

}  // namespace ordalis::report
