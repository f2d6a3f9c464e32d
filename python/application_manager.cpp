// The Python class ApplicationManager.

#include "application_manager.h"
#include "batch_queue.h"
#include "bindings.h"

namespace py = pybind11;

namespace ordalis::python {

void BindApplicationManager(py::module_& m) {
  py::class_<PyApplicationManager>(m, "ApplicationManager")
      .def(py::init<>())
      .def_property_readonly("version", &PyApplicationManager::Version, Release())
      .def_property_readonly("build_time_stamp", &PyApplicationManager::BuildTimeStamp, Release())
      .def("variables", &PyApplicationManager::Variables, py::arg("user"), Release())
      .def("variable_value", &PyApplicationManager::VariableValue, py::arg("user"), py::arg("name"), Release())
      .def("add_variable", &PyApplicationManager::AddVariable, py::arg("user"), py::arg("name"), py::arg("value"), Release())
      .def("remove_variable", &PyApplicationManager::RemoveVariable, py::arg("user"), py::arg("name"), Release())
      .def_property_readonly("tester_creators", &PyApplicationManager::TesterCreators, Release())
      .def("add_tester_creator", &PyApplicationManager::AddTesterCreator, py::arg("guid"), Release())
      .def("remove_tester_creator", &PyApplicationManager::RemoveTesterCreator, py::arg("guid"), Release())
      .def_property_readonly("all_tester_creators", &PyApplicationManager::AllTesterCreators, Release())
      .def_property_readonly("batch_queue_item_creators", &PyApplicationManager::BatchQueueItemCreators, Release())
      .def("add_batch_queue_item_creator", &PyApplicationManager::AddBatchQueueItemCreator, py::arg("guid"), Release())
      .def("remove_batch_queue_item_creator", &PyApplicationManager::RemoveBatchQueueItemCreator, py::arg("guid"), Release())
      .def_property("smtp_server_name", &PyApplicationManager::SmtpServerName, &PyApplicationManager::SetSmtpServerName, Release())
      .def("smtp_authentication", &PyApplicationManager::SmtpAuthentication, py::arg("user_name"), py::arg("password"), Release())
      .def_property_readonly("smtp_authentication_user_name", &PyApplicationManager::SmtpAuthenticationUserName, Release())
      .def_property("email_addresses", &PyApplicationManager::EmailAddresses, &PyApplicationManager::SetEmailAddresses, Release())
      .def("load_creators", &PyApplicationManager::LoadCreators, Release())
      .def("unload_creators", &PyApplicationManager::UnloadCreators, Release())
      .def("load_results", [](PyApplicationManager& manager, const std::string& path) {
        std::shared_ptr<IUnknown> object;
        {
          py::gil_scoped_release release;
          object = manager.LoadResults(path);
        }
        auto queue = std::dynamic_pointer_cast<CBatchQueue>(object);
        if (!queue) return py::object(py::none());
        return py::cast(new PyBatchQueue(queue), py::return_value_policy::take_ownership);
      }, py::arg("path"))
      .def("has_admin_rights", &PyApplicationManager::HasAdminRights, Release());
}

}  // namespace ordalis::python
