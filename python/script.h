#pragma once
// Script: a script object driven from Python, with its event callbacks and its reports.

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/script.h"
#include "interp/variable_table.h"
#include "language/script_item.h"
#include "platform/event.h"
#include "report/run_annotations.h"
#include "report/run_reports.h"
#include "settings/application_manager.h"
#include "trace/script_log.h"

#include "script_item.h"
#include "support.h"

namespace py = pybind11;

namespace ordalis::python {

// The script's single in-process client of each kind: it keeps the run's annotations for the
// report, signals the end of a run and forwards to the Python callbacks.
class ScriptClient : public IScriptEventsClient, public ITraceEventsClient {
 public:
  explicit ScriptClient(std::shared_ptr<Callbacks> callbacks) : callbacks_(std::move(callbacks)) {}

  void Executed(ScriptItem* item) override {
    recorder_->OnExecuted(item);
    if (item == nullptr) return;
    auto shared = item->shared_from_this();
    CallBack(*callbacks_, &Callbacks::on_executed, PyScriptItem(shared));
  }
  void ResultsReset() override { CallBack(*callbacks_, &Callbacks::on_results_reset); }
  void Started() override {
    started_.store(true);
    CallBack(*callbacks_, &Callbacks::on_started);
  }
  void Reset() override { CallBack(*callbacks_, &Callbacks::on_reset); }
  void StateChanged(ScriptState state) override {
    CallBack(*callbacks_, &Callbacks::on_state_changed, static_cast<int>(state));
    if (state == ScriptNotRunning && started_.load()) ended_.Set();
  }
  void Log(std::int64_t time, double seconds, LoggingLevel level, const std::string& variable_name,
           const std::string& message) override {
    if (level >= configuration) {
      recorder_->OnLogLine(ScriptLog::FileLine(LogTime{time, seconds}, level, variable_name, message));
    }
    CallBack(*callbacks_, &Callbacks::on_log, static_cast<int>(level), message, variable_name);
  }
  void LogClear() override {}

  // Before Run: a new run starts with no annotations and the end not yet seen.
  void PrepareRun() {
    started_.store(false);
    ended_.Reset();
    recorder_ = std::make_unique<report::RunRecorder>();
  }
  bool WaitForEnd(std::uint32_t timeout_ms) { return ended_.Wait(timeout_ms); }
  report::RunAnnotations Finish(ScriptItem& root) { return recorder_->Finish(root); }

 private:
  std::shared_ptr<Callbacks> callbacks_;
  std::unique_ptr<report::RunRecorder> recorder_ = std::make_unique<report::RunRecorder>();
  std::atomic<bool> started_{false};
  Event ended_;
};

// The application manager of a script driven from Python: user variables given for its runs
// only (as `ordalis run --var` gives them) come before the stored ones.
class RunManager : public CApplicationManager {
 public:
  Status get_UserVariableValue(const std::string& name, std::string* value) override {
    {
      std::lock_guard lock(mutex_);
      auto it = variables_.find(LowerName(name));
      if (it != variables_.end()) {
        if (value == nullptr) return E_POINTER;
        *value = it->second;
        return S_OK;
      }
    }
    return CApplicationManager::get_UserVariableValue(name, value);
  }
  void Set(const std::string& name, const std::string& literal) {
    std::lock_guard lock(mutex_);
    variables_[LowerName(name)] = literal;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, std::string> variables_;  // lower-case name -> literal text
};

// Whether a Python Script owns its engine object (made by Script()) or shows one that belongs
// to another object (the script of a ScriptProxy), which keeps its own event clients.
enum class Ownership { kOwned, kShared };

// Whether closing a script waits for its run to end.
enum class CloseWait { kWait, kNoWait };

class PyScript : public Closable {
 public:
  // [pace] keeps the pauses that pace graphical clients; scripts driven from Python go without.
  explicit PyScript(bool pace)
      : callbacks_(std::make_shared<Callbacks>()), manager_(std::make_shared<RunManager>()) {
    Pacing pacing;
    if (!pace) pacing = Pacing{0, 0, 0};
    script_ = CScript::Create(manager_, pacing);
    client_ = std::make_shared<ScriptClient>(callbacks_);
    script_->SetScriptEventsClient(client_);
    script_->SetTraceEventsClient(client_);
    StillOpen().Add(this);
  }
  // A view of [script], which another object owns and observes: no callbacks, no wait.
  explicit PyScript(std::shared_ptr<CScript> script)
      : ownership_(Ownership::kShared), callbacks_(std::make_shared<Callbacks>()), script_(std::move(script)) {}
  ~PyScript() override { Close(); }

