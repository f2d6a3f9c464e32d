#pragma once
// Statement execution: walks chains of sibling items on the script's run thread and gives
// every statement its effect, recording a result on each executed item. Between statements it
// honours pause, step, breakpoints, stop and pause-on-error through the script object.

#include <atomic>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <unordered_map>

#include "interp/run_judge.h"
#include "interp/script_context.h"
#include "interp/variable_value.h"
#include "language/measurement.h"
#include "ordalis/interfaces.h"
#include "platform/event.h"
#include "trace/script_log.h"

namespace ordalis {

class ActionRecord;
class Event;
class ScriptItem;
class ScriptPlayback;

// The flags of a run that a statement loop reads before and after every statement, to be read
// in place: the run's state, its run and exit events and the step flag. A loop that finds the
// run simply going on skips the calls that would pause, step or stop it.
struct RunFlags {
  const std::atomic<ScriptState>* state = nullptr;
  const Event* run = nullptr;
  const Event* exit = nullptr;
  const std::atomic<bool>* step = nullptr;
  // The script's log, asked whether the finest lines are wanted (the logger's IsLogging).
  const ScriptLog* log = nullptr;

  // True when WaitIfPaused would return at once to go on and the run is not stopping.
  bool GoingOn() const {
    ScriptState now = state->load();
    return now != ScriptPausing && now != ScriptStopping && !exit->IsSet() && run->IsSet();
  }
};

// Where each script function call found its definition. The tree does not change while a
// chain of it runs, so a call looks its definition up among its ancestors' children once, not
// on every call; the owner clears it before running a tree (or a newly adopted part of one).
class FunctionDefinitions {
 public:
  // The definition the call [call] of [name] finds, or null when it names no script function.
  ScriptItem* Find(const ScriptItem* call, const std::string& name);
  void Clear() { found_.clear(); }

 private:
  std::unordered_map<const ScriptItem*, ScriptItem*> found_;
};

// What statement execution needs from the script object beyond what expressions need. All
// hooks are called on the run thread.
class IExecutionContext : public IScriptContext {
 public:
  // The run's flags to read in place; null: the loop asks through the calls below.
  virtual const RunFlags* run_flags() const { return nullptr; }
  // The definitions function calls of the running tree found; null: each call looks anew.
  virtual FunctionDefinitions* function_definitions() { return nullptr; }
  // Completes a pending pause and waits while paused.
  virtual RunCourse WaitIfPaused() = 0;
  virtual ScriptState state() const = 0;
  virtual bool step_flag() const = 0;
  virtual void ClearStepFlag() = 0;
  virtual bool pause_on_error() const = 0;
  // Pause and Stop as a client would call them, for stepping, breakpoints, pause on error and
  // the abort statement.
  virtual void RequestPause() = 0;
  virtual void RequestStop() = 0;
  virtual void SetCurrentTime(std::int64_t seconds) = 0;
  // A statement starts: it becomes the current item, and the current time is taken. One call,
  // since it comes for every statement of a loop's every pass.
  virtual void BeginStatement(ScriptItem* item) {
    SetCurrentItem(item);
    SetCurrentTime(static_cast<std::int64_t>(std::time(nullptr)));
  }
  // A statement has run and recorded its result: [next] becomes the current item, then the
  // Executed event of [item] is raised.
  virtual void EndStatement(ScriptItem* item, ScriptItem* next) {
    SetCurrentItem(next);
    FireExecuted(item);
  }
  // The tester whose action starts now: from here until EndTesterCall, Stop aborts it from a
  // client thread. The executor checks the state after this call and before Execute, so a
  // stop is either seen here or reaches the tester.
  virtual void BeginTesterCall(std::shared_ptr<ITester> tester) = 0;
  // The call has returned; no abort meant for it arrives after this.
  virtual void EndTesterCall() = 0;
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

// The longest wait of the sleep statement, in seconds (about 31 years); a longer time, as any
// out-of-range number, is clamped (a negative or not-a-number time waits not at all).
inline constexpr double kMaxSleepSeconds = 1e9;

// Where a `return` leaves its values: the function call whose chains it ends (or the run,
// where a `return` is an error). Every chain of the call shares it.
struct FunctionReturn {
  // Whether a `return` has run; once it has, the chains of the call end at once.
  enum class State { kRunning, kReturned };
  VariableValue value;
  State state = State::kRunning;
};

// Whether a chain is a function's body, run from its definition item by a call, or any other
// chain of statements (where a definition is skipped).
enum class ChainKind { kStatements, kFunctionBody };

// The two statements that hand a log file to the end of the run.
enum class LogTransfer { kMove, kCopy };

// Script function calls nested deeper than this end the call chain with TestError: a runaway
// recursion is stopped by the interpreter, never by the end of the run thread's stack.
inline constexpr std::uint32_t kMaxFunctionCallDepth = 10000;

class StatementExecutor {
 public:
  // The script's logger and judge, and whether the run is strict, stay the same for the length
  // of a run; they are asked once.
  explicit StatementExecutor(IExecutionContext& script)
      : script_(script),
        log_(script.logger()),
        judge_(script.judge()),
        strict_(judge_ != nullptr && judge_->strictness() == RunStrictness::kStrict),
        flags_(script.run_flags()) {}

