// Testers written in Python: register_tester and ordalis.Aborted.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "interp/variable_table.h"
#include "ordalis/measurement.h"
#include "testers/plugin_host.h"
#include "testers/testers.h"

#include "bindings.h"
#include "support.h"

namespace py = pybind11;

namespace ordalis::python {

namespace {

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

}  // namespace

void BindPythonTesters(py::module_& m) {
  m.attr("Aborted") = py::handle(AbortedType());
  m.def("register_tester", &RegisterTester, py::arg("name"), py::arg("cls"),
        "Makes a Python class a tester type of the scripts run in this process.");
}

}  // namespace ordalis::python
