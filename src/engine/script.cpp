#include "engine/script.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "engine/results_writer.h"
#include "engine/run_files.h"
#include "language/script_loader.h"
#include "mail/results_mail.h"
#include "settings/application_manager.h"
#include "testers/tester_proxy.h"
#include "trace/trace.h"

namespace ordalis {

namespace fs = std::filesystem;

namespace {

constexpr const char* kScriptName = "script";

const char* StateName(ScriptState state) {
  switch (state) {
    case ScriptRunning: return "ScriptRunning";
    case ScriptPausing: return "ScriptPausing";
    case ScriptPaused: return "ScriptPaused";
    case ScriptStopping: return "ScriptStopping";
    case ScriptNotRunning: return "ScriptNotRunning";
  }
  return "Unknown";
}

ScriptItemPtr NewRoot(const std::string& text, const std::string& file_name) {
  return ScriptItem::Make(rootItem, text, file_name, 0);
}

// Whether [item] or anything below it failed or is in error (a load that produced error items).
bool HasFailure(const ScriptItem& item) {
  Result result = item.current_result();
  if (result == TestFailed || result == TestError) return true;
  for (const ScriptItemPtr& child : item.children()) {
    if (HasFailure(*child)) return true;
  }
  return false;
}

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

ResultCounts CountsOf(const ScriptItem& item) {
  return {item.CountOf(TestPassed), item.CountOf(TestFailed), item.CountOf(TestNotImplemented),
          item.CountOf(TestWarning), item.CountOf(TestError)};
}

void CollectResultRows(ScriptItem& item, std::vector<SummaryRow>* rows) {
  if (item.type() == resultItem) rows->push_back({CountsOf(item), item.ScriptTextOf()});
  for (const ScriptItemPtr& child : item.children()) CollectResultRows(*child, rows);
}

}  // namespace

SummaryMailData SummaryOf(ScriptItem& root) {
  SummaryMailData data;
  data.overall_result = root.current_result();
  data.root_counts = CountsOf(root);
  CollectResultRows(root, &data.rows);
  return data;
}

namespace {

// Writes [bytes] to [path] through a temporary file and a rename, so a reader never sees half a
// document. False when the file cannot be created.
bool WriteFileAtomically(const std::string& path, const std::string& bytes) {
  std::string temporary = path + ".tmp" + std::to_string(::getpid());
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    if (!file) return false;
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.flush();
    if (!file) {
      std::error_code ignored;
      fs::remove(temporary, ignored);
      return false;
    }
  }
  std::error_code error;
  fs::rename(temporary, path, error);
  if (error) {
    fs::remove(temporary, error);
    return false;
  }
  return true;
}

}  // namespace

// The _ITraceEvents sink list: it tells the script's log how many sinks there are, so a line
// nobody observes is never formatted.
class TraceSinks : public IConnectionPoint<ITraceEvents> {
 public:
  explicit TraceSinks(ScriptLog* log) : log_(log) {}
  Status Advise(std::shared_ptr<ITraceEvents> sink, std::uint32_t* cookie) override {
    Status status = sinks_.Advise(std::move(sink), cookie);
    Update();
    return status;
  }
  Status Unadvise(std::uint32_t cookie) override {
    Status status = sinks_.Unadvise(cookie);
    Update();
    return status;
  }
  ScriptLog::SinkList List() const { return sinks_.Snapshot(); }

 private:
  void Update() { log_->SetSinkCount(sinks_.size()); }
  ScriptLog* log_;
  ConnectionPoint<ITraceEvents> sinks_;
};

std::shared_ptr<CScript> CScript::Create(std::shared_ptr<IApplicationManager> manager, Pacing pacing) {
  std::shared_ptr<CScript> script(new CScript(std::move(manager), pacing));
  script->thread_ = std::jthread([raw = script.get()] { raw->RunThread(); });
  return script;
}

CScript::CScript(std::shared_ptr<IApplicationManager> manager, Pacing pacing)
    : manager_(std::move(manager)),
      after_executed_ms_(pacing.after_executed_ms),
      end_of_run_ms_(pacing.end_of_run_ms),
      remote_root_ms_(pacing.remote_root_ms),
      current_time_(Now()),
      load_time_(Now()),
      run_time_(Now()),
      log_([this] { return trace_sinks_->List(); }) {
  trace_sinks_ = std::make_unique<TraceSinks>(&log_);
  root_ = NewRoot("proxyroot", "N/A");
  current_item_.store(root_.get());
}

