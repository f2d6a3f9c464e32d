#pragma once
// CBatchQueue: an ordered list of entries — scripts, command files, perl, shell and python files,
// and any file type a plug-in batch item creator accepts — run one after another on the queue's
// own thread, with retries, continuous running, removal of finished entries, pausing and single
// steps. Every finished attempt becomes a record of the batch results file, rewritten after each
// attempt; the queue saves itself to and loads itself from a queue file. Clients watch it through
// _IBatchQueueEvents (Started, Finished, Added, Removed, Moved, each with an entry id).
//
// Pacing. By default the queue thread polls: a second of sleep ends every pass and a pass that
// finds its item running sleeps a second more, so an attempt's end is noticed within about two
// seconds. With QueuePacing::kWakeOnChange the thread instead wakes when something changes —
// a client call, an item that tells of its status changes, the end of an attempt's start — and
// polls items that cannot tell every millisecond; the order of states and events is the same,
// and every attempt that began gives Started before its Finished. Script items made by such a
// queue skip the pauses that pace graphical clients.
//
// All operations are safe to call from any thread. Events are fired outside the queue's lock:
// Added, Moved and the Removed of Remove on the caller's thread, the others on the queue thread.

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "batch/batch_paths.h"
#include "batch/item_creation.h"
#include "batch/batch_results.h"
#include "batch/builtin_creators.h"
#include "batch/queue_file.h"
#include "ordalis/interfaces.h"
#include "platform/connection_point.h"
#include "platform/event.h"
#include "platform/owned_worker.h"

namespace ordalis {

class BatchQueueRunner;

enum class QueuePacing { kPolling, kWakeOnChange };

// In-process observer of a queue's state. StateChanged is called with every change, in order,
// from the thread that made it, while the queue's state lock is held: it may call the queue back
// on the same thread but must not wait for another thread that does.
class IBatchQueueClient {
 public:
  virtual ~IBatchQueueClient() = default;
  virtual void StateChanged(BatchQueueState state) = 0;
};

class CBatchQueue : public IBatchQueue, public IConnectionPointContainer {
 public:
  // The id an AddAt of a queue file answers: its entries get ids of their own later.
  static constexpr std::uint32_t kNoEntryId = 0xFFFFFFFFu;
  // How deeply queue files that list queue files are merged.
  static constexpr std::size_t kMaxMergeDepth = 16;
  // The variable name of the queue's own log lines.
  static constexpr const char* kLogName = "BatchQueue";

  // A queue with its thread running. [manager] (may be null) is held for the queue's lifetime and
  // handed to the script items it makes; [creators] defaults to the process-wide list.
  static std::shared_ptr<CBatchQueue> Create(std::shared_ptr<IApplicationManager> manager,
                                             QueuePacing pacing = QueuePacing::kPolling,
                                             BatchQueueCreators* creators = nullptr);
  ~CBatchQueue() override;
  CBatchQueue(const CBatchQueue&) = delete;
  CBatchQueue& operator=(const CBatchQueue&) = delete;

  IConnectionPoint<IBatchQueueEvents>& BatchQueueEvents() { return *events_; }
  // The queue's own log lines (a queue file it refuses, an entry it drops).
  IConnectionPoint<ITraceEvents>& TraceEvents() { return *trace_events_; }
  void SetClient(std::shared_ptr<IBatchQueueClient> client);
  void set_pacing(QueuePacing pacing);
  // Whether the processes a command entry leaves behind end with it (the default) or run on;
  // holds for the entries added from now on.
  void SetBackground(batch::Background background) { background_.store(background); }
  // Where results go instead of <queue directory>/Results; empty restores that.
  void SetResultsDirectory(const std::string& directory);
  std::string ResultsDirectory() const;
  // Copies of the records and of what the batch results file says besides them.
  std::vector<batch::BatchResultRecord> Records() const;
  batch::BatchResultsHeader ResultsHeader() const;
  // The runner of entry [id], as the queue holds it; null for a missing id.
  std::shared_ptr<BatchQueueRunner> Runner(std::uint32_t id) const;

