// ordalis._ordalis: the component's classes for Python. Every call into the engine releases the
// GIL first, and the engine's event clients take it only to call the Python callback, so no
// thread ever waits for the GIL while it holds one of the engine's locks, and a Python thread
// that waits for the run thread never holds the GIL the run thread needs.

#include <pybind11/functional.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <optional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "batch/batch_queue.h"
#include "engine/script.h"
#include "interp/variable_table.h"
#include "language/script_item.h"
#include "platform/event.h"
#include "proxy/script_proxy.h"
#include "report/run_annotations.h"
#include "report/run_reports.h"
#include "server/factory.h"
#include "settings/application_manager.h"
#include "testers/plugin_host.h"
#include "testers/testers.h"
#include "testers/tester_utilities.h"
#include "trace/script_log.h"

namespace py = pybind11;

namespace ordalis::python {
namespace {

using Release = py::call_guard<py::gil_scoped_release>;

// A failed operation: the Python exception OrdalisError carries [status] as its `status`.
struct StatusError : std::runtime_error {
  StatusError(Status status, const std::string& what) : std::runtime_error(what), status(status) {}
  Status status;
};

void Check(Status status, const char* operation) {
  if (status >= 0) return;
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(status));
  throw StatusError(status, std::string(operation) + " failed with status " + code);
}

// Variants as Python values: numbers, str, bool, None for empty, lists for arrays.
py::object ToPython(const Variant& value, int depth = 0) {
  constexpr int kMaxDepth = 64;
  switch (value.type()) {
    case VT_EMPTY:
    case VT_NULL: return py::none();
    case VT_BOOL: return py::bool_(value.as_bool());
    case VT_R4:
    case VT_R8: return py::float_(value.as_double());
    case VT_BSTR: return py::str(value.as_string());
    default: break;
  }
  if (value.is_array()) {
    py::list list;
    if (depth >= kMaxDepth || !value.as_array()) return list;
    for (const Variant& element : *value.as_array()) list.append(ToPython(element, depth + 1));
    return list;
  }
  if (value.is_object()) return py::none();
  return py::int_(value.as_int64());
}

py::list ToPython(const VariantArrayPtr& values) {
  py::list list;
  if (values) {
    for (const Variant& value : *values) list.append(ToPython(value));
  }
  return list;
}

Variant FromPython(const py::handle& value, int depth = 0) {
  constexpr int kMaxDepth = 64;
  if (value.is_none()) return Variant();
  if (py::isinstance<py::bool_>(value)) return Variant::Bool(value.cast<bool>());
  if (py::isinstance<py::int_>(value)) return Variant::Int(value.cast<std::int32_t>());
  if (py::isinstance<py::float_>(value)) return Variant::Double(value.cast<double>());
  if (py::isinstance<py::str>(value)) return Variant::String(value.cast<std::string>());
  if (py::isinstance<py::sequence>(value) && depth < kMaxDepth) {
    VariantArray elements;
    for (const py::handle& element : value) elements.push_back(FromPython(element, depth + 1));
    return Variant::Array(std::move(elements));
  }
  throw py::type_error("an Ordalis value is None, bool, int, float, str or a list of them");
}

VariantArrayPtr ArrayFromPython(const py::handle& value) {
  Variant variant = FromPython(value);
  if (variant.is_array()) return variant.as_array();
  return std::make_shared<VariantArray>(VariantArray{variant});
}

// A read-only view of one item of a script's tree.
class PyScriptItem {
 public:
  explicit PyScriptItem(std::shared_ptr<IScriptItem> item) : item_(std::move(item)) {
    if (!item_) throw StatusError(E_POINTER, "no script item");
  }
  std::string text() const { return Get(&IScriptItem::get_Text, "Text"); }
  std::string script_text() const { return Get(&IScriptItem::get_ScriptText, "ScriptText"); }
  std::string file_name() const { return Get(&IScriptItem::get_FileName, "FileName"); }
  std::string type() const {
    ItemType type = errorItem;
    Check(item_->get_Type(&type), "Type");
    return ItemTypeName(type);
  }
  std::uint32_t line() const { return Get(&IScriptItem::get_lineNumber, "lineNumber"); }
  std::uint32_t id() const { return Get(&IScriptItem::get_Id, "Id"); }
  int result() const {
    Result result = TestNotRun;
    Check(item_->get_CurrentResult(&result), "CurrentResult");
    return result;
  }
  std::uint32_t result_count(int result) const {
    std::uint32_t count = 0;
    Check(item_->get_ResultCount(static_cast<Result>(result), &count), "ResultCount");
    return count;
  }
  std::vector<PyScriptItem> children() const {
    std::uint32_t count = 0;
    Check(item_->get_ChildCount(&count), "ChildCount");
    std::vector<PyScriptItem> list;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::shared_ptr<IScriptItem> child;
      Check(item_->get_Children(i, &child), "Children");
      list.emplace_back(child);
    }
    return list;
  }
  std::optional<PyScriptItem> parent() const {
    std::shared_ptr<IScriptItem> parent;
    if (item_->get_Parent(&parent) < 0 || !parent) return std::nullopt;
    return PyScriptItem(parent);
  }

