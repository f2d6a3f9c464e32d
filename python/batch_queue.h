#pragma once
// BatchQueue: a batch queue driven from Python, with its event callbacks.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "batch/batch_queue.h"
#include "settings/application_manager.h"

#include "batch_runner.h"
#include "support.h"

namespace py = pybind11;

namespace ordalis::python {

class QueueSink : public IBatchQueueEvents, public ITraceEvents {
 public:
  explicit QueueSink(std::shared_ptr<Callbacks> callbacks) : callbacks_(std::move(callbacks)) {}
  Status Started(std::uint32_t id) override {
    CallBack(*callbacks_, &Callbacks::on_started, id);
    return S_OK;
  }
  // The callback comes first, so a client woken by the count sees its callback's work done.
  Status Finished(std::uint32_t id) override {
    CallBack(*callbacks_, &Callbacks::on_executed, id);
    {
      std::lock_guard lock(mutex_);
      ++finished_;
    }
    changed_.notify_all();
    return S_OK;
  }
  Status Added(std::uint32_t id) override {
    CallBack(*callbacks_, &Callbacks::on_added, id);
    return S_OK;
  }
  Status Removed(std::uint32_t id) override {
    CallBack(*callbacks_, &Callbacks::on_removed, id);
    return S_OK;
  }
  Status Moved(std::uint32_t id) override {
    CallBack(*callbacks_, &Callbacks::on_moved, id);
    return S_OK;
  }
  // The queue's log lines, as on_log(level, message, variable_name) like a script's.
  Status Log(const std::string&, std::uint32_t, std::int64_t, double, LoggingLevel level,
             const std::string& variable_name, const std::string& message) override {
    CallBack(*callbacks_, &Callbacks::on_log, static_cast<int>(level), message, variable_name);
    return S_OK;
  }
  Status LogClear() override { return S_OK; }
  bool WaitForFinished(std::size_t count, std::uint32_t timeout_ms) {
    std::unique_lock lock(mutex_);
    auto done = [&] { return finished_ >= count; };
    if (timeout_ms == kInfinite) {
      changed_.wait(lock, done);
      return true;
    }
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), done);
  }
  std::size_t finished() {
    std::lock_guard lock(mutex_);
    return finished_;
  }

 private:
  std::shared_ptr<Callbacks> callbacks_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t finished_ = 0;
};

