#pragma once
// BatchQueueRunner: one entry of a batch queue, and the log lines it gives while it runs.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ordalis/interfaces.h"

#include "batch_item.h"
#include "support.h"

namespace py = pybind11;

namespace ordalis::python {

class RunnerLogSink : public ITraceEvents {
 public:
  explicit RunnerLogSink(std::shared_ptr<Callbacks> callbacks) : callbacks_(std::move(callbacks)) {}
  Status Log(const std::string&, std::uint32_t, std::int64_t, double, LoggingLevel level,
             const std::string& variable_name, const std::string& message) override {
    CallBack(*callbacks_, &Callbacks::on_log, static_cast<int>(level), message, variable_name);
    return S_OK;
  }
  Status LogClear() override { return S_OK; }

 private:
  std::shared_ptr<Callbacks> callbacks_;
};

// runner.on_log: connected to the runner's log source, and to a script entry's own log, while a
// Python runner object of the entry lives. Made and destroyed with the GIL held; the last copy
// disconnects and drops the callback then, so an engine thread never releases a Python object.
class RunnerLogSubscription {
 public:
  explicit RunnerLogSubscription(const std::shared_ptr<IBatchQueueRunner>& runner)
      : callbacks_(std::make_shared<Callbacks>()), sink_(std::make_shared<RunnerLogSink>(callbacks_)) {
    Connect(runner);
    std::shared_ptr<IBatchQueueItem> item;
    if (Succeeded(runner->get_Item(&item)) && item) Connect(item);
  }
  ~RunnerLogSubscription() {
    for (auto& [point, cookie] : connections_) point->Unadvise(cookie);
    py::object callback;
    {
      std::lock_guard lock(callbacks_->mutex);
      callback = std::move(callbacks_->on_log);
    }
    DropPythonObject(callback);
  }
  RunnerLogSubscription(const RunnerLogSubscription&) = delete;
  RunnerLogSubscription& operator=(const RunnerLogSubscription&) = delete;

  Callbacks& callbacks() { return *callbacks_; }

 private:
  void Connect(const std::shared_ptr<IUnknown>& object) {
    auto container = std::dynamic_pointer_cast<IConnectionPointContainer>(object);
    std::shared_ptr<IConnectionPoint<ITraceEvents>> point;
    std::uint32_t cookie = 0;
    if (container && container->FindConnectionPoint(&point) == S_OK && point && point->Advise(sink_, &cookie) == S_OK) {
      connections_.emplace_back(std::move(point), cookie);
    }
  }

  std::shared_ptr<Callbacks> callbacks_;
  std::shared_ptr<RunnerLogSink> sink_;
  std::vector<std::pair<std::shared_ptr<IConnectionPoint<ITraceEvents>>, std::uint32_t>> connections_;
};

// One entry of a batch queue as its runner: the file, the addresses and the item that runs it.
class PyBatchQueueRunner : public PluginObject<IBatchQueueRunner> {
 public:
  explicit PyBatchQueueRunner(std::shared_ptr<IBatchQueueRunner> runner) : PluginObject(std::move(runner), "no batch entry") {}
  std::string Version() { return Text("Version", &IBatchQueueRunner::get_Version); }
  std::string Description() { return Text("Description", &IBatchQueueRunner::get_Description); }
  void Execute() { Check(object_->Execute(), "Execute"); }
  int ItemStatus() { return Out<BatchQueueItemStatus>("Status", [&](auto* v) { return object_->get_Status(v); }); }
  void Abort() { Check(object_->Abort(), "Abort"); }
  std::string EmailAddresses() { return Text("EmailAddresses", &IBatchQueueRunner::get_EmailAddresses); }
  void SetEmailAddresses(const std::string& text) { Check(object_->put_EmailAddresses(text), "EmailAddresses"); }
  void SetTrace(std::shared_ptr<ITrace> trace) { Check(object_->SetTrace(std::move(trace)), "SetTrace"); }
  std::string FileName() { return Text("FileName", &IBatchQueueRunner::get_FileName); }
  void SetFileName(const std::string& text) { Check(object_->put_FileName(text), "FileName"); }
  void Reset() { Check(object_->Reset(), "Reset"); }
  std::optional<PyBatchQueueItem> Item() {
    std::shared_ptr<IBatchQueueItem> item;
    Check(object_->get_Item(&item), "Item");
    if (!item) return std::nullopt;
    return PyBatchQueueItem(item);
  }
  bool PauseOnError() { return OutBool("PauseOnError", [&](VariantBool* v) { return object_->get_PauseOnError(v); }); }
  void SetPauseOnError(bool value) { Check(object_->put_PauseOnError(ToVariantBool(value)), "PauseOnError"); }
  std::string ResultsFile() { return Text("ResultsFile", &IBatchQueueRunner::get_ResultsFile); }
  std::string ResultsDirectory() { return Text("ResultsDirectory", &IBatchQueueRunner::get_ResultsDirectory); }
  void SetResultsDirectory(const std::string& text) { Check(object_->put_ResultsDirectory(text), "ResultsDirectory"); }
  std::string VersionUnderTest() { return Text("VersionUnderTest", &IBatchQueueRunner::get_VersionUnderTest); }
  void SetVersionUnderTest(const std::string& text) { Check(object_->put_VersionUnderTest(text), "VersionUnderTest"); }
  // With the GIL held. None stops the callbacks.
  void OnLog(py::object callback) {
    if (!callback.is_none() && !PyCallable_Check(callback.ptr())) throw py::type_error("a callback must be callable or None");
    if (!log_) {
      if (callback.is_none()) return;
      log_ = std::make_shared<RunnerLogSubscription>(object_);
    }
    log_->callbacks().Set(&Callbacks::on_log, callback.is_none() ? py::object() : std::move(callback));
  }

 private:
  std::string Text(const char* name, Status (IBatchQueueRunner::*getter)(std::string*)) {
    return Out<std::string>(name, [&](std::string* v) { return (object_.get()->*getter)(v); });
  }

  // Shared by the copies of this runner object; goes with the last, before the runner itself.
  std::shared_ptr<RunnerLogSubscription> log_;
};

}  // namespace ordalis::python
