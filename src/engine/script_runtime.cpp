#include "engine/script_runtime.h"

#include <ctime>
#include <filesystem>

#include "settings/application_manager.h"
#include "testers/tester_proxy.h"

namespace ordalis {

namespace {

constexpr const char* kScriptName = "script";

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

}  // namespace

std::shared_ptr<ScriptRuntime> ScriptRuntime::Create(std::shared_ptr<IApplicationManager> manager,
                                                     Pacing pacing) {
  std::shared_ptr<ScriptRuntime> runtime(new ScriptRuntime(std::move(manager), pacing));
  runtime->controller_.Start(runtime);
  return runtime;
}

ScriptRuntime::ScriptRuntime(std::shared_ptr<IApplicationManager> manager, Pacing pacing)
    : manager_(std::move(manager)),
      settings_(pacing),
      document_(std::make_shared<ScriptDocument>()),
      logger_(std::make_shared<ScriptLogger>(document_)),
      current_time_(Now()),
      load_time_(current_time_.load()),
      run_time_(current_time_.load()),
      controller_([this](ScriptState state, StateChangePath path) { TellStateChange(state, path); }) {
  run_flags_ = controller_.flags();
  run_flags_.log = &logger_->script_log();
}

ScriptRuntime::~ScriptRuntime() = default;

// Every change of state is logged, then reported to the client, in the order the changes
// happened and with no lock held.
void ScriptRuntime::TellStateChange(ScriptState state, StateChangePath path) {
  if (logger_->IsLogging(finest)) {
    logger_->Log(finest, kScriptName, "State changed to %s %d", StateName(state), static_cast<int>(path));
  }
  events_.StateChanged(state);
}

// ---- client operations ------------------------------------------------------------------------

void ScriptRuntime::Stop() {
  controller_.Stop([this] { current_tester_.Abort(); });
}

void ScriptRuntime::Shutdown() {
  controller_.set_remote_hold(false);
  // A run in progress is stopped so the run thread can end; it still finishes its run.
  if (controller_.state() != ScriptNotRunning) Stop();
  controller_.Shutdown();
}

bool ScriptRuntime::MakeRemoteRoot() {
  try {
    document_->MakeRemoteRoot();
    controller_.set_remote_hold(true);
    settings_.remote_summary.store(true);
    events_.Reset();
    controller_.PaceWait(settings_.remote_root_ms());
    return true;
  } catch (...) {
    return false;
  }
}

// The chunk is parsed here, apart from the published tree; the run thread publishes it when
// the run reaches it, so a client walking the tree never sees it change.
bool ScriptRuntime::RemoteRun(const std::string& text) {
  try {
    overall_result_.store(TestNotRun);
    if (!document_->QueueChunk(text)) return false;
    controller_.set_remote_hold(true);
    settings_.remote_summary.store(true);
    logger_->Log(finest, kScriptName, "%s", "    Calling Run()");
    controller_.Run(RunController::StepMode::kContinue);
    return true;
  } catch (...) {
    return false;
  }
}

void ScriptRuntime::ResetRootResults() { document_->root()->ResetResults(); }

std::string ScriptRuntime::ResultsDirectory() const {
  std::shared_ptr<const LoadedScript> loaded = document_->Current();
  return MakeRunPlace(loaded->directory, loaded->file_name, settings_.results_directory()).ResultsDirectory();
}

bool ScriptRuntime::SaveResults(const std::string& file_name) {
  std::shared_ptr<const LoadedScript> loaded = document_->Current();
  ResultsHeader header = HeaderForNow(loaded->file_name, settings_.version_under_test(), latest_.logs());
  header.keep_runs = settings_.keep_runs.load();
  return WriteResults(file_name, *loaded->root, header, ResultsDirectory());
}

// ---- what statements see of the script --------------------------------------------------------

bool ScriptRuntime::RecordedVariable(const std::string& name, std::string* text) {
  auto source = settings_.playback();
  return source && source->RecordedVariableValue(name, text);
}

void ScriptRuntime::FireExecuted(ScriptItem* item) {
  if (item == nullptr) return;
  events_.Executed(item);
  if (std::uint32_t pace = settings_.after_executed_ms(); pace > 0) controller_.PaceWait(pace);
}

Result ScriptRuntime::ExecuteChain(ScriptItem* first) { return StatementExecutor(*this).ExecuteChain(first); }

Result ScriptRuntime::ExecuteAssignment(ScriptItem* assignment) {
  return StatementExecutor(*this).ExecuteAssignment(assignment);
}

ActionOutcome ScriptRuntime::CallAction(ScriptItem* action, VariableValue* values,
                                        const std::string& variable_name) {
  return StatementExecutor(*this).CallAction(action, values, variable_name);
}

std::shared_ptr<ITester> ScriptRuntime::WrapTester(std::shared_ptr<ITester> object,
                                                   const std::string& variable_name) {
  auto proxy = std::make_shared<TesterProxy>();
  if (!proxy->Attach(std::move(object))) return nullptr;
  try {
    proxy->SetTrace(MakeTrace(variable_name));
  } catch (...) {
    // A tester that refuses its trace is still usable.
  }
  return proxy;
}

// ---- one run ------------------------------------------------------------------------------------

void ScriptRuntime::RunOnce() {
  StartRun();
  ExecuteTree();
  EndRun();
  events_.ForgetRunThreadClient();
  controller_.PaceWait(settings_.end_of_run_ms());
}

void ScriptRuntime::ResetForNewRun() {
  ResetRootResults();
  events_.ResultsReset();
}

void ScriptRuntime::StartRun() {
  std::shared_ptr<const LoadedScript> loaded = document_->Current();
  session_ = std::make_unique<RunSession>(
      MakeRunPlace(loaded->directory, loaded->file_name, settings_.results_directory()), *logger_);
  run_time_.store(Now());
  if (settings_.auto_reset.load()) ResetForNewRun();
  OfferResultSpill(*loaded->root);
  events_.Started();
  logger_->TakeLogFileFailure();  // a line lost before this run is not this run's fault
  logger_->SetLogPath(session_->place().WorkingPath(".log"));
  session_->Begin(RecordVariables());
  logger_->LogClear();
  logger_->Log(information, "Script", "%s", "Start");
  LogUnreadableSettings();
  controller_.BeginIteration();
  variables_.Clear();
}

// A settings file that could not be read leaves the run without its system and user variables,
// mail settings and creators: the run's log says so at its start, for every kind of client.
void ScriptRuntime::LogUnreadableSettings() {
  const auto* settings = dynamic_cast<const CApplicationManager*>(manager_.get());
  if (settings == nullptr) return;
  for (const std::string& error : settings->LoadErrors()) {
    logger_->Log(severe, kScriptName, "The settings were not read: %s", error.c_str());
  }
}

// Result records past a bounded window go to a spill file in the results directory, so a run's
// memory does not grow with the results it records. Results kept from earlier runs (no auto
// reset) keep the spill they were written to.
void ScriptRuntime::OfferResultSpill(ScriptItem& root) {
  if (root.HasResultSpill()) return;
  SpillWindow window;
  // A document that lists only the runs that did not pass needs no record of any Passed run
  // but the first of each statement.
  window.fold_passed = settings_.keep_runs.load() == KeepRuns::kFailed;
  root.SetResultSpill(std::make_shared<ResultSpill>(session_->place().ResultsDirectory(), window));
}

// The variables the record file lists: the recorded ones during playback (the source is
// rewound for the run), otherwise the application manager's system variables.
RunSession::Variables ScriptRuntime::RecordVariables() {
  RunSession::Variables variables;
  if (auto source = settings_.playback()) {
    source->Rewind();
    for (const auto& entry : source->recorded_variables()) variables.push_back(entry);
    return variables;
  }
  std::uint32_t count = 0;
  if (!manager_ || Failed(manager_->get_SystemVariableCount(&count))) return variables;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::string name, value;
    if (Succeeded(manager_->get_SystemVariableNames(i, &name)) &&
        Succeeded(manager_->get_SystemVariableValue(name, &value))) {
      variables.emplace_back(name, value);
    }
  }
  return variables;
}