 private:
  template <typename T>
  T Get(Status (IScriptItem::*getter)(T*), const char* name) const {
    T value{};
    Check((item_.get()->*getter)(&value), name);
    return value;
  }
  std::shared_ptr<IScriptItem> item_;
};

// The callbacks a Python client set on a script, called on the run thread with the GIL taken.
// They are cleared (with the GIL held) before the engine object goes, so what the engine keeps
// holds only null handles.
struct Callbacks {
  std::mutex mutex;
  py::object on_executed;
  py::object on_state_changed;
  py::object on_log;
  py::object on_started;

  py::object Get(py::object Callbacks::*which) {
    std::lock_guard lock(mutex);
    return this->*which;
  }
  void Set(py::object Callbacks::*which, py::object callback) {
    py::object old;
    {
      std::lock_guard lock(mutex);
      old = std::move(this->*which);
      this->*which = std::move(callback);
    }
  }
};

// Calls a Python callback from an engine thread. An exception in it is reported through
// Python's unraisable hook and does not reach the engine.
template <typename... Args>
void CallBack(Callbacks& callbacks, py::object Callbacks::*which, Args&&... args) {
  if (!Py_IsInitialized()) return;
  py::gil_scoped_acquire gil;
  py::object callback = callbacks.Get(which);
  if (!callback || callback.is_none()) return;
  try {
    callback(std::forward<Args>(args)...);
  } catch (py::error_already_set& error) {
    error.discard_as_unraisable("an ordalis callback");
  }
}

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
  void ResultsReset() override {}
  void Started() override {
    started_.store(true);
    CallBack(*callbacks_, &Callbacks::on_started);
  }
  void Reset() override {}
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

std::uint32_t TimeoutMs(std::optional<double> seconds) {
  if (!seconds) return kInfinite;
  if (*seconds <= 0) return 0;
  return static_cast<std::uint32_t>(std::min(*seconds * 1000.0, 4.0e9));
}

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

