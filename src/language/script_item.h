#pragma once
// ScriptItem: one node of a loaded script. Each node is a statement or a part of an expression;
// its type, text and ordered children carry the construct, and the same node records the
// results of executing it: result records, a current result and per-result counters.
//
// Threads: the structure (type, text, file name, line, children, parent) is written only while
// the tree is loaded and is read-only afterwards. The result fields (records, current result,
// counters, breakpoint, current parent) may be written by a run thread while clients on other
// threads read them; every operation on them is safe to call from any thread.

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "language/result_record.h"
#include "language/result_spill.h"
#include "ordalis/interfaces.h"
#include "platform/spin_lock.h"

namespace ordalis {

class ScriptItem;
using ScriptItemPtr = std::shared_ptr<ScriptItem>;

class ScriptItem : public IScriptItem, public std::enable_shared_from_this<ScriptItem> {
 public:
  // A new item: type errorItem, text "Unknown", line 0xFFFFFFFF, current result TestNotRun, and
  // the next id of the process-wide IdGenerator.
  ScriptItem();
  ~ScriptItem() override;
  ScriptItem(const ScriptItem&) = delete;
  ScriptItem& operator=(const ScriptItem&) = delete;

  static ScriptItemPtr Make(ItemType type, std::string text, std::string file_name,
                            std::uint32_t line);
  // As above, sharing one file-name text among all items of a file.
  static ScriptItemPtr Make(ItemType type, std::string text,
                            std::shared_ptr<const std::string> file_name, std::uint32_t line);

  // Sets the four fields; the current result becomes TestError for an errorItem and TestNotRun
  // otherwise. Children, results and counters are left as they are.
  void Initialise(ItemType type, std::string text, std::string file_name, std::uint32_t line);
  void Initialise(ItemType type, std::string text, std::shared_ptr<const std::string> file_name,
                  std::uint32_t line);

  void AddChild(ScriptItemPtr child);
  // Makes room for [more] further children.
  void ReserveChildren(std::size_t more) { children_.reserve(children_.size() + more); }
  // Inserts [child] before position [index]; nothing happens when index is not below the
  // number of children.
  void InsertChild(std::size_t index, ScriptItemPtr child);
  void RemoveChild(const ScriptItem* child);
  // Takes every child away at once; they no longer name this item as their parent.
  std::vector<ScriptItemPtr> TakeChildren();
  // Position of the first occurrence of [child]; the number of children when absent.
  std::size_t IndexOfChild(const ScriptItem* child) const;

  ItemType type() const { return type_; }
  const std::string& text() const { return text_; }
  void set_text(std::string text) { text_ = std::move(text); }
  const std::string& file_name() const { return *file_name_; }
  std::uint32_t line() const { return line_; }
  // The column of the token the item was made at, counted in bytes from 1; 0 when not known.
  // Columns beyond kMaxColumn read as kMaxColumn.
  static constexpr std::uint32_t kMaxColumn = 0xFFFF;
  std::uint32_t column() const { return column_; }
  void set_column(std::uint32_t column) {
    column_ = static_cast<std::uint16_t>(std::min(column, kMaxColumn));
  }
  std::uint32_t id() const { return id_; }
  ScriptItem* parent() const { return parent_; }
  const std::vector<ScriptItemPtr>& children() const { return children_; }
  std::size_t child_count() const { return children_.size(); }
  ScriptItem* child(std::size_t index) const { return children_[index].get(); }
  // Levels of the operator or action chain this item heads, as the tree builder counts them
  // (1 for every other item).
  std::uint32_t height() const { return height_; }
  void set_height(std::uint32_t height) { height_ = height; }
  bool breakpoint() const { return breakpoint_.load(std::memory_order_relaxed); }
  void set_breakpoint(bool value) { breakpoint_.store(value, std::memory_order_relaxed); }
  Result current_result() const { return current_result_.load(std::memory_order_relaxed); }

  // The current parent when set, otherwise the parent; null for a root.
  ScriptItem* current_parent() const;
  void set_current_parent(ScriptItemPtr item);

