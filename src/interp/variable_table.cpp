#include "interp/variable_table.h"

#include <iterator>
#include <utility>

#include "platform/text.h"

namespace ordalis {

std::string LowerName(std::string_view name) { return LowerAscii(name); }

const std::string& KeyFor(const std::string& name, std::string* lowered) {
  for (char c : name) {
    if (c >= 'A' && c <= 'Z') {
      *lowered = LowerAscii(name);
      return *lowered;
    }
  }
  return name;
}

bool ValueRefersTo(const VariableValue& value, const ITester* tester) {
  if (value.kind() == ValueKind::Tester) return value.tester().get() == tester;
  if (value.kind() != ValueKind::Array) return false;
  for (const auto& element : value.elements()) {
    if (ValueRefersTo(element, tester)) return true;
  }
  return false;
}

bool WriteLog::Has(const std::string& name) const {
  if (entries_.size() > kScanLimit) return names_.count(name) != 0;
  for (const Entry& entry : entries_) {
    if (entry.name == name) return true;
  }
  return false;
}

void WriteLog::Note(const std::string& name, VariableValue* previous, bool take) {
  if (Has(name)) return;
  Entry& entry = entries_.emplace_back();
  entry.name = name;
  entry.existed = previous != nullptr;
  if (previous != nullptr) entry.previous = take ? std::move(*previous) : *previous;
  if (entries_.size() == kScanLimit + 1) {
    for (const Entry& noted : entries_) names_.insert(noted.name);
  } else if (entries_.size() > kScanLimit) {
    names_.insert(name);
  }
}

VariableTable::Map::const_iterator VariableTable::FindLocked(const std::string& name) const {
  // The address is spread over the slots by Fibonacci hashing: names of items made one after
  // another lie a fixed distance apart, which a plain modulo would send to the same slot.
  const std::uint64_t spread = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&name)) * 0x9E3779B97F4A7C15u;
  Remembered& slot = remembered_[spread >> (64 - kRememberedBits)];
  if (slot.name == &name && slot.entry->first == name) return slot.entry;
  auto indexed = index_.find(name);
  if (indexed == index_.end()) return variables_.end();
  slot = {&name, indexed->second};
  return indexed->second;
}

VariableTable::Map::iterator VariableTable::FindLocked(const std::string& name) {
  Map::const_iterator found = std::as_const(*this).FindLocked(name);
  return variables_.erase(found, found);  // the same entry, writable
}

bool VariableTable::Contains(const std::string& name) const {
  std::lock_guard lock(mutex_);
  return FindLocked(name) != variables_.end();
}

bool VariableTable::Get(const std::string& name, VariableValue* value) const {
  std::lock_guard lock(mutex_);
  auto found = FindLocked(name);
  if (found == variables_.end()) return false;
  *value = found->second;
  return true;
}

namespace {

// The value inside [value]'s one-element arrays, or null when an array on the way holds
// other than one element.
template <typename Value>
Value* Innermost(Value& value) {
  Value* inner = &value;
  while (inner->kind() == ValueKind::Array) {
    if (inner->ElementCount() != 1) return nullptr;
    inner = &inner->Element(0);
  }
  return inner;
}

}  // namespace

const VariableValue* VariableTable::ScalarLocked(const std::string& name) const {
  auto found = FindLocked(name);
  if (found == variables_.end()) return nullptr;
  const VariableValue& whole = found->second;
  if (whole.ElementCount() != 1) return nullptr;
  const VariableValue& inner = whole.Element(0);
  return inner.kind() == ValueKind::Array ? nullptr : &inner;
}

bool VariableTable::GetScalar(const std::string& name, VariableValue* value) const {
  std::lock_guard lock(mutex_);
  const VariableValue* inner = ScalarLocked(name);
  if (inner == nullptr) return false;
  if (inner->is_plain_integer()) {
    value->SetInteger(inner->integer());  // a counter, read without copying a whole value
  } else {
    *value = *inner;
  }
  return true;
}