CScript::~CScript() {
  remote_hold_.store(false);
  // A run in progress is stopped so the run thread can end; it still finishes its run.
  if (state_.load() != ScriptNotRunning) Stop();
  run_event_.Reset();
  exit_event_.Set();
  if (!thread_ended_.Wait(10000)) thread_ended_.Wait(10000);
  // The run thread may still be inside a tester call; it must end before its state goes.
  if (thread_.joinable()) thread_.join();
}

IConnectionPoint<ITraceEvents>& CScript::TraceEvents() { return *trace_sinks_; }

void CScript::SetScriptEventsClient(std::shared_ptr<IScriptEventsClient> client) {
  std::lock_guard lock(mutex_);
  events_client_ = std::move(client);
}

void CScript::SetTraceEventsClient(std::shared_ptr<ITraceEventsClient> client) {
  log_.SetTraceClient(std::move(client));
}

std::shared_ptr<IScriptEventsClient> CScript::events_client() const {
  std::lock_guard lock(mutex_);
  return events_client_;
}

void CScript::set_pacing(Pacing pacing) {
  after_executed_ms_.store(pacing.after_executed_ms);
  end_of_run_ms_.store(pacing.end_of_run_ms);
  remote_root_ms_.store(pacing.remote_root_ms);
}

ScriptItemPtr CScript::root() const {
  std::lock_guard lock(mutex_);
  return root_;
}

std::string CScript::script_file_name() const {
  std::lock_guard lock(mutex_);
  return script_file_name_;
}

std::string CScript::script_directory() const {
  std::lock_guard lock(mutex_);
  return script_directory_;
}

std::string CScript::results_xml_path() const {
  std::lock_guard lock(mutex_);
  return results_file_stem_.empty() ? std::string() : ResultsXmlName(results_file_stem_);
}

// ---- state machine ------------------------------------------------------------------------------

// Every change of state happens under the state lock together with the run event it goes with,
// and is logged and reported before the lock is released, so a client's Run, Pause or Stop
// never interleaves with the run thread's own changes and clients see the changes in order.
void CScript::SetState(ScriptState state, int code_path) {
  state_.store(state);
  if (IsLogging(finest)) {
    Logger::Log(finest, kScriptName, "State changed to %s %d", StateName(state), code_path);
  }
  if (auto client = events_client()) client->StateChanged(state);
}

Status CScript::Run() {
  std::lock_guard lock(state_mutex_);
  ScriptState previous = state_.load();
  if (previous != ScriptPausing && previous != ScriptPaused) iteration_.store(0);
  step_flag_.store(false);
  SetState(ScriptRunning, 4);
  run_event_.Set();
  return S_OK;
}

Status CScript::Step() {
  std::lock_guard lock(state_mutex_);
  ScriptState previous = state_.load();
  if (previous != ScriptPausing && previous != ScriptPaused) iteration_.store(0);
  step_flag_.store(true);
  SetState(ScriptRunning, 8);
  run_event_.Set();
  return S_OK;
}

Status CScript::Pause() {
  std::lock_guard lock(state_mutex_);
  if (state_.load() != ScriptRunning) return S_OK;
  run_event_.Reset();
  SetState(ScriptPausing, 5);
  return S_OK;
}

Status CScript::Stop() {
  {
    std::lock_guard lock(state_mutex_);
    if (state_.load() == ScriptNotRunning) {
      remote_hold_.store(false);
      return S_OK;
    }
    batch_status_.store(BatchQueueItemNotRunning);
    running_continuously_.store(false);
    remote_hold_.store(false);
    SetState(ScriptStopping, 1);
    run_event_.Set();
  }
  std::shared_ptr<ITester> tester;
  {
    std::lock_guard lock(mutex_);
    tester = current_tester_;
  }
  if (tester) {
    try {
      tester->Abort();
    } catch (...) {
      // A tester that fails to abort still sees the stop when its action returns.
    }
  }
  return S_OK;
}

