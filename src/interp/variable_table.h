#pragma once
// VariableTable: a running script's variables, an ordered map from lower-case name to value
// under the variable lock. The script object owns one; the interpreter stores, looks up and
// removes through it, and the script's clients enumerate it. Every operation takes the lock,
// so a client writing a variable while the run thread reads it never sees a half-written
// value. The lock is a spin lock: the run thread takes it on every variable it reads, and
// nothing is ever waited for under it. Values that an operation replaces or removes are
// destroyed after the lock is released, so releasing a tester reference never runs under it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "interp/variable_value.h"
#include "platform/spin_lock.h"

namespace ordalis {

// [name] with the ASCII letters A to Z turned into a to z; every other byte is unchanged.
std::string LowerName(std::string_view name);
// [name] as the table keys it, without a copy when it has no upper-case letter (a script's
// names usually have none): [name] itself, or else [lowered] filled with the lower-case name.
const std::string& KeyFor(const std::string& name, std::string* lowered);

// The first write of each name while a `local` statement's statement runs: the name and the
// value it held before, or none when it did not exist. A local statement compares these names
// alone with the table afterwards, so its cost follows the names its statement wrote, not the
// number of variables the script has.
class WriteLog {
 public:
  struct Entry {
    std::string name;
    bool existed = false;
    VariableValue previous;
  };

  const std::vector<Entry>& entries() const { return entries_; }
  std::vector<Entry>& entries() { return entries_; }
  bool Has(const std::string& name) const;
  // Notes [name] with its previous value, unless it was noted before (the first write wins).
  // [previous] is null when the name did not exist; it is moved from when [take] is set.
  void Note(const std::string& name, VariableValue* previous, bool take);

 private:
  // Short logs (the usual local writes one or two names) are searched in place; longer ones
  // keep their names in a set as well.
  static constexpr std::size_t kScanLimit = 8;
  std::vector<Entry> entries_;
  std::unordered_set<std::string> names_;
};

class VariableTable {
 public:
  using Map = std::map<std::string, VariableValue>;

  // All operations are safe to call from any thread. Names are used exactly as given.
  bool Contains(const std::string& name) const;
  // Copies the value of [name] into [value]; false when absent.
  bool Get(const std::string& name, VariableValue* value) const;
  // Copies the one plain value [name] holds, alone or as the only element of an array, into
  // [value]: a condition reads a counter without copying its array. False, and [value]
  // unchanged, when [name] is absent or holds anything else (an array of arrays included).
  bool GetScalar(const std::string& name, VariableValue* value) const;
  // The integer [name] holds, alone or as the only element of an array, as GetScalar would
  // read it; false when [name] is absent or holds anything else.
  bool GetInteger(const std::string& name, std::int32_t* value) const;
  // Adds [delta] to the integer [name] holds, alone or as the only element of one-element
  // arrays, wrapping at 32 bits, in one step under the mutex. kNotInteger, and nothing
  // changed, when [name] is absent or holds anything else.
  enum class StepOutcome { kStepped, kNotInteger };
  StepOutcome StepInteger(const std::string& name, std::int32_t delta);
  // Stores [value] under [name], inserting the entry when absent.
  void Set(const std::string& name, VariableValue value);
  // Replaces the value of an existing [name]; false (and nothing stored) when absent.
  bool Replace(const std::string& name, VariableValue value);
  // Removes [name]; false when absent.
  bool Remove(const std::string& name);
  void Clear();

  std::size_t Count() const;
  // The [index]-th entry in name order; false when out of range.
  bool EntryAt(std::size_t index, std::string* name, VariableValue* value) const;
  // A copy of the whole table.
  Map Snapshot() const;
  // Whether any variable refers to [tester], searching arrays element by element.
  bool RefersTo(const ITester* tester) const;

  // Makes [log] the one that notes first writes (stores, removals, steps) from now on, from
  // any thread, and returns the log that did so before (null when none), which the caller
  // hands back to EndWriteLog. Logs nest: only the innermost one notes writes, and when it
  // ends, the names it noted that the outer log had not are added to the outer log, with the
  // value they held before either began.
  WriteLog* BeginWriteLog(WriteLog* log);
  void EndWriteLog(WriteLog* log, WriteLog* outer);

 private:
  // The entry of [name], or end(). Called with the lock held.
  Map::const_iterator FindLocked(const std::string& name) const;
  Map::iterator FindLocked(const std::string& name);
  // The one plain value [name] holds, alone or as the only element of an array; null when
  // absent or anything else. Called with the lock held.
  const VariableValue* ScalarLocked(const std::string& name) const;
  // Forgets the remembered entries before any entry is removed. Called with the lock held.
  void ForgetEntries() { remembered_.fill({}); }
  // Notes the first write of [name] in the active log, if any. Called with the lock held.
  void NoteWriteLocked(const std::string& name, VariableValue* previous, bool take) {
    if (write_log_ != nullptr) write_log_->Note(name, previous, take);
  }

  mutable SpinLock mutex_;
  Map variables_;
  // Every entry of [variables_] by name: a lookup or store costs the same however many
  // variables the script has, while clients still enumerate in name order.
  std::unordered_map<std::string_view, Map::iterator> index_;
  WriteLog* write_log_ = nullptr;
  // The entries the last lookups found, each by the address of the name it was looked up by:
  // a statement names its variable by the same text every time it runs, so a loop finds its
  // counter without walking the map. An entry is used only when its name still matches; all
  // are forgotten whenever an entry is removed, since nothing else moves or ends an entry.
  struct Remembered {
    const std::string* name = nullptr;
    Map::const_iterator entry;
  };
  static constexpr int kRememberedBits = 4;
  mutable std::array<Remembered, std::size_t{1} << kRememberedBits> remembered_{};
};

// Whether [value] or any element of it, nested arrays included, refers to [tester].
bool ValueRefersTo(const VariableValue& value, const ITester* tester);

}  // namespace ordalis
