// The Python classes Tester and TesterCreator.

#include "bindings.h"
#include "tester.h"

namespace py = pybind11;

namespace ordalis::python {

void BindTester(py::module_& m) {
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
}

}  // namespace ordalis::python