bool CScript::WaitIfPaused() {
  if (state_.load() == ScriptPausing) {
    std::lock_guard lock(state_mutex_);
    if (state_.load() == ScriptPausing) SetState(ScriptPaused, 6);
  }
  // The usual case, a run going on, costs two flag reads.
  if (exit_event_.IsSet()) return true;
  if (run_event_.IsSet()) return false;
  return Event::WaitAny({&exit_event_, &run_event_}) != 1;
}

void CScript::PaceWait(std::uint32_t ms) {
  if (ms > 0) exit_event_.Wait(ms);
}

// ---- the run thread -------------------------------------------------------------------------------

void CScript::RunThread() {
  iteration_.store(0);
  for (;;) {
    // Step 2: wait for a run or for the end of the object.
    if (WaitIfPaused()) {
      {
        std::lock_guard lock(state_mutex_);
        run_event_.Reset();
        batch_status_.store(BatchQueueItemNotRunning);
        SetState(ScriptNotRunning, 3);
      }
      thread_ended_.Set();
      return;
    }
    StartRun();
    // Step 7: execute, holding between remote chunks.
    for (;;) {
      VariableValue return_value;
      bool returned = false;
      StatementExecutor executor(*this);
      ScriptItem* start = current_item_.load();
      ScriptItemPtr keep = start != nullptr ? start->shared_from_this() : root();
      overall_result_.store(executor.ExecuteSequence(keep.get(), &return_value, &returned, false));
      if (remote_hold_.load()) Pause();
      if (remote_summary_.load() && !remote_hold_.load()) {
        RecordAggregatedResult();
        FireExecuted(root().get());
      }
      if (!remote_hold_.load()) break;
      if (WaitIfPaused()) break;
    }
    EndRun();
    PaceWait(end_of_run_ms_.load());
    // Step 10.
    Result result = root()->current_result();
    {
      std::lock_guard lock(state_mutex_);
      if (!running_continuously_.load()) {
        batch_status_.store(result == TestPassed    ? BatchQueueItemPassed
                            : result == TestAborted ? BatchQueueItemAborted
                                                    : BatchQueueItemFailed);
        run_event_.Reset();
        SetState(ScriptNotRunning, 2);
      }
    }
    // Steps 11 and 12: a new run started by Run or Step (not by a batch queue, not a
    // continuous rerun) starts from clean results.
    current_item_.store(root().get());
    if (WaitIfPaused()) continue;  // the exit event is seen again at the top of the loop
    if (!running_continuously_.load() && batch_status_.load() != BatchQueueItemRunning) {
      ResetRootResults();
      RaiseResultsReset();
      iteration_.store(0);
    }
  }
}

void CScript::StartRun() {
  {
    std::lock_guard lock(mutex_);
    moved_logs_.clear();
    copied_logs_.clear();
  }
  run_time_.store(Now());
  if (auto_reset_.load()) {
    ResetRootResults();
    RaiseResultsReset();
  }
  RaiseStarted();
  std::string directory = script_directory();
  std::string file_name = script_file_name();
  std::error_code ignored;
  fs::create_directories(ResultsWorkingDirectory(), ignored);
  log_.SetLogFile(directory.empty() ? "." : directory, file_name);
  // The record file lists the variables in force: recorded ones during playback, otherwise the
  // application manager's system variables.
  std::vector<std::pair<std::string, std::string>> variables;
  if (auto source = playback()) {
    source->Rewind();
    for (const auto& entry : source->recorded_variables()) variables.push_back(entry);
  } else if (manager_) {
    std::uint32_t count = 0;
    if (Succeeded(manager_->get_SystemVariableCount(&count))) {
      for (std::uint32_t i = 0; i < count; ++i) {
        std::string name, value;
        if (Succeeded(manager_->get_SystemVariableNames(i, &name)) &&
            Succeeded(manager_->get_SystemVariableValue(name, &value))) {
          variables.emplace_back(name, value);
        }
      }
    }
  }
  action_record_.Start(WorkingPath(".odlrec"), variables);
  log_.LogClear();
  Logger::Log(information, "Script", "%s", "Start");
  iteration_.fetch_add(1);
  variables_.Clear();
}

std::string CScript::ResultsWorkingDirectory() const {
  std::string directory = script_directory();
  return (directory.empty() ? std::string(".") : directory) + "/Results";
}

std::string CScript::WorkingPath(const char* extension) const {
  return ResultsWorkingDirectory() + "/" + script_file_name() + extension;
}

