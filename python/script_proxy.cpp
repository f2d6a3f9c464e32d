// The Python class ScriptProxy: a script served to a remote peer.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "proxy/script_proxy.h"
#include "settings/application_manager.h"

#include "bindings.h"
#include "script.h"
#include "support.h"

namespace py = pybind11;

namespace ordalis::python {

namespace {

class PyScriptProxy {
 public:
  PyScriptProxy() : proxy_(CScriptProxy::Create(std::make_shared<CApplicationManager>(), Pacing{0, 0, 0})) {}
  ~PyScriptProxy() {
    py::gil_scoped_release release;
    proxy_.reset();
  }
  void Load(const std::string& path) { Check(proxy_->Load(path), "Load"); }
  void SaveAs(const std::string& path) { Check(proxy_->SaveAs(path), "SaveAs"); }
  void Save() { Check(proxy_->Save(), "Save"); }
  std::pair<std::string, std::string> Link() {
    std::string type, parameters;
    Check(proxy_->GetSerialParameters(&type, &parameters), "GetSerialParameters");
    return {type, parameters};
  }
  void SetLink(const std::string& type, const std::string& parameters) {
    Check(proxy_->SetSerialParameters(type, parameters), "SetSerialParameters");
  }
  void SetKey(const std::string& key) { Check(proxy_->put_EncryptionKey(key), "EncryptionKey"); }
  std::string Key() { return Out<std::string>("EncryptionKey", [&](auto* v) { return proxy_->get_EncryptionKey(v); }); }
  // The proxy's script, shown without callbacks: the proxy observes it for its peer.
  std::shared_ptr<CScript> Script() {
    auto script = Out<std::shared_ptr<IScript>>("Script", [&](auto* v) { return proxy_->get_Script(v); });
    return std::dynamic_pointer_cast<CScript>(script);
  }
  // The port a TCP server link listens on; 0 before it listens or for other links.
  std::uint16_t ListeningPort() { return proxy_->ListeningPort(); }

 private:
  std::shared_ptr<CScriptProxy> proxy_;
};

}  // namespace

void BindScriptProxy(py::module_& m) {
  py::class_<PyScriptProxy>(m, "ScriptProxy")
      .def(py::init<>())
      .def_property_readonly("script", [](PyScriptProxy& proxy) {
        std::shared_ptr<CScript> script;
        {
          py::gil_scoped_release release;
          script = proxy.Script();
        }
        if (!script) return py::object(py::none());
        return py::cast(new PyScript(script), py::return_value_policy::take_ownership);
      })
      .def("load", &PyScriptProxy::Load, py::arg("path"), Release())
      .def("save_as", &PyScriptProxy::SaveAs, py::arg("path"), Release())
      .def("save", &PyScriptProxy::Save, Release())
      .def_property_readonly("link", &PyScriptProxy::Link, Release())
      .def("set_link", &PyScriptProxy::SetLink, py::arg("type"), py::arg("parameters"), Release())
      .def_property("encryption_key", &PyScriptProxy::Key, &PyScriptProxy::SetKey, Release())
      .def("set_key", &PyScriptProxy::SetKey, py::arg("key"), Release())
      .def_property_readonly("listening_port", &PyScriptProxy::ListeningPort, Release());
}

}  // namespace ordalis::python
