// The Python class ScriptItem.

#include <pybind11/operators.h>

#include "bindings.h"
#include "script_item.h"

namespace py = pybind11;

namespace ordalis::python {

void BindScriptItem(py::module_& m) {
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
}

}  // namespace ordalis::python
