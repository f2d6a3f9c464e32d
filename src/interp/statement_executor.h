#pragma once
// Statement execution: walks chains of sibling items on the script's run thread and gives
// every statement its effect, recording a result on each executed item. Between statements it
// honours pause, step, breakpoints, stop and pause-on-error through the script object.

#include <cstdint>
#include <memory>
#include <string>

#include "interp/script_context.h"
#include "interp/variable_value.h"
#include "ordalis/interfaces.h"

namespace ordalis {

class ActionRecord;
class Event;
class ScriptItem;
class ScriptPlayback;

// What statement execution needs from the script object beyond what expressions need. All
// hooks are called on the run thread.
class IExecutionContext : public IScriptContext {
 public:
  // Completes a pending pause and waits while paused; true when the run must stop.
  virtual bool WaitIfPaused() = 0;
  virtual ScriptState state() const = 0;
  virtual bool step_flag() const = 0;
  virtual void ClearStepFlag() = 0;
  virtual bool pause_on_error() const = 0;
  // Pause and Stop as a client would call them, for stepping, breakpoints, pause on error and
  // the abort statement.
  virtual void RequestPause() = 0;
  virtual void RequestStop() = 0;
  virtual void SetCurrentTime(std::int64_t seconds) = 0;
  // The tester whose action runs now (null clears it); Stop aborts it from a client thread.
  virtual void SetCurrentTester(std::shared_ptr<ITester> tester) = 0;
  // The playback source, or null when the run drives real testers.
  virtual std::shared_ptr<ScriptPlayback> playback() = 0;
  // The action record of the run (never null; it may be closed).
  virtual ActionRecord& action_record() = 0;
  virtual void AddMovedLog(const std::string& pattern) = 0;
  virtual void AddCopiedLog(const std::string& pattern) = 0;
  // Set only when the run thread ends; sleep waits on it.
  virtual Event& thread_ended() = 0;
  // A trace bound to the script's log under [variable_name], for a tester.
  virtual std::shared_ptr<ITrace> MakeTrace(const std::string& variable_name) = 0;
  // Wraps testers that actions return, binding them to the receiving variable.
  virtual VariableValue::TesterWrapHook* tester_wrap_hook() = 0;
  virtual std::string script_directory() const = 0;
};

class StatementExecutor {
 public:
  explicit StatementExecutor(IExecutionContext& script) : script_(script) {}

  // Runs the chain of siblings starting at [first]. [return_value] and [returned] belong to the
  // enclosing function call (or to the run); [function_body] is set when [first] is a
  // function's definition item. Returns the chain's aggregate result.
  Result ExecuteSequence(ScriptItem* first, VariableValue* return_value, bool* returned,
                         bool function_body);

  // A chain of its own, as the statement of a `local` runs.
  Result ExecuteChain(ScriptItem* first);
  // An assignment statement, as `default` runs it.
  Result ExecuteAssignment(ScriptItem* assignment);
  // The action call of an actionItem: its returned values, or its Result when none came back,
  // are appended to [values].
  Result CallAction(ScriptItem* action, VariableValue* values, bool* record,
                    const std::string& variable_name);

 private:
  struct Statement;
  struct Cursor;

  Result Execute(ScriptItem* item, Cursor* cursor, Statement& statement,
                 VariableValue* return_value, bool* returned, bool function_body,
                 class ChainScope& scope);
  Result RunChild(ScriptItem* item, VariableValue* return_value, bool* returned);
  Result If(ScriptItem* item, VariableValue* return_value, bool* returned, bool* record);
  Result While(ScriptItem* item, bool* again, VariableValue* return_value, bool* returned,
               bool* record);
  Result Assignment(ScriptItem* item, VariableValue* values, bool* record);
  Result New(ScriptItem* item, VariableValue* value, const std::string& variable_name);
  Result Delete(ScriptItem* item);
  Result Sleep(ScriptItem* item);
  Result Assert(ScriptItem* item, VariableValue* values);
  Result IgnoreResult(ScriptItem* item, VariableValue* return_value, bool* returned);
  Result FunctionCall(ScriptItem* call, VariableValue* return_value, bool* returned_something,
                      bool* record, ScriptItem* assignment);
  Result BuiltInCall(const std::string& name, ScriptItem* call, VariableValue* value, bool* record);
  Result Return(ScriptItem* item, VariableValue* return_value, bool* returned);
  Result LogFile(ScriptItem* item, bool move);
  Result Abort(ScriptItem* item);
  // The parameter array of a call: every argument evaluated, all elements in one list.
  VariantArrayPtr Parameters(ScriptItem* parent, std::size_t first_child);

  IExecutionContext& script_;
};

// The values a result record keeps of [values], as variants: integers, doubles, texts and
// booleans, result codes as their words, nested arrays alike; testers have no recorded form.
VariantArray RecordedValues(const VariableValue& values);

}  // namespace ordalis
