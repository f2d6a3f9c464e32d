#pragma once
// A small in-memory script for exercising the interpreter alone: it records log lines,
// current items and Executed events, keeps user and system variables in an in-memory
// application manager, and runs statement chains with a minimal executor that knows
// assignments, `local` and nested blocks.
//
// FakeExecutionContext goes one step further for statement tests: the real statement executor
// runs on the test's own thread, with the run state, the current tester and the record in
// plain fields the test sets and reads; no run thread, no files.

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "interp/evaluator.h"
#include "interp/script_context.h"
#include "interp/statement_executor.h"
#include "interp/variables.h"
#include "language/script_item.h"
#include "platform/event.h"
#include "testers/action_record.h"
#include "trace/trace.h"

namespace ordalis::testing_support {

struct LoggedLine {
  LoggingLevel level;
  std::string variable_name;
  std::string message;
};

class RecordingLogger : public Logger {
 public:
  using Logger::Log;
  void Log(LoggingLevel level, const std::string& variable_name, const std::string& message) override {
    lines.push_back({level, variable_name, message});
  }
  bool Contains(const std::string& message) const {
    for (const auto& line : lines) {
      if (line.message == message) return true;
    }
    return false;
  }
  const LoggedLine* Find(const std::string& message) const {
    for (const auto& line : lines) {
      if (line.message == message) return &line;
    }
    return nullptr;
  }
  std::vector<LoggedLine> lines;
};

// User and system variables in two maps; every other operation reports E_NOTIMPL.
class MemoryApplicationManager : public IApplicationManager {
 public:
  std::map<std::string, std::string> user;
  std::map<std::string, std::string> system;

  Status AddSystemVariable(const std::string& name, const std::string& value) override {
    system[LowerName(name)] = value;
    return S_OK;
  }
  Status RemoveSystemVariable(const std::string& name) override {
    system.erase(LowerName(name));
    return S_OK;
  }
  Status get_SystemVariableValue(const std::string& name, std::string* value) override {
    auto found = system.find(LowerName(name));
    *value = found == system.end() ? std::string() : found->second;
    return S_OK;
  }
  Status get_SystemVariableCount(std::uint32_t* count) override {
    *count = static_cast<std::uint32_t>(system.size());
    return S_OK;
  }
  Status get_SystemVariableNames(std::uint32_t, std::string*) override { return E_NOTIMPL; }
  Status AddTesterCreator(const std::string&, VariantBool*) override { return E_NOTIMPL; }
  Status RemoveTesterCreator(const std::string&, VariantBool*) override { return E_NOTIMPL; }
  Status get_TesterCreatorCount(std::uint32_t*) override { return E_NOTIMPL; }
  Status get_TesterCreators(std::uint32_t, std::string*) override { return E_NOTIMPL; }
  Status get_SMTPServerName(std::string*) override { return E_NOTIMPL; }
  Status put_SMTPServerName(const std::string&) override { return E_NOTIMPL; }
  Status smtpAuthentication(const std::string&, const std::string&) override { return E_NOTIMPL; }
  Status get_smtpAuthenticationUserName(std::string*) override { return E_NOTIMPL; }
  Status get_EmailAddresses(std::string*) override { return E_NOTIMPL; }
  Status put_EmailAddresses(const std::string&) override { return E_NOTIMPL; }
  Status get_AllTestCreatorsCount(std::uint32_t*) override { return E_NOTIMPL; }
  Status get_AllTestCreators(std::uint32_t, std::shared_ptr<ITesterCreator>*) override { return E_NOTIMPL; }
  Status get_Version(std::string*) override { return E_NOTIMPL; }
  Status get_BuildTimeStamp(std::string*) override { return E_NOTIMPL; }
  Status LoadCreators() override { return S_OK; }
  Status UnloadCreators() override { return S_OK; }
  Status AddBatchQueueItemCreator(const std::string&, VariantBool*) override { return E_NOTIMPL; }
  Status get_BatchQueueItemCreatorCount(std::uint32_t*) override { return E_NOTIMPL; }
  Status get_BatchQueueItemCreatorCreators(std::uint32_t, std::string*) override { return E_NOTIMPL; }
  Status RemoveBatchQueueItemCreator(const std::string&, VariantBool*) override { return E_NOTIMPL; }
  Status AddUserVariable(const std::string& name, const std::string& value) override {
    user[LowerName(name)] = value;
    return S_OK;
  }
  Status RemoveUserVariable(const std::string& name) override {
    user.erase(LowerName(name));
    return S_OK;
  }
  Status get_UserVariableValue(const std::string& name, std::string* value) override {
    auto found = user.find(LowerName(name));
    *value = found == user.end() ? std::string() : found->second;
    return S_OK;
  }
  Status get_UserVariableCount(std::uint32_t* count) override {
    *count = static_cast<std::uint32_t>(user.size());
    return S_OK;
  }
  Status get_UserVariableNames(std::uint32_t, std::string*) override { return E_NOTIMPL; }
  Status LoadResults(const std::string&, std::shared_ptr<IUnknown>*) override { return E_NOTIMPL; }
};

// A tester that counts Close calls and reports a fixed type and status.
class CountingTester : public ITester {
 public:
  int closes = 0;
  Status get_ActionCount(std::uint32_t* count) override { *count = 0; return S_OK; }
  Status get_Actions(std::uint32_t, std::string*) override { return E_INVALIDARG; }
  Status Execute(std::uint32_t, VariantArrayPtr, VariantArrayPtr*, Result*) override { return E_FAIL; }
  Status ActionDocumentation(std::uint32_t, std::string*, TextArray*, TextArray*) override { return E_FAIL; }
  Status Open(VariantArrayPtr, VariantBool* opened) override { *opened = kVariantTrue; return S_OK; }
  Status Close(VariantBool* closed) override { ++closes; *closed = kVariantTrue; return S_OK; }
  Status Abort() override { return S_OK; }
  Status get_TesterType(std::string* type) override { *type = "meter"; return S_OK; }
  Status get_Status(std::string* status) override { *status = "ready"; return S_OK; }
  Status SetTrace(std::shared_ptr<ITrace>) override { return S_OK; }
};

template <typename Context>
class BasicFakeScript : public Context {
 public:
  RecordingLogger log;
  VariableTable table;
  MemoryApplicationManager manager;
  bool playback = false;
  std::map<std::string, std::string> recorded;
  std::vector<ScriptItem*> current_items;
  std::vector<ScriptItem*> executed;
  std::int64_t now = 0, loaded = 0, started = 0;
  std::uint32_t iteration_number = 3;
  // Action calls answer with these values.
  VariableValue action_values;

