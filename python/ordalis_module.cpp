// ordalis._ordalis: the component's classes for Python. Every call into the engine releases the
// GIL first, and the engine's event clients take it only to call the Python callback, so no
// thread ever waits for the GIL while it holds one of the engine's locks, and a Python thread
// that waits for the run thread never holds the GIL the run thread needs.

#include <pybind11/functional.h>
#include <pybind11/operators.h>
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
#include <system_error>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "batch/batch_queue.h"
#include "engine/script.h"
#include "interp/variable_table.h"
#include "ordalis/measurement.h"
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

// [object]'s later interface [I]; an object that does not offer it answers E_NOINTERFACE with
// [missing] as the text.
template <typename I, typename T>
std::shared_ptr<I> Later(const std::shared_ptr<T>& object, const char* missing) {
  auto later = std::dynamic_pointer_cast<I>(object);
  if (!later) throw StatusError(E_NOINTERFACE, missing);
  return later;
}

bool IsTrue(VariantBool value) { return value != kVariantFalse; }
VariantBool ToVariantBool(bool value) { return value ? kVariantTrue : kVariantFalse; }

// Calls an engine getter with an out-parameter of type T and answers the value it gave, or
// raises the failure. [operation] names the operation in the exception's text.
template <typename T, typename Call>
T Out(const char* operation, Call&& call) {
  T value{};
  Check(call(&value), operation);
  return value;
}

template <typename Call>
bool OutBool(const char* operation, Call&& call) {
  return IsTrue(Out<VariantBool>(operation, std::forward<Call>(call)));
}