class PyScript {
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
  }
  ~PyScript() { Close(); }

  // Stops a run and ends the run thread; the callbacks are dropped with the GIL held.
  void Close() {
    if (!script_) return;
    {
      py::gil_scoped_release release;
      script_->SetScriptEventsClient(nullptr);
      script_->SetTraceEventsClient(nullptr);
      script_->Stop();
      script_.reset();
    }
    for (auto which : {&Callbacks::on_executed, &Callbacks::on_state_changed, &Callbacks::on_log,
                       &Callbacks::on_started}) {
      callbacks_->Set(which, py::object());
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
    client_->PrepareRun();
    Check(Live().Run(), "Run");
  }
  void Step() { Check(Live().Step(), "Step"); }
  void Pause() { Check(Live().Pause(), "Pause"); }
  void Stop() { Check(Live().Stop(), "Stop"); }
  bool Wait(std::optional<double> timeout) { return client_->WaitForEnd(TimeoutMs(timeout)); }
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
  // Writes the HTML report beside the results document and, when [junit] is given, a JUnit one.
  py::dict Report(const std::string& junit) {
    report::RunReports reports;
    std::string results;
    {
      py::gil_scoped_release release;
      results = Live().results_xml_path();
      if (!results.empty()) {
        report::RunAnnotations notes = client_->Finish(*Live().root());
        reports = report::PublishRunReports(results, &notes, junit);
      }
    }
    const report::RunDigest& digest = reports.outcome.digest;
    py::dict out;
    out["verdict"] = static_cast<int>(results.empty() ? Live().overall_result() : digest.verdict);
    out["results_path"] = results;
    out["report_path"] = reports.html_path;
    out["junit_written"] = reports.junit_written;
    out["problems"] = reports.problems;
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
  void SetRunVariable(const std::string& name, const std::string& literal) { manager_->Set(name, literal); }

  std::shared_ptr<Callbacks> callbacks() const { return callbacks_; }

 private:
  CScript& Live() {
    if (!script_) throw StatusError(E_FAIL, "the script was closed");
    return *script_;
  }
  std::shared_ptr<Callbacks> callbacks_;
  std::shared_ptr<RunManager> manager_;
  std::shared_ptr<ScriptClient> client_;
  std::shared_ptr<CScript> script_;
};

class PyApplicationManager {
 public:
  PyApplicationManager() : manager_(std::make_shared<CApplicationManager>()) {}
  std::string Version() { return Text(&IApplicationManager::get_Version, "Version"); }
  std::string BuildTimeStamp() { return Text(&IApplicationManager::get_BuildTimeStamp, "BuildTimeStamp"); }
  std::vector<std::pair<std::string, std::string>> Variables(bool user) {
    std::uint32_t count = 0;
    Check(user ? manager_->get_UserVariableCount(&count) : manager_->get_SystemVariableCount(&count),
          "VariableCount");
    std::vector<std::pair<std::string, std::string>> list;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::string name, value;
      if ((user ? manager_->get_UserVariableNames(i, &name) : manager_->get_SystemVariableNames(i, &name)) < 0) continue;
      if (user) manager_->get_UserVariableValue(name, &value);
      else manager_->get_SystemVariableValue(name, &value);
      list.emplace_back(name, value);
    }
    return list;
  }
  void AddVariable(bool user, const std::string& name, const std::string& value) {
    Check(user ? manager_->AddUserVariable(name, value) : manager_->AddSystemVariable(name, value),
          "AddVariable");
  }
  void RemoveVariable(bool user, const std::string& name) {
    Check(user ? manager_->RemoveUserVariable(name) : manager_->RemoveSystemVariable(name), "RemoveVariable");
  }
  std::vector<std::string> TesterCreators() {
    std::uint32_t count = 0;
    Check(manager_->get_TesterCreatorCount(&count), "TesterCreatorCount");
    std::vector<std::string> list;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::string guid;
      if (manager_->get_TesterCreators(i, &guid) >= 0) list.push_back(guid);
    }
    return list;
  }

 private:
  std::string Text(Status (IApplicationManager::*getter)(std::string*), const char* name) {
    std::string text;
    Check((manager_.get()->*getter)(&text), name);
    return text;
  }
  std::shared_ptr<CApplicationManager> manager_;
};

// Batch queue events: counts the items that finished and calls the Python callbacks.
class QueueSink : public IBatchQueueEvents {
 public:
  explicit QueueSink(std::shared_ptr<Callbacks> callbacks) : callbacks_(std::move(callbacks)) {}
  Status Started(std::uint32_t id) override {
    CallBack(*callbacks_, &Callbacks::on_started, id);
    return S_OK;
  }
  // The callback comes first, so a client woken by the count sees its callback's work done.
  Status Finished(std::uint32_t id) override {
    CallBack(*callbacks_, &Callbacks::on_executed, id);
    {
      std::lock_guard lock(mutex_);
      ++finished_;
    }
    changed_.notify_all();
    return S_OK;
  }
  Status Added(std::uint32_t) override { return S_OK; }
  Status Removed(std::uint32_t) override { return S_OK; }
  Status Moved(std::uint32_t) override { return S_OK; }
  bool WaitForFinished(std::size_t count, std::uint32_t timeout_ms) {
    std::unique_lock lock(mutex_);
    auto done = [&] { return finished_ >= count; };
    if (timeout_ms == kInfinite) {
      changed_.wait(lock, done);
      return true;
    }
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), done);
  }
  std::size_t finished() {
    std::lock_guard lock(mutex_);
    return finished_;
  }

 private:
  std::shared_ptr<Callbacks> callbacks_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t finished_ = 0;
};