  // Appends a result record stamped with the current time, makes [result] the current result
  // and counts it; the parent is not touched. [measurements] are what the run's action measured.
  void RecordResult(Result result, std::uint32_t iteration, double time_taken,
                    VariantArray values = {}, MeasurementList measurements = {});
  // Whether a Passed run recorded now would be folded into an earlier one and counted without
  // a record of its own: its time taken is then never seen, and need not be measured. Read
  // without a lock by the thread that records.
  bool PassedRunIsFolded() const { return passed_folded_.load(std::memory_order_relaxed); }
  // Sets the current result of this item and of every ancestor (TestAborted changes nothing).
  void SetStatus(Result result);
  std::uint32_t CountOf(Result result) const;
  std::size_t NumberOfRecords() const;
  // A copy of record [index]; the caller checks the index. A spilled record is read back from
  // the spill file (a record that cannot be read back comes as TestNotRun).
  ResultRecord Record(std::size_t index) const;
  // Appends up to [max] records from [first] on to [records], in order, reading spilled ones
  // back a block at a time; returns how many were appended (0 past the end).
  std::size_t ReadRecords(std::size_t first, std::size_t max, std::vector<ResultRecord>* records) const;
  // The item's runs folded in order as the results document's overall result shows them
  // (TestNotRun before the first record).
  Result OverallOfRecords() const;

  // Offers [spill] to the items of this tree (called on the root before a run): an item that
  // records from then on, until its results are reset, spills its older records there. Items
  // of a tree without a spill keep every record in memory.
  void SetResultSpill(std::shared_ptr<ResultSpill> spill);
  bool HasResultSpill() const;

  // Whether building a ScriptText turns malformed items and their ancestors to TestError.
  enum class Malformed { kMarkError, kLeaveResult };
  // The one-line source text of this item built from its children. Malformed items give an
  // error line ("file(line) : Error: message") and, unless [malformed] says otherwise, turn
  // this item and its ancestors to TestError.
  std::string ScriptTextOf(Malformed malformed = Malformed::kMarkError);
  // The same text, leaving every result as it is: for messages about the item.
  std::string SourceText() const;
  // The error line of this item with [message]: file "(" line ") : Error: " message.
  std::string ErrorLine(const std::string& message) const;
  // The message the text shows for an assert with more than one value or an sscanf whose
  // format and text are both computed; null when the item has no such malformed form. The
  // interpreter makes such a statement an Error when it runs.
  const char* MalformedFormMessage() const;

  // IScriptItem
  Status get_ChildCount(std::uint32_t* count) override;
  Status get_Children(std::uint32_t index, std::shared_ptr<IScriptItem>* child) override;
  Status get_Text(std::string* text) override;
  Status get_Type(ItemType* type) override;
  Status get_lineNumber(std::uint32_t* line) override;
  Status get_Parent(std::shared_ptr<IScriptItem>* parent) override;
  Status ResetResults() override;
  Status get_NumberOfResults(std::uint32_t* count) override;
  Status get_CurrentResult(Result* result) override;
  Status get_Id(std::uint32_t* id) override;
  Status get_ResultCount(Result type, std::uint32_t* count) override;
  Status get_ScriptText(std::string* text) override;
  Status SetResultStatus(Result result) override;
  Status AddResult(Result result, std::uint32_t iteration, double time_taken_sec,
                   VariantArrayPtr parameters) override;
  Status Results(std::uint32_t index, Result* result, std::uint32_t* iteration, std::int64_t* time,
                 double* time_taken_sec, VariantArrayPtr* values) override;
  Status put_BreakpointSet(VariantBool value) override;
  Status get_BreakpointSet(VariantBool* value) override;
  Status ClearAllBreakpoints() override;
  Status get_CurrentParent(std::shared_ptr<IScriptItem>* item) override;
  Status put_CurrentParent(std::shared_ptr<IScriptItem> item) override;
  Status get_FileName(std::string* file_name) override;

