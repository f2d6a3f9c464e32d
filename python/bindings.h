#pragma once
// The Python module's classes, each bound by its own file; module.cpp binds them all.

#include <pybind11/pybind11.h>

namespace ordalis::python {

void BindScriptItem(pybind11::module_& m);
void BindScript(pybind11::module_& m);
void BindTester(pybind11::module_& m);
void BindBatchItem(pybind11::module_& m);
void BindBatchRunner(pybind11::module_& m);
void BindApplicationManager(pybind11::module_& m);
void BindTesterUtilities(pybind11::module_& m);
void BindBatchQueue(pybind11::module_& m);
void BindScriptProxy(pybind11::module_& m);
void BindPythonTesters(pybind11::module_& m);

}  // namespace ordalis::python