class PyBatchQueue {
 public:
  PyBatchQueue() : callbacks_(std::make_shared<Callbacks>()) {
    queue_ = CBatchQueue::Create(std::make_shared<CApplicationManager>(), QueuePacing::kWakeOnChange);
    sink_ = std::make_shared<QueueSink>(callbacks_);
    queue_->BatchQueueEvents().Advise(sink_, &cookie_);
  }
  ~PyBatchQueue() { Close(); }
  void Close() {
    if (!queue_) return;
    {
      py::gil_scoped_release release;
      queue_->BatchQueueEvents().Unadvise(cookie_);
      queue_->Stop();
      queue_.reset();
    }
    callbacks_->Set(&Callbacks::on_started, py::object());
    callbacks_->Set(&Callbacks::on_executed, py::object());
  }
  std::uint32_t Add(const std::string& path, const std::string& email) {
    std::uint32_t id = 0;
    Check(Live().Add(path, email, &id), "Add");
    return id;
  }
  void Remove(std::uint32_t id) { Check(Live().Remove(id), "Remove"); }
  std::vector<std::uint32_t> Ids() {
    std::uint32_t count = 0;
    Check(Live().get_ItemCount(&count), "ItemCount");
    std::vector<std::uint32_t> ids;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::uint32_t id = 0;
      if (Live().get_Id(i, &id) >= 0) ids.push_back(id);
    }
    return ids;
  }
  void Run() { Check(Live().Run(), "Run"); }
  void Stop() { Check(Live().Stop(), "Stop"); }
  void Pause() { Check(Live().Pause(), "Pause"); }
  int State() {
    BatchQueueState state{};
    Check(Live().get_State(&state), "State");
    return state;
  }
  int Status(std::uint32_t id) {
    BatchQueueItemStatus status{};
    Check(Live().get_Status(id, &status), "Status");
    return status;
  }
  std::string FileName(std::uint32_t id) {
    std::string name;
    Check(Live().get_FileName(id, &name), "FileName");
    return name;
  }
  bool AutoRemove() {
    VariantBool value = kVariantFalse;
    Check(Live().get_AutoRemove(&value), "AutoRemove");
    return value == kVariantTrue;
  }
  void SetAutoRemove(bool value) { Check(Live().put_AutoRemove(value ? kVariantTrue : kVariantFalse), "AutoRemove"); }
  std::string ResultsFileName() {
    std::string name;
    Check(Live().get_ResultsFileName(&name), "ResultsFileName");
    return name;
  }
  bool WaitForFinished(std::size_t count, std::optional<double> timeout) {
    return sink_->WaitForFinished(count, TimeoutMs(timeout));
  }
  std::size_t finished() { return sink_->finished(); }
  std::shared_ptr<Callbacks> callbacks() const { return callbacks_; }

 private:
  CBatchQueue& Live() {
    if (!queue_) throw StatusError(E_FAIL, "the batch queue was closed");
    return *queue_;
  }
  std::shared_ptr<Callbacks> callbacks_;
  std::shared_ptr<QueueSink> sink_;
  std::uint32_t cookie_ = 0;
  std::shared_ptr<CBatchQueue> queue_;
};

class PyScriptProxy {
 public:
  PyScriptProxy() : proxy_(CScriptProxy::Create(std::make_shared<CApplicationManager>(), Pacing{0, 0, 0})) {}
  ~PyScriptProxy() {
    py::gil_scoped_release release;
    proxy_.reset();
  }
  void Load(const std::string& path) { Check(proxy_->Load(path), "Load"); }
  void SaveAs(const std::string& path) { Check(proxy_->SaveAs(path), "SaveAs"); }
  void Save() { Check(proxy_->Save(), "Save"); }
  std::pair<std::string, std::string> Link() {
    std::string type, parameters;
    Check(proxy_->GetSerialParameters(&type, &parameters), "GetSerialParameters");
    return {type, parameters};
  }
  void SetLink(const std::string& type, const std::string& parameters) {
    Check(proxy_->SetSerialParameters(type, parameters), "SetSerialParameters");
  }
  void SetKey(const std::string& key) { Check(proxy_->put_EncryptionKey(key), "EncryptionKey"); }
  // The port a TCP server link listens on; 0 before it listens or for other links.
  std::uint16_t ListeningPort() { return proxy_->ListeningPort(); }

 private:
  std::shared_ptr<CScriptProxy> proxy_;
};


// ---- Testers written in Python ----
//
// A Python class registered with register_tester becomes a tester type: `new name(args)` in a
// script makes an instance with cls(*args), an action is a call of its public method of that
// name with the statement's parameters. All registered classes are offered by one in-process
// creator. The classes are kept for the life of the process (as a loaded module would be), so
// engine threads never touch their reference counts.

