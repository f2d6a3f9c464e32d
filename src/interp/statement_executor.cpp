#include "interp/statement_executor.h"

#include <cstring>
#include <ctime>

#include "interp/evaluator.h"
#include "interp/formatting.h"
#include "interp/measurement_intake.h"
#include "interp/run_judge.h"
#include "interp/variable_table.h"
#include "interp/variables.h"
#include "language/script_item.h"
#include "platform/event.h"
#include "testers/action_record.h"
#include "platform/text.h"
#include "testers/script_playback.h"
#include "testers/testers.h"
#include "testers/tester_proxy.h"
#include "trace/stopwatch.h"

namespace ordalis {

namespace {

constexpr const char* kScript = "script";

bool IsLiteral(ItemType type) {
  switch (type) {
    case integerItem: case hexItem: case octalItem: case stringItem: case boolItem:
    case doubleItem:
      return true;
    default:
      return false;
  }
}

bool IsCondition(ItemType type) {
  switch (type) {
    case lessThanItem: case lessThanOrEqualItem: case equalItem: case greaterThanOrEqualItem:
    case greaterThanItem: case notEqualItem: case andItem: case orItem: case notItem:
      return true;
    default:
      return false;
  }
}

// Appends every element of [value] to [list]: an array contributes its elements one by one
// (arrays nested inside it stay nested), a scalar itself.
void AppendElements(VariableValue* list, VariableValue&& value) {
  if (value.kind() == ValueKind::Array) {
    for (const VariableValue& element : value.elements()) list->Append(element);
  } else {
    list->Append(std::move(value));
  }
}

void AppendRecorded(VariantArray* out, const VariableValue& value) {
  switch (value.kind()) {
    case ValueKind::Integer: out->push_back(Variant::Int(value.integer())); break;
    case ValueKind::Double: out->push_back(Variant::Double(value.dbl())); break;
    case ValueKind::String: out->push_back(Variant::String(value.text())); break;
    case ValueKind::Boolean: out->push_back(Variant::Bool(value.boolean())); break;
    case ValueKind::Result:
      out->push_back(Variant::String(VariableValue::ResultWord(value.result())));
      break;
    case ValueKind::Array: {
      VariantArray nested;
      for (const VariableValue& element : value.elements()) AppendRecorded(&nested, element);
      out->push_back(Variant::Array(std::move(nested)));
      break;
    }
    default:
      break;  // testers have no recorded form
  }
}

// Whether an ignoreresult section encloses [item].
bool InsideIgnoreResult(const ScriptItem* item) {
  for (const ScriptItem* p = item->parent(); p != nullptr; p = p->parent()) {
    if (p->type() == ignoreResultItem) return true;
  }
  return false;
}

// The definition of the function [name]: the first functionItem of that name among the
// children of the call's parent, then of the grandparent, and so on up to the root.
ScriptItem* FindFunction(const ScriptItem* call, const std::string& name) {
  for (const ScriptItem* p = call->parent(); p != nullptr; p = p->parent()) {
    for (const ScriptItemPtr& child : p->children()) {
      if (child->type() == functionItem && EqualsIgnoringCase(child->text(), name)) {
        return child.get();
      }
    }
  }
  return nullptr;
}


// Looks [name] up among the actions of [tester], ignoring case; the lookup is repeated for
// every call, since a tester may change its actions.
bool FindAction(ITester& tester, const std::string& name, std::uint32_t* number) {
  std::uint32_t count = 0;
  if (Failed(tester.get_ActionCount(&count))) return false;
  std::string candidate;
  for (*number = 0; *number < count; ++*number) {
    if (Succeeded(tester.get_Actions(*number, &candidate)) && EqualsIgnoringCase(candidate, name)) return true;
  }
  return false;
}

std::string TesterType(ITester& tester) {
  std::string type;
  try {
    if (Failed(tester.get_TesterType(&type))) type.clear();
  } catch (...) {
    type.clear();
  }
  return type;
}

// Whether [a] and [b] are the same whole value: same kind, equal scalars, arrays equal element
// by element.
bool SameValue(const VariableValue& a, const VariableValue& b) {
  if (a.kind() != b.kind()) return false;
  if (a.kind() != ValueKind::Array) return VariableValue::Equal(a, b);
  if (a.elements().size() != b.elements().size()) return false;
  for (std::size_t i = 0; i < a.elements().size(); ++i) {
    if (!SameValue(a.elements()[i], b.elements()[i])) return false;
  }
  return true;
}

// Replaces every element of [value] (nested arrays included) that refers to [tester] by
// Integer 0; true when anything changed.
bool ClearTesterReferences(VariableValue* value, const ITester* tester) {
  if (value->kind() == ValueKind::Tester) {
    if (value->tester().get() != tester) return false;
    *value = VariableValue(0);
    return true;
  }
  if (value->kind() != ValueKind::Array) return false;
  bool changed = false;
  for (std::size_t i = 0; i < value->ElementCount(); ++i) {
    changed |= ClearTesterReferences(&value->Element(i), tester);
  }
  return changed;
}

}  // namespace

ScriptItem* FunctionDefinitions::Find(const ScriptItem* call, const std::string& name) {
  auto [entry, inserted] = found_.try_emplace(call, nullptr);
  if (inserted) entry->second = FindFunction(call, name);
  return entry->second;
}

VariantArray RecordedValues(const VariableValue& values) {
  VariantArray out;
  if (values.kind() == ValueKind::Array) {
    out.reserve(values.elements().size());
    for (const VariableValue& element : values.elements()) AppendRecorded(&out, element);
  } else {
    AppendRecorded(&out, values);
  }
  return out;
}

// The position of a chain: an index into the parent's children, so moving to the next sibling
// costs nothing however long the block is. A parentless item (a root) is a chain of its own.
struct StatementExecutor::Cursor {
  ScriptItem* parent = nullptr;
  std::size_t index = 0;
  ScriptItem* single = nullptr;

