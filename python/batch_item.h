#pragma once
// BatchQueueItem and BatchQueueItemCreator: a plug-in's batch item kinds and items.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ordalis/interfaces.h"

#include "support.h"

namespace py = pybind11;

namespace ordalis::python {

class PyBatchQueueItem : public PluginObject<IBatchQueueItem> {
 public:
  explicit PyBatchQueueItem(std::shared_ptr<IBatchQueueItem> item) : PluginObject(std::move(item), "no batch item") {}
  std::string Version() { return Out<std::string>("Version", [&](auto* v) { return object_->get_Version(v); }); }
  std::string Description() { return Out<std::string>("Description", [&](auto* v) { return object_->get_Description(v); }); }
  void Execute(const std::string& file_name, std::shared_ptr<ITrace> trace) {
    Check(object_->Execute(file_name, std::move(trace)), "Execute");
  }
  int ItemStatus() { return Out<BatchQueueItemStatus>("Status", [&](auto* v) { return object_->get_Status(v); }); }
  void Abort() { Check(object_->Abort(), "Abort"); }
  void Reset() { Check(object_->Reset(), "Reset"); }
  bool PauseOnError() { return OutBool("PauseOnError", [&](VariantBool* v) { return object_->get_PauseOnError(v); }); }
  void SetPauseOnError(bool value) { Check(object_->put_PauseOnError(ToVariantBool(value)), "PauseOnError"); }
  std::string ResultsFile() {
    return Out<std::string>("ResultsFile", [&](auto* v) { return As<IBatchQueueItem1>()->get_ResultsFile(v); });
  }
  std::string ResultsDirectory() {
    return Out<std::string>("ResultsDirectory", [&](auto* v) { return As<IBatchQueueItem1>()->get_ResultsDirectory(v); });
  }
  void SetResultsDirectory(const std::string& directory) {
    Check(As<IBatchQueueItem1>()->put_ResultsDirectory(directory), "ResultsDirectory");
  }
  std::string VersionUnderTest() {
    return Out<std::string>("VersionUnderTest", [&](auto* v) { return As<IBatchQueueItem2>()->get_VersionUnderTest(v); });
  }
  void SetVersionUnderTest(const std::string& version) {
    Check(As<IBatchQueueItem2>()->put_VersionUnderTest(version), "VersionUnderTest");
  }

 private:
  template <typename I>
  std::shared_ptr<I> As() { return Later<I>(object_, "the batch item does not offer this operation"); }
};

class PyBatchQueueItemCreator : public PluginObject<IBatchQueueItemCreator> {
 public:
  explicit PyBatchQueueItemCreator(std::shared_ptr<IBatchQueueItemCreator> creator) : PluginObject(std::move(creator), "no batch item creator") {}
  std::string Version() { return Out<std::string>("Version", [&](auto* v) { return object_->get_Version(v); }); }
  std::optional<PyBatchQueueItem> Create(std::uint32_t index) {
    std::shared_ptr<IBatchQueueItem> item;
    Check(object_->create(index, &item), "create");
    if (!item) return std::nullopt;
    return PyBatchQueueItem(item);
  }
  std::vector<std::string> FileTypes() {
    std::uint32_t count =
        Out<std::uint32_t>("NumberOfFileTypes", [&](auto* v) { return object_->get_NumberOfFileTypes(v); });
    std::vector<std::string> types;
    for (std::uint32_t i = 0; i < count; ++i) {
      types.push_back(Out<std::string>("FileType", [&](auto* v) { return object_->get_FileType(i, v); }));
    }
    return types;
  }
};


}  // namespace ordalis::python