constexpr const char* kPythonCreatorId = "{7D1F4C2A-93B6-4E57-A0C8-5B2E6F1D3A94}";

struct PythonTesterClass {
  std::string name;
  PyObject* cls;  // a strong reference never released
  std::vector<std::string> actions;
};

std::mutex g_python_testers_mutex;
std::vector<PythonTesterClass> g_python_testers;

std::vector<PythonTesterClass> PythonTesterClasses() {
  std::lock_guard lock(g_python_testers_mutex);
  return g_python_testers;
}

// The text of the Python exception being handled, traceback included.
std::string ExceptionText(py::error_already_set& error) {
  try {
    py::object format = py::module_::import("traceback").attr("format_exception");
    py::list lines = format(error.type(), error.value(), error.trace());
    std::string text;
    for (const py::handle& line : lines) text += line.cast<std::string>();
    return text;
  } catch (...) {
    return error.what();
  }
}

class PythonTester : public ITester2 {
 public:
  explicit PythonTester(PythonTesterClass type) : type_(std::move(type)) {}
  ~PythonTester() override {
    if (!Py_IsInitialized()) {
      (void)instance_.release();  // the interpreter is gone: nothing to release into
      return;
    }
    py::gil_scoped_acquire gil;
    instance_ = py::object();
  }

  Status get_ActionCount(std::uint32_t* count) override {
    if (count == nullptr) return E_POINTER;
    *count = static_cast<std::uint32_t>(type_.actions.size());
    return S_OK;
  }
  Status get_Actions(std::uint32_t action_number, std::string* name) override {
    if (name == nullptr) return E_POINTER;
    if (action_number >= type_.actions.size()) return E_INVALIDARG;
    *name = type_.actions[action_number];
    return S_OK;
  }
  // The method's return value gives the values (a tuple gives several); a method may return
  // ordalis.Outcome(result, values) to set the result. An exception is the action's TestError,
  // with the traceback in the log.
  Status Execute(std::uint32_t action_number, VariantArrayPtr parameters, VariantArrayPtr* values,
                 Result* result) override {
    if (values == nullptr || result == nullptr) return E_POINTER;
    if (action_number >= type_.actions.size()) return E_INVALIDARG;
    values->reset();
    py::gil_scoped_acquire gil;
    if (!instance_) {
      *result = TestError;
      return S_OK;
    }
    try {
      py::tuple arguments = ArgumentsOf(parameters);
      py::object answer = instance_.attr(type_.actions[action_number].c_str())(*arguments);
      *result = TestPassed;
      if (py::hasattr(answer, "_ordalis_outcome")) {
        *result = static_cast<Result>(answer.attr("result").cast<int>());
        answer = answer.attr("values");
      }
      if (!answer.is_none()) {
        *values = py::isinstance<py::tuple>(answer) ? ArrayFromPython(py::list(answer))
                                                     : std::make_shared<VariantArray>(VariantArray{FromPython(answer)});
      }
    } catch (py::error_already_set& error) {
      LogLine(severe, type_.name + "." + type_.actions[action_number] + " raised:\n" + ExceptionText(error));
      *result = TestError;
    } catch (const std::exception& error) {
      LogLine(severe, type_.name + "." + type_.actions[action_number] + ": " + error.what());
      *result = TestError;
    }
    return S_OK;
  }
  Status ActionDocumentation(std::uint32_t action_number, std::string* description, TextArray* in_parameters,
                             TextArray* out_parameters) override {
    if (description == nullptr || in_parameters == nullptr || out_parameters == nullptr) return E_POINTER;
    if (action_number >= type_.actions.size()) return E_INVALIDARG;
    py::gil_scoped_acquire gil;
    py::object method = py::reinterpret_borrow<py::object>(type_.cls).attr(type_.actions[action_number].c_str());
    py::object doc = method.attr("__doc__");
    *description = doc.is_none() ? std::string() : doc.cast<std::string>();
    in_parameters->clear();
    out_parameters->clear();
    return S_OK;
  }
  // Makes the Python object with the constructor's parameters.
  Status Open(VariantArrayPtr parameters, VariantBool* opened) override {
    if (opened == nullptr) return E_POINTER;
    py::gil_scoped_acquire gil;
    try {
      instance_ = py::reinterpret_borrow<py::object>(type_.cls)(*ArgumentsOf(parameters));
      *opened = kVariantTrue;
    } catch (py::error_already_set& error) {
      LogLine(severe, "new " + type_.name + " raised:\n" + ExceptionText(error));
      *opened = kVariantFalse;
    }
    return S_OK;
  }
  Status Close(VariantBool* closed) override {
    if (closed == nullptr) return E_POINTER;
    *closed = kVariantTrue;
    CallOptional("close");
    return S_OK;
  }
  Status Abort() override {
    CallOptional("abort");
    return S_OK;
  }
  Status get_TesterType(std::string* type) override {
    if (type == nullptr) return E_POINTER;
    *type = type_.name;
    return S_OK;
  }
  Status get_Status(std::string* status) override {
    if (status == nullptr) return E_POINTER;
    *status = "OK";
    return S_OK;
  }
  Status SetTrace(std::shared_ptr<ITrace> trace) override {
    std::lock_guard lock(trace_mutex_);
    trace_ = std::move(trace);
    return S_OK;
  }
  Status get_Version(std::string* version) override {
    if (version == nullptr) return E_POINTER;
    *version = "1.0";
    return S_OK;
  }
  Status scriptDirectory(const std::string&) override { return S_OK; }
  Status get_Description(std::string* description) override {
    if (description == nullptr) return E_POINTER;
    py::gil_scoped_acquire gil;
    py::object doc = py::reinterpret_borrow<py::object>(type_.cls).attr("__doc__");
    *description = doc.is_none() ? std::string("Python tester") : doc.cast<std::string>();
    return S_OK;
  }
  Status ConstructorDocumentation(std::string* description, TextArray* in_parameters) override {
    if (description == nullptr || in_parameters == nullptr) return E_POINTER;
    description->clear();
    in_parameters->clear();
    return S_OK;
  }

