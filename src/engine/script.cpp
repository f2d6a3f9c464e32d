#include "engine/script.h"

#include "engine/script_runtime.h"

namespace ordalis {

std::shared_ptr<CScript> CScript::Create(std::shared_ptr<IApplicationManager> manager, Pacing pacing) {
  return std::shared_ptr<CScript>(new CScript(ScriptRuntime::Create(std::move(manager), pacing)));
}

CScript::CScript(std::shared_ptr<ScriptRuntime> runtime) : runtime_(std::move(runtime)) {}

CScript::~CScript() { runtime_->Shutdown(); }

IConnectionPoint<IScriptEvents>& CScript::ScriptEvents() { return runtime_->events().sinks(); }

IConnectionPoint<ITraceEvents>& CScript::TraceEvents() { return runtime_->log().sinks(); }

// The sources live in the runtime, which the run thread shares: a client's hold on a source
// keeps them valid even after the face has gone.
Status CScript::FindConnectionPoint(std::shared_ptr<IConnectionPoint<IScriptEvents>>* point) {
  if (point == nullptr) return E_POINTER;
  *point = std::shared_ptr<IConnectionPoint<IScriptEvents>>(runtime_, &runtime_->events().sinks());
  return S_OK;
}

Status CScript::FindConnectionPoint(std::shared_ptr<IConnectionPoint<ITraceEvents>>* point) {
  if (point == nullptr) return E_POINTER;
  *point = std::shared_ptr<IConnectionPoint<ITraceEvents>>(runtime_, &runtime_->log().sinks());
  return S_OK;
}

Status CScript::FindConnectionPoint(std::shared_ptr<IConnectionPoint<IBatchQueueEvents>>* point) {
  if (point == nullptr) return E_POINTER;
  point->reset();
  return E_NOINTERFACE;
}

void CScript::SetScriptEventsClient(std::shared_ptr<IScriptEventsClient> client) {
  runtime_->events().SetClient(std::move(client));
}

void CScript::SetTraceEventsClient(std::shared_ptr<ITraceEventsClient> client, LoggingLevel lowest) {
  runtime_->log().SetTraceClient(std::move(client), lowest);
}

// Operations that tell clients something may see the face go from inside the telling (a client
// may drop its last reference in any notification); they hold the runtime for the length of
// the call and touch nothing of the face afterwards.

bool CScript::MakeRemoteRoot() {
  std::shared_ptr<ScriptRuntime> runtime = runtime_;
  return runtime->MakeRemoteRoot();
}

bool CScript::RemoteRun(const std::string& text) {
  std::shared_ptr<ScriptRuntime> runtime = runtime_;
  return runtime->RemoteRun(text);
}

void CScript::SetFileNames(const std::string& path) { runtime_->document().SetFileNames(path); }

void CScript::SetRunEndObserver(std::shared_ptr<IRunEndObserver> observer) {
  runtime_->settings().set_run_end_observer(std::move(observer));
}

void CScript::Log(LoggingLevel level, const std::string& variable_name, const std::string& message) {
  runtime_->log().Log(level, variable_name, message);
}

void CScript::set_pacing(Pacing pacing) { runtime_->settings().set_pacing(pacing); }

ScriptItemPtr CScript::root() const { return runtime_->document().root(); }

std::string CScript::script_file_name() const { return runtime_->document().Current()->file_name; }

Result CScript::overall_result() const { return runtime_->overall_result(); }

std::string CScript::results_xml_path() const {
  std::string stem = runtime_->latest_results().stem();
  return stem.empty() ? std::string() : ResultsXmlName(stem);
}

std::vector<std::string> CScript::results_problems() const { return runtime_->latest_results().problems(); }

std::uint32_t CScript::iteration_counter() const { return runtime_->controller().iteration(); }

VariableTable& CScript::variables() { return runtime_->variables(); }
RunJudge* CScript::judge() { return runtime_->judge(); }

// ---- IScript: loading and the state machine -----------------------------------------------------

Status CScript::Load(const std::string& file_name, VariantBool* loaded) {
  if (loaded == nullptr) return E_POINTER;
  try {
    runtime_->set_overall_result(TestNotRun);
    runtime_->controller().set_remote_hold(false);
    runtime_->settings().remote_summary.store(false);
    *loaded = kVariantFalse;
    // A load is valid once it has started, whatever the loader finds: errors show in the tree,
    // the batch status and the overall result.
    LoadOutcome outcome = runtime_->document().Load(file_name);
    *loaded = kVariantTrue;
    if (outcome == LoadOutcome::kClean) {
      runtime_->controller().set_batch_status(BatchQueueItemNotRunning);
    } else {
      runtime_->controller().set_batch_status(BatchQueueItemFailed);
      runtime_->set_overall_result(TestFailed);
    }
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

Status CScript::get_Item(std::shared_ptr<IScriptItem>* item) {
  if (item == nullptr) return E_POINTER;
  *item = root();
  return S_OK;
}

Status CScript::get_State(ScriptState* state) {
  if (state == nullptr) return E_POINTER;
  *state = runtime_->controller().state();
  return S_OK;
}

Status CScript::Stop() {
  std::shared_ptr<ScriptRuntime> runtime = runtime_;
  runtime->Stop();
  return S_OK;
}

Status CScript::Run() {
  std::shared_ptr<ScriptRuntime> runtime = runtime_;
  runtime->controller().Run(RunController::StepMode::kContinue);
  return S_OK;
}

Status CScript::Step() {
  std::shared_ptr<ScriptRuntime> runtime = runtime_;
  runtime->controller().Run(RunController::StepMode::kSingle);
  return S_OK;
}

Status CScript::Pause() {
  std::shared_ptr<ScriptRuntime> runtime = runtime_;
  runtime->controller().Pause();
  return S_OK;
}

Status CScript::get_CurrentItem(std::shared_ptr<IScriptItem>* item) {
  if (item == nullptr) return E_POINTER;
  *item = runtime_->document().CurrentItem();
  return S_OK;
}

Status CScript::put_RunningContinuously(VariantBool value) {
  std::shared_ptr<ScriptRuntime> runtime = runtime_;
  bool on = value == kVariantTrue;
  runtime->controller().set_running_continuously(on);
  if (!on) return S_OK;
  if (runtime->controller().state() == ScriptNotRunning) runtime->ResetRootResults();
  runtime->controller().Run(RunController::StepMode::kContinue);
  return S_OK;
}

Status CScript::get_RunningContinuously(VariantBool* value) {
  if (value == nullptr) return E_POINTER;
  *value = ToVariantBool(runtime_->controller().running_continuously());
  return S_OK;
}

Status CScript::SaveResults(const std::string& file_name) {
  return runtime_->SaveResults(file_name) ? S_OK : E_FAIL;
}

Status CScript::get_Manager(std::shared_ptr<IApplicationManager>* manager) {
  if (manager == nullptr) return E_POINTER;
  *manager = runtime_->manager();
  return S_OK;
}

Status CScript::PlaybackFile(const std::string& file_name) {
  if (runtime_->controller().state() != ScriptNotRunning) return E_FAIL;
  auto source = std::make_shared<ScriptPlayback>();
  source->Load(file_name);
  runtime_->settings().set_playback(std::move(source));
  return S_OK;
}

// ---- IScript: variables -------------------------------------------------------------------------

Status CScript::get_VariableCount(std::uint32_t* count) {
  if (count == nullptr) return E_POINTER;
  *count = static_cast<std::uint32_t>(variables().Count());
  return S_OK;
}

Status CScript::get_variableName(std::uint32_t index, std::string* name) {
  if (name == nullptr) return E_POINTER;
  VariableValue ignored;
  if (!variables().EntryAt(index, name, &ignored)) return E_INVALIDARG;
  return S_OK;
}

Status CScript::get_VariableValue(const std::string& name, VariantArrayPtr* value) {
  if (value == nullptr) return E_POINTER;
  VariableValue found;
  if (!variables().Get(name, &found)) return E_INVALIDARG;
  *value = found.ToVariantArray();
  return S_OK;
}

Status CScript::put_VariableValue(const std::string& name, VariantArrayPtr value) {
  if (!value) return E_POINTER;
  VariableValue converted;
  converted.ClearToArray();
  converted.AppendFromVariantArray(value, runtime_.get(), name);
  return variables().Replace(name, std::move(converted)) ? S_OK : E_INVALIDARG;
}

Status CScript::VariableDetails(std::uint32_t index, std::string* name, std::string* text_value) {
  if (name == nullptr || text_value == nullptr) return E_POINTER;
  VariableValue value;
  if (!variables().EntryAt(index, name, &value)) {
    name->clear();
    text_value->clear();
    return S_OK;
  }
  *text_value = value.ListText();
  return S_OK;
}

// ---- IScript: settings ----------------------------------------------------------------------------

Status CScript::get_PauseOnError(VariantBool* value) {
  if (value == nullptr) return E_POINTER;
  *value = ToVariantBool(runtime_->settings().pause_on_error.load());
  return S_OK;
}

Status CScript::put_PauseOnError(VariantBool value) {
  runtime_->settings().pause_on_error.store(value == kVariantTrue);
  return S_OK;
}

Status CScript::put_EmailAddress(const std::string& addresses) {
  runtime_->settings().set_email_address(addresses);
  return S_OK;
}

Status CScript::get_AutoReset(VariantBool* value) {
  if (value == nullptr) return E_POINTER;
  *value = ToVariantBool(runtime_->settings().auto_reset.load());
  return S_OK;
}

Status CScript::put_AutoReset(VariantBool value) {
  runtime_->settings().auto_reset.store(value == kVariantTrue);
  return S_OK;
}

Status CScript::get_VersionUnderTest(std::string* version) {
  if (version == nullptr) return E_POINTER;
  *version = runtime_->settings().version_under_test();
  return S_OK;
}

Status CScript::put_VersionUnderTest(const std::string& version) {
  runtime_->settings().set_version_under_test(version);
  return S_OK;
}

// ---- batch item face ----------------------------------------------------------------------------

Status CScript::get_Version(std::string* version) {
  if (version == nullptr) return E_POINTER;
  *version = "3.1e";
  return S_OK;
}

Status CScript::get_Description(std::string* description) {
  if (description == nullptr) return E_POINTER;
  *description = "Script File";
  return S_OK;
}

// The batch queue has loaded the script already (through Load); neither argument is used.
Status CScript::Execute(const std::string&, std::shared_ptr<ITrace>) {
  std::shared_ptr<ScriptRuntime> runtime = runtime_;
  runtime->controller().ExecuteBatch();
  return S_OK;
}

Status CScript::get_Status(BatchQueueItemStatus* status) {
  if (status == nullptr) return E_POINTER;
  const RunController& controller = runtime_->controller();
  *status = controller.state() == ScriptRunning ? BatchQueueItemRunning : controller.batch_status();
  return S_OK;
}

Status CScript::Abort() { return Stop(); }

// Waits, up to ten minutes, for a stopping run to end before clearing the results.
Status CScript::Reset() {
  std::shared_ptr<ScriptRuntime> runtime = runtime_;
  runtime->Stop();
  runtime->controller().WaitWhileStopping(600000);
  runtime->ResetRootResults();
  runtime->controller().set_batch_status(BatchQueueItemNotRunning);
  runtime->events().ResultsReset();
  runtime->controller().ResetIteration();
  return S_OK;
}

Status CScript::get_ResultsFile(std::string* file) {
  if (file == nullptr) return E_POINTER;
  *file = ResultsXmlName(runtime_->latest_results().stem());
  return S_OK;
}

Status CScript::get_ResultsDirectory(std::string* directory) {
  if (directory == nullptr) return E_POINTER;
  *directory = runtime_->ResultsDirectory();
  return S_OK;
}

Status CScript::put_ResultsDirectory(const std::string& directory) {
  runtime_->settings().set_results_directory(directory);
  return S_OK;
}

KeepRuns CScript::keep_runs() const { return runtime_->settings().keep_runs.load(); }

void CScript::set_keep_runs(KeepRuns keep_runs) { runtime_->settings().keep_runs.store(keep_runs); }

}  // namespace ordalis