std::string CScript::ResultsDirectory() const {
  std::lock_guard lock(mutex_);
  if (!results_directory_override_.empty()) return results_directory_override_;
  return (script_directory_.empty() ? std::string(".") : script_directory_) + "/Results";
}

void CScript::EndRun() {
  std::error_code ignored;
  fs::create_directories(ResultsWorkingDirectory(), ignored);
  std::string override_directory;
  std::vector<std::string> moved, copied;
  {
    std::lock_guard lock(mutex_);
    override_directory = results_directory_override_;
    moved = moved_logs_;
    copied = copied_logs_;
  }
  std::string directory = script_directory();
  RunNames names = MakeRunNames(directory.empty() ? "." : directory, script_file_name(),
                                override_directory, static_cast<std::time_t>(Now()));
  if (!override_directory.empty()) fs::create_directories(override_directory, ignored);
  std::vector<std::string> results_logs = {names.stamp + ".log"};
  TransferLogFiles(moved, LogFileAction::kMove, names, &results_logs, *this);
  TransferLogFiles(copied, LogFileAction::kCopy, names, &results_logs, *this);
  CloseTesters();
  Logger::Log(information, "Script", "%s", "End");
  action_record_.Close();
  MoveFile(WorkingPath(".odlrec"), names.base_path + ".odlrec");
  MoveFile(WorkingPath(".log"), names.base_path + ".log");
  std::string stem = names.base_path + ".";
  {
    std::lock_guard lock(mutex_);
    results_file_stem_ = stem;
    results_logs_ = std::move(results_logs);
  }
  SaveResults(stem);
  SendSummaryMail(names);
}

void CScript::SendSummaryMail(const RunNames& names) {
  if (!manager_) return;
  std::string server, addresses, user, extra;
  manager_->get_SMTPServerName(&server);
  manager_->get_EmailAddresses(&addresses);
  {
    std::lock_guard lock(mutex_);
    extra = email_address_;
  }
  if (server.empty() || (addresses.empty() && extra.empty())) return;
  manager_->get_smtpAuthenticationUserName(&user);
  MailServerSettings settings;
  settings.server_name = server;
  settings.user_name = user;
  // The password is kept encrypted in the settings store; only the store can read it back.
  if (dynamic_cast<CApplicationManager*>(manager_.get()) != nullptr) {
    settings.password = settings::Manager::Instance().SmtpPassword();
  }
  ScriptItemPtr top = root();
  SummaryMailData data = SummaryOf(*top);
  OutgoingMail mail;
  mail.address_list = addresses;
  mail.extra_addresses = extra;
  mail.subject = SummaryMailSubject(script_file_name(), top->current_result(), iteration_.load());
  mail.body = SummaryMailBody(data);
  mail.attachments = SummaryMailAttachments(names.base_path, names.results_directory);
  MailReport report = SendResultsMail(settings, mail);
  for (const std::string& line : report.log_lines) ScriptLog::AppendLine(names.base_path + ".log", line);
  if (!report.trace_message.empty()) {
    log_.RaiseEvent(ScriptLog::Now(), warning, kScriptName, report.trace_message, LogSource());
  }
}

void CScript::CloseTesters() {
  std::vector<std::shared_ptr<ITester>> testers;
  for (const auto& [name, value] : variables_.Snapshot()) {
    if (value.ElementCount() == 0 || value.Element(0).kind() != ValueKind::Tester) continue;
    std::shared_ptr<ITester> tester = value.Element(0).tester();
    variables_.Remove(name);
    bool seen = false;
    for (const auto& kept : testers) seen |= kept.get() == tester.get();
    if (!seen) testers.push_back(std::move(tester));
  }
  for (auto& tester : testers) {
    VariantBool closed = kVariantFalse;
    Status status = CloseTester(*tester, &closed);
    if (Failed(status)) {
      Logger::Log(warning, kScriptName, "Close returned an error 0x%08X", static_cast<unsigned>(status));
    } else if (closed == kVariantTrue) {
      Logger::Log(information, kScriptName, "%s", "Close called successfully");
    } else {
      Logger::Log(warning, kScriptName, "%s", "Close indicated failure");
    }
    tester.reset();
  }
}