  static Cursor At(ScriptItem* item) {
    Cursor cursor;
    if (item == nullptr) return cursor;
    cursor.parent = item->parent();
    if (cursor.parent != nullptr) {
      cursor.index = cursor.parent->IndexOfChild(item);
    } else {
      cursor.single = item;
    }
    return cursor;
  }
  ScriptItem* item() const {
    if (parent == nullptr) return single;
    return index < parent->child_count() ? parent->child(index) : nullptr;
  }
  void Next() {
    if (parent != nullptr) {
      ++index;
    } else {
      single = nullptr;
    }
  }
  void End() {
    parent = nullptr;
    single = nullptr;
  }
};

// What a statement's handler leaves for the chain loop: the values its result record keeps,
// whether it wants a record at all or only sets its status, and whether the loop comes back to
// it (a while loop that goes round again).
struct StatementExecutor::Statement {
  enum class Next { kFollowing, kRepeat };

  VariableValue& values() { return values_; }
  VariantArray Recorded() const { return RecordedValues(values_); }
  // Made ready for the chain's next statement: one Statement serves a whole chain, so a
  // statement that leaves no values costs no value made and destroyed.
  void Reset() {
    if (!values_.is_invalid()) values_ = VariableValue();
    recording = Recording::kRecord;
    next = Next::kFollowing;
  }