  // IBatchQueue
  Status Add(const std::string& file_name, const std::string& email_addresses, std::uint32_t* id) override;
  Status Remove(std::uint32_t id) override;
  Status get_ItemCount(std::uint32_t* count) override;
  Status get_Item(std::uint32_t id, std::shared_ptr<IBatchQueueRunner>* runner) override;
  Status get_AutoRemove(VariantBool* value) override;
  Status put_AutoRemove(VariantBool value) override;
  Status Stop() override;
  Status Run() override;
  Status Pause() override;
  Status get_PauseOnError(VariantBool* value) override;
  Status put_PauseOnError(VariantBool value) override;
  Status get_State(BatchQueueState* state) override;
  Status put_RunningContinuously(VariantBool value) override;
  Status get_RunningContinuously(VariantBool* value) override;
  Status Clear() override;
  Status Reset() override;
  Status FileTypeValid(const std::string& file_name, VariantBool* valid) override;
  Status get_Id(std::uint32_t index, std::uint32_t* id) override;
  Status get_FileName(std::uint32_t id, std::string* file_name) override;
  Status get_EmailAddresses(std::uint32_t id, std::string* addresses) override;
  Status get_Description(std::uint32_t id, std::string* description) override;
  Status get_Status(std::uint32_t id, BatchQueueItemStatus* status) override;
  Status Abort(std::uint32_t id) override;
  Status get_BatchFileName(std::string* file_name) override;
  Status Load(const std::string& file_name) override;
  Status SaveAs(const std::string& file_name) override;
  Status Save() override;
  Status get_EmailEnabled(VariantBool* value) override;
  Status put_EmailEnabled(VariantBool value) override;
  Status get_StopAfterCurrentItem(VariantBool* value) override;
  Status put_StopAfterCurrentItem(VariantBool value) override;
  Status get_AutoReset(VariantBool* value) override;
  Status put_AutoReset(VariantBool value) override;
  Status put_Position(std::uint32_t id, std::uint32_t position) override;
  Status get_Position(std::uint32_t id, std::uint32_t* position) override;
  Status AddAt(std::uint32_t position, const std::string& file_name,
               const std::string& email_addresses, std::uint32_t* id) override;
  Status get_RetryCount(std::uint32_t* count) override;
  Status put_RetryCount(std::uint32_t count) override;
  Status get_AutoSave(VariantBool* value) override;
  Status put_AutoSave(VariantBool value) override;
  Status get_ResultsFileName(std::string* file_name) override;
  Status get_ResultCount(std::uint32_t* count) override;
  Status ResultDetails(std::uint32_t index, std::uint32_t* id, std::string* name,
                       std::string* file_name, std::string* comment, VariantBool* passed) override;
  Status AddResultComment(std::uint32_t index, const std::string& comment) override;
  Status get_VersionUnderTest(std::string* version) override;
  Status put_VersionUnderTest(const std::string& version) override;
  Status Step() override;
  Status put_StopAtEnd(VariantBool value) override;

  // IConnectionPointContainer: batch-queue events and the queue's own log lines; no script events.
  Status FindConnectionPoint(std::shared_ptr<IConnectionPoint<IScriptEvents>>* point) override;
  Status FindConnectionPoint(std::shared_ptr<IConnectionPoint<ITraceEvents>>* point) override;
  Status FindConnectionPoint(std::shared_ptr<IConnectionPoint<IBatchQueueEvents>>* point) override;

 private:
  struct QueueEntry {
    std::shared_ptr<BatchQueueRunner> runner;
    std::uint32_t id = 0;
  };
  // A (file name, e-mail addresses) pair waiting for the queue thread, with the queue files it
  // was merged through (the outermost first).
  struct PendingAdd {
    batch::QueueFileEntry entry;
    std::vector<std::string> merged_through;
    bool from_merge = false;  // false for the entries of the queue file being loaded
  };
  // The queue thread's view of the attempt at the current index.
  struct Attempt {
    bool valid = false;
    std::uint32_t id = 0;
    bool started = false;
    bool started_fired = false;
    std::uint32_t count = 0;  // attempts of this entry finished in this pass
  };
  enum class PassOutcome { kIdle, kWaitForItem, kProgress };
  enum class AutoSaveMode { kSave, kDefer };

  CBatchQueue(std::shared_ptr<IApplicationManager> manager, QueuePacing pacing, BatchQueueCreators& creators);

  // Adding and removing entries.
  Status AddEntry(std::uint32_t position, const std::string& file_name, const std::string& addresses,
                  const std::vector<std::string>& merged_through, AutoSaveMode save, std::uint32_t* id);
  Status MergeQueueFile(const std::string& file_name, const std::vector<std::string>& merged_through);
  bool QueuePending(std::vector<batch::QueueFileEntry> entries, const std::vector<std::string>& chain,
                    bool from_merge);
  bool TakePendingAdds();
  bool HasPendingAdds() const;
  std::size_t ItemCount() const;
  void RemoveAllEntries();
  void AutoSave();
  BatchItemContext ItemContext() const;