// One item of a script's tree, or a free-standing item made by ScriptItem().
class PyScriptItem {
 public:
  explicit PyScriptItem(std::shared_ptr<IScriptItem> item) : item_(std::move(item)) {
    if (!item_) throw StatusError(E_POINTER, "no script item");
  }
  // A new free-standing item, as a client makes one by its class name.
  static PyScriptItem Create() {
    std::shared_ptr<IUnknown> object;
    Check(CreateInstance("Ordalis.ScriptItem", &object), "CreateInstance");
    return PyScriptItem(std::dynamic_pointer_cast<IScriptItem>(object));
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
  std::uint32_t child_count() const { return Get(&IScriptItem::get_ChildCount, "ChildCount"); }
  PyScriptItem child(std::uint32_t index) const {
    std::shared_ptr<IScriptItem> child;
    Check(item_->get_Children(index, &child), "Children");
    return PyScriptItem(child);
  }
  std::vector<PyScriptItem> children() const {
    std::uint32_t count = child_count();
    std::vector<PyScriptItem> list;
    for (std::uint32_t i = 0; i < count; ++i) list.push_back(child(i));
    return list;
  }
  std::optional<PyScriptItem> parent() const {
    std::shared_ptr<IScriptItem> parent;
    if (item_->get_Parent(&parent) < 0 || !parent) return std::nullopt;
    return PyScriptItem(parent);
  }
  void ResetResults() { Check(item_->ResetResults(), "ResetResults"); }
  std::uint32_t number_of_results() const {
    return Get(&IScriptItem::get_NumberOfResults, "NumberOfResults");
  }
  void SetResultStatus(int result) { Check(item_->SetResultStatus(static_cast<Result>(result)), "SetResultStatus"); }
  void AddResult(int result, std::uint32_t iteration, double time_taken, VariantArrayPtr values) {
    Check(item_->AddResult(static_cast<Result>(result), iteration, time_taken, std::move(values)), "AddResult");
  }
  // One result record: (result, iteration, time, time taken, values).
  struct Record {
    int result = TestNotRun;
    std::uint32_t iteration = 0;
    std::int64_t time = 0;
    double time_taken = 0;
    VariantArrayPtr values;
  };
  Record Results(std::uint32_t index) const {
    Result result = TestNotRun;
    Record record;
    Check(item_->Results(index, &result, &record.iteration, &record.time, &record.time_taken, &record.values),
          "Results");
    record.result = result;
    return record;
  }
  bool breakpoint() const {
    return OutBool("BreakpointSet", [&](VariantBool* v) { return item_->get_BreakpointSet(v); });
  }
  void set_breakpoint(bool value) { Check(item_->put_BreakpointSet(ToVariantBool(value)), "BreakpointSet"); }
  void ClearAllBreakpoints() { Check(item_->ClearAllBreakpoints(), "ClearAllBreakpoints"); }
  std::optional<PyScriptItem> current_parent() const {
    std::shared_ptr<IScriptItem> parent;
    Check(item_->get_CurrentParent(&parent), "CurrentParent");
    if (!parent) return std::nullopt;
    return PyScriptItem(parent);
  }
  void set_current_parent(std::optional<PyScriptItem> parent) {
    Check(item_->put_CurrentParent(parent ? parent->item_ : nullptr), "CurrentParent");
  }
  // Two views are equal when they show the same item.
  bool operator==(const PyScriptItem& other) const { return item_ == other.item_; }
  std::size_t hash() const { return std::hash<const void*>()(item_.get()); }

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
  py::object on_added;
  py::object on_removed;
  py::object on_moved;
  py::object on_results_reset;
  py::object on_reset;

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

// ---- Leaving the interpreter ----
//
// An engine thread that takes the GIL once the interpreter has begun to finalise is ended by
// Python on the spot, unwinding through the engine. So every engine thread enters Python through
// the gate below, and the module's exit hook (run by atexit, before finalisation) first closes
// the scripts and queues still open, which stops their runs and writes their results, then
// closes the gate and waits for the threads still inside to come out.

class PythonGate {
 public:
  // True when the calling thread may take the GIL; it then calls Leave once it has let go.
  bool Enter() {
    std::lock_guard lock(mutex_);
    if (closed_) return false;
    ++inside_;
    return true;
  }
  void Leave() {
    {
      std::lock_guard lock(mutex_);
      --inside_;
    }
    left_.notify_all();
  }
  // Called without the GIL: nobody enters from now on; waits for those inside, however long
  // a Python action of theirs takes.
  void CloseAndDrain() {
    std::unique_lock lock(mutex_);
    closed_ = true;
    left_.wait(lock, [&] { return inside_ == 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable left_;
  int inside_ = 0;
  bool closed_ = false;
};

// Process-wide helpers are never destroyed: engine threads may still use them while the
// process exits.
PythonGate& Gate() {
  static auto* gate = new PythonGate;
  return *gate;
}

// The GIL for an engine thread, taken only while the interpreter is not finalising; test it
// before touching Python. Declared before any Python object it guards, so it goes last.
class EngineGil {
 public:
  EngineGil() : entered_(Py_IsInitialized() && Gate().Enter()) {
    if (entered_) gil_.emplace();
  }
  ~EngineGil() {
    gil_.reset();
    if (entered_) Gate().Leave();
  }
  EngineGil(const EngineGil&) = delete;
  EngineGil& operator=(const EngineGil&) = delete;
  explicit operator bool() const { return entered_; }

 private:
  bool entered_;
  std::optional<py::gil_scoped_acquire> gil_;
};

// Lets go of [object] with the GIL when Python can still take it back, else leaks it: the
// interpreter is going, and with it everything the reference would have released.
void DropPythonObject(py::object& object) {
  EngineGil gil;
  if (gil) {
    object = py::object();
  } else {
    (void)object.release();
  }
}

// The scripts and queues a client has not closed; the exit hook closes them. Only touched with
// the GIL held, as the objects are made, closed and destroyed by Python.
class Closable {
 public:
  virtual ~Closable() = default;
  virtual void Close() = 0;
};

class OpenObjects {
 public:
  void Add(Closable* object) { objects_.push_back(object); }
  void Remove(Closable* object) { std::erase(objects_, object); }
  // The most recent object still open, taken off the list; null when none is left.
  Closable* Take() {
    if (objects_.empty()) return nullptr;
    Closable* object = objects_.back();
    objects_.pop_back();
    return object;
  }

 private:
  std::vector<Closable*> objects_;
};

OpenObjects& StillOpen() {
  static auto* objects = new OpenObjects;
  return *objects;
}

// Scripts let go without waiting for their runs (Script.close(wait=False)): each is released on
// a thread of its own, which waits there for its run to end; the exit hook waits for them all.
class Retirements {
 public:
  template <typename T>
  void Retire(std::shared_ptr<T> object) {
    {
      std::lock_guard lock(mutex_);
      ++pending_;
    }
    try {
      std::thread([this, object = std::move(object)]() mutable {
        object.reset();
        Done();
      }).detach();
    } catch (const std::system_error&) {
      object.reset();  // no thread to be had: it is let go here, waiting for its run
      Done();
    }
  }
  void WaitForAll() {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return pending_ == 0; });
  }

 private:
  void Done() {
    {
      std::lock_guard lock(mutex_);
      --pending_;
    }
    done_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable done_;
  int pending_ = 0;
};

Retirements& Retiring() {
  static auto* retirements = new Retirements;
  return *retirements;
}

// atexit: closes what is still open (GIL held), then waits for what was let go and for every
// engine thread inside Python (GIL released).
void OnInterpreterExit() {
  while (Closable* object = StillOpen().Take()) object->Close();
  py::gil_scoped_release release;
  Retiring().WaitForAll();
  Gate().CloseAndDrain();
}

// Calls a Python callback from an engine thread. An exception in it is reported through
// Python's unraisable hook and does not reach the engine.
template <typename... Args>
void CallBack(Callbacks& callbacks, py::object Callbacks::*which, Args&&... args) {
  EngineGil gil;
  if (!gil) return;
  py::object callback = callbacks.Get(which);
  if (!callback || callback.is_none()) return;
  try {
    callback(std::forward<Args>(args)...);
  } catch (py::error_already_set& error) {
    error.discard_as_unraisable("an ordalis callback");
  }
}

// A Python callable as the trace an operation logs to: called as callable(level, text) on
// whichever thread logs, with the GIL taken for the call only.
class PyTrace : public ITrace {
 public:
  explicit PyTrace(py::object callable) : callable_(std::move(callable)) {}
  ~PyTrace() override { DropPythonObject(callable_); }
  Status Log(LoggingLevel level, const std::string& text) override {
    EngineGil gil;
    if (!gil) return S_OK;
    try {
      callable_(static_cast<int>(level), text);
    } catch (py::error_already_set& error) {
      error.discard_as_unraisable("an ordalis trace");
    }
    return S_OK;
  }

 private:
  py::object callable_;
};

// None gives no trace; anything else must be callable. Called with the GIL held.
std::shared_ptr<ITrace> TraceOf(const py::object& callable) {
  if (callable.is_none()) return nullptr;
  if (!PyCallable_Check(callable.ptr())) throw py::type_error("a trace must be callable or None");
  return std::make_shared<PyTrace>(callable);
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

// The wrappers of the interfaces that operations hand out: tester creators and testers, batch
// item creators, batch items and the runners of a batch queue's entries. Each call releases the
// GIL (the bindings' Release()), so a plug-in may take its time or call back into Python.

// Lets go of [object] with the GIL released when this thread holds it: the last reference to
// a plug-in's object may wait in its destructor for a worker thread that needs the GIL to call
// a Python trace.
template <typename T>
void DropWithoutGil(std::shared_ptr<T>& object) {
  if (object && Py_IsInitialized() && PyGILState_Check()) {
    py::gil_scoped_release release;
    object.reset();
    return;
  }
  object.reset();
}

// A plug-in's object held for Python: never null, and let go without the GIL.
template <typename T>
class PluginObject {
 public:
  PluginObject(std::shared_ptr<T> object, const char* missing) : object_(std::move(object)) {
    if (!object_) throw StatusError(E_POINTER, missing);
  }
  ~PluginObject() { DropWithoutGil(object_); }
  PluginObject(const PluginObject&) = default;

 protected:
  std::shared_ptr<T> object_;
};

class PyTester : public PluginObject<ITester> {
 public:
  explicit PyTester(std::shared_ptr<ITester> tester) : PluginObject(std::move(tester), "no tester") {}
  std::vector<std::string> Actions() {
    std::uint32_t count = Out<std::uint32_t>("ActionCount", [&](auto* v) { return object_->get_ActionCount(v); });
    std::vector<std::string> names;
    for (std::uint32_t i = 0; i < count; ++i) {
      names.push_back(Out<std::string>("Actions", [&](auto* v) { return object_->get_Actions(i, v); }));
    }
    return names;
  }
  std::pair<int, VariantArrayPtr> Execute(std::uint32_t action, VariantArrayPtr parameters) {
    VariantArrayPtr values;
    Result result = TestNotRun;
    Check(object_->Execute(action, std::move(parameters), &values, &result), "Execute");
    return {result, values};
  }
  std::tuple<std::string, TextArray, TextArray> ActionDocumentation(std::uint32_t action) {
    std::string description;
    TextArray in, out;
    Check(object_->ActionDocumentation(action, &description, &in, &out), "ActionDocumentation");
    return {description, in, out};
  }
  bool Open(VariantArrayPtr parameters) {
    return OutBool("Open", [&](VariantBool* v) { return object_->Open(std::move(parameters), v); });
  }
  bool Close() { return OutBool("Close", [&](VariantBool* v) { return object_->Close(v); }); }
  void Abort() { Check(object_->Abort(), "Abort"); }
  std::string TesterType() { return Out<std::string>("TesterType", [&](auto* v) { return object_->get_TesterType(v); }); }
  std::string StatusText() { return Out<std::string>("Status", [&](auto* v) { return object_->get_Status(v); }); }
  void SetTrace(std::shared_ptr<ITrace> trace) { Check(object_->SetTrace(std::move(trace)), "SetTrace"); }
  std::string Version() { return Out<std::string>("Version", [&](auto* v) { return As<ITester1>()->get_Version(v); }); }
  void ScriptDirectory(const std::string& directory) { Check(As<ITester1>()->scriptDirectory(directory), "scriptDirectory"); }
  std::string Description() {
    return Out<std::string>("Description", [&](auto* v) { return As<ITester2>()->get_Description(v); });
  }
  std::pair<std::string, TextArray> ConstructorDocumentation() {
    std::string description;
    TextArray in;
    Check(As<ITester2>()->ConstructorDocumentation(&description, &in), "ConstructorDocumentation");
    return {description, in};
  }
  std::uint32_t NumberOfReturnedTesters() {
    return Out<std::uint32_t>("NumberOfReturnedTesters", [&](auto* v) { return As<ITester3>()->get_NumberOfReturnedTesters(v); });
  }
  std::optional<PyTester> CreateReturnedTester(std::uint32_t number) {
    std::shared_ptr<ITester> tester;
    Check(As<ITester3>()->createReturnedTester(number, &tester), "createReturnedTester");
    if (!tester) return std::nullopt;
    return PyTester(tester);
  }

 private:
  template <typename I>
  std::shared_ptr<I> As() { return Later<I>(object_, "the tester does not offer this operation"); }
};

class PyTesterCreator : public PluginObject<ITesterCreator> {
 public:
  explicit PyTesterCreator(std::shared_ptr<ITesterCreator> creator) : PluginObject(std::move(creator), "no tester creator") {}
  std::uint32_t NumberOfTypes() {
    return Out<std::uint32_t>("NumberOfTypes", [&](auto* v) { return object_->get_NumberOfTypes(v); });
  }
  std::optional<PyTester> Create(std::uint32_t number) {
    std::shared_ptr<ITester> tester;
    Check(object_->create(number, &tester), "create");
    if (!tester) return std::nullopt;
    return PyTester(tester);
  }
  std::string Version() {
    auto later = Later<ITesterCreator1>(object_, "the tester creator does not tell its version");
    return Out<std::string>("Version", [&](auto* v) { return later->get_Version(v); });
  }
};

class PyBatchQueueItem : public PluginObject<IBatchQueueItem> {
 public:
  explicit PyBatchQueueItem(std::shared_ptr<IBatchQueueItem> item) : PluginObject(std::move(item), "no batch item") {}
  std::string Version() { return Out<std::string>("Version", [&](auto* v) { return object_->get_Version(v); }); }
  std::string Description() { return Out<std::string>("Description", [&](auto* v) { return object_->get_Description(v); }); }
  void Execute(const std::string& file_name, std::shared_ptr<ITrace> trace) {
    Check(object_->Execute(file_name, std::move(trace)), "Execute");
  }
  int ItemStatus() { return Out<BatchQueueItemStatus>("Status", [&](auto* v) { return object_->get_Status(v); }); }
  void Abort() { Check(object_->Abort(), "Abort"); }
  void Reset() { Check(object_->Reset(), "Reset"); }
  bool PauseOnError() { return OutBool("PauseOnError", [&](VariantBool* v) { return object_->get_PauseOnError(v); }); }
  void SetPauseOnError(bool value) { Check(object_->put_PauseOnError(ToVariantBool(value)), "PauseOnError"); }
  std::string ResultsFile() {
    return Out<std::string>("ResultsFile", [&](auto* v) { return As<IBatchQueueItem1>()->get_ResultsFile(v); });
  }
  std::string ResultsDirectory() {
    return Out<std::string>("ResultsDirectory", [&](auto* v) { return As<IBatchQueueItem1>()->get_ResultsDirectory(v); });
  }
  void SetResultsDirectory(const std::string& directory) {
    Check(As<IBatchQueueItem1>()->put_ResultsDirectory(directory), "ResultsDirectory");
  }
  std::string VersionUnderTest() {
    return Out<std::string>("VersionUnderTest", [&](auto* v) { return As<IBatchQueueItem2>()->get_VersionUnderTest(v); });
  }
  void SetVersionUnderTest(const std::string& version) {
    Check(As<IBatchQueueItem2>()->put_VersionUnderTest(version), "VersionUnderTest");
  }

 private:
  template <typename I>
  std::shared_ptr<I> As() { return Later<I>(object_, "the batch item does not offer this operation"); }
};

class PyBatchQueueItemCreator : public PluginObject<IBatchQueueItemCreator> {
 public:
  explicit PyBatchQueueItemCreator(std::shared_ptr<IBatchQueueItemCreator> creator) : PluginObject(std::move(creator), "no batch item creator") {}
  std::string Version() { return Out<std::string>("Version", [&](auto* v) { return object_->get_Version(v); }); }
  std::optional<PyBatchQueueItem> Create(std::uint32_t index) {
    std::shared_ptr<IBatchQueueItem> item;
    Check(object_->create(index, &item), "create");
    if (!item) return std::nullopt;
    return PyBatchQueueItem(item);
  }
  std::vector<std::string> FileTypes() {
    std::uint32_t count =
        Out<std::uint32_t>("NumberOfFileTypes", [&](auto* v) { return object_->get_NumberOfFileTypes(v); });
    std::vector<std::string> types;
    for (std::uint32_t i = 0; i < count; ++i) {
      types.push_back(Out<std::string>("FileType", [&](auto* v) { return object_->get_FileType(i, v); }));
    }
    return types;
  }
};

// An entry's log lines as runner.on_log(level, message, variable_name) callbacks.
class RunnerLogSink : public ITraceEvents {
 public:
  explicit RunnerLogSink(std::shared_ptr<Callbacks> callbacks) : callbacks_(std::move(callbacks)) {}
  Status Log(const std::string&, std::uint32_t, std::int64_t, double, LoggingLevel level,
             const std::string& variable_name, const std::string& message) override {
    CallBack(*callbacks_, &Callbacks::on_log, static_cast<int>(level), message, variable_name);
    return S_OK;
  }
  Status LogClear() override { return S_OK; }

 private:
  std::shared_ptr<Callbacks> callbacks_;
};

// runner.on_log: connected to the runner's log source, and to a script entry's own log, while a
// Python runner object of the entry lives. Made and destroyed with the GIL held; the last copy
// disconnects and drops the callback then, so an engine thread never releases a Python object.
class RunnerLogSubscription {
 public:
  explicit RunnerLogSubscription(const std::shared_ptr<IBatchQueueRunner>& runner)
      : callbacks_(std::make_shared<Callbacks>()), sink_(std::make_shared<RunnerLogSink>(callbacks_)) {
    Connect(runner);
    std::shared_ptr<IBatchQueueItem> item;
    if (Succeeded(runner->get_Item(&item)) && item) Connect(item);
  }
  ~RunnerLogSubscription() {
    for (auto& [point, cookie] : connections_) point->Unadvise(cookie);
    py::object callback;
    {
      std::lock_guard lock(callbacks_->mutex);
      callback = std::move(callbacks_->on_log);
    }
    DropPythonObject(callback);
  }
  RunnerLogSubscription(const RunnerLogSubscription&) = delete;
  RunnerLogSubscription& operator=(const RunnerLogSubscription&) = delete;

  Callbacks& callbacks() { return *callbacks_; }

 private:
  void Connect(const std::shared_ptr<IUnknown>& object) {
    auto container = std::dynamic_pointer_cast<IConnectionPointContainer>(object);
    std::shared_ptr<IConnectionPoint<ITraceEvents>> point;
    std::uint32_t cookie = 0;
    if (container && container->FindConnectionPoint(&point) == S_OK && point && point->Advise(sink_, &cookie) == S_OK) {
      connections_.emplace_back(std::move(point), cookie);
    }
  }

  std::shared_ptr<Callbacks> callbacks_;
  std::shared_ptr<RunnerLogSink> sink_;
  std::vector<std::pair<std::shared_ptr<IConnectionPoint<ITraceEvents>>, std::uint32_t>> connections_;
};

// One entry of a batch queue as its runner: the file, the addresses and the item that runs it.
class PyBatchQueueRunner : public PluginObject<IBatchQueueRunner> {
 public:
  explicit PyBatchQueueRunner(std::shared_ptr<IBatchQueueRunner> runner) : PluginObject(std::move(runner), "no batch entry") {}
  std::string Version() { return Text("Version", &IBatchQueueRunner::get_Version); }
  std::string Description() { return Text("Description", &IBatchQueueRunner::get_Description); }
  void Execute() { Check(object_->Execute(), "Execute"); }
  int ItemStatus() { return Out<BatchQueueItemStatus>("Status", [&](auto* v) { return object_->get_Status(v); }); }
  void Abort() { Check(object_->Abort(), "Abort"); }
  std::string EmailAddresses() { return Text("EmailAddresses", &IBatchQueueRunner::get_EmailAddresses); }
  void SetEmailAddresses(const std::string& text) { Check(object_->put_EmailAddresses(text), "EmailAddresses"); }
  void SetTrace(std::shared_ptr<ITrace> trace) { Check(object_->SetTrace(std::move(trace)), "SetTrace"); }
  std::string FileName() { return Text("FileName", &IBatchQueueRunner::get_FileName); }
  void SetFileName(const std::string& text) { Check(object_->put_FileName(text), "FileName"); }
  void Reset() { Check(object_->Reset(), "Reset"); }
  std::optional<PyBatchQueueItem> Item() {
    std::shared_ptr<IBatchQueueItem> item;
    Check(object_->get_Item(&item), "Item");
    if (!item) return std::nullopt;
    return PyBatchQueueItem(item);
  }
  bool PauseOnError() { return OutBool("PauseOnError", [&](VariantBool* v) { return object_->get_PauseOnError(v); }); }
  void SetPauseOnError(bool value) { Check(object_->put_PauseOnError(ToVariantBool(value)), "PauseOnError"); }
  std::string ResultsFile() { return Text("ResultsFile", &IBatchQueueRunner::get_ResultsFile); }
  std::string ResultsDirectory() { return Text("ResultsDirectory", &IBatchQueueRunner::get_ResultsDirectory); }
  void SetResultsDirectory(const std::string& text) { Check(object_->put_ResultsDirectory(text), "ResultsDirectory"); }
  std::string VersionUnderTest() { return Text("VersionUnderTest", &IBatchQueueRunner::get_VersionUnderTest); }
  void SetVersionUnderTest(const std::string& text) { Check(object_->put_VersionUnderTest(text), "VersionUnderTest"); }
  // With the GIL held. None stops the callbacks.
  void OnLog(py::object callback) {
    if (!callback.is_none() && !PyCallable_Check(callback.ptr())) throw py::type_error("a callback must be callable or None");
    if (!log_) {
      if (callback.is_none()) return;
      log_ = std::make_shared<RunnerLogSubscription>(object_);
    }
    log_->callbacks().Set(&Callbacks::on_log, callback.is_none() ? py::object() : std::move(callback));
  }

 private:
  std::string Text(const char* name, Status (IBatchQueueRunner::*getter)(std::string*)) {
    return Out<std::string>(name, [&](std::string* v) { return (object_.get()->*getter)(v); });
  }

  // Shared by the copies of this runner object; goes with the last, before the runner itself.
  std::shared_ptr<RunnerLogSubscription> log_;
};

class PyApplicationManager {
 public:
  PyApplicationManager() : manager_(std::make_shared<CApplicationManager>()) {}
  explicit PyApplicationManager(std::shared_ptr<IApplicationManager> manager) : manager_(std::move(manager)) {
    if (!manager_) throw StatusError(E_POINTER, "no application manager");
  }
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
  std::string VariableValue(bool user, const std::string& name) {
    return Out<std::string>("VariableValue", [&](std::string* v) {
      return user ? manager_->get_UserVariableValue(name, v) : manager_->get_SystemVariableValue(name, v);
    });
  }
  void AddVariable(bool user, const std::string& name, const std::string& value) {
    Check(user ? manager_->AddUserVariable(name, value) : manager_->AddSystemVariable(name, value),
          "AddVariable");
  }
  void RemoveVariable(bool user, const std::string& name) {
    Check(user ? manager_->RemoveUserVariable(name) : manager_->RemoveSystemVariable(name), "RemoveVariable");
  }
  std::vector<std::string> TesterCreators() {
    return Guids("TesterCreators", &IApplicationManager::get_TesterCreatorCount, &IApplicationManager::get_TesterCreators);
  }
  bool AddTesterCreator(const std::string& guid) {
    return OutBool("AddTesterCreator", [&](VariantBool* v) { return manager_->AddTesterCreator(guid, v); });
  }
  bool RemoveTesterCreator(const std::string& guid) {
    return OutBool("RemoveTesterCreator", [&](VariantBool* v) { return manager_->RemoveTesterCreator(guid, v); });
  }
  std::vector<std::string> BatchQueueItemCreators() {
    return Guids("BatchQueueItemCreatorCreators", &IApplicationManager::get_BatchQueueItemCreatorCount,
                 &IApplicationManager::get_BatchQueueItemCreatorCreators);
  }
  bool AddBatchQueueItemCreator(const std::string& guid) {
    return OutBool("AddBatchQueueItemCreator", [&](VariantBool* v) { return manager_->AddBatchQueueItemCreator(guid, v); });
  }
  bool RemoveBatchQueueItemCreator(const std::string& guid) {
    return OutBool("RemoveBatchQueueItemCreator",
                   [&](VariantBool* v) { return manager_->RemoveBatchQueueItemCreator(guid, v); });
  }
  std::string SmtpServerName() { return Text(&IApplicationManager::get_SMTPServerName, "SMTPServerName"); }
  void SetSmtpServerName(const std::string& name) { Check(manager_->put_SMTPServerName(name), "SMTPServerName"); }
  void SmtpAuthentication(const std::string& user, const std::string& password) {
    Check(manager_->smtpAuthentication(user, password), "smtpAuthentication");
  }
  std::string SmtpAuthenticationUserName() {
    return Text(&IApplicationManager::get_smtpAuthenticationUserName, "smtpAuthenticationUserName");
  }
  std::string EmailAddresses() { return Text(&IApplicationManager::get_EmailAddresses, "EmailAddresses"); }
  void SetEmailAddresses(const std::string& text) { Check(manager_->put_EmailAddresses(text), "EmailAddresses"); }
  std::vector<PyTesterCreator> AllTesterCreators() {
    std::uint32_t count =
        Out<std::uint32_t>("AllTestCreatorsCount", [&](auto* v) { return manager_->get_AllTestCreatorsCount(v); });
    std::vector<PyTesterCreator> list;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::shared_ptr<ITesterCreator> creator;
      if (manager_->get_AllTestCreators(i, &creator) >= 0 && creator) list.emplace_back(creator);
    }
    return list;
  }
  void LoadCreators() { Check(manager_->LoadCreators(), "LoadCreators"); }
  void UnloadCreators() { Check(manager_->UnloadCreators(), "UnloadCreators"); }
  // The object a results file loads into: a batch queue for batch results, else nothing.
  std::shared_ptr<IUnknown> LoadResults(const std::string& path) {
    return Out<std::shared_ptr<IUnknown>>("LoadResults", [&](auto* v) { return manager_->LoadResults(path, v); });
  }
  bool HasAdminRights() {
    auto later = std::dynamic_pointer_cast<IApplicationManager1>(manager_);
    if (!later) throw StatusError(E_NOINTERFACE, "the application manager does not tell admin rights");
    return OutBool("HasAdminRights", [&](VariantBool* v) { return later->HasAdminRights(v); });
  }

 private:
  std::string Text(Status (IApplicationManager::*getter)(std::string*), const char* name) {
    std::string text;
    Check((manager_.get()->*getter)(&text), name);
    return text;
  }
  std::vector<std::string> Guids(const char* name, Status (IApplicationManager::*count_of)(std::uint32_t*),
                                 Status (IApplicationManager::*guid_at)(std::uint32_t, std::string*)) {
    std::uint32_t count = 0;
    Check((manager_.get()->*count_of)(&count), name);
    std::vector<std::string> list;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::string guid;
      if ((manager_.get()->*guid_at)(i, &guid) >= 0) list.push_back(guid);
    }
    return list;
  }
  std::shared_ptr<IApplicationManager> manager_;
};

// Batch queue events: counts the items that finished and calls the Python callbacks.
class QueueSink : public IBatchQueueEvents, public ITraceEvents {
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
  Status Added(std::uint32_t id) override {
    CallBack(*callbacks_, &Callbacks::on_added, id);
    return S_OK;
  }
  Status Removed(std::uint32_t id) override {
    CallBack(*callbacks_, &Callbacks::on_removed, id);
    return S_OK;
  }
  Status Moved(std::uint32_t id) override {
    CallBack(*callbacks_, &Callbacks::on_moved, id);
    return S_OK;
  }
  // The queue's log lines, as on_log(level, message, variable_name) like a script's.
  Status Log(const std::string&, std::uint32_t, std::int64_t, double, LoggingLevel level,
             const std::string& variable_name, const std::string& message) override {
    CallBack(*callbacks_, &Callbacks::on_log, static_cast<int>(level), message, variable_name);
    return S_OK;
  }
  Status LogClear() override { return S_OK; }
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

class PyBatchQueue : public Closable {
 public:
  PyBatchQueue() : PyBatchQueue(CBatchQueue::Create(std::make_shared<CApplicationManager>(), QueuePacing::kWakeOnChange)) {}
  // Observes [queue] (a new one, or one a results file was loaded into) from now on.
  explicit PyBatchQueue(std::shared_ptr<CBatchQueue> queue)
      : callbacks_(std::make_shared<Callbacks>()), queue_(std::move(queue)) {
    sink_ = std::make_shared<QueueSink>(callbacks_);
    queue_->BatchQueueEvents().Advise(sink_, &cookie_);
    queue_->TraceEvents().Advise(sink_, &trace_cookie_);
    StillOpen().Add(this);
  }
  ~PyBatchQueue() override { Close(); }
  // Stops the queue and lets go of it. As for a script, only locals are used once the GIL is
  // released.
  void Close() override {
    StillOpen().Remove(this);
    std::shared_ptr<CBatchQueue> queue = std::move(queue_);
    if (!queue) return;
    std::shared_ptr<Callbacks> callbacks = callbacks_;
    const std::uint32_t cookie = cookie_;
    const std::uint32_t trace_cookie = trace_cookie_;
    {
      py::gil_scoped_release release;
      queue->BatchQueueEvents().Unadvise(cookie);
      queue->TraceEvents().Unadvise(trace_cookie);
      queue->Stop();
      queue.reset();
    }
    for (auto which : {&Callbacks::on_started, &Callbacks::on_executed, &Callbacks::on_log, &Callbacks::on_added,
                       &Callbacks::on_removed, &Callbacks::on_moved}) {
      callbacks->Set(which, py::object());
    }
  }
  std::uint32_t Add(const std::string& path, const std::string& email) {
    std::uint32_t id = 0;
    Check(Live().Add(path, email, &id), "Add");
    return id;
  }
  std::uint32_t AddAt(std::uint32_t position, const std::string& path, const std::string& email) {
    std::uint32_t id = 0;
    Check(Live().AddAt(position, path, email, &id), "AddAt");
    return id;
  }
  void Remove(std::uint32_t id) { Check(Live().Remove(id), "Remove"); }
  std::uint32_t ItemCount() { return Out<std::uint32_t>("ItemCount", [&](auto* v) { return Live().get_ItemCount(v); }); }
  std::uint32_t IdAt(std::uint32_t index) { return Out<std::uint32_t>("Id", [&](auto* v) { return Live().get_Id(index, v); }); }
  std::vector<std::uint32_t> Ids() {
    std::uint32_t count = ItemCount();
    std::vector<std::uint32_t> ids;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::uint32_t id = 0;
      if (Live().get_Id(i, &id) >= 0) ids.push_back(id);
    }
    return ids;
  }
  PyBatchQueueRunner Item(std::uint32_t id) {
    return PyBatchQueueRunner(
        Out<std::shared_ptr<IBatchQueueRunner>>("Item", [&](auto* v) { return Live().get_Item(id, v); }));
  }
  void Run() { Check(Live().Run(), "Run"); }
  void Stop() { Check(Live().Stop(), "Stop"); }
  void Pause() { Check(Live().Pause(), "Pause"); }
  void Step() { Check(Live().Step(), "Step"); }
  void Clear() { Check(Live().Clear(), "Clear"); }
  void Reset() { Check(Live().Reset(), "Reset"); }
  void Abort(std::uint32_t id) { Check(Live().Abort(id), "Abort"); }
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
    return Out<std::string>("FileName", [&](auto* v) { return Live().get_FileName(id, v); });
  }
  std::string EmailAddresses(std::uint32_t id) {
    return Out<std::string>("EmailAddresses", [&](auto* v) { return Live().get_EmailAddresses(id, v); });
  }
  std::string Description(std::uint32_t id) {
    return Out<std::string>("Description", [&](auto* v) { return Live().get_Description(id, v); });
  }
  std::uint32_t Position(std::uint32_t id) {
    return Out<std::uint32_t>("Position", [&](auto* v) { return Live().get_Position(id, v); });
  }
  void SetPosition(std::uint32_t id, std::uint32_t position) { Check(Live().put_Position(id, position), "Position"); }
  bool FileTypeValid(const std::string& path) {
    return OutBool("FileTypeValid", [&](VariantBool* v) { return Live().FileTypeValid(path, v); });
  }
  std::string BatchFileName() { return Out<std::string>("BatchFileName", [&](auto* v) { return Live().get_BatchFileName(v); }); }
  void Load(const std::string& path) { Check(Live().Load(path), "Load"); }
  void SaveAs(const std::string& path) { Check(Live().SaveAs(path), "SaveAs"); }
  void Save() { Check(Live().Save(), "Save"); }
  // The queue's switches, each a boolean get/put pair of IBatchQueue.
  bool Flag(ordalis::Status (IBatchQueue::*getter)(VariantBool*), const char* name) {
    return OutBool(name, [&](VariantBool* v) { return (static_cast<IBatchQueue&>(Live()).*getter)(v); });
  }
  void SetFlag(ordalis::Status (IBatchQueue::*setter)(VariantBool), const char* name, bool value) {
    Check((static_cast<IBatchQueue&>(Live()).*setter)(ToVariantBool(value)), name);
  }
  std::uint32_t RetryCount() { return Out<std::uint32_t>("RetryCount", [&](auto* v) { return Live().get_RetryCount(v); }); }
  void SetRetryCount(std::uint32_t count) { Check(Live().put_RetryCount(count), "RetryCount"); }
  std::string ResultsFileName() {
    return Out<std::string>("ResultsFileName", [&](auto* v) { return Live().get_ResultsFileName(v); });
  }
  std::uint32_t ResultCount() { return Out<std::uint32_t>("ResultCount", [&](auto* v) { return Live().get_ResultCount(v); }); }
  // One row of the batch results: (id, name, file name, comment, passed).
  std::tuple<std::uint32_t, std::string, std::string, std::string, bool> ResultDetails(std::uint32_t index) {
    std::uint32_t id = 0;
    std::string name, file, comment;
    VariantBool passed = kVariantFalse;
    Check(Live().ResultDetails(index, &id, &name, &file, &comment, &passed), "ResultDetails");
    return {id, name, file, comment, IsTrue(passed)};
  }
  void AddResultComment(std::uint32_t index, const std::string& comment) {
    Check(Live().AddResultComment(index, comment), "AddResultComment");
  }
  std::string VersionUnderTest() {
    return Out<std::string>("VersionUnderTest", [&](auto* v) { return Live().get_VersionUnderTest(v); });
  }
  void SetVersionUnderTest(const std::string& version) { Check(Live().put_VersionUnderTest(version), "VersionUnderTest"); }
  void SetStopAtEnd(bool value) { Check(Live().put_StopAtEnd(ToVariantBool(value)), "StopAtEnd"); }
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
  std::uint32_t trace_cookie_ = 0;
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
  std::string Key() { return Out<std::string>("EncryptionKey", [&](auto* v) { return proxy_->get_EncryptionKey(v); }); }
  // The proxy's script, shown without callbacks: the proxy observes it for its peer.
  std::shared_ptr<CScript> Script() {
    auto script = Out<std::shared_ptr<IScript>>("Script", [&](auto* v) { return proxy_->get_Script(v); });
    return std::dynamic_pointer_cast<CScript>(script);
  }
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

// ordalis.Aborted: what a Python tester's action sees when its script is stopped. It derives
// from BaseException, so an action's `except Exception` does not swallow it.
PyObject* AbortedType() {
  static PyObject* type = [] {
    PyObject* made = PyErr_NewExceptionWithDoc(
        "ordalis.Aborted", "Raised in a Python tester's action when its script is stopped.",
        PyExc_BaseException, nullptr);
    if (made == nullptr) throw py::error_already_set();
    return made;  // a strong reference never released
  }();
  return type;
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

// The measurements of an ordalis.Outcome: each ordalis.Measurement as the engine takes it, judged
// by its limits when it gives no result.
MeasuredValues MeasurementsOf(const py::object& outcome) {
  MeasuredValues measured;
  if (!py::hasattr(outcome, "measurements")) return measured;
  static const std::pair<const char*, MeasurementComparison> kWords[] = {
      {"GELE", CompareBetweenInclusive}, {"GTLT", CompareBetweenExclusive}, {"GE", CompareAtLeast},
      {"LE", CompareAtMost}, {"EQ", CompareEqual}, {"NE", CompareNotEqual}, {"LOG", CompareLogOnly}};
  for (py::handle item : py::iter(outcome.attr("measurements"))) {
    MeasuredValue& m = measured.emplace_back();
    m.name = py::str(item.attr("name")).cast<std::string>();
    m.value = FromPython(py::reinterpret_borrow<py::object>(item.attr("value")));
    m.unit = py::str(item.attr("unit")).cast<std::string>();
    py::object low = item.attr("low");
    py::object high = item.attr("high");
    m.has_low = !low.is_none();
    m.low = m.has_low ? low.cast<double>() : 0.0;
    m.has_high = !high.is_none();
    m.high = m.has_high ? high.cast<double>() : 0.0;
    const std::string word = py::str(item.attr("comparison")).cast<std::string>();
    bool known = false;
    for (const auto& [name, comparison] : kWords) {
      if (word == name) {
        m.comparison = comparison;
        known = true;
      }
    }
    if (!known) throw std::invalid_argument("a measurement's comparison is GELE, GTLT, GE, LE, EQ, NE or LOG, not " + word);
    py::object result = item.attr("result");
    if (result.is_none()) {
      m.Judge();
    } else {
      m.result = static_cast<Result>(result.cast<int>());
    }
  }
  return measured;
}

class PythonTester : public ITester2, public ITesterMeasurements {
 public:
  explicit PythonTester(PythonTesterClass type) : type_(std::move(type)) {}
  ~PythonTester() override { DropPythonObject(instance_); }

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
    measured_.clear();
    EngineGil gil;
    if (!gil || !instance_) {
      *result = gil ? TestError : TestAborted;
      return S_OK;
    }
    try {
      py::tuple arguments = ArgumentsOf(parameters);
      py::object method = instance_.attr(type_.actions[action_number].c_str());
      py::object answer;
      {
        AbortWindow window(action_thread_);
        answer = method(*arguments);
      }
      *result = TestPassed;
      if (py::hasattr(answer, "_ordalis_outcome")) {
        *result = static_cast<Result>(answer.attr("result").cast<int>());
        measured_ = MeasurementsOf(answer);
        answer = answer.attr("values");
      }
      if (!answer.is_none()) {
        *values = py::isinstance<py::tuple>(answer) ? ArrayFromPython(py::list(answer))
                                                     : std::make_shared<VariantArray>(VariantArray{FromPython(answer)});
      }
    } catch (py::error_already_set& error) {
      if (error.matches(AbortedType())) {
        LogLine(warning, type_.name + "." + type_.actions[action_number] + " was aborted");
        *result = TestAborted;
        return S_OK;
      }
      LogLine(severe, type_.name + "." + type_.actions[action_number] + " raised:\n" + ExceptionText(error));
      *result = TestError;
    } catch (const std::exception& error) {
      LogLine(severe, type_.name + "." + type_.actions[action_number] + ": " + error.what());
      *result = TestError;
    }
    return S_OK;
  }
  // The measurements of the latest action's Outcome; the run thread only.
  Status TakeMeasurements(MeasuredValues* measurements) override {
    if (measurements == nullptr) return E_POINTER;
    *measurements = std::move(measured_);
    measured_.clear();
    return S_OK;
  }
  Status ActionDocumentation(std::uint32_t action_number, std::string* description, TextArray* in_parameters,
                             TextArray* out_parameters) override {
    if (description == nullptr || in_parameters == nullptr || out_parameters == nullptr) return E_POINTER;
    if (action_number >= type_.actions.size()) return E_INVALIDARG;
    EngineGil gil;
    if (!gil) return E_FAIL;
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
    *opened = kVariantFalse;
    EngineGil gil;
    if (!gil) return S_OK;
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
  // The action in progress sees the abort as the exception ordalis.Aborted, raised in it at its
  // next Python instruction; then the instance's optional abort() is called.
  Status Abort() override {
    {
      EngineGil gil;
      if (gil && action_thread_ != 0) PyThreadState_SetAsyncExc(action_thread_, AbortedType());
    }
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
    EngineGil gil;
    if (!gil) return E_FAIL;
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
    EngineGil gil;
    if (!gil || !instance_ || !py::hasattr(instance_, name)) return;
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

  // While an action's method runs, the thread it runs on (0 otherwise), so that an abort can
  // reach it. Read and written with the GIL held only. On closing, an abort that came too late
  // to be raised in the method is withdrawn, so it never lands in later Python code.
  class AbortWindow {
   public:
    explicit AbortWindow(unsigned long& thread) : thread_(thread) { thread_ = PyThread_get_thread_ident(); }
    ~AbortWindow() {
      PyThreadState_SetAsyncExc(thread_, nullptr);
      thread_ = 0;
    }
    AbortWindow(const AbortWindow&) = delete;
    AbortWindow& operator=(const AbortWindow&) = delete;

   private:
    unsigned long& thread_;
  };

  PythonTesterClass type_;
  MeasuredValues measured_;  // of the latest action
  unsigned long action_thread_ = 0;
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
  m.doc() =
      "The Ordalis engine's classes; import the package `ordalis`, not this module.\n\n"
      "Every operation of the six classes is here as a method or property. A trace argument (of\n"
      "Execute and SetTrace) is a Python callable trace(level, text); a script object does not\n"
      "use the one Script.execute is given, as it logs through its own events.";

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

  m.attr("Aborted") = py::handle(AbortedType());
  // Runs before the interpreter finalises, while engine threads can still take the GIL.
  py::module_::import("atexit").attr("register")(py::cpp_function(&OnInterpreterExit));

  m.def("register_tester", &RegisterTester, py::arg("name"), py::arg("cls"),
        "Makes a Python class a tester type of the scripts run in this process.");
  m.def("class_names", &ClassProgids, "The programmatic identifiers of the creatable classes.");
  m.def("can_unload_now", [] { return CanUnloadNow() == S_OK; });

  py::class_<PyScriptItem>(m, "ScriptItem")
      .def(py::init(&PyScriptItem::Create))
      .def_property_readonly("text", &PyScriptItem::text, Release())
      .def_property_readonly("script_text", &PyScriptItem::script_text, Release())
      .def_property_readonly("file_name", &PyScriptItem::file_name, Release())
      .def_property_readonly("type", &PyScriptItem::type, Release())
      .def_property_readonly("line", &PyScriptItem::line, Release())
      .def_property_readonly("id", &PyScriptItem::id, Release())
      .def_property_readonly("result", &PyScriptItem::result, Release())
      .def("result_count", &PyScriptItem::result_count, py::arg("result"), Release())
      .def_property_readonly("child_count", &PyScriptItem::child_count, Release())
      .def("child", &PyScriptItem::child, py::arg("index"), Release())
      .def_property_readonly("children", &PyScriptItem::children, Release())
      .def_property_readonly("parent", &PyScriptItem::parent, Release())
      .def("reset_results", &PyScriptItem::ResetResults, Release())
      .def_property_readonly("number_of_results", &PyScriptItem::number_of_results, Release())
      .def("set_result_status", &PyScriptItem::SetResultStatus, py::arg("result"), Release())
      .def("add_result", [](PyScriptItem& item, int result, std::uint32_t iteration, double time_taken, py::object values) {
        VariantArrayPtr array = values.is_none() ? nullptr : ArrayFromPython(values);
        py::gil_scoped_release release;
        item.AddResult(result, iteration, time_taken, std::move(array));
      }, py::arg("result"), py::arg("iteration") = 0, py::arg("time_taken") = 0.0, py::arg("values") = py::none())
      .def("results", [](PyScriptItem& item, std::uint32_t index) {
        PyScriptItem::Record record;
        {
          py::gil_scoped_release release;
          record = item.Results(index);
        }
        return py::make_tuple(record.result, record.iteration, record.time, record.time_taken, ToPython(record.values));
      }, py::arg("index"))
      .def_property("breakpoint", &PyScriptItem::breakpoint, &PyScriptItem::set_breakpoint, Release())
      .def("clear_all_breakpoints", &PyScriptItem::ClearAllBreakpoints, Release())
      .def_property("current_parent", &PyScriptItem::current_parent, &PyScriptItem::set_current_parent, Release())
      .def(py::self == py::self)
      .def("__hash__", &PyScriptItem::hash)
      .def("__repr__", [](const PyScriptItem& item) {
        return "<ScriptItem " + item.type() + " line " + std::to_string(item.line()) + ">";
      });

  py::class_<PyScript>(m, "Script")
      .def(py::init<bool>(), py::arg("pace") = false)
      .def("close", [](PyScript& script, bool wait) {
        script.Close(wait ? CloseWait::kWait : CloseWait::kNoWait);
      }, py::arg("wait") = true)
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
      .def_property_readonly("current_item", &PyScript::CurrentItem, Release())
      .def_property("pause_on_error", &PyScript::PauseOnError, &PyScript::SetPauseOnError, Release())
      .def_property("running_continuously", &PyScript::RunningContinuously, &PyScript::SetRunningContinuously, Release())
      .def_property("auto_reset", &PyScript::AutoReset, &PyScript::SetAutoReset, Release())
      .def("save_results", &PyScript::SaveResults, py::arg("path"), Release())
      .def_property_readonly("manager", [](PyScript& script) {
        std::shared_ptr<IApplicationManager> manager;
        {
          py::gil_scoped_release release;
          manager = script.Manager();
        }
        if (!manager) return py::object(py::none());
        return py::cast(PyApplicationManager(manager));
      })
      .def_property_readonly("variable_count", &PyScript::VariableCount, Release())
      .def("variable_name", &PyScript::VariableName, py::arg("index"), Release())
      .def_property_readonly("variable_names", &PyScript::VariableNames, Release())
      .def("variable_details", &PyScript::VariableDetails, py::arg("index"), Release())
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
      .def("set_email_address", &PyScript::SetEmailAddress, py::arg("addresses"), Release())
      .def("playback_file", &PyScript::PlaybackFile, py::arg("path"), Release())
      .def_property_readonly("version", &PyScript::Version, Release())
      .def_property_readonly("description", &PyScript::Description, Release())
      .def("execute", [](PyScript& script, const std::string& file_name, py::object trace) {
        std::shared_ptr<ITrace> sink = TraceOf(trace);
        py::gil_scoped_release release;
        script.Execute(file_name, std::move(sink));
      }, py::arg("file_name") = "", py::arg("trace") = py::none())
      .def_property_readonly("status", &PyScript::ItemStatus, Release())
      .def("abort", &PyScript::Abort, Release())
      .def("reset", &PyScript::Reset, Release())
      .def_property_readonly("results_file", &PyScript::ResultsFile, Release())
      .def("set_run_variable", &PyScript::SetRunVariable, py::arg("name"), py::arg("literal"))
      .def("report", &PyScript::Report, py::arg("junit") = "",
           py::arg("labels") = std::map<std::string, std::string>{}, py::arg("results_db") = "")
      .def("on_executed", [](PyScript& s, py::object f) { SetCallback(s, &Callbacks::on_executed, f); })
      .def("on_state_changed", [](PyScript& s, py::object f) { SetCallback(s, &Callbacks::on_state_changed, f); })
      .def("on_log", [](PyScript& s, py::object f) { SetCallback(s, &Callbacks::on_log, f); })
      .def("on_started", [](PyScript& s, py::object f) { SetCallback(s, &Callbacks::on_started, f); })
      .def("on_results_reset", [](PyScript& s, py::object f) { SetCallback(s, &Callbacks::on_results_reset, f); })
      .def("on_reset", [](PyScript& s, py::object f) { SetCallback(s, &Callbacks::on_reset, f); });

  py::class_<PyTester>(m, "Tester")
      .def_property_readonly("actions", &PyTester::Actions, Release())
      .def("execute", [](PyTester& tester, std::uint32_t action, py::object parameters) {
        VariantArrayPtr array = parameters.is_none() ? nullptr : ArrayFromPython(parameters);
        std::pair<int, VariantArrayPtr> answer;
        {
          py::gil_scoped_release release;
          answer = tester.Execute(action, std::move(array));
        }
        return py::make_tuple(answer.first, ToPython(answer.second));
      }, py::arg("action"), py::arg("parameters") = py::none())
      .def("action_documentation", &PyTester::ActionDocumentation, py::arg("action"), Release())
      .def("open", [](PyTester& tester, py::object parameters) {
        VariantArrayPtr array = parameters.is_none() ? nullptr : ArrayFromPython(parameters);
        py::gil_scoped_release release;
        return tester.Open(std::move(array));
      }, py::arg("parameters") = py::none())
      .def("close", &PyTester::Close, Release())
      .def("abort", &PyTester::Abort, Release())
      .def_property_readonly("tester_type", &PyTester::TesterType, Release())
      .def_property_readonly("status", &PyTester::StatusText, Release())
      .def("set_trace", [](PyTester& tester, py::object trace) {
        std::shared_ptr<ITrace> sink = TraceOf(trace);
        py::gil_scoped_release release;
        tester.SetTrace(std::move(sink));
      }, py::arg("trace"))
      .def_property_readonly("version", &PyTester::Version, Release())
      .def("script_directory", &PyTester::ScriptDirectory, py::arg("directory"), Release())
      .def_property_readonly("description", &PyTester::Description, Release())
      .def("constructor_documentation", &PyTester::ConstructorDocumentation, Release())
      .def_property_readonly("number_of_returned_testers", &PyTester::NumberOfReturnedTesters, Release())
      .def("create_returned_tester", &PyTester::CreateReturnedTester, py::arg("number"), Release());

  py::class_<PyTesterCreator>(m, "TesterCreator")
      .def_property_readonly("number_of_types", &PyTesterCreator::NumberOfTypes, Release())
      .def("create", &PyTesterCreator::Create, py::arg("number"), Release())
      .def_property_readonly("version", &PyTesterCreator::Version, Release());

  py::class_<PyBatchQueueItem>(m, "BatchQueueItem")
      .def_property_readonly("version", &PyBatchQueueItem::Version, Release())
      .def_property_readonly("description", &PyBatchQueueItem::Description, Release())
      .def("execute", [](PyBatchQueueItem& item, const std::string& file_name, py::object trace) {
        std::shared_ptr<ITrace> sink = TraceOf(trace);
        py::gil_scoped_release release;
        item.Execute(file_name, std::move(sink));
      }, py::arg("file_name"), py::arg("trace") = py::none())
      .def_property_readonly("status", &PyBatchQueueItem::ItemStatus, Release())
      .def("abort", &PyBatchQueueItem::Abort, Release())
      .def("reset", &PyBatchQueueItem::Reset, Release())
      .def_property("pause_on_error", &PyBatchQueueItem::PauseOnError, &PyBatchQueueItem::SetPauseOnError, Release())
      .def_property_readonly("results_file", &PyBatchQueueItem::ResultsFile, Release())
      .def_property("results_directory", &PyBatchQueueItem::ResultsDirectory, &PyBatchQueueItem::SetResultsDirectory, Release())
      .def_property("version_under_test", &PyBatchQueueItem::VersionUnderTest, &PyBatchQueueItem::SetVersionUnderTest, Release());

  py::class_<PyBatchQueueItemCreator>(m, "BatchQueueItemCreator")
      .def_property_readonly("version", &PyBatchQueueItemCreator::Version, Release())
      .def("create", &PyBatchQueueItemCreator::Create, py::arg("index"), Release())
      .def_property_readonly("file_types", &PyBatchQueueItemCreator::FileTypes, Release());

  py::class_<PyBatchQueueRunner>(m, "BatchQueueRunner")
      .def_property_readonly("version", &PyBatchQueueRunner::Version, Release())
      .def_property_readonly("description", &PyBatchQueueRunner::Description, Release())
      .def("execute", &PyBatchQueueRunner::Execute, Release())
      .def_property_readonly("status", &PyBatchQueueRunner::ItemStatus, Release())
      .def("abort", &PyBatchQueueRunner::Abort, Release())
      .def_property("email_addresses", &PyBatchQueueRunner::EmailAddresses, &PyBatchQueueRunner::SetEmailAddresses, Release())
      .def("set_trace", [](PyBatchQueueRunner& runner, py::object trace) {
        std::shared_ptr<ITrace> sink = TraceOf(trace);
        py::gil_scoped_release release;
        runner.SetTrace(std::move(sink));
      }, py::arg("trace"))
      .def_property("file_name", &PyBatchQueueRunner::FileName, &PyBatchQueueRunner::SetFileName, Release())
      .def("reset", &PyBatchQueueRunner::Reset, Release())
      .def_property_readonly("item", &PyBatchQueueRunner::Item, Release())
      .def_property("pause_on_error", &PyBatchQueueRunner::PauseOnError, &PyBatchQueueRunner::SetPauseOnError, Release())
      .def_property_readonly("results_file", &PyBatchQueueRunner::ResultsFile, Release())
      .def_property("results_directory", &PyBatchQueueRunner::ResultsDirectory, &PyBatchQueueRunner::SetResultsDirectory, Release())
      .def_property("version_under_test", &PyBatchQueueRunner::VersionUnderTest, &PyBatchQueueRunner::SetVersionUnderTest, Release())
      .def("on_log", &PyBatchQueueRunner::OnLog,
           "Calls callback(level, message, variable) with each log line of the entry while it runs\n"
           "(a command entry's output and its start and end lines, a script entry's own log), on the\n"
           "thread that logged, while this runner object lives; None stops it.");

  py::class_<PyApplicationManager>(m, "ApplicationManager")
      .def(py::init<>())
      .def_property_readonly("version", &PyApplicationManager::Version, Release())
      .def_property_readonly("build_time_stamp", &PyApplicationManager::BuildTimeStamp, Release())
      .def("variables", &PyApplicationManager::Variables, py::arg("user"), Release())
      .def("variable_value", &PyApplicationManager::VariableValue, py::arg("user"), py::arg("name"), Release())
      .def("add_variable", &PyApplicationManager::AddVariable, py::arg("user"), py::arg("name"), py::arg("value"), Release())
      .def("remove_variable", &PyApplicationManager::RemoveVariable, py::arg("user"), py::arg("name"), Release())
      .def_property_readonly("tester_creators", &PyApplicationManager::TesterCreators, Release())
      .def("add_tester_creator", &PyApplicationManager::AddTesterCreator, py::arg("guid"), Release())
      .def("remove_tester_creator", &PyApplicationManager::RemoveTesterCreator, py::arg("guid"), Release())
      .def_property_readonly("all_tester_creators", &PyApplicationManager::AllTesterCreators, Release())
      .def_property_readonly("batch_queue_item_creators", &PyApplicationManager::BatchQueueItemCreators, Release())
      .def("add_batch_queue_item_creator", &PyApplicationManager::AddBatchQueueItemCreator, py::arg("guid"), Release())
      .def("remove_batch_queue_item_creator", &PyApplicationManager::RemoveBatchQueueItemCreator, py::arg("guid"), Release())
      .def_property("smtp_server_name", &PyApplicationManager::SmtpServerName, &PyApplicationManager::SetSmtpServerName, Release())
      .def("smtp_authentication", &PyApplicationManager::SmtpAuthentication, py::arg("user_name"), py::arg("password"), Release())
      .def_property_readonly("smtp_authentication_user_name", &PyApplicationManager::SmtpAuthenticationUserName, Release())
      .def_property("email_addresses", &PyApplicationManager::EmailAddresses, &PyApplicationManager::SetEmailAddresses, Release())
      .def("load_creators", &PyApplicationManager::LoadCreators, Release())
      .def("unload_creators", &PyApplicationManager::UnloadCreators, Release())
      .def("load_results", [](PyApplicationManager& manager, const std::string& path) {
        std::shared_ptr<IUnknown> object;
        {
          py::gil_scoped_release release;
          object = manager.LoadResults(path);
        }
        auto queue = std::dynamic_pointer_cast<CBatchQueue>(object);
        if (!queue) return py::object(py::none());
        return py::cast(new PyBatchQueue(queue), py::return_value_policy::take_ownership);
      }, py::arg("path"))
      .def("has_admin_rights", &PyApplicationManager::HasAdminRights, Release());

  py::class_<CTesterUtilities, std::shared_ptr<CTesterUtilities>>(m, "TesterUtilities")
      .def(py::init([] { return std::make_shared<CTesterUtilities>(); }))
      .def("variable_value", [](CTesterUtilities& utilities, const std::string& text) {
        VariantArrayPtr values;
        {
          py::gil_scoped_release release;
          values = Out<VariantArrayPtr>("VariableValue", [&](auto* v) { return utilities.VariableValue(text, v); });
        }
        return ToPython(values);
      }, py::arg("text"))
      .def("format", [](CTesterUtilities& utilities, std::uint32_t index, py::object parameters) {
        VariantArrayPtr array = ArrayFromPython(parameters);
        py::gil_scoped_release release;
        return Out<std::string>("Format", [&](auto* v) { return utilities.Format(index, std::move(array), v); });
      }, py::arg("format_index"), py::arg("parameters"))
      .def("tester_creator", [](CTesterUtilities& utilities, const std::string& guid) {
        auto creator = Out<std::shared_ptr<ITesterCreator>>("TesterCreator", [&](auto* v) { return utilities.TesterCreator(guid, v); });
        return creator ? std::optional<PyTesterCreator>(PyTesterCreator(creator)) : std::nullopt;
      }, py::arg("guid"), Release())
      .def("batch_queue_item_creator", [](CTesterUtilities& utilities, const std::string& guid) {
        auto creator = Out<std::shared_ptr<IBatchQueueItemCreator>>(
            "BatchQueueItemCreator", [&](auto* v) { return utilities.BatchQueueItemCreator(guid, v); });
        return creator ? std::optional<PyBatchQueueItemCreator>(PyBatchQueueItemCreator(creator)) : std::nullopt;
      }, py::arg("guid"), Release());

  using Q = PyBatchQueue;
  auto flag = [](Status (IBatchQueue::*getter)(VariantBool*), Status (IBatchQueue::*setter)(VariantBool),
                 const char* name) {
    return std::make_pair(
        py::cpp_function([=](Q& q) { py::gil_scoped_release r; return q.Flag(getter, name); }),
        py::cpp_function([=](Q& q, bool value) { py::gil_scoped_release r; q.SetFlag(setter, name, value); }));
  };
  py::class_<Q> queue(m, "BatchQueue");
  queue.def(py::init<>())
      .def("close", &Q::Close)
      .def("add", &Q::Add, py::arg("path"), py::arg("email_addresses") = "", Release())
      .def("add_at", &Q::AddAt, py::arg("position"), py::arg("path"), py::arg("email_addresses") = "", Release())
      .def("remove", &Q::Remove, py::arg("id"), Release())
      .def_property_readonly("item_count", &Q::ItemCount, Release())
      .def("id", &Q::IdAt, py::arg("index"), Release())
      .def_property_readonly("ids", &Q::Ids, Release())
      .def("item", &Q::Item, py::arg("id"), Release())
      .def("run", &Q::Run, Release())
      .def("stop", &Q::Stop, Release())
      .def("pause", &Q::Pause, Release())
      .def("step", &Q::Step, Release())
      .def("clear", &Q::Clear, Release())
      .def("reset", &Q::Reset, Release())
      .def("abort", &Q::Abort, py::arg("id"), Release())
      .def_property_readonly("state", &Q::State, Release())
      .def("status", &Q::Status, py::arg("id"), Release())
      .def("file_name", &Q::FileName, py::arg("id"), Release())
      .def("email_addresses", &Q::EmailAddresses, py::arg("id"), Release())
      .def("description", &Q::Description, py::arg("id"), Release())
      .def("position", &Q::Position, py::arg("id"), Release())
      .def("set_position", &Q::SetPosition, py::arg("id"), py::arg("position"), Release())
      .def("file_type_valid", &Q::FileTypeValid, py::arg("path"), Release())
      .def_property_readonly("batch_file_name", &Q::BatchFileName, Release())
      .def("load", &Q::Load, py::arg("path"), Release())
      .def("save_as", &Q::SaveAs, py::arg("path"), Release())
      .def("save", &Q::Save, Release())
      .def_property("retry_count", &Q::RetryCount, &Q::SetRetryCount, Release())
      .def_property_readonly("results_file_name", &Q::ResultsFileName, Release())
      .def_property_readonly("result_count", &Q::ResultCount, Release())
      .def("result_details", &Q::ResultDetails, py::arg("index"), Release())
      .def("add_result_comment", &Q::AddResultComment, py::arg("index"), py::arg("comment"), Release())
      .def_property("version_under_test", &Q::VersionUnderTest, &Q::SetVersionUnderTest, Release())
      .def("set_stop_at_end", &Q::SetStopAtEnd, py::arg("value"), Release())
      .def("wait_for_finished", &Q::WaitForFinished, py::arg("count"), py::arg("timeout") = py::none(), Release())
      .def_property_readonly("finished", &Q::finished, Release())
      .def("on_started", [](Q& q, py::object f) { SetCallback(q, &Callbacks::on_started, f); })
      .def("on_finished", [](Q& q, py::object f) { SetCallback(q, &Callbacks::on_executed, f); })
      .def("on_added", [](Q& q, py::object f) { SetCallback(q, &Callbacks::on_added, f); })
      .def("on_removed", [](Q& q, py::object f) { SetCallback(q, &Callbacks::on_removed, f); })
      .def("on_moved", [](Q& q, py::object f) { SetCallback(q, &Callbacks::on_moved, f); })
      .def("on_log", [](Q& q, py::object f) { SetCallback(q, &Callbacks::on_log, f); });
  const std::tuple<const char*, Status (IBatchQueue::*)(VariantBool*), Status (IBatchQueue::*)(VariantBool), const char*>
      kFlags[] = {
          {"auto_remove", &IBatchQueue::get_AutoRemove, &IBatchQueue::put_AutoRemove, "AutoRemove"},
          {"pause_on_error", &IBatchQueue::get_PauseOnError, &IBatchQueue::put_PauseOnError, "PauseOnError"},
          {"running_continuously", &IBatchQueue::get_RunningContinuously, &IBatchQueue::put_RunningContinuously,
           "RunningContinuously"},
          {"email_enabled", &IBatchQueue::get_EmailEnabled, &IBatchQueue::put_EmailEnabled, "EmailEnabled"},
          {"stop_after_current_item", &IBatchQueue::get_StopAfterCurrentItem, &IBatchQueue::put_StopAfterCurrentItem,
           "StopAfterCurrentItem"},
          {"auto_reset", &IBatchQueue::get_AutoReset, &IBatchQueue::put_AutoReset, "AutoReset"},
          {"auto_save", &IBatchQueue::get_AutoSave, &IBatchQueue::put_AutoSave, "AutoSave"},
      };
  for (const auto& [python_name, getter, setter, name] : kFlags) {
    auto [get, set] = flag(getter, setter, name);
    queue.def_property(python_name, get, set);
  }

  py::class_<PyScriptProxy>(m, "ScriptProxy")
      .def(py::init<>())
      .def_property_readonly("script", [](PyScriptProxy& proxy) {
        std::shared_ptr<CScript> script;
        {
          py::gil_scoped_release release;
          script = proxy.Script();
        }
        if (!script) return py::object(py::none());
        return py::cast(new PyScript(script), py::return_value_policy::take_ownership);
      })
      .def("load", &PyScriptProxy::Load, py::arg("path"), Release())
      .def("save_as", &PyScriptProxy::SaveAs, py::arg("path"), Release())
      .def("save", &PyScriptProxy::Save, Release())
      .def_property_readonly("link", &PyScriptProxy::Link, Release())
      .def("set_link", &PyScriptProxy::SetLink, py::arg("type"), py::arg("parameters"), Release())
      .def_property("encryption_key", &PyScriptProxy::Key, &PyScriptProxy::SetKey, Release())
      .def("set_key", &PyScriptProxy::SetKey, py::arg("key"), Release())
      .def_property_readonly("listening_port", &PyScriptProxy::ListeningPort, Release());
}
