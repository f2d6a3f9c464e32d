#pragma once
// IScriptContext: what the interpreter needs from the script object it runs for. Expression
// evaluation, variable lookup and scope handling see the script only through this interface;
// the script object implements it, and tests implement it with a small in-memory script.
//
// Unless stated otherwise the hooks are called on the script's run thread only.

#include <cstdint>
#include <string>

#include "interp/variable_table.h"
#include "interp/variable_value.h"
#include "ordalis/interfaces.h"
#include "trace/logger.h"

namespace ordalis {

class RunJudge;
class ScriptItem;

// What the run thread does after waiting out a pause: go on, or end because the script object
// is going.
enum class RunCourse { kGoOn, kEndThread };

// Whether a statement wants a result record of its own or only sets its item's status.
enum class Recording { kRecord, kStatusOnly };

// How a tester action call ended: its result, and whether the statement making it wants a record.
struct ActionOutcome {
  Result result;
  Recording recording;
};

class IScriptContext {
 public:
  virtual ~IScriptContext() = default;

  // ---- log ----------------------------------------------------------------------------------
  // The script's log; lines carry the current item's file name and line.
  virtual Logger& logger() = 0;
  // The judge that counts the faults of the run and fails statements in a strict run; null
  // when the script has none (interp/run_judge.h).
  virtual RunJudge* judge() { return nullptr; }

  // ---- variables ----------------------------------------------------------------------------
  virtual VariableTable& variables() = 0;
  // The application manager that holds user and system variables; may be null.
  virtual IApplicationManager* application_manager() = 0;
  // Whether a playback source is installed; its recorded variables then replace the user and
  // system variables as the fall-back of a lookup.
  virtual bool playback_active() const = 0;
  // The recorded value text of [name] (lower case); false when the recording has none.
  virtual bool RecordedVariable(const std::string& name, std::string* text) = 0;

  // ---- run state ----------------------------------------------------------------------------
  // Makes [item] the script's current item (what CurrentItem reports and log lines carry).
  virtual void SetCurrentItem(ScriptItem* item) = 0;
  // The iteration number recorded with every result.
  virtual std::uint32_t iteration() const = 0;
  // Raises the Executed event for [item].
  virtual void FireExecuted(ScriptItem* item) = 0;
  // Seconds since 1970: taken at the start of the current statement, when the script object
  // was created, and when the current run started.
  virtual std::int64_t current_time() const = 0;
  virtual std::int64_t load_time() const = 0;
  virtual std::int64_t run_time() const = 0;

  // ---- statement execution ------------------------------------------------------------------
  // Runs the chain of sibling statements that starts at [first] as a chain of its own (with
  // its own scope), as the body of a `local` statement runs.
  virtual Result ExecuteChain(ScriptItem* first) = 0;
  // Executes [assignment] (an assignmentItem) as a statement, as `default` does when the
  // variable does not exist yet.
  virtual Result ExecuteAssignment(ScriptItem* assignment) = 0;
  // Calls the tester action [action] (an actionItem) and appends its returned values, or its
  // Result when it returned none, to [values]; [variable_name] names testers the action returns.
  virtual ActionOutcome CallAction(ScriptItem* action, VariableValue* values, const std::string& variable_name) = 0;
};

}  // namespace ordalis