// Executes from the current item. A remote-controlled run then holds, paused, until the next
// chunk comes (each RemoteRun resumes it) or until Stop releases the hold, which ends the run
// with the chunks' aggregated result on the root.
void ScriptRuntime::ExecuteTree() {
  for (;;) {
    bool adopted = false;
    ScriptItemPtr start = document_->TakeStart(&adopted);
    if (adopted) events_.Reset();
    function_definitions_.Clear();  // the items of a tree run before may be gone
    FunctionReturn outside_any_function;
    overall_result_.store(StatementExecutor(*this).ExecuteSequence(start.get(), outside_any_function));
    controller_.HoldForRemote([this] { return document_->HasPendingChunk(); });
    if (settings_.remote_summary.load() && !controller_.remote_hold()) {
      RecordAggregatedResult();
      FireExecuted(document_->root().get());
    }
    if (!controller_.remote_hold()) break;
    if (controller_.WaitIfPaused() == RunCourse::kEndThread) break;
  }
}

// The chunks' results folded into one: an error anywhere wins, then a failure, then a warning,
// then a pass.
void ScriptRuntime::RecordAggregatedResult() {
  ScriptItemPtr root = document_->root();
  Result aggregate = TestNotRun;
  for (const ScriptItemPtr& child : root->children()) {
    if (child->CountOf(TestPassed) > 0 && aggregate == TestNotRun) aggregate = TestPassed;
    if (child->CountOf(TestError) > 0) aggregate = TestError;
    if (child->CountOf(TestFailed) > 0 && aggregate != TestError) aggregate = TestFailed;
    if (child->CountOf(TestWarning) > 0 && (aggregate == TestNotRun || aggregate == TestPassed)) {
      aggregate = TestWarning;
    }
  }
  root->RecordResult(aggregate, controller_.iteration(), 0.0);
}