void CScript::RecordAggregatedResult() {
  ScriptItemPtr top = root();
  Result aggregate = TestNotRun;
  for (const ScriptItemPtr& child : top->children()) {
    if (child->CountOf(TestPassed) > 0 && aggregate == TestNotRun) aggregate = TestPassed;
    if (child->CountOf(TestError) > 0) aggregate = TestError;
    if (child->CountOf(TestFailed) > 0 && aggregate != TestError) aggregate = TestFailed;
    if (child->CountOf(TestWarning) > 0 && (aggregate == TestNotRun || aggregate == TestPassed)) {
      aggregate = TestWarning;
    }
  }
  top->RecordResult(aggregate, iteration_.load(), 0.0);
}

void CScript::ResetRootResults() { root()->ResetResults(); }

void CScript::RaiseStarted() {
  if (auto client = events_client()) client->Started();
  script_events_.Fire([](IScriptEvents& sink) { sink.Started(); });
}

void CScript::RaiseResultsReset() {
  if (auto client = events_client()) client->ResultsReset();
  script_events_.Fire([](IScriptEvents& sink) { sink.ResultsReset(); });
}

void CScript::RaiseReset() {
  if (auto client = events_client()) client->Reset();
  script_events_.Fire([](IScriptEvents& sink) { sink.Reset(); });
}

void CScript::FireExecuted(ScriptItem* item) {
  if (item == nullptr) return;
  if (auto client = events_client()) client->Executed(item);
  std::uint32_t id = item->id();
  script_events_.Fire([id](IScriptEvents& sink) { sink.Executed(id); });
  PaceWait(after_executed_ms_.load(std::memory_order_relaxed));
}

// ---- loading --------------------------------------------------------------------------------------

void CScript::SetFileNames(const std::string& path) {
  std::lock_guard lock(mutex_);
  script_path_ = path;
  std::size_t separator = path.find_last_of("/\\");
  if (separator == std::string::npos) {
    script_file_name_ = path;
    script_directory_ = ".";
  } else {
    script_file_name_ = path.substr(separator + 1);
    script_directory_ = path.substr(0, separator);
  }
}