  Logger& logger() override { return log; }
  VariableTable& variables() override { return table; }
  IApplicationManager* application_manager() override { return &manager; }
  bool playback_active() const override { return playback; }
  bool RecordedVariable(const std::string& name, std::string* text) override {
    auto found = recorded.find(name);
    if (found == recorded.end()) return false;
    *text = found->second;
    return true;
  }
  void SetCurrentItem(ScriptItem* item) override { current_items.push_back(item); }
  std::uint32_t iteration() const override { return iteration_number; }
  void FireExecuted(ScriptItem* item) override { executed.push_back(item); }
  std::int64_t current_time() const override { return now; }
  std::int64_t load_time() const override { return loaded; }
  std::int64_t run_time() const override { return started; }

  // A minimal chain runner: assignments, `local`, and blocks whose first child starts a
  // nested chain; scopes end as the real executor ends them.
  Result ExecuteChain(ScriptItem* first) override {
    ChainScope scope;
    IScriptContext& script = *this;
    Result aggregate = TestPassed;
    ScriptItem* parent = first ? first->parent() : nullptr;
    std::size_t index = parent ? IndexOf(parent, first) : 0;
    for (ScriptItem* item = first; item;) {
      Result result = TestPassed;
      if (item->type() == assignmentItem) {
        result = ExecuteAssignment(item);
      } else if (item->type() == localItem) {
        result = scope.ExecuteLocal(script, item);
      } else if (item->child_count() > 0) {
        result = ExecuteChain(item->child(0));
      }
      if (aggregate == TestPassed) aggregate = result;
      ++index;
      item = parent && index < parent->child_count() ? parent->child(index) : nullptr;
    }
    scope.End(script, returned.get());
    return aggregate;
  }
  Result ExecuteAssignment(ScriptItem* assignment) override {
    VariableValue value;
    for (std::size_t i = 1; i < assignment->child_count(); ++i) {
      Result result = EvaluateArrayElement(*this, assignment->child(i), &value);
      if (result != TestPassed) return result;
    }
    SetVariable(*this, assignment->child(0)->text(), std::move(value));
    return TestPassed;
  }
  ActionOutcome CallAction(ScriptItem*, VariableValue* values, const std::string&) override {
    for (const auto& element : action_values.elements()) values->Append(element);
    return {TestPassed, Recording::kStatusOnly};
  }

  // The value a function call is returning while its body's chains end.
  std::unique_ptr<VariableValue> returned;

