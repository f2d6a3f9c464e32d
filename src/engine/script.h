#pragma once
// CScript: the automation face of one script object. Clients load a script file, drive it
// with Run, Step, Pause and Stop, watch it through its two event interfaces, read and write its
// variables and find its results files when a run ends. The same object is a batch item, so a
// batch queue can run scripts, and it offers remote control for the script proxy.
//
// The face holds no state of its own: it forwards to the script's runtime (script_runtime.h),
// which the run thread shares, so the face may go at any time — even from a notification on the
// run thread. All operations are safe to call from any thread.

#include <cstdint>
#include <memory>
#include <string>

#include "engine/run_end_observer.h"
#include "engine/run_results.h"
#include "engine/script_events.h"
#include "engine/script_settings.h"
#include "interp/variable_table.h"
#include "language/script_item.h"
#include "ordalis/interfaces.h"
#include "platform/event.h"
#include "trace/trace_events_client.h"

namespace ordalis {

class RunJudge;
class ScriptRuntime;

class CScript : public IScript, public IBatchQueueItem2, public IConnectionPointContainer {
 public:
  // Creates a script object with its run thread running. [manager] may be null.
  static std::shared_ptr<CScript> Create(std::shared_ptr<IApplicationManager> manager,
                                         Pacing pacing = Pacing());
  // Stops a run in progress and ends the run thread; when the last reference goes on the run
  // thread itself, the thread is let go and ends once it returns.
  ~CScript() override;
  CScript(const CScript&) = delete;
  CScript& operator=(const CScript&) = delete;

  // Event sources.
  IConnectionPoint<IScriptEvents>& ScriptEvents();
  IConnectionPoint<ITraceEvents>& TraceEvents();
  void SetScriptEventsClient(std::shared_ptr<IScriptEventsClient> client);
  // The client is told of the log lines from [lowest] up (all of them by default).
  void SetTraceEventsClient(std::shared_ptr<ITraceEventsClient> client, LoggingLevel lowest = finest);

  // Remote control for the script proxy.
  bool MakeRemoteRoot();
  // Appends the statements of [text] and runs them; false when [text] cannot be parsed.
  bool RemoteRun(const std::string& text);
  // Stores [path] as the script path and splits it into file name and directory.
  void SetFileNames(const std::string& path);
  // Told after each run whose results document was written; null removes it.
  void SetRunEndObserver(std::shared_ptr<IRunEndObserver> observer);
  // Writes a line to the script's log, tagged with the place of the item being run.
  void Log(LoggingLevel level, const std::string& variable_name, const std::string& message);

  void set_pacing(Pacing pacing);
  ScriptItemPtr root() const;
  std::string script_file_name() const;
  Result overall_result() const;
  // The path of the latest results document, empty before the first run ends.
  std::string results_xml_path() const;
  // What the latest run could not write (results directory, document, log, record), each with
  // its path and the system's reason; empty when everything was written.
  std::vector<std::string> results_problems() const;
  std::uint32_t iteration_counter() const;
  // The script's variables, as the run sees them.
  VariableTable& variables();
  // Counts the faults of the runs; set_strictness makes the runs strict.
  RunJudge* judge();

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

  // IConnectionPointContainer: script events and trace events; no batch-queue events.
  Status FindConnectionPoint(std::shared_ptr<IConnectionPoint<IScriptEvents>>* point) override;
  Status FindConnectionPoint(std::shared_ptr<IConnectionPoint<ITraceEvents>>* point) override;
  Status FindConnectionPoint(std::shared_ptr<IConnectionPoint<IBatchQueueEvents>>* point) override;

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

  // Which runs the results documents of later runs list (KeepRuns::kAll unless set). Safe to
  // call from any thread; a run that is writing its results keeps the setting it read. A run
  // started with KeepRuns::kFailed keeps a record of each item's first Passed run only, and
  // counts the rest.
  KeepRuns keep_runs() const;
  void set_keep_runs(KeepRuns keep_runs);

 private:
  explicit CScript(std::shared_ptr<ScriptRuntime> runtime);

  const std::shared_ptr<ScriptRuntime> runtime_;
};

}  // namespace ordalis
