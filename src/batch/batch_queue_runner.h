#pragma once
// BatchQueueRunner: the queue's handle on one entry. It owns the entry's batch item, its file
// name and e-mail addresses, and a trace named "Batch" whose lines it re-emits through its own
// _ITraceEvents source. Execute starts the item on a short-lived worker thread and returns at
// once.
//
// Until the worker has handed the file to the item, the runner reports the attempt as not yet
// running (never the finished status of an earlier attempt), and an attempt whose start failed
// reports Failed, so a queue never records a stale result or waits on an item that never began.
//
// A built-in item whose file cannot run is not started at all: a script that did not load (its
// file could not be read, or it has syntax errors, as `ordalis run` refuses it) and a command
// file that cannot be read (missing, a folder, a FIFO, a device) give a Failed attempt whose
// reason NotRunReason tells and a severe line in the entry's log.
//
// All operations are safe to call from any thread.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "ordalis/interfaces.h"
#include "platform/connection_point.h"
#include "platform/event.h"
#include "platform/owned_worker.h"

namespace ordalis {

class RunnerLog;

class BatchQueueRunner : public IBatchQueueRunner, public IConnectionPointContainer {
 public:
  // The variable name of the runner's trace.
  static constexpr const char* kTraceName = "Batch";

  explicit BatchQueueRunner(std::shared_ptr<IBatchQueueItem> item);
  ~BatchQueueRunner() override;
  BatchQueueRunner(const BatchQueueRunner&) = delete;
  BatchQueueRunner& operator=(const BatchQueueRunner&) = delete;

  // The log lines of the item, as _ITraceEvents.
  IConnectionPoint<ITraceEvents>& TraceEvents();

  // [wake] is set whenever the status may have changed: when an attempt's start has been handed
  // to the item, and on every change of the item's own status if it tells of them.
  void NotifyStatusChanges(std::shared_ptr<Event> wake);
  // True when the item tells of every change of its status (otherwise a queue must poll it).
  bool NotifiesStatusChanges() const { return item_notifies_; }
  // True when the latest Execute reached the item and the item accepted it.
  bool AttemptBegan() const { return began_.load(); }
  // Why the latest attempt was not started because its file cannot run; empty when it started.
  std::string NotRunReason() const;
  // The exit status of the latest attempt's command (-1: ended by a signal) when the item is a
  // built-in command item whose command ran; BatchQueueItem::kNoExitStatus otherwise.
  int ExitStatus() const;

  // IBatchQueueRunner
  Status get_Version(std::string* version) override;
  Status get_Description(std::string* description) override;
  Status Execute() override;
  Status get_Status(BatchQueueItemStatus* status) override;
  Status Abort() override;
  Status put_EmailAddresses(const std::string& addresses) override;
  Status get_EmailAddresses(std::string* addresses) override;
  Status SetTrace(std::shared_ptr<ITrace> trace) override;
  Status get_FileName(std::string* file_name) override;
  Status put_FileName(const std::string& file_name) override;
  Status Reset() override;
  Status get_Item(std::shared_ptr<IBatchQueueItem>* item) override;
  Status get_PauseOnError(VariantBool* value) override;
  Status put_PauseOnError(VariantBool value) override;
  Status get_ResultsFile(std::string* file) override;
  Status get_ResultsDirectory(std::string* directory) override;
  Status put_ResultsDirectory(const std::string& directory) override;
  Status get_VersionUnderTest(std::string* version) override;
  Status put_VersionUnderTest(const std::string& version) override;

  // IConnectionPointContainer: the entry's log lines as trace events; nothing else.
  Status FindConnectionPoint(std::shared_ptr<IConnectionPoint<IScriptEvents>>* point) override;
  Status FindConnectionPoint(std::shared_ptr<IConnectionPoint<ITraceEvents>>* point) override;
  Status FindConnectionPoint(std::shared_ptr<IConnectionPoint<IBatchQueueEvents>>* point) override;

 private:
  void StartItem(const std::string& file_name, std::shared_ptr<ITrace> trace);
  std::string WhyNotRunnable(const std::string& file_name) const;
  void Wake();

  const std::shared_ptr<IBatchQueueItem> item_;
  const bool item_notifies_;
  std::shared_ptr<RunnerLog> log_;

  mutable std::mutex mutex_;  // guards the six fields below
  std::string file_name_;
  std::string email_addresses_;
  std::shared_ptr<ITrace> trace_;
  std::shared_ptr<Event> wake_;
  std::string load_problem_;     // why a script item's file could not be read when it was loaded
  std::string not_run_reason_;   // of the latest attempt

  // Used only when the item's status cannot be read.
  std::atomic<BatchQueueItemStatus> own_status_{BatchQueueItemNotRunning};
  std::atomic<bool> starting_{false};
  std::atomic<bool> start_failed_{false};
  std::atomic<bool> began_{false};
  std::mutex execute_mutex_;  // one Execute (or the destructor) at a time
  OwnedWorker worker_;
};

}  // namespace ordalis