  void Close() override { Close(CloseWait::kWait); }
  // Stops a run of an owned script and lets go of it, and of a shown one; the callbacks are
  // dropped with the GIL held. With kWait the run thread has ended on return (the run's results
  // are written); with kNoWait it ends by itself, and leaving the interpreter waits for it.
  // Called with the GIL held; once it is released only locals are used, since another thread
  // may then destroy this object.
  void Close(CloseWait wait) {
    StillOpen().Remove(this);
    std::shared_ptr<CScript> script = std::move(script_);
    if (!script) return;
    std::shared_ptr<Callbacks> callbacks = callbacks_;
    const bool owned = ownership_ == Ownership::kOwned;
    {
      py::gil_scoped_release release;
      if (owned) {
        script->SetScriptEventsClient(nullptr);
        script->SetTraceEventsClient(nullptr);
        script->Stop();
      }
      if (wait == CloseWait::kNoWait) Retiring().Retire(std::move(script));
      script.reset();
    }
    for (auto which : {&Callbacks::on_executed, &Callbacks::on_state_changed, &Callbacks::on_log,
                       &Callbacks::on_started, &Callbacks::on_results_reset, &Callbacks::on_reset}) {
      callbacks->Set(which, py::object());
    }
  }

  bool Load(const std::string& path) {
    VariantBool loaded = kVariantFalse;
    Check(Live().Load(path, &loaded), "Load");
    return loaded == kVariantTrue;
  }
  // The syntax errors of the loaded script, as "file(line) : Error: text".
  std::vector<std::string> Errors() {
    std::vector<std::string> errors;
    ScriptItemPtr root = Live().root();
    std::vector<ScriptItem*> pending = {root.get()};
    while (!pending.empty()) {
      ScriptItem* item = pending.back();
      pending.pop_back();
      if (item == nullptr) continue;
      if (item->type() == errorItem) errors.push_back(item->ScriptTextOf());
      const auto& children = item->children();
      for (auto it = children.rbegin(); it != children.rend(); ++it) pending.push_back(it->get());
    }
    return errors;
  }
  void Run() {
    if (client_) client_->PrepareRun();
    Check(Live().Run(), "Run");
  }
  // Runs the loaded script as a batch queue runs it; the file name and trace are not used by
  // a script object, which logs through its own events.
  void Execute(const std::string& file_name, std::shared_ptr<ITrace> trace) {
    if (client_) client_->PrepareRun();
    Check(Live().Execute(file_name, std::move(trace)), "Execute");
  }
  void Step() { Check(Live().Step(), "Step"); }
  void Pause() { Check(Live().Pause(), "Pause"); }
  void Stop() { Check(Live().Stop(), "Stop"); }
  bool Wait(std::optional<double> timeout) { return Client("wait").WaitForEnd(TimeoutMs(timeout)); }
  int State() {
    ScriptState state = ScriptNotRunning;
    Check(Live().get_State(&state), "State");
    return state;
  }
  int OverallResult() { return Live().overall_result(); }
  std::string ResultsPath() { return Live().results_xml_path(); }
  std::string ResultsDirectory() {
    std::string directory;
    Check(Live().get_ResultsDirectory(&directory), "ResultsDirectory");
    return directory;
  }
  void SetResultsDirectory(const std::string& directory) {
    Check(Live().put_ResultsDirectory(directory), "ResultsDirectory");
  }
  std::string VersionUnderTest() {
    std::string version;
    Check(Live().get_VersionUnderTest(&version), "VersionUnderTest");
    return version;
  }
  void SetVersionUnderTest(const std::string& version) {
    Check(Live().put_VersionUnderTest(version), "VersionUnderTest");
  }
  PyScriptItem Root() {
    std::shared_ptr<IScriptItem> root;
    Check(Live().get_Item(&root), "Item");
    return PyScriptItem(root);
  }
  std::vector<std::string> VariableNames() {
    std::uint32_t count = 0;
    Check(Live().get_VariableCount(&count), "VariableCount");
    std::vector<std::string> names;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::string name;
      if (Live().get_variableName(i, &name) >= 0) names.push_back(name);
    }
    return names;
  }
  VariantArrayPtr Variable(const std::string& name) {
    VariantArrayPtr value;
    Check(Live().get_VariableValue(name, &value), "VariableValue");
    return value;
  }
  void SetVariable(const std::string& name, VariantArrayPtr value) {
    Check(Live().put_VariableValue(name, std::move(value)), "VariableValue");
  }

