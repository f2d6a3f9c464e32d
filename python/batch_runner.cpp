// The Python class BatchQueueRunner.

#include "batch_runner.h"
#include "bindings.h"

namespace py = pybind11;

namespace ordalis::python {

void BindBatchRunner(py::module_& m) {
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
}

}  // namespace ordalis::python
