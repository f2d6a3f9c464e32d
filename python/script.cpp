// The Python class Script.

#include "application_manager.h"
#include "bindings.h"
#include "script.h"

namespace py = pybind11;

namespace ordalis::python {

void BindScript(py::module_& m) {
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
}

}  // namespace ordalis::python
