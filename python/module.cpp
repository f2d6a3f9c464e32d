// ordalis._ordalis: the component's classes for Python. Every call into the engine releases the
// GIL first, and the engine's event clients take it only to call the Python callback, so no
// thread ever waits for the GIL while it holds one of the engine's locks, and a Python thread
// that waits for the run thread never holds the GIL the run thread needs.

#include <exception>

#include "ordalis/component.h"
#include "server/factory.h"

#include "bindings.h"
#include "support.h"

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

  // Runs before the interpreter finalises, while engine threads can still take the GIL.
  py::module_::import("atexit").attr("register")(py::cpp_function(&OnInterpreterExit));

  BindPythonTesters(m);
  m.def("class_names", &ClassProgids, "The programmatic identifiers of the creatable classes.");
  m.def("can_unload_now", [] { return CanUnloadNow() == S_OK; });

  BindScriptItem(m);
  BindScript(m);
  BindTester(m);
  BindBatchItem(m);
  BindBatchRunner(m);
  BindApplicationManager(m);
  BindTesterUtilities(m);
  BindBatchQueue(m);
  BindScriptProxy(m);
}
