#pragma once
// BatchQueueItem: the base of the built-in batch items that run a file through an interpreter
// (command_file_runners.h: command, perl, shell and python files). Execute
// starts a worker thread that starts the command in the file's directory and reads its output
// into the item's log; the status goes NotRunning → Running → Passed or Failed (exit status 0
// is success). When a results directory is set, the finished item moves its log there and writes
// a small results file of its own.
//
// Abort ends the running command: its process group is asked to terminate, the status is
// NotRunning at once and Aborted once the command has gone, so an entry that is run again never
// overlaps with the attempt it replaces.
//
// When the command ends, whatever it left running in its process group (servers, sleeps started
// with "&") is killed with it, unless set_background(Background::kKeep) lets it run on.
//
// All operations are safe to call from any thread.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "batch/child_process.h"
#include "ordalis/interfaces.h"
#include "platform/event.h"

namespace ordalis {

// Items that say when their status changes, so a queue can wake at once instead of polling.
class IStatusNotifier {
 public:
  virtual ~IStatusNotifier() = default;
  // [wake] is set after every change of the status from now on (null stops it). Any thread.
  virtual void NotifyStatusChanges(std::shared_ptr<Event> wake) = 0;
};

class BatchQueueItem : public IBatchQueueItem1, public IStatusNotifier {
 public:
  ~BatchQueueItem() override;
  BatchQueueItem(const BatchQueueItem&) = delete;
  BatchQueueItem& operator=(const BatchQueueItem&) = delete;

  // IBatchQueueItem
  Status get_Version(std::string* version) override;
  Status get_Description(std::string* description) override;
  Status Execute(const std::string& file_name, std::shared_ptr<ITrace> trace) override;
  Status get_Status(BatchQueueItemStatus* status) override;
  Status Abort() override;
  Status Reset() override;
  Status get_PauseOnError(VariantBool* value) override;
  Status put_PauseOnError(VariantBool value) override;
  // IBatchQueueItem1
  Status get_ResultsFile(std::string* file) override;
  Status get_ResultsDirectory(std::string* directory) override;
  Status put_ResultsDirectory(const std::string& directory) override;
  // IStatusNotifier
  void NotifyStatusChanges(std::shared_ptr<Event> wake) override;

  // Whether the processes a command leaves in its process group end with it (the default) or
  // run on; read when an attempt starts. Any thread.
  void set_background(batch::Background background) { background_.store(background); }
  // How the latest attempt's command ended: its exit status, -1 when a signal ended it, or
  // kNoExitStatus when no command ran. Any thread.
  static constexpr int kNoExitStatus = -2;
  int exit_status() const { return exit_status_.load(); }

 protected:
  BatchQueueItem(std::string description, std::string version);
  // The command that runs [path] (absolute), program first.
  virtual std::vector<std::string> CommandLine(const std::string& path) const = 0;

 private:
  // What one run needs, fixed when Execute starts it.
  struct Run {
    std::vector<std::string> command;
    std::string full_file_name;
    std::string file_name;
    std::string directory;
    std::string results_directory;
    std::shared_ptr<ITrace> trace;
    batch::Background background = batch::Background::kEnd;
  };

  void Work(const Run& run);
  void Finish(const Run& run, bool passed);
  void SetStatus(BatchQueueItemStatus status);
  void StopWorker();
  void Log(const Run& run, LoggingLevel level, const char* format, ...)
      __attribute__((format(printf, 4, 5)));

  const std::string description_;
  const std::string version_;
  std::atomic<BatchQueueItemStatus> status_{BatchQueueItemNotRunning};
  std::atomic<bool> pause_on_error_{false};
  std::atomic<bool> abort_requested_{false};
  std::atomic<batch::Background> background_{batch::Background::kEnd};
  std::atomic<int> exit_status_{kNoExitStatus};

  mutable std::mutex mutex_;  // guards the three fields below
  std::string results_file_;
  std::string results_directory_;
  std::shared_ptr<Event> wake_;

  std::mutex execute_mutex_;  // one Execute (or the destructor) at a time
  batch::ChildProcess child_;
  Event worker_done_{EventReset::kManual, true};
  std::jthread worker_;
};

}  // namespace ordalis