Status CScript::Load(const std::string& file_name, VariantBool* loaded) {
  if (loaded == nullptr) return E_POINTER;
  try {
    overall_result_.store(TestNotRun);
    remote_hold_.store(false);
    remote_summary_.store(false);
    *loaded = kVariantFalse;
    SetFileNames(file_name);
    ScriptItemPtr fresh = NewRoot("root", script_file_name());
    ScriptItemPtr old;
    {
      std::lock_guard lock(mutex_);
      old = root_;
      root_ = fresh;
    }
    current_item_.store(fresh.get());
    *loaded = kVariantTrue;
    ScriptLoader loader;
    bool ok = loader.Load(file_name, fresh);
    if (!ok || HasFailure(*fresh)) {
      batch_status_.store(BatchQueueItemFailed);
      overall_result_.store(TestFailed);
    } else {
      batch_status_.store(BatchQueueItemNotRunning);
    }
    SetFileNames(loader.FileName());
    {
      std::lock_guard lock(mutex_);
      script_directory_ = loader.Directory();
    }
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

bool CScript::MakeRemoteRoot() {
  try {
    ScriptItemPtr fresh = NewRoot("proxyroot", "N/A");
    current_item_.store(fresh.get());
    remote_hold_.store(true);
    remote_summary_.store(true);
    ScriptItemPtr old;
    {
      std::lock_guard lock(mutex_);
      old = root_;
      root_ = fresh;
    }
    RaiseReset();
    PaceWait(remote_root_ms_.load());
    return true;
  } catch (...) {
    return false;
  }
}

bool CScript::RemoteRun(const std::string& text) {
  try {
    overall_result_.store(TestNotRun);
    ScriptItemPtr top = root();
    std::size_t first_new = top->child_count();
    ScriptLoader loader;
    if (!loader.LoadText(text, top)) return false;
    current_item_.store(first_new < top->child_count() ? top->child(first_new) : top.get());
    remote_hold_.store(true);
    remote_summary_.store(true);
    RaiseReset();
    Logger::Log(finest, kScriptName, "%s", "    Calling Run()");
    return Succeeded(Run());
  } catch (...) {
    return false;
  }
}

// ---- IScript ---------------------------------------------------------------------------------------

Status CScript::get_Item(std::shared_ptr<IScriptItem>* item) {
  if (item == nullptr) return E_POINTER;
  *item = root();
  return S_OK;
}

Status CScript::get_State(ScriptState* state) {
  if (state == nullptr) return E_POINTER;
  *state = state_.load();
  return S_OK;
}

Status CScript::get_CurrentItem(std::shared_ptr<IScriptItem>* item) {
  if (item == nullptr) return E_POINTER;
  ScriptItem* current = current_item_.load();
  if (current == nullptr) {
    item->reset();
  } else {
    *item = current->shared_from_this();
  }
  return S_OK;
}

void CScript::SetCurrentItem(ScriptItem* item) { current_item_.store(item, std::memory_order_relaxed); }

Status CScript::get_PauseOnError(VariantBool* value) {
  if (value == nullptr) return E_POINTER;
  *value = ToVariantBool(pause_on_error_.load());
  return S_OK;
}

Status CScript::put_PauseOnError(VariantBool value) {
  pause_on_error_.store(value == kVariantTrue);
  return S_OK;
}

Status CScript::put_RunningContinuously(VariantBool value) {
  bool on = value == kVariantTrue;
  running_continuously_.store(on);
  if (!on) return S_OK;
  if (state_.load() == ScriptNotRunning) ResetRootResults();
  return Run();
}

Status CScript::get_RunningContinuously(VariantBool* value) {
  if (value == nullptr) return E_POINTER;
  *value = ToVariantBool(running_continuously_.load());
  return S_OK;
}

Status CScript::SaveResults(const std::string& file_name) {
  std::string path = ResultsXmlName(file_name);
  std::string version, name;
  std::vector<std::string> logs;
  {
    std::lock_guard lock(mutex_);
    version = version_under_test_;
    name = script_file_name_;
    logs = results_logs_;
  }
  std::string document = ResultsXml(*root(), HeaderForNow(name, version, logs));
  if (!WriteFileAtomically(path, document)) return E_FAIL;
  WriteCompanionFiles(ResultsDirectory());
  return S_OK;
}

Status CScript::get_Manager(std::shared_ptr<IApplicationManager>* manager) {
  if (manager == nullptr) return E_POINTER;
  *manager = manager_;
  return S_OK;
}

Status CScript::get_VariableCount(std::uint32_t* count) {
  if (count == nullptr) return E_POINTER;
  *count = static_cast<std::uint32_t>(variables_.Count());
  return S_OK;
}

Status CScript::get_variableName(std::uint32_t index, std::string* name) {
  if (name == nullptr) return E_POINTER;
  VariableValue ignored;
  if (!variables_.EntryAt(index, name, &ignored)) return E_INVALIDARG;
  return S_OK;
}

Status CScript::get_VariableValue(const std::string& name, VariantArrayPtr* value) {
  if (value == nullptr) return E_POINTER;
  VariableValue found;
  if (!variables_.Get(name, &found)) return E_INVALIDARG;
  *value = found.ToVariantArray();
  return S_OK;
}

Status CScript::put_VariableValue(const std::string& name, VariantArrayPtr value) {
  if (!value) return E_POINTER;
  VariableValue converted;
  converted.ClearToArray();
  converted.AppendFromVariantArray(value, this, name);
  return variables_.Replace(name, std::move(converted)) ? S_OK : E_INVALIDARG;
}

Status CScript::put_EmailAddress(const std::string& addresses) {
  std::lock_guard lock(mutex_);
  email_address_ = addresses;
  return S_OK;
}

Status CScript::PlaybackFile(const std::string& file_name) {
  if (state_.load() != ScriptNotRunning) return E_FAIL;
  auto source = std::make_shared<ScriptPlayback>();
  source->Load(file_name);
  std::lock_guard lock(mutex_);
  playback_ = std::move(source);
  return S_OK;
}

Status CScript::get_AutoReset(VariantBool* value) {
  if (value == nullptr) return E_POINTER;
  *value = ToVariantBool(auto_reset_.load());
  return S_OK;
}

Status CScript::put_AutoReset(VariantBool value) {
  auto_reset_.store(value == kVariantTrue);
  return S_OK;
}

Status CScript::VariableDetails(std::uint32_t index, std::string* name, std::string* text_value) {
  if (name == nullptr || text_value == nullptr) return E_POINTER;
  VariableValue value;
  if (!variables_.EntryAt(index, name, &value)) {
    name->clear();
    text_value->clear();
    return S_OK;
  }
  *text_value = value.ListText();
  return S_OK;
}

Status CScript::get_VersionUnderTest(std::string* version) {
  if (version == nullptr) return E_POINTER;
  std::lock_guard lock(mutex_);
  *version = version_under_test_;
  return S_OK;
}

Status CScript::put_VersionUnderTest(const std::string& version) {
  std::lock_guard lock(mutex_);
  version_under_test_ = version;
  return S_OK;
}

// ---- batch item face ---------------------------------------------------------------------------------

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

Status CScript::Execute(const std::string&, std::shared_ptr<ITrace>) {
  std::lock_guard lock(state_mutex_);
  batch_status_.store(BatchQueueItemRunning);
  SetState(ScriptRunning, 7);
  run_event_.Set();
  return S_OK;
}

Status CScript::get_Status(BatchQueueItemStatus* status) {
  if (status == nullptr) return E_POINTER;
  *status = state_.load() == ScriptRunning ? BatchQueueItemRunning : batch_status_.load();
  return S_OK;
}

Status CScript::Abort() { return Stop(); }

Status CScript::Reset() {
  if (Failed(Stop())) return E_FAIL;
  for (int i = 0; i < 6000 && state_.load() == ScriptStopping; ++i) exit_event_.Wait(100);
  ResetRootResults();
  batch_status_.store(BatchQueueItemNotRunning);
  RaiseResultsReset();
  iteration_.store(0);
  return S_OK;
}

Status CScript::get_ResultsFile(std::string* file) {
  if (file == nullptr) return E_POINTER;
  std::lock_guard lock(mutex_);
  *file = ResultsXmlName(results_file_stem_);
  return S_OK;
}

Status CScript::get_ResultsDirectory(std::string* directory) {
  if (directory == nullptr) return E_POINTER;
  *directory = ResultsDirectory();
  return S_OK;
}

Status CScript::put_ResultsDirectory(const std::string& directory) {
  std::lock_guard lock(mutex_);
  results_directory_override_ = directory;
  return S_OK;
}

// ---- Logger -----------------------------------------------------------------------------------------

void CScript::Log(LoggingLevel level, const std::string& variable_name, const std::string& message) {
  LogSource source;
  if (ScriptItem* item = current_item_.load(std::memory_order_relaxed)) {
    source.file_name = item->file_name();
    source.line = item->line();
  }
  log_.Log(level, variable_name, message, source);
}

bool CScript::IsLogging(LoggingLevel level) const { return log_.IsListening(level); }

// ---- execution hooks --------------------------------------------------------------------------------

bool CScript::playback_active() const {
  std::lock_guard lock(mutex_);
  return playback_ != nullptr;
}

bool CScript::RecordedVariable(const std::string& name, std::string* text) {
  auto source = playback();
  return source && source->RecordedVariableValue(name, text);
}

std::shared_ptr<ScriptPlayback> CScript::playback() {
  std::lock_guard lock(mutex_);
  return playback_;
}

Result CScript::ExecuteChain(ScriptItem* first) { return StatementExecutor(*this).ExecuteChain(first); }

Result CScript::ExecuteAssignment(ScriptItem* assignment) {
  return StatementExecutor(*this).ExecuteAssignment(assignment);
}

Result CScript::CallAction(ScriptItem* action, VariableValue* values, bool* record,
                           const std::string& variable_name) {
  return StatementExecutor(*this).CallAction(action, values, record, variable_name);
}

void CScript::SetCurrentTester(std::shared_ptr<ITester> tester) {
  std::lock_guard lock(mutex_);
  current_tester_ = std::move(tester);
}

void CScript::AddMovedLog(const std::string& pattern) {
  std::lock_guard lock(mutex_);
  moved_logs_.push_back(pattern);
}

void CScript::AddCopiedLog(const std::string& pattern) {
  std::lock_guard lock(mutex_);
  copied_logs_.push_back(pattern);
}

std::shared_ptr<ITrace> CScript::MakeTrace(const std::string& variable_name) {
  auto trace = std::make_shared<Trace>();
  trace->Bind(this, variable_name);
  return trace;
}

std::shared_ptr<ITester> CScript::WrapTester(std::shared_ptr<ITester> object,
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

}  // namespace ordalis