  // The digest of the latest run: verdict, statement counts, named results and failing lines.
  // Writes the HTML report beside the results document and, when [junit] is given, a JUnit one,
  // and adds the run with [labels] to the results store [results_db] (empty: the default).
  py::dict Report(const std::string& junit, const std::map<std::string, std::string>& labels,
                  const std::string& results_db) {
    report::HistoryContext history{results_db, {labels.begin(), labels.end()}, "", 0};
    report::RunReports reports;
    std::string results;
    ScriptClient& client = Client("report");
    {
      py::gil_scoped_release release;
      results = Live().results_xml_path();
      if (!results.empty()) {
        report::RunAnnotations notes = client.Finish(*Live().root());
        reports = report::PublishRunReports(results, &notes, junit, history);
      }
    }
    const report::RunDigest& digest = reports.outcome.digest;
    py::dict out;
    out["verdict"] = static_cast<int>(results.empty() ? Live().overall_result() : digest.verdict);
    out["results_path"] = results;
    out["report_path"] = reports.html_path;
    out["junit_written"] = reports.junit_written;
    out["problems"] = reports.problems;
    out["warnings"] = reports.warnings;
    py::list statements;
    for (std::size_t count : digest.statements) statements.append(count);
    out["statements"] = statements;
    py::list rows;
    for (const report::RowDigest& row : digest.rows) {
      py::dict entry;
      entry["name"] = row.text;
      entry["result"] = static_cast<int>(row.overall);
      entry["file"] = row.file;
      entry["line"] = row.line;
      entry["time_taken"] = row.time_taken;
      entry["failure"] = row.has_failure ? row.first_failure.ConsoleLine() : std::string();
      rows.append(entry);
    }
    out["rows"] = rows;
    py::list failures;
    for (const report::FailureDigest& failure : digest.failures) failures.append(failure.ConsoleLine());
    out["failures"] = failures;
    out["failures_total"] = digest.failures_total;
    return out;
  }

  // A user variable for this script's runs only; [literal] is script-literal text (5, "text").
  void SetRunVariable(const std::string& name, const std::string& literal) {
    if (!manager_) throw StatusError(E_NOTIMPL, "set_run_variable: this script belongs to another object");
    manager_->Set(name, literal);
  }

  std::optional<PyScriptItem> CurrentItem() {
    std::shared_ptr<IScriptItem> item;
    Check(Live().get_CurrentItem(&item), "CurrentItem");
    if (!item) return std::nullopt;
    return PyScriptItem(item);
  }
  bool PauseOnError() { return OutBool("PauseOnError", [&](VariantBool* v) { return Live().get_PauseOnError(v); }); }
  void SetPauseOnError(bool value) { Check(Live().put_PauseOnError(ToVariantBool(value)), "PauseOnError"); }
  bool RunningContinuously() {
    return OutBool("RunningContinuously", [&](VariantBool* v) { return Live().get_RunningContinuously(v); });
  }
  void SetRunningContinuously(bool value) {
    Check(Live().put_RunningContinuously(ToVariantBool(value)), "RunningContinuously");
  }
  bool AutoReset() { return OutBool("AutoReset", [&](VariantBool* v) { return Live().get_AutoReset(v); }); }
  void SetAutoReset(bool value) { Check(Live().put_AutoReset(ToVariantBool(value)), "AutoReset"); }
  void SaveResults(const std::string& path) { Check(Live().SaveResults(path), "SaveResults"); }
  std::shared_ptr<IApplicationManager> Manager() {
    return Out<std::shared_ptr<IApplicationManager>>("Manager", [&](auto* v) { return Live().get_Manager(v); });
  }
  std::uint32_t VariableCount() { return Out<std::uint32_t>("VariableCount", [&](auto* v) { return Live().get_VariableCount(v); }); }
  std::string VariableName(std::uint32_t index) {
    return Out<std::string>("variableName", [&](auto* v) { return Live().get_variableName(index, v); });
  }
  std::pair<std::string, std::string> VariableDetails(std::uint32_t index) {
    std::string name, text;
    Check(Live().VariableDetails(index, &name, &text), "VariableDetails");
    return {name, text};
  }
  void SetEmailAddress(const std::string& addresses) { Check(Live().put_EmailAddress(addresses), "EmailAddress"); }
  void PlaybackFile(const std::string& path) { Check(Live().PlaybackFile(path), "PlaybackFile"); }
  // The script as a batch item.
  std::string Version() { return Out<std::string>("Version", [&](auto* v) { return Live().get_Version(v); }); }
  std::string Description() { return Out<std::string>("Description", [&](auto* v) { return Live().get_Description(v); }); }
  int ItemStatus() { return Out<BatchQueueItemStatus>("Status", [&](auto* v) { return Live().get_Status(v); }); }
  void Abort() { Check(Live().Abort(), "Abort"); }
  void Reset() { Check(Live().Reset(), "Reset"); }
  std::string ResultsFile() { return Out<std::string>("ResultsFile", [&](auto* v) { return Live().get_ResultsFile(v); }); }

  std::shared_ptr<Callbacks> callbacks() {
    if (ownership_ == Ownership::kShared) {
      throw StatusError(E_NOTIMPL, "callbacks: this script belongs to another object, which observes it");
    }
    return callbacks_;
  }

 private:
  CScript& Live() {
    if (!script_) throw StatusError(E_FAIL, "the script was closed");
    return *script_;
  }
  ScriptClient& Client(const char* operation) {
    if (!client_) throw StatusError(E_NOTIMPL, std::string(operation) + ": this script belongs to another object");
    return *client_;
  }
  Ownership ownership_ = Ownership::kOwned;
  std::shared_ptr<Callbacks> callbacks_;
  std::shared_ptr<RunManager> manager_;
  std::shared_ptr<ScriptClient> client_;
  std::shared_ptr<CScript> script_;
};

}  // namespace ordalis::python
