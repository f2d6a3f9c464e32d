// The Python class BatchQueue.

#include <tuple>
#include <utility>

#include "batch_queue.h"
#include "bindings.h"

namespace py = pybind11;

namespace ordalis::python {

void BindBatchQueue(py::module_& m) {
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
}

}  // namespace ordalis::python
