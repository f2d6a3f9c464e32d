#include "language/script_item.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "ordalis/id_generator.h"

namespace ordalis {

namespace {

const std::shared_ptr<const std::string>& EmptyFileName() {
  static const auto empty = std::make_shared<const std::string>();
  return empty;
}

bool IsComparisonOrLogical(ItemType type) {
  return (type >= lessThanItem && type <= notEqualItem) || type == andItem || type == orItem;
}

// Operands are enclosed in brackets when they stand inside another operator.
bool EnclosedByParent(const ScriptItem* parent) {
  return parent != nullptr &&
         (IsComparisonOrLogical(parent->type()) || parent->type() == arithmeticItem);
}

std::int32_t DecimalValue(const std::string& text) {
  return static_cast<std::int32_t>(std::strtoll(text.c_str(), nullptr, 10));
}

std::string Formatted(const char* format, std::uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

// A value a client records keeps integers, doubles, strings and arrays of them; every other
// variant type is skipped, in nested arrays too. The copy shares nothing with the client's array.
bool RecordedForm(const Variant& variant, Variant* recorded) {
  switch (variant.type()) {
    case VT_I4:
    case VT_R8:
    case VT_BSTR: *recorded = variant; return true;
    case kVariantArrayType: {
      VariantArray elements;
      if (variant.as_array()) {
        for (const Variant& element : *variant.as_array()) {
          Variant kept;
          if (RecordedForm(element, &kept)) elements.push_back(std::move(kept));
        }
      }
      *recorded = Variant::Array(std::move(elements));
      return true;
    }
    default: return false;
  }
}

// A copy of a recorded value for a client: nested arrays are copied, so the client cannot
// change the record through them.
Variant CopyOf(const Variant& value) {
  if (!value.is_array()) return value;
  VariantArray elements;
  if (value.as_array()) {
    elements.reserve(value.as_array()->size());
    for (const Variant& element : *value.as_array()) elements.push_back(CopyOf(element));
  }
  return Variant::Array(std::move(elements));
}

}  // namespace

ScriptItem::ScriptItem() : file_name_(EmptyFileName()), id_(IdGenerator::Next()) {}

ScriptItem::~ScriptItem() {
  // Children that clients still hold must not point back at a parent that is gone.
  for (const ScriptItemPtr& child : children_) {
    if (child && child->parent_ == this) child->parent_ = nullptr;
  }
}

ScriptItemPtr ScriptItem::Make(ItemType type, std::string text, std::string file_name,
                               std::uint32_t line) {
  return Make(type, std::move(text), std::make_shared<const std::string>(std::move(file_name)),
              line);
}

ScriptItemPtr ScriptItem::Make(ItemType type, std::string text,
                               std::shared_ptr<const std::string> file_name, std::uint32_t line) {
  auto item = std::make_shared<ScriptItem>();
  item->Initialise(type, std::move(text), std::move(file_name), line);
  return item;
}

void ScriptItem::Initialise(ItemType type, std::string text, std::string file_name,
                            std::uint32_t line) {
  Initialise(type, std::move(text), std::make_shared<const std::string>(std::move(file_name)),
             line);
}

void ScriptItem::Initialise(ItemType type, std::string text,
                            std::shared_ptr<const std::string> file_name, std::uint32_t line) {
  type_ = type;
  text_ = std::move(text);
  file_name_ = file_name ? std::move(file_name) : EmptyFileName();
  line_ = line;
  current_result_.store(type == errorItem ? TestError : TestNotRun, std::memory_order_relaxed);
}

void ScriptItem::AddChild(ScriptItemPtr child) {
  if (!child) return;
  child->parent_ = this;
  children_.push_back(std::move(child));
}

void ScriptItem::InsertChild(std::size_t index, ScriptItemPtr child) {
  if (!child || index >= children_.size()) return;
  child->parent_ = this;
  children_.insert(children_.begin() + static_cast<std::ptrdiff_t>(index), std::move(child));
}

void ScriptItem::RemoveChild(const ScriptItem* child) {
  std::size_t index = IndexOfChild(child);
  if (index == children_.size()) return;
  ScriptItemPtr removed = std::move(children_[index]);
  children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(index));
  if (removed->parent_ == this && IndexOfChild(removed.get()) == children_.size()) {
    removed->parent_ = nullptr;
  }
}

std::vector<ScriptItemPtr> ScriptItem::TakeChildren() {
  std::vector<ScriptItemPtr> taken = std::move(children_);
  children_.clear();
  for (const ScriptItemPtr& child : taken) {
    if (child->parent_ == this) child->parent_ = nullptr;
  }
  return taken;
}

std::size_t ScriptItem::IndexOfChild(const ScriptItem* child) const {
  auto found = std::find_if(children_.begin(), children_.end(),
                            [child](const ScriptItemPtr& c) { return c.get() == child; });
  return static_cast<std::size_t>(found - children_.begin());
}

SpinLock& ScriptItem::StateMutex() const {
  // A line each, so threads recording on different items do not contend for one cache line.
  struct alignas(64) Padded {
    SpinLock lock;
  };
  static std::array<Padded, 64> locks;
  auto address = reinterpret_cast<std::uintptr_t>(this);
  return locks[(address >> 8) % locks.size()].lock;
}

ScriptItem::ResultState& ScriptItem::State() {
  if (!state_) state_ = std::make_unique<ResultState>();
  return *state_;
}

ScriptItem* ScriptItem::current_parent() const {
  std::lock_guard lock(StateMutex());
  return state_ && state_->current_parent ? state_->current_parent.get() : parent_;
}

void ScriptItem::set_current_parent(ScriptItemPtr item) {
  ScriptItemPtr previous;
  {
    std::lock_guard lock(StateMutex());
    if (!item && !state_) return;
    previous = std::exchange(State().current_parent, std::move(item));
  }
  // The previous current parent is released outside the lock: it may be the last reference.
}

namespace {

std::mutex& TreeSpillMutex() {
  static std::mutex mutex;
  return mutex;
}

// The runs of an item folded in order: Passed and Not Implemented count only while nothing else
// has, Failed wins over Warning and Error, Aborted wins over everything before it.
Result Folded(Result overall, Result next) {
  switch (next) {
    case TestPassed: return overall == TestNotRun ? TestPassed : overall;
    case TestNotImplemented: return overall == TestNotRun ? TestNotImplemented : overall;
    case TestFailed: return TestFailed;
    case TestWarning: return overall != TestFailed ? TestWarning : overall;
    case TestError: return overall != TestFailed ? TestError : overall;
    case TestAborted: return TestAborted;
    default: return overall;
  }
}

}  // namespace

void ScriptItem::RecordResult(Result result, std::uint32_t iteration, double time_taken,
                              VariantArray values, MeasurementList measurements) {
  const auto now = static_cast<std::int64_t>(std::time(nullptr));
  std::shared_ptr<ResultSpill> offered;
  if (!spill_resolved_.load(std::memory_order_acquire)) offered = OfferedSpill();
  Detached detached;
  {
    std::lock_guard lock(StateMutex());
    ResultState& state = State();
    if (!state.spill_looked_up) {
      state.spill = std::move(offered);
      state.spill_looked_up = true;
      spill_resolved_.store(true, std::memory_order_release);
    }
    if (result == TestPassed && state.counts[TestPassed] > 0 && state.spill && state.spill->window().fold_passed) {
      // Folded into the first Passed run as it comes: counted, never stored.
      ++state.counts[TestPassed];
      current_result_.store(result, std::memory_order_relaxed);
      return;
    }
    if (result == TestPassed && state.spill && state.spill->window().fold_passed) {
      passed_folded_.store(true, std::memory_order_relaxed);  // the next Passed run folds
    }
    std::vector<ResultRecord>& records = state.records;
    if (records.size() == records.capacity()) records.reserve(records.size() + records.size() / 8 + 1);
    // Made in place: a loop's pass records one of these, and most carry no values.
    ResultRecord& record = records.emplace_back();
    record.result = result;
    record.iteration = iteration;
    record.time = now;
    record.time_taken = time_taken;
    if (!values.empty()) record.values = std::move(values);
    if (!measurements.empty()) record.measurements = std::move(measurements);
    if (result >= 0 && result < 7) ++state.counts[static_cast<std::size_t>(result)];
    state.overall = Folded(state.overall, result);
    current_result_.store(result, std::memory_order_relaxed);
    if (state.spill) {
      // The tree's tally of records in memory is shared by every thread that records: it is
      // told of an item's records a few dozen at a time.
      if (state.records.size() - state.reported_held >= kHeldReportStep) {
        state.spill->Held(static_cast<std::ptrdiff_t>(state.records.size() - state.reported_held));
        state.reported_held = state.records.size();
      }
      detached = DetachForSpill(state);
    }
  }
  // The file is written with no lock held: readers of this item meanwhile find the records
  // where they were detached to.
  if (detached.records) WriteDetached(std::move(detached));
}

ScriptItem::Detached ScriptItem::DetachForSpill(ResultState& state) {
  ResultSpill& spill = *state.spill;
  if (state.writing) return {};  // one block on its way at a time
  if (state.records.size() < spill.window().per_item && !spill.OverTreeWindow()) return {};
  const std::size_t per_item = spill.window().per_item;
  auto records = std::make_shared<std::vector<ResultRecord>>(std::move(state.records));
  state.records = std::vector<ResultRecord>();
  // The next tail starts as large as this one was, unless this one grew large; then it grows
  // again by an eighth at a time.
  if (records->size() <= per_item * 2) state.records.reserve(records->size());
  state.writing = records;
  state.writing_held = std::exchange(state.reported_held, 0);
  return {state.spill, std::move(records), state.generation};
}

void ScriptItem::WriteDetached(Detached detached) {
  ResultSpill::Block block;
  const bool written = detached.spill->Append(*detached.records, &block);
  std::lock_guard lock(StateMutex());
  ResultState& state = *state_;
  if (state.generation != detached.generation || state.writing != detached.records) return;  // reset meanwhile
  if (written) {
    state.blocks.push_back(block);
    state.spilled += state.writing->size();
    detached.spill->Held(-static_cast<std::ptrdiff_t>(state.writing_held));
  } else {
    // Kept in memory, in front of what was recorded meanwhile: nothing is lost.
    std::vector<ResultRecord> kept(*state.writing);
    kept.insert(kept.end(), std::make_move_iterator(state.records.begin()),
                std::make_move_iterator(state.records.end()));
    state.records = std::move(kept);
    state.reported_held += state.writing_held;
  }
  state.writing.reset();
  state.writing_held = 0;
}

std::shared_ptr<ResultSpill> ScriptItem::OfferedSpill() const {
  const ScriptItem* root = this;
  while (root->parent_ != nullptr) root = root->parent_;
  std::lock_guard lock(TreeSpillMutex());
  return root->tree_spill_;
}

void ScriptItem::SetResultSpill(std::shared_ptr<ResultSpill> spill) {
  std::lock_guard lock(TreeSpillMutex());
  tree_spill_ = std::move(spill);
}

bool ScriptItem::HasResultSpill() const {
  std::lock_guard lock(TreeSpillMutex());
  return tree_spill_ != nullptr;
}

void ScriptItem::SetStatus(Result result) {
  if (result == TestAborted) return;
  for (ScriptItem* item = this; item != nullptr; item = item->parent_) {
    item->current_result_.store(result, std::memory_order_relaxed);
  }
}

std::uint32_t ScriptItem::CountOf(Result result) const {
  if (result < 0 || result >= 7) return 0;
  std::lock_guard lock(StateMutex());
  return state_ ? state_->counts[static_cast<std::size_t>(result)] : 0;
}

std::size_t ScriptItem::NumberOfRecords() const {
  std::lock_guard lock(StateMutex());
  return state_ ? state_->Count() : 0;
}

ResultRecord ScriptItem::RecordLocked(const ResultState& state, std::size_t index) const {
  if (index >= state.spilled) {
    index -= state.spilled;
    if (state.writing) {
      if (index < state.writing->size()) return (*state.writing)[index];
      index -= state.writing->size();
    }
    return state.records[index];
  }
  ResultRecord record;
  for (const ResultSpill::Block& block : state.blocks) {
    if (index < block.count) {
      state.spill->ReadOne(block, index, &record);
      break;
    }
    index -= block.count;
  }
  return record;
}

ResultRecord ScriptItem::Record(std::size_t index) const {
  std::lock_guard lock(StateMutex());
  return RecordLocked(*state_, index);
}

std::size_t ScriptItem::ReadRecords(std::size_t first, std::size_t max,
                                    std::vector<ResultRecord>* records) const {
  std::lock_guard lock(StateMutex());
  if (!state_ || max == 0) return 0;
  const ResultState& state = *state_;
  std::size_t before = records->size();
  std::size_t start = 0;
  for (const ResultSpill::Block& block : state.blocks) {
    if (first < start + block.count) {
      // A block is read whole; the records before [first] are dropped again.
      std::size_t at = records->size();
      if (!state.spill->Read(block, records)) records->resize(at + block.count);
      records->erase(records->begin() + static_cast<std::ptrdiff_t>(at),
                     records->begin() + static_cast<std::ptrdiff_t>(at + (first - start)));
      if (records->size() - before > max) records->resize(before + max);
      return records->size() - before;
    }
    start += block.count;
  }
  std::size_t i = first - state.spilled;
  if (state.writing) {
    const std::vector<ResultRecord>& writing = *state.writing;
    for (; i < writing.size() && records->size() - before < max; ++i) records->push_back(writing[i]);
    if (i < writing.size()) return records->size() - before;  // [max] reached
    i -= writing.size();
  }
  for (; i < state.records.size() && records->size() - before < max; ++i) {
    records->push_back(state.records[i]);
  }
  return records->size() - before;
}

Result ScriptItem::OverallOfRecords() const {
  std::lock_guard lock(StateMutex());
  return state_ ? state_->overall : TestNotRun;
}

// ---- IScriptItem -------------------------------------------------------------------------

Status ScriptItem::get_ChildCount(std::uint32_t* count) {
  if (!count) return E_POINTER;
  *count = static_cast<std::uint32_t>(children_.size());
  return S_OK;
}

Status ScriptItem::get_Children(std::uint32_t index, std::shared_ptr<IScriptItem>* child) {
  if (!child) return E_POINTER;
  if (index >= children_.size()) return E_INVALIDARG;
  *child = children_[index];
  return S_OK;
}

Status ScriptItem::get_Text(std::string* text) {
  if (!text) return E_POINTER;
  *text = text_;
  return S_OK;
}

Status ScriptItem::get_Type(ItemType* type) {
  if (!type) return E_POINTER;
  *type = type_;
  return S_OK;
}

Status ScriptItem::get_lineNumber(std::uint32_t* line) {
  if (!line) return E_POINTER;
  *line = line_;
  return S_OK;
}

Status ScriptItem::get_Parent(std::shared_ptr<IScriptItem>* parent) {
  if (!parent) return E_POINTER;
  parent->reset();
  if (parent_) *parent = parent_->shared_from_this();
  return S_OK;
}

Status ScriptItem::ResetResults() {
  {
    std::lock_guard lock(StateMutex());
    if (state_) {
      // Records go, spilled ones too, counters return to 0; the current parent is not a
      // result and stays.
      if (state_->spill) state_->spill->Held(-static_cast<std::ptrdiff_t>(state_->reported_held));
      state_->reported_held = 0;
      if (state_->spill) state_->spill->Held(-static_cast<std::ptrdiff_t>(state_->writing_held));
      std::vector<ResultRecord>().swap(state_->records);
      state_->writing.reset();  // a block being written is dropped when it is done
      state_->writing_held = 0;
      ++state_->generation;
      std::vector<ResultSpill::Block>().swap(state_->blocks);
      state_->spill.reset();
      state_->spilled = 0;
      state_->spill_looked_up = false;
      state_->counts.fill(0);
      state_->overall = TestNotRun;
      spill_resolved_.store(false, std::memory_order_release);
      passed_folded_.store(false, std::memory_order_relaxed);
    }
    current_result_.store(TestNotRun, std::memory_order_relaxed);
  }
  if (parent_ == nullptr) SetResultSpill(nullptr);
  for (const ScriptItemPtr& child : children_) child->ResetResults();
  return S_OK;
}

Status ScriptItem::get_NumberOfResults(std::uint32_t* count) {
  if (!count) return E_POINTER;
  *count = static_cast<std::uint32_t>(NumberOfRecords());
  return S_OK;
}

Status ScriptItem::get_CurrentResult(Result* result) {
  if (!result) return E_POINTER;
  *result = current_result();
  return S_OK;
}

Status ScriptItem::get_Id(std::uint32_t* id) {
  if (!id) return E_POINTER;
  *id = id_;
  return S_OK;
}

// The TestAborted counter is kept but cannot be read.
Status ScriptItem::get_ResultCount(Result type, std::uint32_t* count) {
  if (type < TestPassed || type > TestNotRun) return E_INVALIDARG;
  if (!count) return E_POINTER;
  *count = CountOf(type);
  return S_OK;
}

Status ScriptItem::get_ScriptText(std::string* text) {
  if (!text) return E_POINTER;
  *text = ScriptTextOf();
  return S_OK;
}

Status ScriptItem::SetResultStatus(Result result) {
  if (result < TestPassed || result > TestAborted) return E_INVALIDARG;
  SetStatus(result);
  return S_OK;
}

Status ScriptItem::AddResult(Result result, std::uint32_t iteration, double time_taken_sec,
                             VariantArrayPtr parameters) {
  if (result < TestPassed || result > TestAborted) return E_INVALIDARG;
  VariantArray values;
  if (parameters) {
    values.reserve(parameters->size());
    for (const Variant& element : *parameters) {
      Variant kept;
      if (RecordedForm(element, &kept)) values.push_back(std::move(kept));
    }
  }
  RecordResult(result, iteration, time_taken_sec, std::move(values));
  return S_OK;
}

Status ScriptItem::Results(std::uint32_t index, Result* result, std::uint32_t* iteration,
                           std::int64_t* time, double* time_taken_sec, VariantArrayPtr* values) {
  std::lock_guard lock(StateMutex());
  if (!state_ || index >= state_->Count()) return E_INVALIDARG;
  if (!result || !iteration || !time || !time_taken_sec) return E_POINTER;
  const ResultRecord record = RecordLocked(*state_, index);
  *result = record.result;
  *iteration = record.iteration;
  *time = record.time;
  *time_taken_sec = record.time_taken;
  if (!values) return S_OK;
  values->reset();
  if (record.values.empty()) return S_OK;
  auto array = std::make_shared<VariantArray>();
  array->reserve(record.values.size());
  for (const Variant& value : record.values) array->push_back(CopyOf(value));
  *values = std::move(array);
  return S_OK;
}

Status ScriptItem::put_BreakpointSet(VariantBool value) {
  set_breakpoint(value == kVariantTrue);
  return S_OK;
}

Status ScriptItem::get_BreakpointSet(VariantBool* value) {
  if (!value) return E_POINTER;
  *value = ToVariantBool(breakpoint());
  return S_OK;
}

Status ScriptItem::ClearAllBreakpoints() {
  set_breakpoint(false);
  for (const ScriptItemPtr& child : children_) child->ClearAllBreakpoints();
  return S_OK;
}

Status ScriptItem::get_CurrentParent(std::shared_ptr<IScriptItem>* item) {
  if (!item) return E_POINTER;
  std::lock_guard lock(StateMutex());
  if (state_ && state_->current_parent) {
    *item = state_->current_parent;
  } else if (parent_) {
    *item = parent_->shared_from_this();
  } else {
    item->reset();
  }
  return S_OK;
}

Status ScriptItem::put_CurrentParent(std::shared_ptr<IScriptItem> item) {
  ScriptItemPtr script_item = std::dynamic_pointer_cast<ScriptItem>(item);
  if (item && !script_item) return E_INVALIDARG;
  set_current_parent(std::move(script_item));
  return S_OK;
}

Status ScriptItem::get_FileName(std::string* file_name) {
  if (!file_name) return E_POINTER;
  *file_name = *file_name_;
  return S_OK;
}

// ---- ScriptText ---------------------------------------------------------------------------

std::string ScriptItem::ErrorLine(const std::string& message) const {
  return *file_name_ + "(" + std::to_string(line_) + ") : Error: " + message;
}

const char* ScriptItem::MalformedFormMessage() const {
  const std::size_t count = children_.size();
  switch (type_) {
    case assertItem:
      return count != 1 && count != 2 ? "Invalid assert statement" : nullptr;
    case sscanfItem: {
      bool literal = count == 2 && (children_[0]->type() == stringItem || children_[1]->type() == stringItem);
      return literal ? nullptr : "Invalid parameters to sscanf expected ( \"format\" , \"text\" )";
    }
    default:
      return nullptr;
  }
}

std::string ScriptItem::Failed(const std::string& message, Malformed malformed) {
  if (malformed == Malformed::kMarkError) SetStatus(TestError);
  return ErrorLine(message);
}

std::string ScriptItem::ScriptTextOfChild(std::size_t index, Malformed malformed) {
  return children_[index]->ScriptTextOf(malformed);
}

std::string ScriptItem::JoinedChildren(const char* separator, Malformed malformed) {
  std::string text;
  for (std::size_t i = 0; i < children_.size(); ++i) {
    if (i > 0) text += separator;
    text += ScriptTextOfChild(i, malformed);
  }
  return text;
}

// left op right, in brackets when it is an operand of another operator.
std::string ScriptItem::BinaryText(const char* message, Malformed malformed) {
  if (children_.size() != 2) return Failed(message, malformed);
  std::string text = ScriptTextOfChild(0, malformed) + " " + text_ + " " + ScriptTextOfChild(1, malformed);
  return EnclosedByParent(parent_) ? "( " + text + " )" : text;
}

// head c0, then " , " + child for each further child (no comma before an arithmetic child).
std::string ScriptItem::ListText(const char* head, const char* message, Malformed malformed) {
  std::size_t first_extra = type_ == assignmentItem ? 2 : 1;
  if (children_.size() < first_extra) return Failed(message, malformed);
  std::string text = head;
  text += ScriptTextOfChild(0, malformed);
  if (type_ == assignmentItem) text += " = " + ScriptTextOfChild(1, malformed);
  for (std::size_t i = first_extra; i < children_.size(); ++i) {
    if (children_[i]->type() != arithmeticItem) text += " , ";
    text += ScriptTextOfChild(i, malformed);
  }
  return text;
}

std::string ScriptItem::SourceText() const {
  // With kLeaveResult nothing of the item changes, so the const promise holds.
  return const_cast<ScriptItem*>(this)->ScriptTextOf(Malformed::kLeaveResult);
}

std::string ScriptItem::ScriptTextOf(Malformed malformed) {
  const std::size_t count = children_.size();
  switch (type_) {
    case errorItem:
      return ErrorLine(text_);
    case actionItem: {
      if (count != 2) return Failed("Invalid action statement", malformed);
      std::string text = ScriptTextOfChild(0, malformed) + text_ + ScriptTextOfChild(1, malformed);
      if (children_[1]->child_count() == 0) text += "( )";
      return text;
    }
    case assignmentItem:
      return ListText("", "Invalid assignment Statement", malformed);
    case lessThanItem: case lessThanOrEqualItem: case equalItem:
    case greaterThanOrEqualItem: case greaterThanItem: case notEqualItem:
    case andItem: case orItem:
      return BinaryText("Invalid conditional", malformed);
    case arithmeticItem:
      return BinaryText("Invalid arithmetic statement", malformed);
    case stringItem:
      return "\"" + text_ + "\"";
    case idItem:
      return count == 0 ? text_ : text_ + "( " + JoinedChildren(" , ", malformed) + " )";
    case newItem: {
      if (count != 1) return Failed("Invalid new statement", malformed);
      std::string text = "new " + ScriptTextOfChild(0, malformed);
      if (children_[0]->child_count() == 0) text += "( )";
      return text;
    }
    case deleteItem:
      return count == 1 ? "delete " + ScriptTextOfChild(0, malformed)
                        : Failed("Invalid delete statement", malformed);
    case incrementItem:
      return count == 1 ? ScriptTextOfChild(0, malformed) + "++"
                        : Failed("Invalid ++ statement", malformed);
    case decrementItem:
      return count == 1 ? ScriptTextOfChild(0, malformed) + "--"
                        : Failed("Invalid -- statement", malformed);
    case sleepItem:
      return count == 1 ? "sleep( " + ScriptTextOfChild(0, malformed) + " )"
                        : Failed("Invalid sleep statement", malformed);
    case sprintfItem:
      return "sprintf ( " + JoinedChildren(" , ", malformed) + " )";
    case arrayIndexItem: {
      if (count < 2) {
        if (malformed == Malformed::kMarkError) SetStatus(TestError);
        return "[ ? ]";
      }
      std::string text = ScriptTextOfChild(0, malformed);
      for (std::size_t i = 1; i < count; ++i) text += "[ " + ScriptTextOfChild(i, malformed) + " ]";
      return text;
    }
    case notItem:
      return count == 1 ? " not " + ScriptTextOfChild(0, malformed) : std::string(" not ");
    case assertItem: {
      if (const char* message = MalformedFormMessage()) return Failed(message, malformed);
      std::string text = "assert ( " + ScriptTextOfChild(0, malformed);
      if (count == 2) text += " , " + ScriptTextOfChild(1, malformed);
      return text + " )";
    }
    case hexItem:
      return "0x" + Formatted("%x", static_cast<std::uint32_t>(DecimalValue(text_)));
    case octalItem:
      return "0" + Formatted("%o", static_cast<std::uint32_t>(DecimalValue(text_)));
    case sscanfItem: {
      std::string text = "sscanf ( " + JoinedChildren(" , ", malformed) + " )";
      if (const char* message = MalformedFormMessage()) text += Failed(message, malformed);
      return text;
    }
    case defaultItem:
      return count == 1 ? "default " + ScriptTextOfChild(0, malformed)
                        : Failed("Invalid default Statement", malformed);
    case arrayLengthItem:
      return "arraylength( " + (count == 1 ? ScriptTextOfChild(0, malformed) : std::string()) + " )";
    case functionItem:
      return "function " + text_;
    case functionCallItem: {
      bool quiet = !text_.empty() && text_.back() == ':';
      std::string text = quiet ? text_.substr(0, text_.size() - 1) : text_;
      text += "(";
      for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) text += " ,";
        text += " " + ScriptTextOfChild(i, malformed);
      }
      text += " )";
      if (quiet) text += ":";
      return text;
    }
    case arrayItem:
      return "[ " + JoinedChildren(" , ", malformed) + " ]";
    case moveLogFileItem:
      return "movelogfile ( " + (count == 1 ? ScriptTextOfChild(0, malformed) : std::string(" Error ")) +
             " )";
    case copyLogFileItem:
      return "copylogfile ( " + (count == 1 ? ScriptTextOfChild(0, malformed) : std::string(" Error ")) +
             " )";
    case returnItem:
      return ListText("return ", "Invalid return Statement", malformed);
    case localItem: {
      std::string text = "local ";
      for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) text += " ,";
        text += " " + ScriptTextOfChild(i, malformed);
      }
      return text;
    }
    case abortItem:
      return "abort \"" + text_ + "\"";
    default:
      return text_;
  }
}

bool HasErrorItems(const ScriptItem& root) {
  std::vector<const ScriptItem*> pending = {&root};
  while (!pending.empty()) {
    const ScriptItem* item = pending.back();
    pending.pop_back();
    if (item->type() == errorItem) return true;
    for (const ScriptItemPtr& child : item->children()) pending.push_back(child.get());
  }
  return false;
}

}  // namespace ordalis
