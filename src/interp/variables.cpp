#include "interp/variables.h"

#include <vector>

#include "interp/evaluator.h"
#include "interp/run_judge.h"
#include "language/script_item.h"
#include "testers/tester_proxy.h"

namespace ordalis {

namespace {

constexpr const char* kScript = "script";

// The idItem at the base of a name item: the item itself, or the first child of an indexed
// name, recursively. Null when the item names nothing.
const ScriptItem* BaseName(const ScriptItem* item) {
  while (item && item->type() == arrayIndexItem) {
    item = item->child_count() > 0 ? item->child(0) : nullptr;
  }
  return item && item->type() == idItem ? item : nullptr;
}

// The literal text a user, system or recorded variable of [name] holds, from the first source
// that has one.
bool FallbackText(IScriptContext& script, const std::string& name, std::string* text) {
  if (script.playback_active()) return script.RecordedVariable(name, text);
  IApplicationManager* manager = script.application_manager();
  if (!manager) return false;
  try {
    if (Succeeded(manager->get_UserVariableValue(name, text)) && !text->empty()) return true;
    text->clear();
    return Succeeded(manager->get_SystemVariableValue(name, text)) && !text->empty();
  } catch (...) {
    return false;
  }
}

}  // namespace

bool FindVariableByName(IScriptContext& script, std::string_view name, std::string* lower_name,
                        VariableValue* value) {
  std::string lower = LowerName(name);
  bool found = script.variables().Get(lower, value);
  if (!found) {
    std::string text;
    VariableValue parsed;
    if (FallbackText(script, lower, &text) && VariableValue::ParseValueText(text, &parsed)) {
      // The user or system variable becomes a script variable for the rest of the run.
      script.variables().Set(lower, parsed);
      *value = std::move(parsed);
      found = true;
    }
  }
  if (lower_name) *lower_name = std::move(lower);
  return found;
}

bool FindVariable(IScriptContext& script, const ScriptItem* name_item, std::string* name,
                  VariableValue* value) {
  const ScriptItem* base = BaseName(name_item);
  if (!base) return false;
  return FindVariableByName(script, base->text(), name, value);
}

void SetVariable(IScriptContext& script, std::string_view name, const VariableValue& value) {
  script.variables().Set(LowerName(name), value);
}

void SetVariable(IScriptContext& script, std::string_view name, VariableValue&& value) {
  script.variables().Set(LowerName(name), std::move(value));
}

bool RemoveVariable(IScriptContext& script, std::string_view name) {
  return script.variables().Remove(LowerName(name));
}

// ---- local ----------------------------------------------------------------------------------

namespace {

// The write log of one local statement, active while its statement runs, however that ends.
class ActiveWriteLog {
 public:
  ActiveWriteLog(VariableTable& table, WriteLog* log)
      : table_(table), log_(log), outer_(table.BeginWriteLog(log)) {}
  ActiveWriteLog(const ActiveWriteLog&) = delete;
  ActiveWriteLog& operator=(const ActiveWriteLog&) = delete;
  ~ActiveWriteLog() { table_.EndWriteLog(log_, outer_); }