 private:
  static py::tuple ArgumentsOf(const VariantArrayPtr& parameters) {
    py::list list = ToPython(parameters);
    return py::tuple(list);
  }
  // Calls [name] on the instance when the class has it; an exception there is logged.
  void CallOptional(const char* name) {
    py::gil_scoped_acquire gil;
    if (!instance_ || !py::hasattr(instance_, name)) return;
    try {
      instance_.attr(name)();
    } catch (py::error_already_set& error) {
      LogLine(severe, type_.name + "." + name + " raised:\n" + ExceptionText(error));
    }
  }
  // Writes to the script's log; called with the GIL held, so the GIL is let go around the call.
  void LogLine(LoggingLevel level, const std::string& text) {
    std::shared_ptr<ITrace> trace;
    {
      std::lock_guard lock(trace_mutex_);
      trace = trace_;
    }
    if (!trace) return;
    py::gil_scoped_release release;
    trace->Log(level, text);
  }

  PythonTesterClass type_;
  py::object instance_;
  std::mutex trace_mutex_;
  std::shared_ptr<ITrace> trace_;
};

class PythonTesterCreator : public ITesterCreator1 {
 public:
  Status get_NumberOfTypes(std::uint32_t* count) override {
    if (count == nullptr) return E_POINTER;
    *count = static_cast<std::uint32_t>(types_.size());
    return S_OK;
  }
  Status create(std::uint32_t tester_number, std::shared_ptr<ITester>* tester) override {
    if (tester == nullptr) return E_POINTER;
    if (tester_number >= types_.size()) return E_INVALIDARG;
    *tester = std::make_shared<PythonTester>(types_[tester_number]);
    return S_OK;
  }
  Status get_Version(std::string* version) override {
    if (version == nullptr) return E_POINTER;
    *version = "1.0";
    return S_OK;
  }

 private:
  std::vector<PythonTesterClass> types_ = PythonTesterClasses();
};

std::shared_ptr<ITesterCreator> MakePythonTesterCreator() { return std::make_shared<PythonTesterCreator>(); }

