// The Python classes BatchQueueItem and BatchQueueItemCreator.

#include "batch_item.h"
#include "bindings.h"

namespace py = pybind11;

namespace ordalis::python {

void BindBatchItem(py::module_& m) {
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
}

}  // namespace ordalis::python
