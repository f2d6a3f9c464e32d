#pragma once
// Tester and TesterCreator: a plug-in's tester types and testers, as Python sees them.

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "ordalis/interfaces.h"

#include "support.h"

namespace py = pybind11;

namespace ordalis::python {

class PyTester : public PluginObject<ITester> {
 public:
  explicit PyTester(std::shared_ptr<ITester> tester) : PluginObject(std::move(tester), "no tester") {}
  std::vector<std::string> Actions() {
    std::uint32_t count = Out<std::uint32_t>("ActionCount", [&](auto* v) { return object_->get_ActionCount(v); });
    std::vector<std::string> names;
    for (std::uint32_t i = 0; i < count; ++i) {
      names.push_back(Out<std::string>("Actions", [&](auto* v) { return object_->get_Actions(i, v); }));
    }
    return names;
  }
  std::pair<int, VariantArrayPtr> Execute(std::uint32_t action, VariantArrayPtr parameters) {
    VariantArrayPtr values;
    Result result = TestNotRun;
    Check(object_->Execute(action, std::move(parameters), &values, &result), "Execute");
    return {result, values};
  }
  std::tuple<std::string, TextArray, TextArray> ActionDocumentation(std::uint32_t action) {
    std::string description;
    TextArray in, out;
    Check(object_->ActionDocumentation(action, &description, &in, &out), "ActionDocumentation");
    return {description, in, out};
  }
  bool Open(VariantArrayPtr parameters) {
    return OutBool("Open", [&](VariantBool* v) { return object_->Open(std::move(parameters), v); });
  }
  bool Close() { return OutBool("Close", [&](VariantBool* v) { return object_->Close(v); }); }
  void Abort() { Check(object_->Abort(), "Abort"); }
  std::string TesterType() { return Out<std::string>("TesterType", [&](auto* v) { return object_->get_TesterType(v); }); }
  std::string StatusText() { return Out<std::string>("Status", [&](auto* v) { return object_->get_Status(v); }); }
  void SetTrace(std::shared_ptr<ITrace> trace) { Check(object_->SetTrace(std::move(trace)), "SetTrace"); }
  std::string Version() { return Out<std::string>("Version", [&](auto* v) { return As<ITester1>()->get_Version(v); }); }
  void ScriptDirectory(const std::string& directory) { Check(As<ITester1>()->scriptDirectory(directory), "scriptDirectory"); }
  std::string Description() {
    return Out<std::string>("Description", [&](auto* v) { return As<ITester2>()->get_Description(v); });
  }
  std::pair<std::string, TextArray> ConstructorDocumentation() {
    std::string description;
    TextArray in;
    Check(As<ITester2>()->ConstructorDocumentation(&description, &in), "ConstructorDocumentation");
    return {description, in};
  }
  std::uint32_t NumberOfReturnedTesters() {
    return Out<std::uint32_t>("NumberOfReturnedTesters", [&](auto* v) { return As<ITester3>()->get_NumberOfReturnedTesters(v); });
  }
  std::optional<PyTester> CreateReturnedTester(std::uint32_t number) {
    std::shared_ptr<ITester> tester;
    Check(As<ITester3>()->createReturnedTester(number, &tester), "createReturnedTester");
    if (!tester) return std::nullopt;
    return PyTester(tester);
  }

 private:
  template <typename I>
  std::shared_ptr<I> As() { return Later<I>(object_, "the tester does not offer this operation"); }
};

class PyTesterCreator : public PluginObject<ITesterCreator> {
 public:
  explicit PyTesterCreator(std::shared_ptr<ITesterCreator> creator) : PluginObject(std::move(creator), "no tester creator") {}
  std::uint32_t NumberOfTypes() {
    return Out<std::uint32_t>("NumberOfTypes", [&](auto* v) { return object_->get_NumberOfTypes(v); });
  }
  std::optional<PyTester> Create(std::uint32_t number) {
    std::shared_ptr<ITester> tester;
    Check(object_->create(number, &tester), "create");
    if (!tester) return std::nullopt;
    return PyTester(tester);
  }
  std::string Version() {
    auto later = Later<ITesterCreator1>(object_, "the tester creator does not tell its version");
    return Out<std::string>("Version", [&](auto* v) { return later->get_Version(v); });
  }
};

}  // namespace ordalis::python