  VariableValue values_;
  Recording recording = Recording::kRecord;
  Next next = Next::kFollowing;
};

// One call of a tester action: the parameters sent and what came back.
struct StatementExecutor::TesterCall {
  VariantArrayPtr parameters;
  VariantArrayPtr values;
  MeasuredValues measured;
  Result result = TestError;
  Status status = S_OK;
};

Result StatementExecutor::ExecuteChain(ScriptItem* first) {
  FunctionReturn target;
  return ExecuteSequence(first, target);
}

namespace {

// Whether a statement's run is timed. A step of a counter or a comment takes well under the
// millisecond a result shows, so the clock is not read for it on every pass of a loop. Nor is it
// for a while statement: it records only its status (a result only when a fault or a stop ends
// it), and each pass's time is on its do block.
bool Timed(ItemType type) {
  switch (type) {
    case whileItem:
    case incrementItem:
    case decrementItem:
    case commentItem:
    case endIncludeItem: return false;
    default: return true;
  }
}

}  // namespace

Result StatementExecutor::ExecuteSequence(ScriptItem* first, FunctionReturn& target, ChainKind kind) {
  return ExecuteFrom(Cursor::At(first), target, kind);
}

Result StatementExecutor::ExecuteChildren(ScriptItem* parent, std::size_t index, FunctionReturn& target) {
  Cursor cursor;
  cursor.parent = parent;
  cursor.index = index;
  return ExecuteFrom(cursor, target, ChainKind::kStatements);
}

Result StatementExecutor::ExecuteFrom(Cursor cursor, FunctionReturn& target, ChainKind kind) {
  target.state = FunctionReturn::State::kRunning;
  Result aggregate = TestPassed;
  ChainScope scope;
  // The statement the cursor is at: read once each time the cursor moves.
  ScriptItem* item = cursor.item();
  Statement statement;
  try {
    if (StepFlag() || (item != nullptr && item->breakpoint())) {
      script_.ClearStepFlag();
      script_.RequestPause();
    }
    for (;;) {
      const bool going_on = flags_ != nullptr && flags_->GoingOn();
      // A sequence that a stop ends before its last statement is Aborted, whatever ran before:
      // a stopped run must never read as Passed.
      if (!going_on && script_.WaitIfPaused() == RunCourse::kEndThread) {
        if (item != nullptr) aggregate = TestAborted;
        break;
      }
      if (item == nullptr || target.state == FunctionReturn::State::kReturned) break;
      if (!going_on && script_.state() == ScriptStopping) {
        aggregate = TestAborted;
        break;
      }
      // The first statement of a block is current while it runs, not the block around it.
      script_.BeginStatement(item);
      statement.Reset();
      const bool timed = Timed(item->type());
      std::uint64_t start = timed ? Stopwatch::Now() : 0;
      const bool tracing = Tracing();
      if (tracing) log_.Log(finest, kScript, "executing command \"%s\"", item->text().c_str());
      std::uint64_t faults_before = strict_ ? judge_->judged_faults() : 0;
      Result result;
      const Cursor here = cursor;
      cursor.Next();
      // A loop's body and its counter are dispatched here, without the frame of the general
      // dispatch, which every other statement goes through.
      switch (item->type()) {
        case whileItem:
          result = While(item, statement, target);
          // The loop comes back to the while item, passing the pause check between iterations.
          if (statement.next == Statement::Next::kRepeat) cursor = here;
          break;
        case doItem:
          result = RunChild(item, target);
          break;
        case incrementItem:
        case decrementItem:
          statement.recording = Recording::kStatusOnly;
          result = ExecuteIncrement(script_, item, item->type() == incrementItem ? Step::kIncrement : Step::kDecrement);
          break;
        default:
          result = Execute(item, &cursor, statement, target, kind, scope);
          break;
      }
      if (strict_ && JudgedFaulty(script_, *item, &result, faults_before)) statement.recording = Recording::kRecord;
      if (tracing) {
        log_.Log(finest, kScript, "command \"%s\" result %s", item->text().c_str(),
                VariableValue::ResultWord(result).c_str());
      }
      // A statement that measured keeps a record of its run: the measurements live on it.
      if (statement.recording == Recording::kRecord || result == TestAborted || !measured_.empty()) {
        // A Passed run folded into an earlier one keeps no time: the clock is not read again.
        const bool seen = timed && !(result == TestPassed && item->PassedRunIsFolded());
        double taken = seen ? Stopwatch::SecondsBetween(start, Stopwatch::Now()) : 0.0;
        item->RecordResult(result, script_.iteration(), taken, statement.Recorded(), std::move(measured_));
        measured_.clear();
      } else {
        item->SetStatus(result);
      }
      ScriptItem* next = cursor.item();
      script_.EndStatement(item, next);
      if (result == TestAborted) {
        aggregate = TestAborted;
      } else if (aggregate == TestPassed) {
        aggregate = result;
      } else if (aggregate != TestFailed && result == TestFailed) {
        aggregate = TestFailed;
      }
      if (StepFlag() || (next != nullptr && next->breakpoint())) {
        script_.ClearStepFlag();
        script_.RequestPause();
      }
      if (result != TestPassed && script_.pause_on_error()) {
        if (InsideIgnoreResult(item)) {
          log_.Log(information, kScript,
                  "Pause on error ignored as error is inside Ignore Result section");
        } else {
          script_.RequestPause();
        }
      }
      item = next;
    }
    statement.Reset();  // what the last statement left goes before the chain's scope ends
    scope.End(script_, &target.value);
  } catch (...) {
    log_.Log(severe, kScript, "Error: an exception occured while executing the script");
    scope.Discard();
    return TestError;
  }
  return aggregate;
}

Result StatementExecutor::RunChild(ScriptItem* item, FunctionReturn& target) {
  if (item->child_count() == 0) return TestPassed;
  return ExecuteChildren(item, 0, target);
}

Result StatementExecutor::ExecuteAssignment(ScriptItem* assignment) {
  Statement statement;
  Result result = Assignment(assignment, statement);
  if (statement.recording == Recording::kRecord || !measured_.empty()) {
    assignment->RecordResult(result, script_.iteration(), 0.0, statement.Recorded(), std::move(measured_));
    measured_.clear();
  } else {
    assignment->SetStatus(result);
  }
  return result;
}

// Every statement but a while loop, a do block and a counter's step, which the chain loop
// dispatches itself. [cursor] is already past [item].
Result StatementExecutor::Execute(ScriptItem* item, Cursor* cursor, Statement& statement,
                                  FunctionReturn& target, ChainKind kind, ChainScope& scope) {
  switch (item->type()) {
    case rootItem:
    case resultItem:
    case includeItem:
      return RunChild(item, target);
    case thenItem:
    case elseItem: {
      Result result = RunChild(item, target);
      // A then branch followed by its else branch skips the else branch.
      if (item->type() == thenItem && cursor->item() != nullptr &&
          cursor->item()->type() == elseItem) {
        cursor->Next();
      }
      return result;
    }
    case ifItem:
      return If(item, statement, target);
    case actionItem:
      return Action(item, statement, std::string());
    case assignmentItem:
      return Assignment(item, statement);
    case deleteItem:
      return Delete(item);
    case commentItem:
    case endIncludeItem:
      statement.recording = Recording::kStatusOnly;
      return TestPassed;
    case testResultItem: {
      const std::string& text = item->text();
      if (EqualsIgnoringCase(text, "passed")) return TestPassed;
      if (EqualsIgnoringCase(text, "warning")) return TestWarning;
      if (EqualsIgnoringCase(text, "failed")) return TestFailed;
      return TestError;
    }
    case sleepItem: {
      Result result = Sleep(item);
      statement.recording = result != TestPassed ? Recording::kRecord : Recording::kStatusOnly;
      return result;
    }
    case assertItem:
      return Assert(item, &statement.values());
    case sscanfItem:
      if (MalformedForm(item)) return TestError;
      return ScanFormatted(Parameters(item, 0), &statement.values(),
                           [this](LoggingLevel level, const std::string& name, const std::string& message) {
                             log_.Log(level, name, message);
                           });
    case defaultItem:
      return ExecuteDefault(script_, item);
    case ignoreResultItem:
      return IgnoreResult(item, target);
    case functionItem: {
      statement.recording = Recording::kStatusOnly;
      if (kind != ChainKind::kFunctionBody) return TestPassed;  // definitions are skipped where they stand
      Result result = RunChild(item, target);
      target.state = FunctionReturn::State::kRunning;
      // The call runs only the definition, not the statements that follow it.
      cursor->End();
      return result;
    }
    case functionCallItem:
      statement.recording = Recording::kStatusOnly;
      return FunctionCall(item, &statement.values(), statement, nullptr);
    case returnItem: {
      statement.recording = Recording::kStatusOnly;
      Result result = Return(item, target);
      if (target.state == FunctionReturn::State::kReturned) cursor->End();
      return result;
    }
    case localItem:
      statement.recording = Recording::kStatusOnly;
      return scope.ExecuteLocal(script_, item);
    case moveLogFileItem:
      return LogFile(item, LogTransfer::kMove);
    case copyLogFileItem:
      return LogFile(item, LogTransfer::kCopy);
    case abortItem:
      return Abort(item);
    default:
      log_.Log(severe, kScript, "unknown token type %d", static_cast<int>(item->type()));
      return TestError;
  }
}

// if <condition> then <statements> [else <statements>] endif
Result StatementExecutor::If(ScriptItem* item, Statement& statement, FunctionReturn& target) {
  if (item->child_count() < 2) {
    log_.Log(severe, kScript, "Invalid if statement");
    return TestError;
  }
  statement.recording = Recording::kStatusOnly;
  Result condition_result = TestPassed;
  if (EvaluateCondition(script_, item->child(0), &condition_result)) {
    return ExecuteChildren(item, 1, target);
  }
  if (item->child_count() > 2) return ExecuteChildren(item, 2, target);
  return TestPassed;
}

// while <condition> do <statements> endwhile
Result StatementExecutor::While(ScriptItem* item, Statement& statement, FunctionReturn& target) {
  if (item->child_count() != 2) {
    log_.Log(severe, kScript, "Invalid while statement");
    return TestError;
  }
  statement.recording = Recording::kStatusOnly;
  Result condition_result = TestPassed;
  if (!EvaluateCondition(script_, item->child(0), &condition_result)) return TestPassed;
  statement.next = Statement::Next::kRepeat;
  return ExecuteChildren(item, 1, target);
}

VariantArrayPtr StatementExecutor::Parameters(ScriptItem* parent, std::size_t first_child) {
  VariableValue list;
  for (std::size_t i = first_child; i < parent->child_count(); ++i) {
    ScriptItem* argument = parent->child(i);
    VariableValue value;
    if (EvaluateValue(script_, argument, &value) != TestPassed) {
      log_.Log(severe, kScript, "Invalid value '%s'", argument->text().c_str());
      list.Append(VariableValue(argument->text()));
      continue;
    }
    AppendElements(&list, std::move(value));
  }
  return list.ToVariantArray();
}

ActionOutcome StatementExecutor::CallAction(ScriptItem* action, VariableValue* values,
                                            const std::string& variable_name) {
  Statement call;
  call.values() = std::move(*values);
  Result result = Action(action, call, variable_name);
  *values = std::move(call.values());
  return {result, call.recording};
}

// <tester>.<action>(<parameters>): the returned values, or the Result when none came back, are
// appended to the statement's values.
Result StatementExecutor::Action(ScriptItem* action, Statement& statement, const std::string& variable_name) {
  statement.recording = Recording::kRecord;
  if (action->child_count() != 2) return TestError;
  std::shared_ptr<ITester> tester = ActionTarget(action);
  if (!tester) return TestError;
  ScriptItem* method = action->child(1);
  TesterCall call;
  call.parameters = Parameters(method, 0);
  std::shared_ptr<ScriptPlayback> playback = script_.playback();
  if (playback && tester.get() == static_cast<ITester*>(playback.get())) {
    call.status = playback->Execute(0, call.parameters, &call.values, &call.result);
    call.measured = TakeReportedMeasurements(*playback);
    script_.action_record().WriteOut(call.result, call.values, call.measured);
  } else if (CallAndRecord(tester, action, call) == CallOutcome::kNoSuchAction) {
    return TestError;
  }
  if (call.result < TestPassed || call.result > TestAborted) {
    // A code no result word stands for would reach the results document, the summary and the
    // verdict as "Unknown Result n": the action counts as an error, and the log says what came.
    log_.Log(severe, action->child(0)->text(), "Action %s returned the result code %d, which is not a result",
                         method->text().c_str(), static_cast<int>(call.result));
    call.result = TestError;
  }
  if (!call.measured.empty()) TakeMeasured(*action, call);
  if (call.values) {
    statement.values().AppendFromVariantArray(call.values, script_.tester_wrap_hook(), variable_name);
  } else {
    statement.values().Append(VariableValue(call.result));
  }
  if (call.result == TestPassed && action->text() == ":") statement.recording = Recording::kStatusOnly;
  return call.result;
}

// The tester an action item names, or null (logged) when the item names none.
std::shared_ptr<ITester> StatementExecutor::ActionTarget(ScriptItem* action) {
  VariableValue target;
  Result result = EvaluateValue(script_, action->child(0), &target);
  if (result != TestPassed || target.ElementCount() != 1 ||
      target.Element(0).kind() != ValueKind::Tester) {
    log_.Log(severe, kScript, "Can only do an action on a Tester object");
    return nullptr;
  }
  if (action->child(1)->type() != idItem) {
    log_.Log(severe, kScript, "Error: invalid action");
    return nullptr;
  }
  return target.Element(0).tester();
}

// Calls the action on a real tester, published as the current tester for the length of the
// call, and writes its record lines. A tester without such an action is logged.
StatementExecutor::CallOutcome StatementExecutor::CallAndRecord(const std::shared_ptr<ITester>& tester,
                                                                ScriptItem* action, TesterCall& call) {
  const std::string& action_name = action->child(1)->text();
  script_.BeginTesterCall(tester);
  CallOutcome outcome = CallTester(*tester, action_name, call);
  script_.EndTesterCall();
  ActionRecord& record_file = script_.action_record();
  switch (outcome) {
    case CallOutcome::kNoSuchAction:
      log_.Log(severe, kScript, "Action %s does not exist on tester %s", action_name.c_str(),
                           TesterType(*tester).c_str());
      return outcome;
    case CallOutcome::kNotStarted:
      call.result = TestAborted;  // the run was stopping: the action never started
      return outcome;
    case CallOutcome::kCalled:
      break;
  }
  if (Failed(call.status)) {
    record_file.WriteFailedCall();
    log_.Log(severe, action->child(0)->text(), "Failed on call to action %s of %s error 0x%08X",
                         action_name.c_str(), TesterType(*tester).c_str(), static_cast<unsigned>(call.status));
    call.result = TestError;
    call.values.reset();
  } else {
    call.measured = TakeReportedMeasurements(*tester);
    record_file.WriteOut(call.result, call.values, call.measured);
  }
  return outcome;
}

// Keeps what the action measured for the statement's record. A measurement left unnamed is
// named by the statement's result label or the action. An action that passed while one of its
// measurements failed fails: a failed measurement never shows as a passed statement.
void StatementExecutor::TakeMeasured(const ScriptItem& action, TesterCall& call) {
  const std::string unnamed = UnnamedMeasurementName(action);
  bool failed = false;
  for (const MeasuredValue& reported : call.measured) {
    Measurement measurement = RecordedMeasurement(reported, unnamed);
    failed = failed || measurement.result == TestFailed;
    measured_.push_back(std::move(measurement));
  }
  if (failed && call.result == TestPassed) call.result = TestFailed;
}

// Looks the action up and calls it. The tester is published as the current tester before the
// lookup, so a stop from here on reaches it; a stop that came before is seen by the check just
// before Execute, and the action is not started at all.
StatementExecutor::CallOutcome StatementExecutor::CallTester(ITester& tester, const std::string& action_name,
                                                             TesterCall& call) {
  try {
    std::uint32_t number = 0;
    if (!FindAction(tester, action_name, &number)) return CallOutcome::kNoSuchAction;
    if (script_.state() == ScriptStopping) return CallOutcome::kNotStarted;
    script_.action_record().WriteIn(call.parameters);
    call.status = tester.Execute(number, call.parameters, &call.values, &call.result);
  } catch (...) {
    call.status = E_FAIL;
  }
  return CallOutcome::kCalled;
}

// <name> = <values> | new <type>(<parameters>) | <expression>
Result StatementExecutor::Assignment(ScriptItem* item, Statement& statement) {
  statement.recording = Recording::kStatusOnly;
  if (item->child_count() < 2) {
    log_.Log(severe, kScript, "Unknown assignment format %d", static_cast<int>(item->child_count()));
    statement.recording = Recording::kRecord;
    return TestError;
  }
  const std::string& name = item->child(0)->text();
  ScriptItem* right = item->child(1);
  VariableValue value;
  Result result = TestPassed;
  ItemType kind = right->type();
  if (IsLiteral(kind) || kind == arrayItem || kind == idItem) {
    for (std::size_t i = 1; i < item->child_count(); ++i) {
      result = EvaluateArrayElement(script_, item->child(i), &value);
      if (result != TestPassed) {
        statement.recording = Recording::kRecord;
        return result;
      }
    }
    // A single name or array literal stores its value itself, not a one-element list of it:
    // after a = [1, [2, 3]], a[1][0] is 2.
    if ((kind == idItem || kind == arrayItem) && item->child_count() == 2 && value.ElementCount() > 0) {
      VariableValue single = value.Element(0);
      value = std::move(single);
    }
  } else if (kind == arithmeticItem) {
    result = EvaluateArithmetic(script_, right, &value);
    if (result != TestPassed) {
      statement.recording = Recording::kRecord;
      return result;
    }
  } else if (IsCondition(kind)) {
    bool truth = EvaluateCondition(script_, right, &result);
    value.Append(VariableValue(truth));
  } else if (kind == arrayIndexItem) {
    if (!EvaluateIndex(script_, right, &value)) {
      log_.Log(warning, kScript, "array error for variable '%s'", name.c_str());
      statement.recording = Recording::kRecord;
      return TestError;
    }
  } else if (kind == actionItem) {
    Statement call;
    result = Action(right, call, LowerName(name));
    value = std::move(call.values());
    statement.recording = call.recording;
    statement.values() = value;
  } else if (kind == newItem) {
    result = New(right, &value, LowerName(name));
    if (result != TestPassed) value.Append(VariableValue(result));
    statement.recording = Recording::kRecord;
  } else if (kind == functionCallItem) {
    result = FunctionCall(right, &value, statement, item);
    if (result != TestPassed || value.is_invalid()) value.Append(VariableValue(result));
    statement.recording = Recording::kRecord;
    statement.values() = value;
  } else if (kind == sprintfItem) {
    value.Append(VariableValue(FormatText(0, Parameters(right, 0))));
    statement.recording = Recording::kRecord;
    statement.values() = value;
  } else if (kind == sscanfItem) {
    if (MalformedForm(right)) {
      statement.recording = Recording::kRecord;
      return TestError;
    }
    result = ScanFormatted(Parameters(right, 0), &value,
                           [this](LoggingLevel level, const std::string& source, const std::string& message) {
                             log_.Log(level, source, message);
                           });
    if (result == TestPassed && value.ElementCount() == 0) value.Append(VariableValue(TestPassed));
    statement.recording = Recording::kRecord;
    statement.values() = value;
  } else if (kind == assertItem) {
    result = Assert(right, &value);
    value.Append(VariableValue(result));
    statement.recording = Recording::kRecord;
    statement.values() = value;
  } else if (kind == arrayLengthItem) {
    result = ArrayLength(script_, right, ArrayLengthUse::kAssignment, &value);
  } else {
    log_.Log(severe, kScript, "Unknown assignment type %d", static_cast<int>(kind));
    statement.recording = Recording::kRecord;
    return TestError;
  }
  SetVariable(script_, name, std::move(value));
  return result;
}

// new <type>(<parameters>) on the right side of an assignment to [variable_name]
Result StatementExecutor::New(ScriptItem* item, VariableValue* value, const std::string& variable_name) {
  if (item->child_count() != 1) {
    log_.Log(severe, kScript, "invalid new statement");
    return TestFailed;
  }
  ScriptItem* constructor = item->child(0);
  std::shared_ptr<ITester> tester;
  if (std::shared_ptr<ScriptPlayback> playback = script_.playback()) {
    tester = std::move(playback);  // the playback tester stands in for every type
  } else {
    std::string message;
    tester = Testers::Instance().Create(constructor->text(), &message);
    if (!tester) {
      log_.Log(severe, kScript, "Could not create a tester of type %s %s", constructor->text().c_str(),
              message.c_str());
      return TestFailed;
    }
  }
  VariantArrayPtr parameters = Parameters(constructor, 0);
  VariantBool opened = kVariantFalse;
  Status traced = E_FAIL;
  Status open = E_FAIL;
  try {
    traced = tester->SetTrace(script_.MakeTrace(variable_name));
    if (Succeeded(traced)) open = tester->Open(parameters, &opened);
  } catch (...) {
    traced = E_FAIL;
  }
  if (Failed(traced) || Failed(open)) {
    log_.Log(severe, kScript, "Failed on call to open method on tester object");
    return TestFailed;
  }
  if (opened != kVariantTrue) {
    log_.Log(severe, kScript, "Failed to open variable %s", variable_name.c_str());
    return TestFailed;
  }
  if (auto level1 = std::dynamic_pointer_cast<ITester1>(tester)) {
    try {
      level1->scriptDirectory(script_.script_directory());
    } catch (...) {
      // The outcome of telling a tester its directory is ignored.
    }
  }
  value->Append(VariableValue(std::move(tester)));
  return TestPassed;
}

// delete <name>
Result StatementExecutor::Delete(ScriptItem* item) {
  if (item->child_count() != 1) return TestError;
  VariableTable& table = script_.variables();
  std::string name = LowerName(item->child(0)->text());
  VariableValue deleted;
  if (!table.Get(name, &deleted)) return TestError;
  table.Remove(name);
  if (deleted.ElementCount() == 0 || deleted.Element(0).kind() != ValueKind::Tester) return TestError;
  std::shared_ptr<ITester> tester = deleted.Element(0).tester();
  for (auto& [other, value] : table.Snapshot()) {
    if (SameValue(value, deleted)) {
      table.Remove(other);
    } else if (ClearTesterReferences(&value, tester.get())) {
      table.Replace(other, std::move(value));
    }
  }
  deleted = VariableValue();
  VariantBool closed = kVariantFalse;
  Status status = CloseTester(*tester, &closed);
  return Succeeded(status) && closed == kVariantTrue ? TestPassed : TestError;
}

// sleep(<seconds>)
Result StatementExecutor::Sleep(ScriptItem* item) {
  if (item->child_count() == 0) {
    log_.Log(severe, kScript, "No parameters for sleep");
    return TestError;
  }
  VariableValue value;
  Result result = EvaluateValue(script_, item->child(0), &value);
  if (result != TestPassed) return result;
  if (value.ElementCount() != 1) {
    log_.Log(severe, kScript, "Invalid argument to sleep - one integer parameter only");
    return TestError;
  }
  const VariableValue& seconds = value.Element(0);
  if (seconds.kind() != ValueKind::Integer && seconds.kind() != ValueKind::Double) {
    log_.Log(severe, kScript, "Invalid argument to sleep");
    return TestError;
  }
  // Out-of-range waits are clamped, never converted as they stand: a negative or not-a-number
  // time waits not at all, and a time beyond kMaxSleepSeconds waits that long (still ended at
  // once by stopping the script).
  double total = seconds.dbl();
  if (!(total > 0)) total = 0;
  if (total > kMaxSleepSeconds) total = kMaxSleepSeconds;
  auto remaining_text = [](long long n) {
    return n > 0 ? "time remaining " + std::to_string(n) + " seconds" : std::string();
  };
  long long shown = static_cast<long long>(total);
  SetVariable(script_, "sleep", VariableValue("time remaining " + std::to_string(shown) + " seconds"));
  auto end = std::chrono::steady_clock::now() +
             std::chrono::microseconds(static_cast<long long>(total * 1e6));
  for (;;) {
    auto now = std::chrono::steady_clock::now();
    if (now >= end) break;
    if (script_.state() == ScriptStopping) return TestAborted;  // the stop cut the wait short
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
    if (script_.thread_ended().Wait(static_cast<std::uint32_t>(left < 10 ? left : 10))) return TestAborted;
    long long whole = std::chrono::duration_cast<std::chrono::seconds>(end - std::chrono::steady_clock::now()).count();
    if (whole < shown) {
      shown = whole;
      SetVariable(script_, "sleep", VariableValue(remaining_text(shown)));
    }
  }
  return TestPassed;
}

// assert(<condition> [, <values>])
// The results document shows an assert with more than one value, and an sscanf whose format and
// text are both computed, as an error in place of their text. Such a statement is an Error when
// it runs, said in the log in the document's words, so the document, the summary and the
// verdict of the run agree.
bool StatementExecutor::MalformedForm(ScriptItem* item) {
  const char* message = item->MalformedFormMessage();
  if (message == nullptr) return false;
  log_.Log(severe, kScript, "%s", item->ErrorLine(message).c_str());
  return true;
}

Result StatementExecutor::Assert(ScriptItem* item, VariableValue* values) {
  if (item->child_count() == 0) return TestError;
  if (MalformedForm(item)) return TestError;
  Result condition_result = TestPassed;
  bool holds = EvaluateCondition(script_, item->child(0), &condition_result);
  for (std::size_t i = 1; i < item->child_count(); ++i) {
    VariableValue value;
    if (EvaluateValue(script_, item->child(i), &value) == TestPassed) {
      AppendElements(values, std::move(value));
    }
  }
  return holds ? TestPassed : TestFailed;
}

// ignoreresult <statements> endignoreresult
Result StatementExecutor::IgnoreResult(ScriptItem* item, FunctionReturn& target) {
  if (item->child_count() == 0) {
    log_.Log(severe, kScript, "Error: invalid ignore result statement");
    return TestError;
  }
  Result inner = RunChild(item, target);
  log_.Log(information, kScript, "Ignoring result '%s'",
                       VariableValue::ResultWord(inner).c_str());
  return TestPassed;
}

// <function>(<arguments>): a function defined in the script, found from the call outwards, or
// else a built-in one.
Result StatementExecutor::FunctionCall(ScriptItem* call, VariableValue* value, Statement& statement,
                                       ScriptItem* assignment) {
  std::string name = call->text();
  if (!name.empty() && name.back() == ':') name.pop_back();
  FunctionDefinitions* definitions = script_.function_definitions();
  ScriptItem* definition = definitions != nullptr ? definitions->Find(call, name) : FindFunction(call, name);
  if (definition == nullptr) return BuiltInCall(name, call, value, statement);
  // The depth is counted per thread: a call chain may pass through several executors (a
  // `local` statement runs in one of its own), but always on the one run thread.
  thread_local std::uint32_t depth = 0;
  if (depth >= kMaxFunctionCallDepth) {
    log_.Log(severe, kScript, "Function call nesting too deep: %s at depth %u", name.c_str(),
                         static_cast<unsigned>(depth + 1));
    statement.recording = Recording::kRecord;
    return TestError;
  }
  struct DepthGuard {
    std::uint32_t& depth;
    explicit DepthGuard(std::uint32_t& d) : depth(d) { ++depth; }
    ~DepthGuard() { --depth; }
  } guard(depth);
  VariableValue parameters;
  Result arguments = FunctionArguments(script_, call, &parameters);
  if (arguments != TestPassed) return arguments;
  FunctionParameters scope(script_, name, std::move(parameters));
  definition->set_current_parent(call->shared_from_this());
  if (assignment != nullptr) call->set_current_parent(assignment->shared_from_this());
  FunctionReturn returned;
  // The body runs as a chain of the definition alone: its place among its siblings is not
  // needed, since a function body never goes on to the statements after the definition.
  Cursor body;
  body.single = definition;
  Result result = ExecuteFrom(body, returned, ChainKind::kFunctionBody);
  definition->set_current_parent(nullptr);
  if (assignment != nullptr) call->set_current_parent(nullptr);
  scope.Restore();
  if (!returned.value.is_invalid()) *value = std::move(returned.value);
  return result;
}

Result StatementExecutor::BuiltInCall(const std::string& name, ScriptItem* call,
                                      VariableValue* value, Statement& statement) {
  Result result = TestPassed;
  if (EqualsIgnoringCase(name, "printf")) {
    if (call->child_count() == 0) {
      log_.Log(warning, kScript, "invalid printf statement");
      result = TestWarning;
    } else {
      log_.Log(information, kScript, FormatText(0, Parameters(call, 0)));
    }
  } else if (EqualsIgnoringCase(name, "strlen")) {
    VariableValue text;
    ScriptItem* argument = call->child_count() == 1 ? call->child(0) : nullptr;
    if (argument != nullptr && (argument->type() == stringItem || argument->type() == idItem) &&
        EvaluateValue(script_, argument, &text) == TestPassed && text.ElementCount() > 0 &&
        text.Element(0).kind() == ValueKind::String) {
      *value = VariableValue(static_cast<std::int32_t>(text.Element(0).text().size()));
    } else {
      log_.Log(severe, kScript, "invalid strlen statement");
      result = TestFailed;
    }
  } else if (EqualsIgnoringCase(name, "saveuservar")) {
    result = SaveUserVariables(script_, call);
  } else {
    log_.Log(severe, kScript, "Error: function %s not found", name.c_str());
    result = TestFailed;
  }
  statement.recording = result != TestPassed ? Recording::kRecord : Recording::kStatusOnly;
  return result;
}

// return <values>
Result StatementExecutor::Return(ScriptItem* item, FunctionReturn& target) {
  bool in_function = false;
  for (const ScriptItem* p = item->parent(); p != nullptr && !in_function; p = p->parent()) {
    in_function = p->type() == functionItem;
  }
  if (!in_function) {
    log_.Log(severe, kScript, "Error: return not in a function call");
    return TestError;
  }
  VariableValue values;
  values.ClearToArray();
  Result result = TestPassed;
  for (std::size_t i = 0; i < item->child_count(); ++i) {
    Result element = EvaluateArrayElement(script_, item->child(i), &values);
    if (element != TestPassed && result == TestPassed) result = element;
  }
  if (item->child_count() == 1 && values.ElementCount() > 0) {
    target.value = values.Element(0);
  } else {
    target.value = std::move(values);
  }
  target.state = FunctionReturn::State::kReturned;
  return result;
}

// movelogfile(<name>) and copylogfile(<name>)
Result StatementExecutor::LogFile(ScriptItem* item, LogTransfer transfer) {
  const char* word = transfer == LogTransfer::kMove ? "movelogfile" : "copylogfile";
  if (item->child_count() != 1) {
    log_.Log(severe, "Script", "Invalid %s statement - missing filename parameter", word);
    return TestError;
  }
  VariableValue value;
  if (EvaluateValue(script_, item->child(0), &value) != TestPassed) {
    log_.Log(severe, "Stript", "Invalid %s statement - expected a string filename '%s'", word,
            item->text().c_str());
    return TestError;
  }
  const VariableValue* name = nullptr;
  if (value.kind() == ValueKind::String) {
    name = &value;
  } else if (value.kind() == ValueKind::Array && value.ElementCount() == 1 &&
             value.Element(0).kind() == ValueKind::String) {
    name = &value.Element(0);
  }
  if (name == nullptr) {
    log_.Log(severe, "Stript", "Invalid %s statement - incorrect type %d expected string", word,
            static_cast<int>(value.kind()));
    return TestFailed;
  }
  if (transfer == LogTransfer::kMove) {
    script_.AddMovedLog(name->text());
  } else {
    script_.AddCopiedLog(name->text());
  }
  log_.Log(information, "Stript", "Log file '%s' will be copied to results area at script completion",
          name->text().c_str());
  return TestPassed;
}

// abort("<text>")
Result StatementExecutor::Abort(ScriptItem* item) {
  log_.Log(information, "Stript", "Script Aborted \"%s\"", item->text().c_str());
  script_.RequestStop();
  return TestAborted;
}

}  // namespace ordalis