  // The queue thread's own reference to its queue, held whenever the thread may tell a client
  // anything: a client that lets go of the queue from an event leaves the queue's end to the
  // thread, which then ends by itself without touching the queue again.
  class Hold {
   public:
    explicit Hold(std::weak_ptr<CBatchQueue> owner) : owner_(std::move(owner)) {}
    bool Take() {
      held_ = owner_.lock();
      return held_ != nullptr;
    }
    bool held() const { return held_ != nullptr; }
    // False when the queue went with this reference: its destructor ran on this thread.
    bool Let() {
      held_.reset();
      return !OwnedWorker::LetGoOnThisThread();
    }

   private:
    std::weak_ptr<CBatchQueue> owner_;
    std::shared_ptr<CBatchQueue> held_;
  };
  // What the queue thread does after a wait: a turn (with the queue held), end, or nothing at
  // all since the queue has gone.
  enum class AfterWait { kTurn, kEnd, kGone };

  // The queue thread.
  void ThreadMain(std::weak_ptr<CBatchQueue> owner);
  void TakeTurn();
  AfterWait WaitForWork(Hold& hold);
  void CarryOutStop();
  void RecordInterruption(const QueueEntry& entry, bool attempt_begun);
  void AwaitItemEnd(const QueueEntry& entry);
  void CarryOutReset();
  void CarryOutClear();
  PassOutcome Pass(QueueEntry* watched);
  void RemoveEntriesBeforeCurrent();
  void StartAttempt(const QueueEntry& entry);
  void FinishAttempt(const QueueEntry& entry, BatchQueueItemStatus status);
  void MoveOn(const QueueEntry& entry);
  void IdleWait(PassOutcome outcome, const QueueEntry* entry);

  // State changes; each happens under the state lock together with the run event it goes with.
  void SetState(BatchQueueState state);
  void Wake() { wake_->Set(); }

  // Results.
  void BeginResults();
  void WriteResults(batch::CompanionFiles companions = batch::CompanionFiles::kReplace);
  Status LoadResults(const std::string& file_name);
  std::string ResultsDirectoryLocked() const;
  batch::BatchResultRecord RecordOf(const QueueEntry& entry, BatchQueueItemStatus status) const;

  void LogSevere(const std::string& message);
  void LogWarning(const std::string& message);
  void FireAll(void (*fire)(IBatchQueueEvents&, std::uint32_t), const std::vector<std::uint32_t>& ids);

  std::shared_ptr<IApplicationManager> manager_;
  BatchQueueCreators& creators_;
  std::atomic<QueuePacing> pacing_;
  std::atomic<batch::Background> background_{batch::Background::kEnd};

  std::recursive_mutex state_mutex_;
  std::atomic<BatchQueueState> state_{BatchQueueNotRunning};
  std::atomic<bool> auto_remove_{false};
  std::atomic<bool> email_enabled_{false};
  std::atomic<bool> stop_at_end_{true};
  std::atomic<bool> running_continuously_{false};
  std::atomic<bool> pause_on_error_{false};
  std::atomic<bool> auto_save_{false};
  std::atomic<bool> stop_after_current_{false};
  std::atomic<bool> auto_reset_{true};
  std::atomic<std::uint32_t> retry_count_{0};
  std::atomic<bool> reset_request_{false};
  std::atomic<bool> clear_request_{false};
  std::atomic<bool> batch_open_{false};  // a Run began a results file that no stop has closed

  Event run_event_{EventReset::kManual};
  Event exit_event_{EventReset::kManual};
  std::shared_ptr<Event> wake_ = std::make_shared<Event>(EventReset::kAuto);

  mutable std::mutex mutex_;  // guards everything below up to the blank line
  std::vector<QueueEntry> entries_;
  std::uint32_t current_index_ = 0;
  std::vector<batch::BatchResultRecord> results_;
  std::uint32_t iteration_ = 1;
  std::deque<PendingAdd> pending_;
  batch::QueueLocation location_;
  std::string results_path_;
  std::string results_directory_override_;
  std::string version_under_test_;
  batch::BatchResultsHeader header_;  // all but the batch name and the version under test
  std::shared_ptr<IBatchQueueClient> client_;

  std::mutex write_mutex_;  // one write of the batch results file at a time
  Attempt attempt_;         // the queue thread's alone
  // Held apart from the queue, so that a client's hold on a source keeps neither the queue nor
  // its thread alive.
  const std::shared_ptr<ConnectionPoint<IBatchQueueEvents>> events_ =
      std::make_shared<ConnectionPoint<IBatchQueueEvents>>();
  const std::shared_ptr<ConnectionPoint<ITraceEvents>> trace_events_ = std::make_shared<ConnectionPoint<ITraceEvents>>();
  OwnedWorker worker_;  // last: the queue thread ends before the parts above go
};

}  // namespace ordalis
