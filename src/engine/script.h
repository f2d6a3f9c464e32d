#pragma once
// CScript: one script's item tree, variable table, run thread and results. Clients load a
// script file, drive it with Run, Step, Pause and Stop, watch it through its two event
// interfaces, read and write its variables and find its results files when a run ends. The same
// object is a batch item, so a batch queue can run scripts, and it offers remote control for the
// script proxy.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/run_files.h"
#include "interp/run_judge.h"
#include "interp/statement_executor.h"
#include "mail/results_mail.h"
#include "interp/variable_table.h"
#include "language/script_item.h"
#include "ordalis/interfaces.h"
#include "platform/connection_point.h"
#include "platform/event.h"
#include "testers/action_record.h"
#include "testers/script_playback.h"
#include "trace/logger.h"
#include "trace/script_log.h"
#include "trace/trace_events_client.h"

namespace ordalis {

class TraceSinks;

// In-process observer of a script object's execution events; the script proxy registers one.
class IScriptEventsClient {
 public:
  virtual ~IScriptEventsClient() = default;
  virtual void Executed(ScriptItem* item) = 0;
  virtual void ResultsReset() = 0;
  virtual void Started() = 0;
  virtual void Reset() = 0;
  virtual void StateChanged(ScriptState state) = 0;
};

// The summary of a run as the results mail and `ordalis run` show it: the root's result and
// counts and one row per result block, in tree order.
SummaryMailData SummaryOf(ScriptItem& root);

// The waits that pace clients following a run. The defaults are the component's; tests and the
// command line set them to 0.
struct Pacing {
  std::uint32_t after_executed_ms = 20;
  std::uint32_t end_of_run_ms = 5000;
  std::uint32_t remote_root_ms = 1000;
};

class CScript : public IScript,
                public IBatchQueueItem2,
                public Logger,
                public IExecutionContext,
                public VariableValue::TesterWrapHook,
                public std::enable_shared_from_this<CScript> {
 public:
  // Creates a script object with its run thread running. [manager] may be null.
  static std::shared_ptr<CScript> Create(std::shared_ptr<IApplicationManager> manager,
                                         Pacing pacing = Pacing());
  ~CScript() override;
  CScript(const CScript&) = delete;
  CScript& operator=(const CScript&) = delete;

  // Event sources. Safe to call from any thread.
  IConnectionPoint<IScriptEvents>& ScriptEvents() { return script_events_; }
  IConnectionPoint<ITraceEvents>& TraceEvents();
  void SetScriptEventsClient(std::shared_ptr<IScriptEventsClient> client);
  void SetTraceEventsClient(std::shared_ptr<ITraceEventsClient> client);

  // Remote control for the script proxy.
  bool MakeRemoteRoot();
  bool RemoteRun(const std::string& text);
  // Stores [path] as the script path and splits it into file name and directory.
  void SetFileNames(const std::string& path);

  void set_pacing(Pacing pacing);
  // A value the run sees as a user variable would be seen (the command line's --var).
  ScriptItemPtr root() const;
  std::string script_file_name() const;
  Result overall_result() const { return overall_result_.load(); }
  // The path of the latest results document, empty before the first run ends.
  std::string results_xml_path() const;
  std::uint32_t iteration_counter() const { return iteration_.load(); }

  // IScript
  Status Load(const std::string& file_name, VariantBool* loaded) override;
  Status get_Item(std::shared_ptr<IScriptItem>* item) override;
  Status get_State(ScriptState* state) override;
  Status Stop() override;
  Status Run() override;
  Status Pause() override;
  Status get_CurrentItem(std::shared_ptr<IScriptItem>* item) override;
  Status get_PauseOnError(VariantBool* value) override;
  Status put_PauseOnError(VariantBool value) override;
  Status put_RunningContinuously(VariantBool value) override;
  Status get_RunningContinuously(VariantBool* value) override;
  Status SaveResults(const std::string& file_name) override;
  Status get_Manager(std::shared_ptr<IApplicationManager>* manager) override;
  Status get_VariableCount(std::uint32_t* count) override;
  Status get_variableName(std::uint32_t index, std::string* name) override;
  Status get_VariableValue(const std::string& name, VariantArrayPtr* value) override;
  Status put_VariableValue(const std::string& name, VariantArrayPtr value) override;
  Status put_EmailAddress(const std::string& addresses) override;
  Status Step() override;
  Status PlaybackFile(const std::string& file_name) override;
  Status get_AutoReset(VariantBool* value) override;
  Status put_AutoReset(VariantBool value) override;
  Status VariableDetails(std::uint32_t index, std::string* name, std::string* text_value) override;
  Status get_VersionUnderTest(std::string* version) override;
  Status put_VersionUnderTest(const std::string& version) override;

  // IBatchQueueItem2
  Status get_Version(std::string* version) override;
  Status get_Description(std::string* description) override;
  Status Execute(const std::string& file_name, std::shared_ptr<ITrace> trace) override;
  Status get_Status(BatchQueueItemStatus* status) override;
  Status Abort() override;
  Status Reset() override;
  Status get_ResultsFile(std::string* file) override;
  Status get_ResultsDirectory(std::string* directory) override;
  Status put_ResultsDirectory(const std::string& directory) override;

  // Logger
  using Logger::Log;
  void Log(LoggingLevel level, const std::string& variable_name, const std::string& message) override;
  bool IsLogging(LoggingLevel level) const override;

  // IScriptContext and IExecutionContext (run thread)
  Logger& logger() override { return judge_; }
  // Counts the run's faults; a strict run (set_strictness) fails the statements that have one.
  RunJudge* judge() override { return &judge_; }
  VariableTable& variables() override { return variables_; }
  IApplicationManager* application_manager() override { return manager_.get(); }
  bool playback_active() const override;
  bool RecordedVariable(const std::string& name, std::string* text) override;
  void SetCurrentItem(ScriptItem* item) override;
  std::uint32_t iteration() const override { return iteration_.load(std::memory_order_relaxed); }
  void FireExecuted(ScriptItem* item) override;
  std::int64_t current_time() const override { return current_time_.load(std::memory_order_relaxed); }
  std::int64_t load_time() const override { return load_time_; }
  std::int64_t run_time() const override { return run_time_.load(std::memory_order_relaxed); }
  Result ExecuteChain(ScriptItem* first) override;
  Result ExecuteAssignment(ScriptItem* assignment) override;
  Result CallAction(ScriptItem* action, VariableValue* values, bool* record,
                    const std::string& variable_name) override;
  bool WaitIfPaused() override;
  ScriptState state() const override { return state_.load(); }
  bool step_flag() const override { return step_flag_.load(std::memory_order_relaxed); }
  void ClearStepFlag() override { step_flag_.store(false); }
  bool pause_on_error() const override { return pause_on_error_.load(std::memory_order_relaxed); }
  void RequestPause() override { Pause(); }
  void RequestStop() override { Stop(); }
  void SetCurrentTime(std::int64_t seconds) override { current_time_.store(seconds, std::memory_order_relaxed); }
  void SetCurrentTester(std::shared_ptr<ITester> tester) override;
  std::shared_ptr<ScriptPlayback> playback() override;
  ActionRecord& action_record() override { return action_record_; }
  void AddMovedLog(const std::string& pattern) override;
  void AddCopiedLog(const std::string& pattern) override;
  Event& thread_ended() override { return thread_ended_; }
  std::shared_ptr<ITrace> MakeTrace(const std::string& variable_name) override;
  VariableValue::TesterWrapHook* tester_wrap_hook() override { return this; }
  std::string script_directory() const override;

  // TesterWrapHook
  std::shared_ptr<ITester> WrapTester(std::shared_ptr<ITester> object,
                                      const std::string& variable_name) override;

 private:
  explicit CScript(std::shared_ptr<IApplicationManager> manager, Pacing pacing);

  void RunThread();
  void SetState(ScriptState state, int code_path);
  void StartRun();
  void EndRun();
  void CloseTesters();
  void SendSummaryMail(const RunNames& names);
  void RecordAggregatedResult();
  void RaiseStarted();
  void RaiseResultsReset();
  void RaiseReset();
  void ResetRootResults();
  std::string ResultsDirectory() const;
  // Where the working log and record files are written: script directory + "/Results".
  std::string ResultsWorkingDirectory() const;
  std::string WorkingPath(const char* extension) const;
  void PaceWait(std::uint32_t ms);
  std::shared_ptr<IScriptEventsClient> events_client() const;

  std::shared_ptr<IApplicationManager> manager_;
  std::atomic<std::uint32_t> after_executed_ms_;
  std::atomic<std::uint32_t> end_of_run_ms_;
  std::atomic<std::uint32_t> remote_root_ms_;

  // Held across every change of state and the run event that goes with it; recursive, so a
  // client reacting to a change on the same thread may drive the script again.
  std::recursive_mutex state_mutex_;
  std::atomic<ScriptState> state_{ScriptNotRunning};
  std::atomic<bool> running_continuously_{false};
  std::atomic<bool> pause_on_error_{false};
  std::atomic<bool> auto_reset_{false};
  std::atomic<bool> step_flag_{false};
  std::atomic<bool> remote_hold_{false};
  std::atomic<bool> remote_summary_{false};
  std::atomic<BatchQueueItemStatus> batch_status_{BatchQueueItemNotRunning};
  std::atomic<Result> overall_result_{TestNotRun};
  std::atomic<std::uint32_t> iteration_{0};

  Event run_event_{EventReset::kManual};
  Event exit_event_{EventReset::kManual};
  Event thread_ended_{EventReset::kManual};

  mutable std::mutex mutex_;  // guards the fields below up to the next blank line
  ScriptItemPtr root_;
  std::string script_file_name_;
  std::string script_path_;
  std::string script_directory_;
  std::string email_address_;
  std::string results_directory_override_;
  std::string results_file_stem_;
  std::string version_under_test_;
  std::vector<std::string> moved_logs_;
  std::vector<std::string> copied_logs_;
  std::vector<std::string> results_logs_;
  std::shared_ptr<ScriptPlayback> playback_;
  std::shared_ptr<ITester> current_tester_;
  std::shared_ptr<IScriptEventsClient> events_client_;

  std::atomic<ScriptItem*> current_item_{nullptr};
  std::atomic<std::int64_t> current_time_;
  const std::int64_t load_time_;
  std::atomic<std::int64_t> run_time_;

  VariableTable variables_;
  RunJudge judge_{*this};
  ActionRecord action_record_;
  ConnectionPoint<IScriptEvents> script_events_;
  std::unique_ptr<TraceSinks> trace_sinks_;
  ScriptLog log_;
  std::jthread thread_;
};

}  // namespace ordalis