 private:
  static std::size_t IndexOf(ScriptItem* parent, ScriptItem* child) {
    for (std::size_t i = 0; i < parent->child_count(); ++i) {
      if (parent->child(i) == child) return i;
    }
    return parent->child_count();
  }
};

using FakeScript = BasicFakeScript<IScriptContext>;

// The script as statements see it, with the real executor behind every chain, assignment and
// action call. A test sets [state] (a stop that has come) and reads what the run hooks saw.
class FakeExecutionContext : public BasicFakeScript<IExecutionContext> {
 public:
  std::atomic<ScriptState> run_state{ScriptRunning};
  bool pause_on_error_flag = false;
  bool step = false;
  int pause_requests = 0;
  // The tester between BeginTesterCall and EndTesterCall, and the calls made.
  std::shared_ptr<ITester> current_tester;
  int tester_calls_begun = 0;
  int tester_calls_ended = 0;
  std::vector<std::string> moved_logs, copied_logs;
  ActionRecord record;  // never started: its lines are dropped
  Event ended;

  Result ExecuteChain(ScriptItem* first) override { return StatementExecutor(*this).ExecuteChain(first); }
  Result ExecuteAssignment(ScriptItem* assignment) override {
    return StatementExecutor(*this).ExecuteAssignment(assignment);
  }
  ActionOutcome CallAction(ScriptItem* action, VariableValue* values, const std::string& variable_name) override {
    return StatementExecutor(*this).CallAction(action, values, variable_name);
  }
  // Runs the statements of [root] as a run would.
  Result Run(ScriptItem* root) {
    FunctionReturn target;
    return StatementExecutor(*this).ExecuteSequence(root->child(0), target);
  }

  RunCourse WaitIfPaused() override { return RunCourse::kGoOn; }
  ScriptState state() const override { return run_state.load(); }
  bool step_flag() const override { return step; }
  void ClearStepFlag() override { step = false; }
  bool pause_on_error() const override { return pause_on_error_flag; }
  void RequestPause() override { ++pause_requests; }
  void RequestStop() override { run_state.store(ScriptStopping); }
  void SetCurrentTime(std::int64_t seconds) override { now = seconds; }
  void BeginTesterCall(std::shared_ptr<ITester> tester) override {
    current_tester = std::move(tester);
    ++tester_calls_begun;
  }
  void EndTesterCall() override {
    current_tester.reset();
    ++tester_calls_ended;
  }
  std::shared_ptr<ScriptPlayback> playback() override { return nullptr; }
  ActionRecord& action_record() override { return record; }
  void AddMovedLog(const std::string& pattern) override { moved_logs.push_back(pattern); }
  void AddCopiedLog(const std::string& pattern) override { copied_logs.push_back(pattern); }
  Event& thread_ended() override { return ended; }
  std::shared_ptr<ITrace> MakeTrace(const std::string& variable_name) override {
    auto trace = std::make_shared<Trace>();
    trace->Bind(&log, variable_name);
    return trace;
  }
  VariableValue::TesterWrapHook* tester_wrap_hook() override { return nullptr; }
  std::string script_directory() const override { return std::string(); }
};

// Tree building shorthands.
inline ScriptItemPtr Item(ItemType type, std::string text, std::vector<ScriptItemPtr> children = {}) {
  auto item = ScriptItem::Make(type, std::move(text), "test.odl", 7);
  for (auto& child : children) item->AddChild(std::move(child));
  return item;
}
inline ScriptItemPtr Int(std::int32_t value) { return Item(integerItem, std::to_string(value)); }
inline ScriptItemPtr Dbl(std::string text) { return Item(doubleItem, std::move(text)); }
inline ScriptItemPtr Str(std::string text) { return Item(stringItem, std::move(text)); }
inline ScriptItemPtr Id(std::string name) { return Item(idItem, std::move(name)); }
inline ScriptItemPtr Op(std::string op, ScriptItemPtr left, ScriptItemPtr right) {
  return Item(arithmeticItem, std::move(op), {std::move(left), std::move(right)});
}
inline ScriptItemPtr Assign(std::string name, std::vector<ScriptItemPtr> values) {
  values.insert(values.begin(), Id(std::move(name)));
  return Item(assignmentItem, "=", std::move(values));
}
inline ScriptItemPtr Index(std::string name, std::vector<ScriptItemPtr> indexes) {
  indexes.insert(indexes.begin(), Id(std::move(name)));
  return Item(arrayIndexItem, "[]", std::move(indexes));
}

// An Array value of the given elements.
template <typename... T>
VariableValue Values(T... elements) {
  VariableValue value;
  (value.Append(VariableValue(elements)), ...);
  return value;
}

}  // namespace ordalis::testing_support