// Enters [cls] as tester type [name] (compared ignoring case by the catalogue); its actions are
// its public methods other than close and abort.
void RegisterTester(const std::string& name, py::object cls) {
  if (name.empty()) throw py::value_error("a tester type needs a name");
  PythonTesterClass type{name, cls.ptr(), {}};
  py::list members = py::module_::import("builtins").attr("dir")(cls);
  for (const py::handle& member : members) {
    std::string text = member.cast<std::string>();
    if (text.empty() || text[0] == '_' || text == "close" || text == "abort") continue;
    if (PyCallable_Check(py::getattr(cls, member).ptr())) type.actions.push_back(text);
  }
  {
    std::lock_guard lock(g_python_testers_mutex);
    for (const PythonTesterClass& known : g_python_testers) {
      if (LowerName(known.name) == LowerName(name)) throw py::value_error("tester type '" + name + "' is registered already");
    }
    cls.inc_ref();
    g_python_testers.push_back(std::move(type));
  }
  py::gil_scoped_release release;
  static const bool registered = PluginHost::Instance()->AddTesterCreator(kPythonCreatorId, &MakePythonTesterCreator);
  (void)registered;
  Testers::Instance().Add(kPythonCreatorId);
}

template <typename Owner>
void SetCallback(Owner& owner, py::object Callbacks::*which, py::object callback) {
  if (!callback.is_none() && !PyCallable_Check(callback.ptr())) throw py::type_error("a callback must be callable or None");
  // A null handle, not None, so that an engine thread never touches a Python reference count.
  owner.callbacks()->Set(which, callback.is_none() ? py::object() : std::move(callback));
}

}  // namespace
}  // namespace ordalis::python