 private:
  std::string ScriptTextOfChild(std::size_t index, Malformed malformed);
  std::string JoinedChildren(const char* separator, Malformed malformed);
  std::string Failed(const std::string& message, Malformed malformed);
  std::string BinaryText(const char* message, Malformed malformed);
  std::string ListText(const char* head, const char* message, Malformed malformed);

  ItemType type_ = errorItem;
  std::uint32_t line_ = 0xFFFFFFFFu;
  std::string text_ = "Unknown";
  std::shared_ptr<const std::string> file_name_;
  std::vector<ScriptItemPtr> children_;
  ScriptItem* parent_ = nullptr;
  std::uint32_t id_ = 0;
  std::atomic<Result> current_result_{TestNotRun};
  std::atomic<bool> breakpoint_{false};
  // Set once the item has looked up its tree's spill since its results were last reset, so
  // recording does not walk to the root every time. (Beside the other small fields: a tree of
  // millions of items pays for every byte of padding.)
  std::atomic<bool> spill_resolved_{false};
  // Set once a further Passed run of this item would only be counted (see PassedRunIsFolded).
  std::atomic<bool> passed_folded_{false};
  std::uint16_t column_ = 0;  // in the padding beside the flags above
  std::uint32_t height_ = 1;

  // Records, counters and the current parent live apart and come into being with the first
  // result or current parent, so an item that never runs stays small. They are guarded by one
  // of a few process-wide spin locks chosen by the item's address (nothing waits under them).
  struct ResultState {
    ScriptItemPtr current_parent;
    // Grown by an eighth at a time, so a record costs little more than its own size.
    std::vector<ResultRecord> records;
    std::array<std::uint32_t, 7> counts{};
    Result overall = TestNotRun;
    // Older records in the spill file, block after block, before those in [records].
    std::shared_ptr<ResultSpill> spill;
    std::vector<ResultSpill::Block> blocks;
    std::size_t spilled = 0;
    std::size_t reported_held = 0;  // of [records], how many the spill's tally counts
    bool spill_looked_up = false;
    // Records on their way to the spill file, between the blocks and [records]: written
    // without the lock, and read from here by anyone who asks meanwhile, so a record is always
    // in memory or in a published block. Never changed while set; one block at a time.
    std::shared_ptr<const std::vector<ResultRecord>> writing;
    std::size_t writing_held = 0;  // of [writing], how many the spill's tally counts
    // Counts the resets, so a block written across one is dropped, not published.
    std::uint64_t generation = 0;

    std::size_t Count() const { return spilled + (writing ? writing->size() : 0) + records.size(); }
  };
  static constexpr std::size_t kHeldReportStep = 32;
  // The spill the root of this item's tree offers; null when none.
  std::shared_ptr<ResultSpill> OfferedSpill() const;
  // A block detached under the lock to be written without it.
  struct Detached {
    std::shared_ptr<ResultSpill> spill;
    std::shared_ptr<const std::vector<ResultRecord>> records;
    std::uint64_t generation = 0;
  };
  // Detaches the records [state] holds in memory when the window says they go to its spill;
  // an empty Detached when they stay. Called with StateMutex() held.
  static Detached DetachForSpill(ResultState& state);
  // Writes [detached] to the spill without the lock, then publishes the block (or, when it
  // could not be written, takes the records back into memory).
  void WriteDetached(Detached detached);
  // Record [index] of [state] (the caller holds StateMutex() and checks the index).
  ResultRecord RecordLocked(const ResultState& state, std::size_t index) const;
  SpinLock& StateMutex() const;
  ResultState& State();  // the caller holds StateMutex()

  std::unique_ptr<ResultState> state_;
  // On a root: the spill offered to the tree, guarded by one process-wide mutex that is never
  // held together with an item's result lock.
  std::shared_ptr<ResultSpill> tree_spill_;
};

// Whether the tree under [root] (itself included) holds an error item: a script that did not
// load cleanly and must not run.
bool HasErrorItems(const ScriptItem& root);

}  // namespace ordalis