class PyBatchQueue : public Closable {
 public:
  PyBatchQueue() : PyBatchQueue(CBatchQueue::Create(std::make_shared<CApplicationManager>(), QueuePacing::kWakeOnChange)) {}
  // Observes [queue] (a new one, or one a results file was loaded into) from now on.
  explicit PyBatchQueue(std::shared_ptr<CBatchQueue> queue)
      : callbacks_(std::make_shared<Callbacks>()), queue_(std::move(queue)) {
    sink_ = std::make_shared<QueueSink>(callbacks_);
    queue_->BatchQueueEvents().Advise(sink_, &cookie_);
    queue_->TraceEvents().Advise(sink_, &trace_cookie_);
    StillOpen().Add(this);
  }
  ~PyBatchQueue() override { Close(); }
  // Stops the queue and lets go of it. As for a script, only locals are used once the GIL is
  // released.
  void Close() override {
    StillOpen().Remove(this);
    std::shared_ptr<CBatchQueue> queue = std::move(queue_);
    if (!queue) return;
    std::shared_ptr<Callbacks> callbacks = callbacks_;
    const std::uint32_t cookie = cookie_;
    const std::uint32_t trace_cookie = trace_cookie_;
    {
      py::gil_scoped_release release;
      queue->BatchQueueEvents().Unadvise(cookie);
      queue->TraceEvents().Unadvise(trace_cookie);
      queue->Stop();
      queue.reset();
    }
    for (auto which : {&Callbacks::on_started, &Callbacks::on_executed, &Callbacks::on_log, &Callbacks::on_added,
                       &Callbacks::on_removed, &Callbacks::on_moved}) {
      callbacks->Set(which, py::object());
    }
  }
  std::uint32_t Add(const std::string& path, const std::string& email) {
    std::uint32_t id = 0;
    Check(Live().Add(path, email, &id), "Add");
    return id;
  }
  std::uint32_t AddAt(std::uint32_t position, const std::string& path, const std::string& email) {
    std::uint32_t id = 0;
    Check(Live().AddAt(position, path, email, &id), "AddAt");
    return id;
  }
  void Remove(std::uint32_t id) { Check(Live().Remove(id), "Remove"); }
  std::uint32_t ItemCount() { return Out<std::uint32_t>("ItemCount", [&](auto* v) { return Live().get_ItemCount(v); }); }
  std::uint32_t IdAt(std::uint32_t index) { return Out<std::uint32_t>("Id", [&](auto* v) { return Live().get_Id(index, v); }); }
  std::vector<std::uint32_t> Ids() {
    std::uint32_t count = ItemCount();
    std::vector<std::uint32_t> ids;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::uint32_t id = 0;
      if (Live().get_Id(i, &id) >= 0) ids.push_back(id);
    }
    return ids;
  }
  PyBatchQueueRunner Item(std::uint32_t id) {
    return PyBatchQueueRunner(
        Out<std::shared_ptr<IBatchQueueRunner>>("Item", [&](auto* v) { return Live().get_Item(id, v); }));
  }
  void Run() { Check(Live().Run(), "Run"); }
  void Stop() { Check(Live().Stop(), "Stop"); }
  void Pause() { Check(Live().Pause(), "Pause"); }
  void Step() { Check(Live().Step(), "Step"); }
  void Clear() { Check(Live().Clear(), "Clear"); }
  void Reset() { Check(Live().Reset(), "Reset"); }
  void Abort(std::uint32_t id) { Check(Live().Abort(id), "Abort"); }
  int State() {
    BatchQueueState state{};
    Check(Live().get_State(&state), "State");
    return state;
  }
  int Status(std::uint32_t id) {
    BatchQueueItemStatus status{};
    Check(Live().get_Status(id, &status), "Status");
    return status;
  }
  std::string FileName(std::uint32_t id) {
    return Out<std::string>("FileName", [&](auto* v) { return Live().get_FileName(id, v); });
  }
  std::string EmailAddresses(std::uint32_t id) {
    return Out<std::string>("EmailAddresses", [&](auto* v) { return Live().get_EmailAddresses(id, v); });
  }
  std::string Description(std::uint32_t id) {
    return Out<std::string>("Description", [&](auto* v) { return Live().get_Description(id, v); });
  }
  std::uint32_t Position(std::uint32_t id) {
    return Out<std::uint32_t>("Position", [&](auto* v) { return Live().get_Position(id, v); });
  }
  void SetPosition(std::uint32_t id, std::uint32_t position) { Check(Live().put_Position(id, position), "Position"); }
  bool FileTypeValid(const std::string& path) {
    return OutBool("FileTypeValid", [&](VariantBool* v) { return Live().FileTypeValid(path, v); });
  }
  std::string BatchFileName() { return Out<std::string>("BatchFileName", [&](auto* v) { return Live().get_BatchFileName(v); }); }
  void Load(const std::string& path) { Check(Live().Load(path), "Load"); }
  void SaveAs(const std::string& path) { Check(Live().SaveAs(path), "SaveAs"); }
  void Save() { Check(Live().Save(), "Save"); }
  // The queue's switches, each a boolean get/put pair of IBatchQueue.
  bool Flag(ordalis::Status (IBatchQueue::*getter)(VariantBool*), const char* name) {
    return OutBool(name, [&](VariantBool* v) { return (static_cast<IBatchQueue&>(Live()).*getter)(v); });
  }
  void SetFlag(ordalis::Status (IBatchQueue::*setter)(VariantBool), const char* name, bool value) {
    Check((static_cast<IBatchQueue&>(Live()).*setter)(ToVariantBool(value)), name);
  }
  std::uint32_t RetryCount() { return Out<std::uint32_t>("RetryCount", [&](auto* v) { return Live().get_RetryCount(v); }); }
  void SetRetryCount(std::uint32_t count) { Check(Live().put_RetryCount(count), "RetryCount"); }
  std::string ResultsFileName() {
    return Out<std::string>("ResultsFileName", [&](auto* v) { return Live().get_ResultsFileName(v); });
  }
  std::uint32_t ResultCount() { return Out<std::uint32_t>("ResultCount", [&](auto* v) { return Live().get_ResultCount(v); }); }
  // One row of the batch results: (id, name, file name, comment, passed).
  std::tuple<std::uint32_t, std::string, std::string, std::string, bool> ResultDetails(std::uint32_t index) {
    std::uint32_t id = 0;
    std::string name, file, comment;
    VariantBool passed = kVariantFalse;
    Check(Live().ResultDetails(index, &id, &name, &file, &comment, &passed), "ResultDetails");
    return {id, name, file, comment, IsTrue(passed)};
  }
  void AddResultComment(std::uint32_t index, const std::string& comment) {
    Check(Live().AddResultComment(index, comment), "AddResultComment");
  }
  std::string VersionUnderTest() {
    return Out<std::string>("VersionUnderTest", [&](auto* v) { return Live().get_VersionUnderTest(v); });
  }
  void SetVersionUnderTest(const std::string& version) { Check(Live().put_VersionUnderTest(version), "VersionUnderTest"); }
  void SetStopAtEnd(bool value) { Check(Live().put_StopAtEnd(ToVariantBool(value)), "StopAtEnd"); }
  bool WaitForFinished(std::size_t count, std::optional<double> timeout) {
    return sink_->WaitForFinished(count, TimeoutMs(timeout));
  }
  std::size_t finished() { return sink_->finished(); }
  std::shared_ptr<Callbacks> callbacks() const { return callbacks_; }

 private:
  CBatchQueue& Live() {
    if (!queue_) throw StatusError(E_FAIL, "the batch queue was closed");
    return *queue_;
  }
  std::shared_ptr<Callbacks> callbacks_;
  std::shared_ptr<QueueSink> sink_;
  std::uint32_t cookie_ = 0;
  std::uint32_t trace_cookie_ = 0;
  std::shared_ptr<CBatchQueue> queue_;
};

}  // namespace ordalis::python
