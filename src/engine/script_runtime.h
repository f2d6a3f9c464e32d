#pragma once
// ScriptRuntime: everything one script object is while it lives — its document, variables,
// log, events, settings, run controller and the session of the run in progress — shared by the
// automation face (CScript) and the run thread. The face forwards client calls here; the run
// thread holds the runtime until it ends, so destroying the face, even from a notification on
// the run thread, never frees what the thread still uses.
//
// It is what statements see of the script (IExecutionContext) and what the run thread does in
// each run (IRunBody): prepare the run, execute the tree — holding between remote chunks — and
// wind the run up.

#include <atomic>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "engine/current_tester.h"
#include "engine/run_controller.h"
#include "engine/run_results.h"
#include "engine/run_session.h"
#include "engine/script_document.h"
#include "engine/script_events.h"
#include "engine/script_logger.h"
#include "engine/script_settings.h"
#include "interp/run_judge.h"
#include "interp/statement_executor.h"
#include "interp/variable_table.h"

namespace ordalis {

class ScriptRuntime : public IExecutionContext,
                      public IRunBody,
                      public VariableValue::TesterWrapHook,
                      public std::enable_shared_from_this<ScriptRuntime> {
 public:
  // A runtime with its run thread running. [manager] may be null.
  static std::shared_ptr<ScriptRuntime> Create(std::shared_ptr<IApplicationManager> manager, Pacing pacing);
  ~ScriptRuntime() override;

  // The parts, for the automation face. Each is safe to use from any thread.
  ScriptDocument& document() { return *document_; }
  ScriptLogger& log() { return *logger_; }
  ScriptEvents& events() { return events_; }
  ScriptSettings& settings() { return settings_; }
  RunController& controller() { return controller_; }
  const LatestResults& latest_results() const { return latest_; }
  const std::shared_ptr<IApplicationManager>& manager() const { return manager_; }

  // Client operations with effects beyond one part.
  void Stop();
  // Stops a run in progress and ends the run thread (the face is going).
  void Shutdown();
  bool MakeRemoteRoot();
  bool RemoteRun(const std::string& text);
  void ResetRootResults();
  // Writes the results document of the root under [file_name]; false when it cannot.
  bool SaveResults(const std::string& file_name);
  // The results directory: the override, or <script directory>/Results.
  std::string ResultsDirectory() const;
  Result overall_result() const { return overall_result_.load(); }
  void set_overall_result(Result result) { overall_result_.store(result); }

  // IScriptContext and IExecutionContext (run thread)
  Logger& logger() override { return judge_; }
  // Counts the run's faults; a strict run (set_strictness) fails the statements that have one.
  RunJudge* judge() override { return &judge_; }
  VariableTable& variables() override { return variables_; }
  IApplicationManager* application_manager() override { return manager_.get(); }
  bool playback_active() const override { return settings_.playback() != nullptr; }
  bool RecordedVariable(const std::string& name, std::string* text) override;
  void SetCurrentItem(ScriptItem* item) override { document_->SetCurrentItem(item); }
  std::uint32_t iteration() const override { return controller_.iteration(); }
  void FireExecuted(ScriptItem* item) override;
  std::int64_t current_time() const override { return current_time_.load(std::memory_order_relaxed); }
  std::int64_t load_time() const override { return load_time_; }
  std::int64_t run_time() const override { return run_time_.load(std::memory_order_relaxed); }
  Result ExecuteChain(ScriptItem* first) override;
  Result ExecuteAssignment(ScriptItem* assignment) override;
  ActionOutcome CallAction(ScriptItem* action, VariableValue* values, const std::string& variable_name) override;
  RunCourse WaitIfPaused() override { return controller_.WaitIfPaused(); }
  const RunFlags* run_flags() const override { return &run_flags_; }
  FunctionDefinitions* function_definitions() override { return &function_definitions_; }
  ScriptState state() const override { return controller_.state(); }
  bool step_flag() const override { return controller_.step_flag(); }
  void ClearStepFlag() override { controller_.ClearStepFlag(); }
  bool pause_on_error() const override { return settings_.pause_on_error.load(std::memory_order_relaxed); }
  void RequestPause() override { controller_.Pause(); }
  void RequestStop() override { Stop(); }
  void SetCurrentTime(std::int64_t seconds) override { current_time_.store(seconds, std::memory_order_relaxed); }
  void BeginStatement(ScriptItem* item) final {
    document_->SetCurrentItem(item);
    current_time_.store(static_cast<std::int64_t>(std::time(nullptr)), std::memory_order_relaxed);
  }
  void EndStatement(ScriptItem* item, ScriptItem* next) final {
    document_->SetCurrentItem(next);
    ScriptRuntime::FireExecuted(item);
  }
  void BeginTesterCall(std::shared_ptr<ITester> tester) override { current_tester_.Begin(std::move(tester)); }
  void EndTesterCall() override { current_tester_.End(); }
  std::shared_ptr<ScriptPlayback> playback() override { return settings_.playback(); }
  ActionRecord& action_record() override { return session_->record(); }
  void AddMovedLog(const std::string& pattern) override { session_->AddMovedLog(pattern); }
  void AddCopiedLog(const std::string& pattern) override { session_->AddCopiedLog(pattern); }
  Event& thread_ended() override { return controller_.thread_ended(); }
  std::shared_ptr<ITrace> MakeTrace(const std::string& variable_name) override {
    return logger_->MakeTrace(variable_name);
  }
  VariableValue::TesterWrapHook* tester_wrap_hook() override { return this; }
  std::string script_directory() const override { return document_->Current()->directory; }

  // IRunBody (run thread)
  void RunOnce() override;
  Result Verdict() override { return document_->root()->current_result(); }
  void AfterRun() override { document_->EndRun(); }
  void ResetForNewRun() override;

  // TesterWrapHook
  std::shared_ptr<ITester> WrapTester(std::shared_ptr<ITester> object,
                                      const std::string& variable_name) override;

 private:
  ScriptRuntime(std::shared_ptr<IApplicationManager> manager, Pacing pacing);

  void TellStateChange(ScriptState state, StateChangePath path);
  void StartRun();
  void LogUnreadableSettings();
  void OfferResultSpill(ScriptItem& root);
  RunSession::Variables RecordVariables();
  void ExecuteTree();
  void RecordAggregatedResult();
  void EndRun();
  void TellResultsWritten(const WrittenResults& results);

  const std::shared_ptr<IApplicationManager> manager_;
  ScriptSettings settings_;
  const std::shared_ptr<ScriptDocument> document_;
  const std::shared_ptr<ScriptLogger> logger_;
  ScriptEvents events_;
  VariableTable variables_;
  RunJudge judge_{*logger_};
  CurrentTester current_tester_;
  LatestResults latest_;
  std::atomic<Result> overall_result_{TestNotRun};
  std::atomic<std::int64_t> current_time_;
  const std::int64_t load_time_;
  std::atomic<std::int64_t> run_time_;
  std::unique_ptr<RunSession> session_;  // the run in progress; run thread only
  RunFlags run_flags_;                   // the controller's flags, set once it is made
  FunctionDefinitions function_definitions_;  // run thread only; cleared before each tree runs
  RunController controller_;             // last: its thread ends before the parts above go
};

}  // namespace ordalis