 private:
  VariableTable& table_;
  WriteLog* log_;
  WriteLog* outer_;
};

}  // namespace

// local <statement>
Result ChainScope::ExecuteLocal(IScriptContext& script, ScriptItem* local_item) {
  if (local_item->child_count() == 0) {
    script.logger().Log(severe, kScript, "No child for local statement");
    return TestError;
  }
  VariableTable& table = script.variables();
  WriteLog log;
  Result result;
  {
    ActiveWriteLog active(table, &log);
    result = script.ExecuteChain(local_item->child(0));
  }
  if (!tables_) tables_ = std::make_unique<Tables>();
  auto& [saved, created] = *tables_;
  // Only the names the statement wrote can differ from before it ran.
  for (WriteLog::Entry& entry : log.entries()) {
    VariableValue now;
    if (!table.Get(entry.name, &now)) continue;  // gone again, or never made
    if (!entry.existed) {
      created.insert_or_assign(entry.name, std::move(now));
    } else if (VariableValue::NotEqual(entry.previous, now) && !saved.count(entry.name) &&
               !created.count(entry.name)) {
      saved.emplace(entry.name, std::move(entry.previous));
    }
  }
  return result;
}

void ChainScope::EndLocals(IScriptContext& script, const VariableValue* returned) {
  // The tables are taken out first: the chain's scope is empty again whatever happens below.
  std::unique_ptr<Tables> tables = std::move(tables_);
  VariableTable& table = script.variables();
  for (auto& [name, value] : tables->saved) {
    script.logger().Log(fine, kScript, "Variable %s reset to %s", name.c_str(),
                        value.ListText().c_str());
    table.Set(name, std::move(value));
  }
  std::vector<std::shared_ptr<ITester>> close_list;
  for (const auto& [name, unused] : tables->created) {
    VariableValue current;
    if (!table.Get(name, &current)) continue;
    if (current.ElementCount() > 0 && current.Element(0).kind() == ValueKind::Tester) {
      const auto& tester = current.Element(0).tester();
      if (!returned || !ValueRefersTo(*returned, tester.get())) close_list.push_back(tester);
    }
    table.Remove(name);
    script.logger().Log(fine, kScript, "Local variable %s removed", name.c_str());
  }
  std::vector<const ITester*> closed;
  for (const auto& tester : close_list) {
    // A tester that another variable still holds stays open; each tester closes once.
    if (table.RefersTo(tester.get())) continue;
    bool seen = false;
    for (const ITester* done : closed) seen = seen || done == tester.get();
    if (seen) continue;
    closed.push_back(tester.get());
    VariantBool ignored;  // the outcome of closing a local tester is not reported
    CloseTester(*tester, &ignored);
  }
}

void ChainScope::Discard() { tables_.reset(); }

// ---- function parameters --------------------------------------------------------------------

// f(<value>, …)
Result FunctionArguments(IScriptContext& script, ScriptItem* call_item, VariableValue* parameters) {
  parameters->ClearToArray();
  std::string name = call_item->text();
  if (!name.empty() && name.back() == ':') name.pop_back();
  for (std::size_t i = 0; i < call_item->child_count(); ++i) {
    ScriptItem* argument = call_item->child(i);
    VariableValue value;
    // An array literal is no operand of a value, but as an argument it stands for its elements.
    Result result = argument->type() == arrayItem ? EvaluateArrayElement(script, argument, &value)
                                                  : EvaluateValue(script, argument, &value);
    if (result != TestPassed) {
      script.logger().Log(severe, kScript, "Error: parameter %d to function %s invalid",
                          static_cast<int>(i + 1), name.c_str());
      return result;
    }
    if (argument->type() == arrayItem) value = std::move(value.Element(0));
    for (std::size_t e = 0; e < value.ElementCount(); ++e) parameters->Append(value.Element(e));
  }
  return TestPassed;
}

FunctionParameters::FunctionParameters(IScriptContext& script, std::string_view function_name,
                                       VariableValue parameters)
    : script_(script) {
  existed_ = FindVariableByName(script, function_name, &name_, &saved_);
  script.variables().Set(name_, std::move(parameters));
}

FunctionParameters::~FunctionParameters() {
  try {
    Restore();
  } catch (...) {
  }
}

void FunctionParameters::Restore() {
  if (restored_) return;
  restored_ = true;
  if (existed_) {
    script_.variables().Set(name_, std::move(saved_));
  } else {
    script_.variables().Remove(name_);
  }
}

// ---- default, ++, -- ------------------------------------------------------------------------

// default <name> = <values>
Result ExecuteDefault(IScriptContext& script, ScriptItem* default_item) {
  if (default_item->child_count() != 1) {
    script.logger().Log(severe, kScript, "Error: default statement invalid");
    return TestError;
  }
  ScriptItem* assignment = default_item->child(0);
  if (assignment->type() != assignmentItem || assignment->child_count() < 2) {
    script.logger().Log(severe, kScript, "Error: default keyword must be followed by an assignment");
    return TestError;
  }
  std::string name;
  VariableValue value;
  if (FindVariable(script, assignment->child(0), &name, &value)) {
    script.logger().Log(information, kScript, "Variable %s found default will be ignored", name.c_str());
    script.variables().Set(name, std::move(value));
    return TestPassed;
  }
  return script.ExecuteAssignment(assignment);
}

// <name>++, <name>--, <name>[i]…++, <name>[i]…--
Result ExecuteIncrement(IScriptContext& script, ScriptItem* item, Step step) {
  const char* verb = step == Step::kIncrement ? "increment" : "decrement";
  ScriptItem* target = item->child_count() == 1 ? item->child(0) : nullptr;
  // The usual counter, a variable holding one integer, is stepped where it is stored; every
  // other case (an element, a name not yet a script variable, a fault) takes the long way.
  std::string lowered;
  if (target && target->type() == idItem &&
      script.variables().StepInteger(KeyFor(target->text(), &lowered), step == Step::kIncrement ? 1 : -1) ==
          VariableTable::StepOutcome::kStepped) {
    return TestPassed;
  }
  const ScriptItem* base = BaseName(target);
  std::string name;
  VariableValue whole;
  if (!target || !FindVariable(script, target, &name, &whole)) {
    script.logger().Log(severe, kScript, "Error: cannot %s %s it does not exist", verb,
                        base ? base->text().c_str() : item->text().c_str());
    return TestError;
  }
  VariableValue* element = &whole;
  if (target->type() == arrayIndexItem) {
    for (std::size_t i = 1; i < target->child_count(); ++i) {
      std::int32_t index = 0;
      if (!EvaluateIndexNumber(script, target->child(i), &index) || index < 0 ||
          static_cast<std::size_t>(index) >= element->ElementCount()) {
        script.logger().Log(severe, "Script", "Invalid array index");
        return TestError;
      }
      element = &element->Element(static_cast<std::size_t>(index));
    }
  }
  while (element->kind() == ValueKind::Array && element->ElementCount() == 1) {
    element = &element->Element(0);
  }
  if (element->ElementCount() != 1) {
    script.logger().Log(severe, kScript, "Error: cannot %s %s it is an array", verb, name.c_str());
    return TestError;
  }
  if (element->kind() != ValueKind::Integer) {
    script.logger().Log(severe, kScript, "Error: cannot %s %s it is not an integer", verb, name.c_str());
    return TestError;
  }
  std::uint32_t bits = static_cast<std::uint32_t>(element->integer());
  bits = step == Step::kIncrement ? bits + 1u : bits - 1u;
  *element = VariableValue(static_cast<std::int32_t>(bits));
  script.variables().Set(name, std::move(whole));
  return TestPassed;
}

// ---- saveuservar, arraylength ---------------------------------------------------------------

// saveuservar(<name>, …)
Result SaveUserVariables(IScriptContext& script, ScriptItem* call_item) {
  script.logger().Log(information, kScript, "Save user var");
  for (std::size_t i = 0; i < call_item->child_count(); ++i) {
    ScriptItem* argument = call_item->child(i);
    if (argument->type() != idItem) {
      script.logger().Log(warning, kScript, "Save user var parameter %d is not a variable",
                          static_cast<int>(i + 1));
      continue;
    }
    std::string name;
    VariableValue value;
    if (!FindVariable(script, argument, &name, &value)) {
      script.logger().Log(warning, kScript, "Variable %s not found", argument->text().c_str());
      CountFault(script);
      continue;
    }
    script.logger().Log(information, kScript, "Saving variable %s", name.c_str());
    if (IApplicationManager* manager = script.application_manager()) {
      try {
        manager->AddUserVariable(name, value.ListText());
      } catch (...) {
      }
    }
  }
  return TestPassed;
}

// arraylength(<name>) and arraylength(<name>[i]…)
Result ArrayLength(IScriptContext& script, ScriptItem* item, ArrayLengthUse use,
                   VariableValue* length) {
  const bool in_assignment = use == ArrayLengthUse::kAssignment;
  ScriptItem* target = item->child_count() == 1 ? item->child(0) : nullptr;
  if (in_assignment && !BaseName(target)) {
    script.logger().Log(warning, kScript, "invalid arraylength statement no variable name returning 0");
    *length = VariableValue(0);
    return TestPassed;
  }
  if (!target) {
    script.logger().Log(warning, kScript, "invalid arraylength statement");
    return TestError;
  }
  std::string name;
  VariableValue value;
  bool found = FindVariable(script, target, &name, &value);
  if (found && target->type() == arrayIndexItem) found = EvaluateIndex(script, target, &value);
  if (!found) {
    const ScriptItem* base = BaseName(target);
    const char* written = base ? base->text().c_str() : target->text().c_str();
    if (!in_assignment) {
      script.logger().Log(warning, kScript, "variable '%s' not found", written);
      CountFault(script);
      return TestFailed;
    }
    script.logger().Log(warning, kScript, "arraylength variable '%s' not found returning 0", written);
    CountFault(script);
    *length = VariableValue(0);
    return TestPassed;
  }
  auto count = static_cast<std::int32_t>(value.ElementCount());
  script.logger().Log(in_assignment ? information : fine, kScript, "array length for '%s' is %d",
                      name.c_str(), count);
  *length = VariableValue(count);
  return TestPassed;
}

}  // namespace ordalis
