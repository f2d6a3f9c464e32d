// The Python class TesterUtilities: the helpers a tester uses, for testers written in Python.

#include <memory>
#include <optional>
#include <string>

#include "testers/tester_utilities.h"

#include "batch_item.h"
#include "bindings.h"
#include "support.h"
#include "tester.h"

namespace py = pybind11;

namespace ordalis::python {

void BindTesterUtilities(py::module_& m) {
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
}

}  // namespace ordalis::python