// The logs move into the results, the testers close, the record and log file go to the run's
// names, and the results document and summary mail are written.
void ScriptRuntime::EndRun() {
  FinishedRun run = session_->CloseRun(variables_, static_cast<std::time_t>(Now()));
  logger_->Log(information, "Script", "%s", "End");
  session_->FileRun(run);
  // A log that lost lines is a file of the run that could not be written, like the others.
  if (std::string failure = logger_->TakeLogFileFailure(); !failure.empty()) {
    run.problems.insert(run.problems.begin(), failure);
  }
  std::shared_ptr<const LoadedScript> loaded = document_->Current();
  bool written = false;
  if (run.claim == FinishedRun::Claim::kClaimed) {
    // Lines after the run (its state changes, the mail conversation) go to the run's own log.
    logger_->SetLogPath(run.names.base_path + ".log");
    ResultsHeader header = HeaderForNow(loaded->file_name, settings_.version_under_test(), run.results_logs);
    header.keep_runs = settings_.keep_runs.load();
    std::string error;
    written = WriteResults(run.stem(), *loaded->root, header, ResultsDirectory(), &error);
    if (!written) {
      std::error_code ignored;
      std::filesystem::remove(ResultsXmlName(run.stem()), ignored);  // the claim, still empty
      run.problems.push_back(error);
    }
  } else {
    logger_->SetLogPath("");
  }
  if (!written && !run.problems.empty()) {
    logger_->Log(severe, kScriptName, "The results of this run were not written: %s", run.problems.back().c_str());
  }
  latest_.Set(run, written);
  SummaryMailRequest mail{manager_.get(), settings_.email_address(), loaded->file_name, controller_.iteration()};
  SendSummaryMail(mail, *loaded->root, run, *logger_);
  session_.reset();
  if (written) TellResultsWritten({ResultsXmlName(run.stem()), loaded->root->current_result(), loaded->file_name});
}

// An observer that throws costs the run nothing: the results are already on disk.
void ScriptRuntime::TellResultsWritten(const WrittenResults& results) {
  std::shared_ptr<IRunEndObserver> observer = settings_.run_end_observer();
  if (!observer) return;
  try {
    observer->ResultsWritten(results);
  } catch (const std::exception& error) {
    logger_->Log(severe, kScriptName, "Writing the reports of %s failed: %s", results.results_xml_path.c_str(),
                 error.what());
  } catch (...) {
    logger_->Log(severe, kScriptName, "Writing the reports of %s failed", results.results_xml_path.c_str());
  }
}

}  // namespace ordalis
