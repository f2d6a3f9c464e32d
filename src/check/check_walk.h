#pragma once
// The walk the checker's rules share: every item of a tree once, in tree order, with the way
// the interpreter would use it where it stands (as a statement, a condition, a value, an
// element of a value list, ...), and the index of the function definitions that calls find.

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "check/script_checker.h"
#include "language/script_item.h"

namespace ordalis::check {

// How the interpreter evaluates an item where it stands.
enum class Role {
  kStatement,     // a statement of a block
  kBranch,        // the then, else or do item of an if or while
  kCondition,     // evaluated as a condition
  kValue,         // evaluated as one value: an operand, an argument of an action or built-in
  kCallArgument,  // an argument of a script function: a value, or an array literal
  kElement,       // an element of an array literal, of an assignment's list or of a return
  kAssigned,      // the first value on the right of an assignment
  kIgnoredValue,  // a further value after a first value that is not a plain list
  kName,          // a variable named, not evaluated: an index base, ++, delete, arraylength
  kSavedName,     // an argument of saveuservar
  kStrlenText,    // the argument of strlen
  kTarget,        // the variable an assignment stores into
  kMethod,        // the action name of an action call, holding its arguments
  kTesterType,    // the type name of a new, holding its parameters
  kOther,         // nothing the rules look at
};

struct Visit {
  const ScriptItem* item;
  Role role;
};

// The function names each block defines, as calls find them: from the call's block outwards to
// the root. A script checked a run of statements at a time adds each run and forgets its blocks
// once the run is done, keeping the names its root defines.
class FunctionIndex {
 public:
  FunctionIndex() = default;
  explicit FunctionIndex(const ScriptItem& root) { Add(root); }
  // Adds the definitions at and below [item], noting each later definition of a name its block
  // already defines.
  void Add(const ScriptItem& item);
  // Forgets every block but [root]: their items are gone.
  void KeepOnly(const ScriptItem& root);
  // Whether a call of [name] from [call] finds a definition.
  bool Defines(const ScriptItem& call, std::string_view name) const;
  // Every later definition of a name already defined in the same block, since the last
  // ClearDuplicates.
  const std::vector<const ScriptItem*>& duplicates() const { return duplicates_; }
  void ClearDuplicates() { duplicates_.clear(); }

 private:
  std::unordered_map<const ScriptItem*, std::unordered_set<std::string>> blocks_;
  std::vector<const ScriptItem*> duplicates_;
};

// Every item below [root] with its role, in tree order; [functions] tells how the arguments of
// each call are evaluated.
std::vector<Visit> Walk(const ScriptItem& root, const FunctionIndex& functions);

// The name of a call without the quiet mark; lower case.
std::string CallName(const ScriptItem& call);
std::string Lower(std::string_view text);
// The item's source text on one line (line ends of strings written as escapes).
std::string SourceLine(const ScriptItem& item);
// The same, in quotes and cut short, for a message.
std::string Quoted(const ScriptItem& item);
// The closest of [candidates] to [name] within a small edit distance; empty when none is.
std::string Closest(std::string_view name, const std::vector<std::string>& candidates);

// Adds a finding about [item].
void Report(std::vector<Finding>& findings, Severity severity, const ScriptItem& item,
            std::string text);

// What the whole script says of its names, gathered over all its items before the name rules
// look at any: the names its statements store into and the tester type of each variable that
// only ever holds new testers of one type.
class NameFacts {
 public:
  void Gather(const std::vector<Visit>& visits);
  // Called once every item has been gathered.
  void Finish();
  const std::unordered_set<std::string>& assigned() const { return assigned_; }
  // The assigned names, as the guesses for a misspelt name.
  const std::vector<std::string>& candidates() const { return candidates_; }
  const std::unordered_map<std::string, std::string>& tester_variables() const { return tester_types_; }

 private:
  std::unordered_set<std::string> assigned_;
  std::vector<std::string> candidates_;
  std::unordered_map<std::string, std::string> tester_types_;
  std::unordered_set<std::string> mixed_;
};

// What the name rules have said so far, carried from one run of statements to the next: the
// names already reported, and the place of each result label's first use.
struct NameProgress {
  struct Place {
    std::uint32_t line;
    std::string file;
  };
  std::set<std::string> reported;
  std::map<std::string, Place> labels;
};

// The rule sets.
void CheckForms(const std::vector<Visit>& visits, const FunctionIndex& functions,
                std::vector<Finding>& findings);
void UnassignedReads(const std::vector<Visit>& visits, const CheckOptions& options,
                     const NameFacts& facts, NameProgress& progress, std::vector<Finding>& findings);
void TwiceDefinedLabels(const std::vector<Visit>& visits, NameProgress& progress,
                        std::vector<Finding>& findings);
void TwiceDefinedFunctions(const FunctionIndex& functions, std::vector<Finding>& findings);
void CheckTesters(const std::vector<Visit>& visits, const TesterTypes& testers,
                  const NameFacts& facts, std::vector<Finding>& findings);

}  // namespace ordalis::check
