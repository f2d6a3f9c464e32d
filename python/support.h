#pragma once
// What every class of the Python module shares: the GIL discipline between Python and the
// engine's threads (the gate the exit hook closes, the GIL an engine thread takes for a
// callback), the conversion of values, the failure every operation raises, and the callbacks
// a client sets.

#include <pybind11/functional.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "ordalis/interfaces.h"
#include "ordalis/variant.h"
#include "platform/event.h"

namespace py = pybind11;

namespace ordalis::python {

using Release = py::call_guard<py::gil_scoped_release>;

// A failed operation: the Python exception OrdalisError carries [status] as its `status`.
struct StatusError : std::runtime_error {
  StatusError(Status status, const std::string& what) : std::runtime_error(what), status(status) {}
  Status status;
};

inline void Check(Status status, const char* operation) {
  if (status >= 0) return;
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(status));
  throw StatusError(status, std::string(operation) + " failed with status " + code);
}

// Variants as Python values: numbers, str, bool, None for empty, lists for arrays.
inline py::object ToPython(const Variant& value, int depth = 0) {
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

inline py::list ToPython(const VariantArrayPtr& values) {
  py::list list;
  if (values) {
    for (const Variant& value : *values) list.append(ToPython(value));
  }
  return list;
}

inline Variant FromPython(const py::handle& value, int depth = 0) {
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

inline VariantArrayPtr ArrayFromPython(const py::handle& value) {
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

inline bool IsTrue(VariantBool value) { return value != kVariantFalse; }
inline VariantBool ToVariantBool(bool value) { return value ? kVariantTrue : kVariantFalse; }

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
inline PythonGate& Gate() {
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
inline void DropPythonObject(py::object& object) {
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

inline OpenObjects& StillOpen() {
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

inline Retirements& Retiring() {
  static auto* retirements = new Retirements;
  return *retirements;
}

// atexit: closes what is still open (GIL held), then waits for what was let go and for every
// engine thread inside Python (GIL released).
inline void OnInterpreterExit() {
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
inline std::shared_ptr<ITrace> TraceOf(const py::object& callable) {
  if (callable.is_none()) return nullptr;
  if (!PyCallable_Check(callable.ptr())) throw py::type_error("a trace must be callable or None");
  return std::make_shared<PyTrace>(callable);
}

inline std::uint32_t TimeoutMs(std::optional<double> seconds) {
  if (!seconds) return kInfinite;
  if (*seconds <= 0) return 0;
  return static_cast<std::uint32_t>(std::min(*seconds * 1000.0, 4.0e9));
}

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

template <typename Owner>
void SetCallback(Owner& owner, py::object Callbacks::*which, py::object callback) {
  if (!callback.is_none() && !PyCallable_Check(callback.ptr())) throw py::type_error("a callback must be callable or None");
  // A null handle, not None, so that an engine thread never touches a Python reference count.
  owner.callbacks()->Set(which, callback.is_none() ? py::object() : std::move(callback));
}

}  // namespace ordalis::python
