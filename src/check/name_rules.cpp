// Names: variables read that no statement assigns, result labels and functions defined twice,
// and, against the installed testers, tester types and actions that do not exist.

#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "check/check_walk.h"
#include "interp/builtin_values.h"

namespace ordalis::check {

namespace {

bool ReadsVariable(Role role) {
  switch (role) {
    case Role::kValue: case Role::kCallArgument: case Role::kCondition: case Role::kElement:
    case Role::kAssigned: case Role::kName: case Role::kSavedName: case Role::kStrlenText:
      return true;
    default:
      return false;
  }
}

// Index bases and the names of ++, --, delete and arraylength must be variables; elsewhere a
// built-in value (year, rand, ...) stands in for a missing variable.
bool BuiltInStandsIn(Role role, const std::string& name) {
  return role != Role::kName && role != Role::kSavedName && MatchBuiltIn(name).has_value();
}

}  // namespace

// Every name a statement of the script stores into: assignment targets, the variables that
// hold a function's arguments, and the countdown of sleep; and the tester type of every
// variable whose every assignment is a new of one type.
void NameFacts::Gather(const std::vector<Visit>& visits) {
  for (const Visit& visit : visits) {
    const ScriptItem& item = *visit.item;
    if (visit.role == Role::kTarget) assigned_.insert(Lower(item.text()));
    if (item.type() == functionItem) assigned_.insert(Lower(item.text()));
    if (item.type() == sleepItem) assigned_.insert("sleep");
  }
  for (const Visit& visit : visits) {
    if (visit.role != Role::kTarget) continue;
    const ScriptItem& target = *visit.item;
    const ScriptItem* assignment = target.parent();
    std::string name = Lower(target.text());
    const ScriptItem* value = assignment->child_count() > 1 ? assignment->child(1) : nullptr;
    bool is_new = value && value->type() == newItem && value->child_count() == 1;
    std::string type = is_new ? Lower(value->child(0)->text()) : std::string();
    auto [entry, added] = tester_types_.emplace(name, type);
    if (!is_new || (!added && entry->second != type)) mixed_.insert(name);
  }
}

void NameFacts::Finish() {
  candidates_.assign(assigned_.begin(), assigned_.end());
  for (const std::string& name : mixed_) tester_types_.erase(name);
  mixed_.clear();
}

void UnassignedReads(const std::vector<Visit>& visits, const CheckOptions& options,
                     const NameFacts& facts, NameProgress& progress, std::vector<Finding>& findings) {
  for (const Visit& visit : visits) {
    const ScriptItem& item = *visit.item;
    if (item.type() != idItem || item.child_count() != 0 || !ReadsVariable(visit.role)) continue;
    std::string name = Lower(item.text());
    if (facts.assigned().count(name) || progress.reported.count(name) || BuiltInStandsIn(visit.role, name)) continue;
    if (options.defined_outside && options.defined_outside(name)) continue;
    progress.reported.insert(name);
    std::string close = Closest(name, facts.candidates());
    std::string hint = close.empty() ? "" : " (did you mean '" + close + "'?)";
    Report(findings, Severity::kWarning, item,
           "'" + item.text() + "' is read but no statement of the script assigns it" + hint +
               ": unless it comes from a user or system variable ('ordalis vars') or from "
               "'ordalis run --var " + name + "=VALUE', it is not found at run time");
  }
}

namespace {

// A result label is the text given to a result statement: a string, or a comment's text.
// A result that took the text of its statement (result if ...) has no label of its own.
bool HasOwnLabel(const ScriptItem& result) {
  if (result.text().empty()) return false;
  return result.child_count() == 0 || result.child(0)->text() != result.text();
}

}  // namespace

void TwiceDefinedLabels(const std::vector<Visit>& visits, NameProgress& progress,
                        std::vector<Finding>& findings) {
  for (const Visit& visit : visits) {
    const ScriptItem& item = *visit.item;
    if (item.type() != resultItem || !HasOwnLabel(item)) continue;
    auto [first, added] = progress.labels.emplace(item.text(), NameProgress::Place{item.line(), item.file_name()});
    if (added) continue;
    Report(findings, Severity::kWarning, item,
           "the result label '" + item.text() + "' is already used by the result on line " +
               std::to_string(first->second.line) + " of " + first->second.file +
               ": the summary shows two rows of that name");
  }
}

void TwiceDefinedFunctions(const FunctionIndex& functions, std::vector<Finding>& findings) {
  for (const ScriptItem* duplicate : functions.duplicates()) {
    Report(findings, Severity::kWarning, *duplicate,
           "the function '" + duplicate->text() + "' is defined twice in the same block: calls " +
               "run the first definition, never this one");
  }
}

namespace {

std::string JoinedNames(const std::vector<std::string>& names) {
  constexpr std::size_t kShown = 12;
  std::string text;
  for (std::size_t i = 0; i < names.size() && i < kShown; ++i) text += (i ? ", " : "") + names[i];
  if (names.size() > kShown) text += ", ...";
  return text;
}

void NewRule(const ScriptItem& item, const std::vector<std::string>& types,
             std::vector<Finding>& findings) {
  if (item.child_count() != 1) return;
  const ScriptItem& type = *item.child(0);
  std::string name = Lower(type.text());
  if (std::find(types.begin(), types.end(), name) != types.end()) return;
  std::string close = Closest(name, types);
  std::string hint = close.empty() ? "" : " (did you mean '" + close + "'?)";
  Report(findings, Severity::kError, type,
         "no installed tester offers the type '" + type.text() + "'" + hint +
             "; installed types: " + (types.empty() ? "none" : JoinedNames(types)) +
             " ('ordalis testers' lists them, 'ordalis check --no-testers' skips this check)");
}

// How many values an argument of an action gives: one for a literal or a comparison; not
// known for a name, an element, a call or an arithmetic result, which may hold an array whose
// elements are passed one by one.
bool OneValue(const ScriptItem& argument) {
  switch (argument.type()) {
    case integerItem: case stringItem: case boolItem: case doubleItem: case hexItem:
    case octalItem: case testResultItem: case lessThanItem: case lessThanOrEqualItem:
    case equalItem: case greaterThanOrEqualItem: case greaterThanItem: case notEqualItem:
    case andItem: case orItem: case notItem:
      return true;
    default:
      return false;
  }
}

std::string Values(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " value" : " values");
}

// A call that passes surely too few or too many values for the parameters its tester declares.
void ArgumentCountRule(const ScriptItem& method, const std::string& type, const std::string& action,
                       const DeclaredParameters& declared, std::vector<Finding>& findings) {
  std::size_t known = 0;
  bool unknown = false;
  for (const ScriptItemPtr& argument : method.children()) {
    if (OneValue(*argument)) {
      ++known;
    } else {
      unknown = true;
    }
  }
  std::size_t least = declared.open_ended ? declared.count - 1 : declared.count;
  bool too_many = !declared.open_ended && known > declared.count;
  bool too_few = !unknown && known < least;
  if (!too_many && !too_few) return;
  std::string takes = declared.open_ended ? "at least " + Values(least) : Values(declared.count);
  Report(findings, Severity::kError, method,
         "the action '" + action + "' of the tester type '" + type + "' takes " + takes +
             ", the call passes " + (unknown ? "at least " : "") + Values(known) +
             " ('ordalis testers' shows its parameters)");
}

void ActionRule(const ScriptItem& action, const TesterTypes& testers,
                const std::unordered_map<std::string, std::string>& variables,
                std::vector<Finding>& findings) {
  if (action.child_count() != 2) return;
  const ScriptItem& object = *action.child(0);
  const ScriptItem& method = *action.child(1);
  if (object.type() != idItem || object.child_count() != 0) return;
  auto variable = variables.find(Lower(object.text()));
  if (variable == variables.end()) return;
  const std::vector<std::string>* actions = testers.Actions(variable->second);
  if (actions == nullptr) return;
  std::string name = Lower(method.text());
  for (const std::string& known : *actions) {
    if (Lower(known) != name) continue;
    if (const DeclaredParameters* declared = testers.Parameters(variable->second, known)) {
      ArgumentCountRule(method, variable->second, known, *declared, findings);
    }
    return;
  }
  std::string close = Closest(name, *actions);
  std::string hint = close.empty() ? "" : " (did you mean '" + close + "'?)";
  Report(findings, Severity::kError, method,
         "the tester type '" + variable->second + "' of '" + object.text() + "' has no action '" +
             method.text() + "'" + hint + "; its actions: " + JoinedNames(*actions));
}

}  // namespace

void CheckTesters(const std::vector<Visit>& visits, const TesterTypes& testers,
                  const NameFacts& facts, std::vector<Finding>& findings) {
  std::vector<std::string> types = testers.Types();
  for (const Visit& visit : visits) {
    const ScriptItem& item = *visit.item;
    if (item.type() == newItem) NewRule(item, types, findings);
    if (item.type() == actionItem) ActionRule(item, testers, facts.tester_variables(), findings);
  }
}

}  // namespace ordalis::check