PYBIND11_MODULE(_ordalis, m) {
  using namespace ordalis;
  using namespace ordalis::python;
  m.doc() = "The Ordalis engine's classes; import the package `ordalis`, not this module.";

  static py::exception<StatusError> error(m, "OrdalisError", PyExc_RuntimeError);
  py::register_exception_translator([](std::exception_ptr thrown) {
    try {
      if (thrown) std::rethrow_exception(thrown);
    } catch (const StatusError& failure) {
      py::object type = py::reinterpret_borrow<py::object>(error.ptr());
      py::object instance = type(failure.what());
      instance.attr("status") = static_cast<std::uint32_t>(failure.status);
      PyErr_SetObject(error.ptr(), instance.ptr());
    }
  });

  m.def("register_tester", &RegisterTester, py::arg("name"), py::arg("cls"),
        "Makes a Python class a tester type of the scripts run in this process.");
  m.def("class_names", &ClassProgids, "The programmatic identifiers of the creatable classes.");
  m.def("can_unload_now", [] { return CanUnloadNow() == S_OK; });

  py::class_<PyScriptItem>(m, "ScriptItem")
      .def_property_readonly("text", &PyScriptItem::text)
      .def_property_readonly("script_text", &PyScriptItem::script_text)
      .def_property_readonly("file_name", &PyScriptItem::file_name)
      .def_property_readonly("type", &PyScriptItem::type)
      .def_property_readonly("line", &PyScriptItem::line)
      .def_property_readonly("id", &PyScriptItem::id)
      .def_property_readonly("result", &PyScriptItem::result)
      .def("result_count", &PyScriptItem::result_count)
      .def_property_readonly("children", &PyScriptItem::children)
      .def_property_readonly("parent", &PyScriptItem::parent)
      .def("__repr__", [](const PyScriptItem& item) {
        return "<ScriptItem " + item.type() + " line " + std::to_string(item.line()) + ">";
      });

  py::class_<PyScript>(m, "Script")
      .def(py::init<bool>(), py::arg("pace") = false)
      .def("close", &PyScript::Close)
      .def("load", &PyScript::Load, Release())
      .def_property_readonly("errors", &PyScript::Errors, Release())
      .def("run", &PyScript::Run, Release())
      .def("step", &PyScript::Step, Release())
      .def("pause", &PyScript::Pause, Release())
      .def("stop", &PyScript::Stop, Release())
      .def("wait", &PyScript::Wait, py::arg("timeout") = py::none(), Release())
      .def_property_readonly("state", &PyScript::State, Release())
      .def_property_readonly("result", &PyScript::OverallResult, Release())
      .def_property_readonly("results_path", &PyScript::ResultsPath, Release())
      .def_property("results_directory", &PyScript::ResultsDirectory, &PyScript::SetResultsDirectory, Release())
      .def_property("version_under_test", &PyScript::VersionUnderTest, &PyScript::SetVersionUnderTest, Release())
      .def_property_readonly("item", &PyScript::Root, Release())
      .def_property_readonly("variable_names", &PyScript::VariableNames, Release())
      .def("variable", [](PyScript& script, const std::string& name) {
        VariantArrayPtr value;
        {
          py::gil_scoped_release release;
          value = script.Variable(name);
        }
        return ToPython(value);
      })
      .def("set_variable", [](PyScript& script, const std::string& name, py::object value) {
        VariantArrayPtr array = ArrayFromPython(value);
        py::gil_scoped_release release;
        script.SetVariable(name, std::move(array));
      })
      .def("set_run_variable", &PyScript::SetRunVariable, py::arg("name"), py::arg("literal"))
      .def("report", &PyScript::Report, py::arg("junit") = "")
      .def("on_executed", [](PyScript& s, py::object f) { SetCallback(s, &Callbacks::on_executed, f); })
      .def("on_state_changed", [](PyScript& s, py::object f) { SetCallback(s, &Callbacks::on_state_changed, f); })
      .def("on_log", [](PyScript& s, py::object f) { SetCallback(s, &Callbacks::on_log, f); })
      .def("on_started", [](PyScript& s, py::object f) { SetCallback(s, &Callbacks::on_started, f); });

  py::class_<PyApplicationManager>(m, "ApplicationManager")
      .def(py::init<>())
      .def_property_readonly("version", &PyApplicationManager::Version, Release())
      .def_property_readonly("build_time_stamp", &PyApplicationManager::BuildTimeStamp, Release())
      .def("variables", &PyApplicationManager::Variables, py::arg("user"), Release())
      .def("add_variable", &PyApplicationManager::AddVariable, Release())
      .def("remove_variable", &PyApplicationManager::RemoveVariable, Release())
      .def_property_readonly("tester_creators", &PyApplicationManager::TesterCreators, Release());

  py::class_<CTesterUtilities, std::shared_ptr<CTesterUtilities>>(m, "TesterUtilities")
      .def(py::init([] { return std::make_shared<CTesterUtilities>(); }))
      .def("variable_value", [](CTesterUtilities& utilities, const std::string& text) {
        VariantArrayPtr values;
        Check(utilities.VariableValue(text, &values), "VariableValue");
        return ToPython(values);
      })
      .def("format", [](CTesterUtilities& utilities, std::uint32_t index, py::object parameters) {
        std::string text;
        Check(utilities.Format(index, ArrayFromPython(parameters), &text), "Format");
        return text;
      });

  py::class_<PyBatchQueue>(m, "BatchQueue")
      .def(py::init<>())
      .def("close", &PyBatchQueue::Close)
      .def("add", &PyBatchQueue::Add, py::arg("path"), py::arg("email_addresses") = "", Release())
      .def("remove", &PyBatchQueue::Remove, Release())
      .def_property_readonly("ids", &PyBatchQueue::Ids, Release())
      .def("run", &PyBatchQueue::Run, Release())
      .def("stop", &PyBatchQueue::Stop, Release())
      .def("pause", &PyBatchQueue::Pause, Release())
      .def_property_readonly("state", &PyBatchQueue::State, Release())
      .def("status", &PyBatchQueue::Status, Release())
      .def("file_name", &PyBatchQueue::FileName, Release())
      .def_property("auto_remove", &PyBatchQueue::AutoRemove, &PyBatchQueue::SetAutoRemove, Release())
      .def_property_readonly("results_file_name", &PyBatchQueue::ResultsFileName, Release())
      .def("wait_for_finished", &PyBatchQueue::WaitForFinished, py::arg("count"),
           py::arg("timeout") = py::none(), Release())
      .def_property_readonly("finished", &PyBatchQueue::finished, Release())
      .def("on_started", [](PyBatchQueue& q, py::object f) { SetCallback(q, &Callbacks::on_started, f); })
      .def("on_finished", [](PyBatchQueue& q, py::object f) { SetCallback(q, &Callbacks::on_executed, f); });

  py::class_<PyScriptProxy>(m, "ScriptProxy")
      .def(py::init<>())
      .def("load", &PyScriptProxy::Load, Release())
      .def("save_as", &PyScriptProxy::SaveAs, Release())
      .def("save", &PyScriptProxy::Save, Release())
      .def_property_readonly("link", &PyScriptProxy::Link, Release())
      .def("set_link", &PyScriptProxy::SetLink, Release())
      .def("set_key", &PyScriptProxy::SetKey, Release())
      .def_property_readonly("listening_port", &PyScriptProxy::ListeningPort, Release());
}