  // Runs the chain of siblings starting at [first]; a `return` in it lands in [target] (the
  // enclosing function call's, or the run's). Returns the chain's aggregate result.
  Result ExecuteSequence(ScriptItem* first, FunctionReturn& target, ChainKind kind = ChainKind::kStatements);

  // A chain of its own, as the statement of a `local` runs.
  Result ExecuteChain(ScriptItem* first);
  // An assignment statement, as `default` runs it.
  Result ExecuteAssignment(ScriptItem* assignment);
  // The action call of an actionItem: its returned values, or its Result when none came back,
  // are appended to [values].
  ActionOutcome CallAction(ScriptItem* action, VariableValue* values, const std::string& variable_name);

 private:
  // How a tester action call went: made (well or not), not made because the tester has no such
  // action, or not started because the run was stopping.
  enum class CallOutcome { kCalled, kNoSuchAction, kNotStarted };
  struct Statement;
  struct Cursor;
  struct TesterCall;

  // The chain that starts at child [index] of [parent], known by its place so the chain need
  // not look itself up among its siblings.
  Result ExecuteChildren(ScriptItem* parent, std::size_t index, FunctionReturn& target);
  Result ExecuteFrom(Cursor cursor, FunctionReturn& target, ChainKind kind);
  Result Execute(ScriptItem* item, Cursor* cursor, Statement& statement, FunctionReturn& target,
                 ChainKind kind, class ChainScope& scope);
  Result RunChild(ScriptItem* item, FunctionReturn& target);
  Result If(ScriptItem* item, Statement& statement, FunctionReturn& target);
  Result While(ScriptItem* item, Statement& statement, FunctionReturn& target);
  Result Assignment(ScriptItem* item, Statement& statement);
  Result Action(ScriptItem* action, Statement& statement, const std::string& variable_name);
  std::shared_ptr<ITester> ActionTarget(ScriptItem* action);
  CallOutcome CallAndRecord(const std::shared_ptr<ITester>& tester, ScriptItem* action, TesterCall& call);
  CallOutcome CallTester(ITester& tester, const std::string& action_name, TesterCall& call);
  void TakeMeasured(const ScriptItem& action, TesterCall& call);
  Result New(ScriptItem* item, VariableValue* value, const std::string& variable_name);
  Result Delete(ScriptItem* item);
  Result Sleep(ScriptItem* item);
  Result Assert(ScriptItem* item, VariableValue* values);
  // True when [item] has a malformed form; the severe line it logs is the document's error line.
  bool MalformedForm(ScriptItem* item);
  Result IgnoreResult(ScriptItem* item, FunctionReturn& target);
  // A call of a script function or a built-in one; what it returns lands in [value], which
  // stays invalid when it returns nothing. [assignment] is the statement that receives it.
  Result FunctionCall(ScriptItem* call, VariableValue* value, Statement& statement, ScriptItem* assignment);
  Result BuiltInCall(const std::string& name, ScriptItem* call, VariableValue* value, Statement& statement);
  Result Return(ScriptItem* item, FunctionReturn& target);
  Result LogFile(ScriptItem* item, LogTransfer transfer);
  Result Abort(ScriptItem* item);
  // The parameter array of a call: every argument evaluated, all elements in one list.
  VariantArrayPtr Parameters(ScriptItem* parent, std::size_t first_child);

  IExecutionContext& script_;
  Logger& log_;
  RunJudge* const judge_;
  // The judge of a strict run counts faults; in any other run no statement is judged by them.
  const bool strict_;
  const RunFlags* const flags_;
  // What the actions of the statement being run measured, until the statement's run is
  // recorded with them.
  MeasurementList measured_;

  bool StepFlag() const { return flags_ != nullptr ? flags_->step->load(std::memory_order_relaxed) : script_.step_flag(); }
  bool Tracing() const { return flags_ != nullptr ? flags_->log->IsListening(finest) : log_.IsLogging(finest); }
};

// The values a result record keeps of [values], as variants: integers, doubles, texts and
// booleans, result codes as their words, nested arrays alike; testers have no recorded form.
VariantArray RecordedValues(const VariableValue& values);

}  // namespace ordalis