bool VariableTable::GetInteger(const std::string& name, std::int32_t* value) const {
  std::lock_guard lock(mutex_);
  const VariableValue* inner = ScalarLocked(name);
  if (inner == nullptr || inner->kind() != ValueKind::Integer) return false;
  *value = inner->integer();
  return true;
}

VariableTable::StepOutcome VariableTable::StepInteger(const std::string& name, std::int32_t delta) {
  std::lock_guard lock(mutex_);
  auto found = FindLocked(name);
  if (found == variables_.end()) return StepOutcome::kNotInteger;
  VariableValue* inner = Innermost(found->second);
  if (inner == nullptr || inner->kind() != ValueKind::Integer) return StepOutcome::kNotInteger;
  NoteWriteLocked(found->first, &found->second, false);
  std::uint32_t bits = static_cast<std::uint32_t>(inner->integer()) + static_cast<std::uint32_t>(delta);
  inner->SetInteger(static_cast<std::int32_t>(bits));
  return StepOutcome::kStepped;
}

void VariableTable::Set(const std::string& name, VariableValue value) {
  {
    std::lock_guard lock(mutex_);
    auto entry = FindLocked(name);
    const bool inserted = entry == variables_.end();
    if (inserted) {
      entry = variables_.try_emplace(name).first;
      index_.emplace(entry->first, entry);
    }
    std::swap(entry->second, value);
    if (write_log_ != nullptr) write_log_->Note(name, inserted ? nullptr : &value, true);
  }
  // [value] now holds the replaced value and is destroyed here, outside the lock.
}

bool VariableTable::Replace(const std::string& name, VariableValue value) {
  {
    std::lock_guard lock(mutex_);
    auto found = FindLocked(name);
    if (found == variables_.end()) return false;
    std::swap(found->second, value);
    NoteWriteLocked(found->first, &value, true);
  }
  return true;
}

bool VariableTable::Remove(const std::string& name) {
  Map::node_type removed;
  {
    std::lock_guard lock(mutex_);
    ForgetEntries();
    auto indexed = index_.find(name);
    if (indexed != index_.end()) {
      Map::iterator entry = indexed->second;
      index_.erase(indexed);
      removed = variables_.extract(entry);
    }
    if (!removed.empty()) NoteWriteLocked(removed.key(), &removed.mapped(), false);
  }
  return !removed.empty();
}

void VariableTable::Clear() {
  Map removed;
  std::lock_guard lock(mutex_);
  ForgetEntries();
  for (auto& [name, value] : variables_) NoteWriteLocked(name, &value, false);
  index_.clear();
  removed.swap(variables_);
  // Unlocking happens before [removed] is destroyed: locals die in reverse order.
}

std::size_t VariableTable::Count() const {
  std::lock_guard lock(mutex_);
  return variables_.size();
}

bool VariableTable::EntryAt(std::size_t index, std::string* name, VariableValue* value) const {
  std::lock_guard lock(mutex_);
  if (index >= variables_.size()) return false;
  auto entry = std::next(variables_.begin(), static_cast<std::ptrdiff_t>(index));
  if (name) *name = entry->first;
  if (value) *value = entry->second;
  return true;
}

VariableTable::Map VariableTable::Snapshot() const {
  std::lock_guard lock(mutex_);
  return variables_;
}

WriteLog* VariableTable::BeginWriteLog(WriteLog* log) {
  std::lock_guard lock(mutex_);
  return std::exchange(write_log_, log);
}

void VariableTable::EndWriteLog(WriteLog* log, WriteLog* outer) {
  std::lock_guard lock(mutex_);
  write_log_ = outer;
  if (outer == nullptr) return;
  for (WriteLog::Entry& entry : log->entries()) {
    outer->Note(entry.name, entry.existed ? &entry.previous : nullptr, false);
  }
}

bool VariableTable::RefersTo(const ITester* tester) const {
  std::lock_guard lock(mutex_);
  for (const auto& [name, value] : variables_) {
    if (ValueRefersTo(value, tester)) return true;
  }
  return false;
}

}  // namespace ordalis
