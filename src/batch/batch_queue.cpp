#include "batch/batch_queue.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>

#include "batch/batch_paths.h"
#include "batch/batch_queue_runner.h"
#include "ordalis/id_generator.h"
#include "settings/application_manager.h"
#include "trace/script_log.h"

namespace ordalis {

namespace fs = std::filesystem;

namespace {

// The polling pace: a second ends every pass, and one more follows a pass that found its item
// running.
constexpr std::uint32_t kPollMs = 1000;
// The wake-on-change pace: items that cannot tell of their status changes are polled this often;
// otherwise a second passes at most between two looks.
constexpr std::uint32_t kFastPollMs = 1;
constexpr std::uint32_t kFastIdleMs = 1000;
// The wait for the run event is cut into slices so the end of the queue is always seen.
constexpr std::uint32_t kWaitSliceMs = 10000;
// How long a stop waits for the item it aborted to end before recording the attempt.
constexpr std::uint32_t kAbortedItemWaitMs = 5000;
// The text IApplicationManager::Version gives.
constexpr const char* kVersionText = "4.0n";

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, 255) != 0 || name[0] == '\0') return "Unknown";
  return name;
}

bool IsFinished(BatchQueueItemStatus status) {
  return status == BatchQueueItemPassed || status == BatchQueueItemFailed || status == BatchQueueItemAborted;
}

// Keeps the bytes of a comment that print as one line of ASCII text.
std::string PrintableOnly(const std::string& text) {
  std::string kept;
  for (char c : text) {
    if (c >= 32 && c <= 126) kept += c;
  }
  return kept;
}

// Makes a batch queue of a batch results file for IApplicationManager::LoadResults.
const bool kResultsLoaderRegistered = [] {
  settings::RegisterResultsLoader(
      settings::ResultsKind::kBatch, [](const std::string& file_name, std::shared_ptr<IUnknown>* object) {
        std::shared_ptr<CBatchQueue> queue = CBatchQueue::Create(std::make_shared<settings::CApplicationManager>());
        *object = queue;
        return queue->Load(file_name);
      });
  return true;
}();

}  // namespace

// ---- construction --------------------------------------------------------------------------------

std::shared_ptr<CBatchQueue> CBatchQueue::Create(std::shared_ptr<IApplicationManager> manager,
                                                 QueuePacing pacing, BatchQueueCreators* creators) {
  std::shared_ptr<CBatchQueue> queue(
      new CBatchQueue(std::move(manager), pacing, creators ? *creators : BatchQueueCreators::Instance()));
  queue->worker_ = OwnedWorker([raw = queue.get(), owner = std::weak_ptr<CBatchQueue>(queue)] { raw->ThreadMain(owner); });
  return queue;
}

CBatchQueue::CBatchQueue(std::shared_ptr<IApplicationManager> manager, QueuePacing pacing,
                         BatchQueueCreators& creators)
    : manager_(std::move(manager)), creators_(creators), pacing_(pacing) {
  header_.last_update_time = Now();
  (void)kResultsLoaderRegistered;
}

CBatchQueue::~CBatchQueue() {
  run_event_.Reset();
  exit_event_.Set();
  Wake();
  // The thread may still be inside an item call; it must end before the entries go. Let go
  // from one of the queue's own events, on its thread, it ends by itself instead.
  worker_.Release();
  std::vector<QueueEntry> entries;
  {
    std::lock_guard lock(mutex_);
    entries.swap(entries_);
  }
}

void CBatchQueue::SetClient(std::shared_ptr<IBatchQueueClient> client) {
  std::lock_guard lock(state_mutex_);
  std::lock_guard fields(mutex_);
  client_ = std::move(client);
}

void CBatchQueue::set_pacing(QueuePacing pacing) {
  pacing_.store(pacing);
  Wake();
}

BatchItemContext CBatchQueue::ItemContext() const {
  BatchItemContext context;
  context.manager = manager_;
  context.background = background_.load();
  if (pacing_.load() == QueuePacing::kWakeOnChange) context.script_pacing = Pacing{0, 0, 0};
  return context;
}

void CBatchQueue::LogSevere(const std::string& message) {
  LogTime now = ScriptLog::Now();
  trace_events_->Fire([&](ITraceEvents& sink) { sink.Log("", 0, now.time, now.seconds, severe, kLogName, message); });
}

void CBatchQueue::LogWarning(const std::string& message) {
  LogTime now = ScriptLog::Now();
  trace_events_->Fire([&](ITraceEvents& sink) { sink.Log("", 0, now.time, now.seconds, warning, kLogName, message); });
}

void CBatchQueue::FireAll(void (*fire)(IBatchQueueEvents&, std::uint32_t), const std::vector<std::uint32_t>& ids) {
  for (std::uint32_t id : ids) events_->Fire([&](IBatchQueueEvents& sink) { fire(sink, id); });
}

// ---- entries -------------------------------------------------------------------------------------

Status CBatchQueue::Add(const std::string& file_name, const std::string& email_addresses, std::uint32_t* id) {
  return AddAt(0xFFFFFFFFu, file_name, email_addresses, id);
}

Status CBatchQueue::AddAt(std::uint32_t position, const std::string& file_name,
                          const std::string& email_addresses, std::uint32_t* id) {
  if (id == nullptr) return E_POINTER;
  return AddEntry(position, file_name, email_addresses, {}, AutoSaveMode::kSave, id);
}

Status CBatchQueue::AddEntry(std::uint32_t position, const std::string& file_name,
                             const std::string& addresses, const std::vector<std::string>& merged_through,
                             AutoSaveMode save, std::uint32_t* id) {
  if (ItemCount() >= batch::kMaxQueueEntries) {
    LogSevere("The entry " + file_name + " is not added: the queue holds " + std::to_string(batch::kMaxQueueEntries) +
              " entries, as many as a queue can");
    return E_FAIL;
  }
  std::shared_ptr<BatchQueueRunner> runner = CreateRunner(creators_, file_name, ItemContext());
  if (!runner) {
    if (!batch::HasExtension(file_name, ".tbq")) return E_FAIL;
    *id = kNoEntryId;
    return MergeQueueFile(file_name, merged_through);
  }
  runner->put_EmailAddresses(addresses);
  runner->NotifyStatusChanges(wake_);
  std::uint32_t new_id = IdGenerator::Next();
  {
    std::lock_guard lock(mutex_);
    std::size_t index = state_.load() == BatchQueueNotRunning
                            ? std::min<std::size_t>(position, entries_.size())
                            : entries_.size();
    entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(index), QueueEntry{runner, new_id});
  }
  *id = new_id;
  events_->Fire([new_id](IBatchQueueEvents& sink) { sink.Added(new_id); });
  Wake();
  if (save == AutoSaveMode::kSave) AutoSave();
  return S_OK;
}

// A queue file added as an entry: its entries join the pending-add list, the queue's settings
// stay. A file met again inside its own merge, or merged too deeply, is refused.
Status CBatchQueue::MergeQueueFile(const std::string& file_name, const std::vector<std::string>& merged_through) {
  std::string absolute = batch::AbsolutePath(file_name);
  if (std::find(merged_through.begin(), merged_through.end(), absolute) != merged_through.end() ||
      merged_through.size() >= kMaxMergeDepth) {
    LogSevere("The queue file " + file_name + " is not merged: it lists itself, or queue files nest more than " +
              std::to_string(kMaxMergeDepth) + " deep");
    return E_FAIL;
  }
  batch::QueueFileContents contents;
  std::string problem;
  batch::QueueFileRead read = batch::ReadQueueFile(file_name, &contents, &problem);
  if (read != batch::QueueFileRead::kRead) {
    if (read == batch::QueueFileRead::kMalformed) LogSevere(problem);
    return E_FAIL;
  }
  std::vector<std::string> chain = merged_through;
  chain.push_back(absolute);
  // A queue file that lists another many times must not multiply its entries without end.
  if (!QueuePending(std::move(contents.entries), chain, true)) {
    LogSevere("The queue file " + file_name + " is not merged: the queue would hold more than " +
              std::to_string(batch::kMaxQueueEntries) + " entries");
    return E_FAIL;
  }
  run_event_.Set();
  Wake();
  return S_OK;
}

bool CBatchQueue::HasPendingAdds() const {
  std::lock_guard lock(mutex_);
  return !pending_.empty();
}

std::size_t CBatchQueue::ItemCount() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

// Appends [entries] to the pending-add list unless the queue would then hold more entries than
// it can; false, with nothing appended, when it would.
bool CBatchQueue::QueuePending(std::vector<batch::QueueFileEntry> entries, const std::vector<std::string>& chain,
                               bool from_merge) {
  std::lock_guard lock(mutex_);
  if (entries_.size() + pending_.size() + entries.size() > batch::kMaxQueueEntries) return false;
  for (batch::QueueFileEntry& entry : entries) pending_.push_back({std::move(entry), chain, from_merge});
  return true;
}

// Adds the pairs of the pending-add list in order, each at the end with an id of its own. The
// queue file they came from already holds them, so AutoSave waits until they are all in, and
// saves only when a merge changed the list. A stop or the end of the queue comes first: what is
// left waits for the next wake. False when the list was empty.
bool CBatchQueue::TakePendingAdds() {
  bool any = false;
  bool merged = false;
  while (!exit_event_.IsSet() && state_.load() != BatchQueueStopping) {
    PendingAdd add;
    {
      std::lock_guard lock(mutex_);
      if (pending_.empty()) break;
      add = std::move(pending_.front());
      pending_.pop_front();
    }
    any = true;
    merged = merged || add.from_merge;
    std::uint32_t id = 0;
    if (Failed(AddEntry(0xFFFFFFFFu, add.entry.file_name, add.entry.email_addresses, add.merged_through,
                        AutoSaveMode::kDefer, &id))) {
      LogWarning("The entry " + add.entry.file_name + " is left out of the queue: no batch item creator "
                 "accepts it and it is no queue file that can be merged");
    }
  }
  if (merged) AutoSave();
  return any;
}

void CBatchQueue::AutoSave() {
  if (auto_save_.load()) Save();
}

Status CBatchQueue::Remove(std::uint32_t id) {
  std::shared_ptr<BatchQueueRunner> released;
  {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(entries_.begin(), entries_.end(), [id](const QueueEntry& e) { return e.id == id; });
    if (it == entries_.end()) return E_INVALIDARG;
    if (static_cast<std::uint32_t>(it - entries_.begin()) < current_index_) --current_index_;
    released = std::move(it->runner);
    entries_.erase(it);
  }
  released.reset();
  events_->Fire([id](IBatchQueueEvents& sink) { sink.Removed(id); });
  Wake();
  AutoSave();
  return S_OK;
}

void CBatchQueue::RemoveAllEntries() {
  std::vector<QueueEntry> removed;
  {
    std::lock_guard lock(mutex_);
    removed.swap(entries_);
    current_index_ = 0;
  }
  std::vector<std::uint32_t> ids;
  for (QueueEntry& entry : removed) ids.push_back(entry.id);
  removed.clear();
  FireAll([](IBatchQueueEvents& sink, std::uint32_t id) { sink.Removed(id); }, ids);
  Wake();
}

std::shared_ptr<BatchQueueRunner> CBatchQueue::Runner(std::uint32_t id) const {
  std::lock_guard lock(mutex_);
  for (const QueueEntry& entry : entries_) {
    if (entry.id == id) return entry.runner;
  }
  return nullptr;
}

Status CBatchQueue::get_ItemCount(std::uint32_t* count) {
  if (count == nullptr) return E_POINTER;
  std::lock_guard lock(mutex_);
  *count = static_cast<std::uint32_t>(entries_.size());
  return S_OK;
}

Status CBatchQueue::get_Item(std::uint32_t id, std::shared_ptr<IBatchQueueRunner>* runner) {
  if (runner == nullptr) return E_POINTER;
  std::shared_ptr<BatchQueueRunner> found = Runner(id);
  if (!found) return E_INVALIDARG;
  *runner = found;
  return S_OK;
}

Status CBatchQueue::get_Id(std::uint32_t index, std::uint32_t* id) {
  if (id == nullptr) return E_POINTER;
  std::lock_guard lock(mutex_);
  if (index >= entries_.size()) return E_INVALIDARG;
  *id = entries_[index].id;
  return S_OK;
}

// The forwarding getters call the runner outside the queue's lock; an item is foreign code.
Status CBatchQueue::get_FileName(std::uint32_t id, std::string* file_name) {
  if (file_name == nullptr) return E_POINTER;
  auto runner = Runner(id);
  return runner ? runner->get_FileName(file_name) : E_INVALIDARG;
}

Status CBatchQueue::get_EmailAddresses(std::uint32_t id, std::string* addresses) {
  if (addresses == nullptr) return E_POINTER;
  auto runner = Runner(id);
  return runner ? runner->get_EmailAddresses(addresses) : E_INVALIDARG;
}

Status CBatchQueue::get_Description(std::uint32_t id, std::string* description) {
  if (description == nullptr) return E_POINTER;
  auto runner = Runner(id);
  return runner ? runner->get_Description(description) : E_INVALIDARG;
}

Status CBatchQueue::get_Status(std::uint32_t id, BatchQueueItemStatus* status) {
  if (status == nullptr) return E_POINTER;
  auto runner = Runner(id);
  return runner ? runner->get_Status(status) : E_INVALIDARG;
}

Status CBatchQueue::Abort(std::uint32_t id) {
  auto runner = Runner(id);
  return runner ? runner->Abort() : E_INVALIDARG;
}

Status CBatchQueue::get_Position(std::uint32_t id, std::uint32_t* position) {
  if (position == nullptr) return E_POINTER;
  std::lock_guard lock(mutex_);
  auto it = std::find_if(entries_.begin(), entries_.end(), [id](const QueueEntry& e) { return e.id == id; });
  *position = static_cast<std::uint32_t>(it - entries_.begin());
  return S_OK;
}

Status CBatchQueue::put_Position(std::uint32_t id, std::uint32_t position) {
  if (state_.load() != BatchQueueNotRunning) return S_OK;
  {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(entries_.begin(), entries_.end(), [id](const QueueEntry& e) { return e.id == id; });
    if (it == entries_.end()) return S_OK;
    QueueEntry entry = std::move(*it);
    entries_.erase(it);
    std::size_t index = std::min<std::size_t>(position, entries_.size());
    entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(index), std::move(entry));
  }
  events_->Fire([id](IBatchQueueEvents& sink) { sink.Moved(id); });
  AutoSave();
  return S_OK;
}

Status CBatchQueue::FileTypeValid(const std::string& file_name, VariantBool* valid) {
  if (valid == nullptr) return E_POINTER;
  *valid = ToVariantBool(Accepts(creators_, file_name) || batch::HasExtension(file_name, ".tbq"));
  return S_OK;
}

// ---- state ---------------------------------------------------------------------------------------

void CBatchQueue::SetState(BatchQueueState state) {
  state_.store(state);
  std::shared_ptr<IBatchQueueClient> client;
  {
    std::lock_guard lock(mutex_);
    client = client_;
  }
  if (client) client->StateChanged(state);
}

Status CBatchQueue::Run() {
  {
    std::lock_guard lock(state_mutex_);
    if (state_.load() == BatchQueueNotRunning) BeginResults();
    SetState(BatchQueueRunning);
    run_event_.Set();
  }
  Wake();
  return S_OK;
}

Status CBatchQueue::Pause() {
  {
    std::lock_guard lock(state_mutex_);
    if (state_.load() != BatchQueueRunning) return S_OK;
    SetState(BatchQueuePausing);
    run_event_.Reset();
  }
  Wake();
  return S_OK;
}

Status CBatchQueue::Stop() {
  {
    std::lock_guard lock(state_mutex_);
    if (state_.load() == BatchQueueNotRunning) return S_OK;
    SetState(BatchQueueStopping);
    run_event_.Set();
  }
  Wake();
  return S_OK;
}

Status CBatchQueue::Step() {
  std::lock_guard lock(state_mutex_);
  BatchQueueState state = state_.load();
  if (state != BatchQueueNotRunning && state != BatchQueuePaused) return S_OK;
  stop_after_current_.store(true);
  return Run();
}

Status CBatchQueue::Clear() {
  clear_request_.store(true);
  {
    std::lock_guard lock(state_mutex_);
    SetState(BatchQueueStopping);
    run_event_.Set();
  }
  Wake();
  return S_OK;
}

Status CBatchQueue::Reset() {
  reset_request_.store(true);
  {
    std::lock_guard lock(state_mutex_);
    SetState(BatchQueueStopping);
    run_event_.Set();
  }
  Wake();
  return S_OK;
}

Status CBatchQueue::get_State(BatchQueueState* state) {
  if (state == nullptr) return E_POINTER;
  *state = state_.load();
  return S_OK;
}

// ---- flags ---------------------------------------------------------------------------------------

namespace {

Status GetFlag(const std::atomic<bool>& flag, VariantBool* value) {
  if (value == nullptr) return E_POINTER;
  *value = ToVariantBool(flag.load());
  return S_OK;
}

Status PutFlag(std::atomic<bool>& flag, VariantBool value) {
  flag.store(value == kVariantTrue);
  return S_OK;
}

}  // namespace

Status CBatchQueue::get_AutoRemove(VariantBool* value) { return GetFlag(auto_remove_, value); }
Status CBatchQueue::put_AutoRemove(VariantBool value) { return PutFlag(auto_remove_, value); }
Status CBatchQueue::get_PauseOnError(VariantBool* value) { return GetFlag(pause_on_error_, value); }
Status CBatchQueue::put_PauseOnError(VariantBool value) { return PutFlag(pause_on_error_, value); }
Status CBatchQueue::get_RunningContinuously(VariantBool* value) { return GetFlag(running_continuously_, value); }
Status CBatchQueue::get_EmailEnabled(VariantBool* value) { return GetFlag(email_enabled_, value); }
Status CBatchQueue::put_EmailEnabled(VariantBool value) { return PutFlag(email_enabled_, value); }
Status CBatchQueue::get_StopAfterCurrentItem(VariantBool* value) { return GetFlag(stop_after_current_, value); }
Status CBatchQueue::put_StopAfterCurrentItem(VariantBool value) { return PutFlag(stop_after_current_, value); }
Status CBatchQueue::get_AutoReset(VariantBool* value) { return GetFlag(auto_reset_, value); }
Status CBatchQueue::put_AutoReset(VariantBool value) { return PutFlag(auto_reset_, value); }
Status CBatchQueue::get_AutoSave(VariantBool* value) { return GetFlag(auto_save_, value); }
Status CBatchQueue::put_AutoSave(VariantBool value) { return PutFlag(auto_save_, value); }
Status CBatchQueue::put_StopAtEnd(VariantBool value) { return PutFlag(stop_at_end_, value); }

Status CBatchQueue::FindConnectionPoint(std::shared_ptr<IConnectionPoint<IScriptEvents>>* point) {
  if (point == nullptr) return E_POINTER;
  point->reset();
  return E_NOINTERFACE;
}

Status CBatchQueue::FindConnectionPoint(std::shared_ptr<IConnectionPoint<ITraceEvents>>* point) {
  if (point == nullptr) return E_POINTER;
  *point = trace_events_;
  return S_OK;
}

Status CBatchQueue::FindConnectionPoint(std::shared_ptr<IConnectionPoint<IBatchQueueEvents>>* point) {
  if (point == nullptr) return E_POINTER;
  *point = events_;
  return S_OK;
}

Status CBatchQueue::put_RunningContinuously(VariantBool value) {
  running_continuously_.store(value == kVariantTrue);
  if (value != kVariantTrue) return S_OK;
  auto_remove_.store(false);
  return Run();
}

Status CBatchQueue::get_RetryCount(std::uint32_t* count) {
  if (count == nullptr) return E_POINTER;
  *count = retry_count_.load();
  return S_OK;
}

Status CBatchQueue::put_RetryCount(std::uint32_t count) {
  retry_count_.store(count);
  return S_OK;
}

Status CBatchQueue::get_VersionUnderTest(std::string* version) {
  if (version == nullptr) return E_FAIL;
  std::lock_guard lock(mutex_);
  *version = version_under_test_;
  return S_OK;
}

Status CBatchQueue::put_VersionUnderTest(const std::string& version) {
  std::lock_guard lock(mutex_);
  version_under_test_ = version;
  return S_OK;
}

// ---- the queue thread ----------------------------------------------------------------------------

// Memory running out (or any other surprise) inside a pass stops the queue with a severe line,
// never the process: nothing above this thread could catch it.
void CBatchQueue::ThreadMain(std::weak_ptr<CBatchQueue> owner) {
  Hold hold(std::move(owner));
  while (hold.Take()) {
    try {
      AfterWait next = WaitForWork(hold);
      if (next == AfterWait::kGone) return;
      if (next == AfterWait::kEnd) break;
      TakeTurn();
    } catch (const std::exception& error) {
      if (!hold.held() && !hold.Take()) break;
      LogSevere(std::string("The queue stops: ") + error.what());
      Stop();
      exit_event_.Wait(kPollMs);
    }
    if (!hold.Let()) return;
  }
  {
    std::lock_guard lock(state_mutex_);
    run_event_.Reset();
    SetState(BatchQueueNotRunning);
  }
}

// One turn of the queue thread once there is work: a stop to carry out, or a pass over the
// current entry.
void CBatchQueue::TakeTurn() {
  if (state_.load() == BatchQueueStopping) CarryOutStop();
  if (state_.load() != BatchQueueRunning) {
    if (pacing_.load() == QueuePacing::kPolling) exit_event_.Wait(kPollMs);
    return;
  }
  QueueEntry watched;
  PassOutcome outcome = Pass(&watched);
  IdleWait(outcome, watched.runner ? &watched : nullptr);
}

// Waits for the run event (or the end of the queue), adding the entries of the pending-add list
// whenever they come. A stop requested meanwhile is carried out at once rather than left
// waiting for the next Run. False when the queue is ending.
CBatchQueue::AfterWait CBatchQueue::WaitForWork(Hold& hold) {
  for (;;) {
    {
      std::lock_guard lock(state_mutex_);
      if (state_.load() == BatchQueuePausing) SetState(BatchQueuePaused);
    }
    // Idle, the thread holds no reference: the queue may go meanwhile.
    if (!hold.Let()) return AfterWait::kGone;
    int signalled;
    while ((signalled = Event::WaitAny({&exit_event_, &run_event_}, kWaitSliceMs)) < 0) {
    }
    if (signalled == 0 || !hold.Take()) return AfterWait::kEnd;
    if (!TakePendingAdds()) return AfterWait::kTurn;
    std::lock_guard lock(state_mutex_);
    BatchQueueState state = state_.load();
    if (state == BatchQueueRunning || state == BatchQueueStopping) return AfterWait::kTurn;
    run_event_.Reset();
  }
}

// The interrupted entry is aborted and will run again from its start at the next Run. The state
// becomes NotRunning once everything the stop asked for is done, so a client that sees it finds
// the Finished and Removed events already fired.
//
// A stop that interrupts a batch before its end leaves a batch that did not pass: its results
// file says Failed, and an attempt the stop cut short is recorded as Aborted, so the file, the
// events and whoever reads the records tell the same story.
void CBatchQueue::CarryOutStop() {
  running_continuously_.store(false);
  QueueEntry current;
  {
    std::lock_guard lock(mutex_);
    if (current_index_ < entries_.size()) current = entries_[current_index_];
  }
  if (current.runner) {
    bool begun = attempt_.valid && attempt_.started && attempt_.id == current.id;
    current.runner->Abort();
    if (batch_open_.load()) RecordInterruption(current, begun);
    std::uint32_t id = current.id;
    events_->Fire([id](IBatchQueueEvents& sink) { sink.Finished(id); });
  }
  batch_open_.store(false);
  attempt_.started = false;
  for (;;) {
    if (reset_request_.exchange(false)) CarryOutReset();
    if (clear_request_.exchange(false)) CarryOutClear();
    std::lock_guard lock(state_mutex_);
    if (reset_request_.load() || clear_request_.load()) continue;
    // A Run that came meanwhile stands. Entries a stop left waiting are still added.
    if (state_.load() == BatchQueueStopping) {
      SetState(BatchQueueNotRunning);
      if (!HasPendingAdds()) run_event_.Reset();
    }
    return;
  }
}

// Records what a stop did to a batch in progress: the attempt it cut short becomes an Aborted
// record once the item has ended (or has had a few seconds to), and the batch no longer passes.
void CBatchQueue::RecordInterruption(const QueueEntry& entry, bool attempt_begun) {
  std::vector<batch::BatchResultRecord> aborted;
  if (attempt_begun) {
    AwaitItemEnd(entry);
    aborted.push_back(RecordOf(entry, BatchQueueItemAborted));
  }
  {
    std::lock_guard lock(mutex_);
    header_.all_passed = false;
    for (batch::BatchResultRecord& record : aborted) {
      record.iteration = iteration_;
      results_.push_back(std::move(record));
    }
    header_.last_update_time = Now();
  }
  WriteResults(batch::CompanionFiles::kIfMissing);
}

// Waits, a bounded time, for an aborted item to report its end, so its results file is known and
// its work is over before the queue says it has stopped.
void CBatchQueue::AwaitItemEnd(const QueueEntry& entry) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAbortedItemWaitMs);
  while (!exit_event_.IsSet() && std::chrono::steady_clock::now() < deadline) {
    BatchQueueItemStatus status = BatchQueueItemNotRunning;
    if (Failed(entry.runner->get_Status(&status)) || IsFinished(status)) return;
    wake_->Wait(entry.runner->NotifiesStatusChanges() ? kFastIdleMs : kFastPollMs);
  }
}

void CBatchQueue::CarryOutReset() {
  std::vector<QueueEntry> entries;
  {
    std::lock_guard lock(mutex_);
    results_.clear();
    entries = entries_;
    current_index_ = 0;
    iteration_ = 1;
  }
  for (const QueueEntry& entry : entries) entry.runner->Reset();
  attempt_ = Attempt{};
  std::vector<std::uint32_t> ids;
  for (const QueueEntry& entry : entries) ids.push_back(entry.id);
  FireAll([](IBatchQueueEvents& sink, std::uint32_t id) { sink.Finished(id); }, ids);
}

void CBatchQueue::CarryOutClear() {
  RemoveAllEntries();
  attempt_ = Attempt{};
  AutoSave();
}

// One pass over the entry at the current index: start it, watch it, or record its finished
// attempt and move on.
CBatchQueue::PassOutcome CBatchQueue::Pass(QueueEntry* watched) {
  {
    std::lock_guard lock(mutex_);
    if (current_index_ >= entries_.size()) {
      if (running_continuously_.load()) {
        ++iteration_;
        current_index_ = 0;
      }
      attempt_.started = false;
      return PassOutcome::kIdle;
    }
  }
  if (auto_remove_.load()) RemoveEntriesBeforeCurrent();
  QueueEntry entry;
  {
    std::lock_guard lock(mutex_);
    if (current_index_ >= entries_.size()) return PassOutcome::kIdle;
    entry = entries_[current_index_];
  }
  // The entry at the current index may have changed under the thread (removed, moved, cleared).
  if (!attempt_.valid || attempt_.id != entry.id) attempt_ = Attempt{true, entry.id};
  *watched = entry;
  BatchQueueItemStatus status = BatchQueueItemNotRunning;
  if (Failed(entry.runner->get_Status(&status))) return PassOutcome::kWaitForItem;
  if (!attempt_.started) status = BatchQueueItemNotRunning;
  if (status == BatchQueueItemNotRunning) {
    if (!attempt_.started) StartAttempt(entry);
    return PassOutcome::kWaitForItem;
  }
  if (status == BatchQueueItemRunning) {
    if (!attempt_.started_fired) {
      attempt_.started_fired = true;
      std::uint32_t id = entry.id;
      events_->Fire([id](IBatchQueueEvents& sink) { sink.Started(id); });
    }
    if (pacing_.load() == QueuePacing::kPolling) exit_event_.Wait(kPollMs);
    return PassOutcome::kWaitForItem;
  }
  if (!IsFinished(status)) return PassOutcome::kWaitForItem;
  FinishAttempt(entry, status);
  return PassOutcome::kProgress;
}

void CBatchQueue::RemoveEntriesBeforeCurrent() {
  for (;;) {
    std::shared_ptr<BatchQueueRunner> released;
    std::uint32_t id = 0;
    {
      std::lock_guard lock(mutex_);
      if (current_index_ == 0 || entries_.empty()) return;
      --current_index_;
      released = std::move(entries_.front().runner);
      id = entries_.front().id;
      entries_.erase(entries_.begin());
    }
    released.reset();
    events_->Fire([id](IBatchQueueEvents& sink) { sink.Removed(id); });
    AutoSave();
  }
}

void CBatchQueue::StartAttempt(const QueueEntry& entry) {
  BatchQueueRunner& runner = *entry.runner;
  if (auto_reset_.load() && attempt_.count == 0) runner.Reset();
  attempt_.started = true;
  attempt_.started_fired = false;
  std::string results_directory, version;
  {
    std::lock_guard lock(mutex_);
    results_directory = ResultsDirectoryLocked();
    version = version_under_test_;
  }
  runner.put_PauseOnError(ToVariantBool(pause_on_error_.load()));
  runner.put_ResultsDirectory(results_directory);
  runner.put_VersionUnderTest(version);
  runner.Execute();
}

// Records the attempt, rewrites the results file, then retries the entry or moves on.
void CBatchQueue::FinishAttempt(const QueueEntry& entry, BatchQueueItemStatus status) {
  // Waking on every change, the queue would have seen the attempt running.
  if (pacing_.load() == QueuePacing::kWakeOnChange && !attempt_.started_fired && entry.runner->AttemptBegan()) {
    std::uint32_t id = entry.id;
    events_->Fire([id](IBatchQueueEvents& sink) { sink.Started(id); });
  }
  batch::BatchResultRecord record = RecordOf(entry, status);
  {
    std::lock_guard lock(mutex_);
    // An aborted attempt is no pass: the batch it belongs to did not run to its end.
    if (status != BatchQueueItemPassed) header_.all_passed = false;
    record.iteration = iteration_;
    results_.push_back(record);
    header_.last_update_time = Now();
  }
  WriteResults(batch::CompanionFiles::kIfMissing);
  std::uint32_t id = entry.id;
  events_->Fire([id](IBatchQueueEvents& sink) { sink.Finished(id); });
  std::uint32_t earlier = attempt_.count++;
  bool retry = earlier < retry_count_.load() && status != BatchQueueItemPassed && status != BatchQueueItemAborted;
  if (!retry) {
    attempt_.count = 0;
    MoveOn(entry);
  }
  attempt_.started = false;
  if (stop_after_current_.load()) {
    Pause();
    stop_after_current_.store(false);
  }
}

batch::BatchResultRecord CBatchQueue::RecordOf(const QueueEntry& entry, BatchQueueItemStatus status) const {
  std::string base = batch::AbsolutePath(ResultsDirectory()) + "/";
  std::string file_name, results_file;
  batch::BatchResultRecord record;
  record.error = entry.runner->NotRunReason();
  entry.runner->get_FileName(&file_name);
  // An attempt that never ran has no results file; whatever the item names is an older one's.
  if (record.error.empty()) {
    entry.runner->get_ResultsFile(&results_file);
  } else {
    record.comment = "Error: " + record.error;
  }
  record.name = batch::MakeRelativePath(base, batch::AbsolutePath(file_name));
  if (!results_file.empty()) record.results_file = batch::MakeRelativePath(base, batch::AbsolutePath(results_file));
  if (record.error.empty()) record.exit_status = entry.runner->ExitStatus();
  record.status = status;
  record.id = entry.id;
  record.retry = attempt_.count;
  record.maxretry = retry_count_.load();
  return record;
}

// The finished entry is done: it leaves the queue (AutoRemove) or the next one becomes current.
void CBatchQueue::MoveOn(const QueueEntry& entry) {
  if (auto_remove_.load()) {
    std::shared_ptr<BatchQueueRunner> released;
    {
      std::lock_guard lock(mutex_);
      auto it = std::find_if(entries_.begin(), entries_.end(), [&](const QueueEntry& e) { return e.id == entry.id; });
      if (it != entries_.end()) {
        released = std::move(it->runner);
        entries_.erase(it);
      }
      current_index_ = 0;
    }
    if (!released) return;
    released.reset();
    std::uint32_t id = entry.id;
    events_->Fire([id](IBatchQueueEvents& sink) { sink.Removed(id); });
    AutoSave();
    return;
  }
  bool stop = false;
  {
    std::lock_guard lock(mutex_);
    ++current_index_;
    if (current_index_ >= entries_.size()) {
      if (running_continuously_.load()) {
        ++iteration_;
        current_index_ = 0;
      } else {
        stop = stop_at_end_.load();
      }
    }
  }
  if (stop) Stop();
}

// The end of a pass. Polling, a second passes; waking on change, the thread goes on at once
// after progress and otherwise waits for the next change, looking every millisecond at an item
// that cannot tell of its changes.
void CBatchQueue::IdleWait(PassOutcome outcome, const QueueEntry* entry) {
  if (pacing_.load() == QueuePacing::kPolling) {
    exit_event_.Wait(kPollMs);
    return;
  }
  if (outcome == PassOutcome::kProgress) return;
  bool poll = outcome == PassOutcome::kWaitForItem && entry != nullptr && !entry->runner->NotifiesStatusChanges();
  wake_->Wait(poll ? kFastPollMs : kFastIdleMs);
}

// ---- queue files ---------------------------------------------------------------------------------

Status CBatchQueue::get_BatchFileName(std::string* file_name) {
  if (file_name == nullptr) return E_POINTER;
  std::lock_guard lock(mutex_);
  *file_name = location_.directory + "/" + location_.batch_name;
  return S_OK;
}

Status CBatchQueue::SaveAs(const std::string& file_name) {
  {
    std::lock_guard lock(mutex_);
    location_ = batch::SplitQueuePath(file_name);
  }
  return Save();
}

Status CBatchQueue::Save() {
  std::string path;
  std::vector<batch::QueueFileEntry> entries;
  {
    std::lock_guard lock(mutex_);
    path = location_.directory + "/" + location_.file_name;
    for (const QueueEntry& entry : entries_) {
      batch::QueueFileEntry saved;
      entry.runner->get_FileName(&saved.file_name);
      entry.runner->get_EmailAddresses(&saved.email_addresses);
      entries.push_back(std::move(saved));
    }
  }
  batch::QueueSettings settings{auto_remove_.load(), email_enabled_.load(), auto_reset_.load(),
                                retry_count_.load(),  auto_save_.load(),     stop_at_end_.load()};
  return batch::WriteFileAtomically(path, batch::QueueFileBytes(path, entries, settings)) ? S_OK : E_FAIL;
}

// A file that is no queue file (or ends early) is refused whole: a severe log line names it and
// the byte offset, and the queue keeps its entries, settings and location.
Status CBatchQueue::Load(const std::string& file_name) {
  Stop();
  // The loaded file takes the place of the batch in progress: the stop must not write into it.
  batch_open_.store(false);
  if (batch::HasExtension(file_name, ".xml")) {
    {
      std::lock_guard lock(mutex_);
      results_path_ = file_name;
    }
    return LoadResults(file_name);
  }
  batch::QueueFileContents contents;
  std::string problem;
  batch::QueueFileRead read = batch::ReadQueueFile(file_name, &contents, &problem);
  if (read == batch::QueueFileRead::kMalformed) {
    LogSevere(problem);
    return E_FAIL;
  }
  {
    std::lock_guard lock(mutex_);
    location_ = batch::SplitQueuePath(file_name);
    // The batch results writer must never write into a queue file.
    results_path_.clear();
  }
  if (read == batch::QueueFileRead::kCannotOpen) return S_OK;
  RemoveAllEntries();
  const batch::QueueSettings& s = contents.settings;
  auto_remove_.store(s.auto_remove);
  email_enabled_.store(s.email_enabled);
  auto_reset_.store(s.auto_reset);
  retry_count_.store(s.retry_count);
  auto_save_.store(s.auto_save);
  stop_at_end_.store(s.stop_at_end);
  if (!QueuePending(std::move(contents.entries), {batch::AbsolutePath(file_name)}, false)) {
    LogSevere("The entries of " + file_name + " are not added: the queue would hold more than " +
              std::to_string(batch::kMaxQueueEntries) + " entries");
  }
  run_event_.Set();
  Wake();
  return S_OK;
}

// ---- results -------------------------------------------------------------------------------------

void CBatchQueue::SetResultsDirectory(const std::string& directory) {
  std::lock_guard lock(mutex_);
  results_directory_override_ = directory;
}

std::string CBatchQueue::ResultsDirectory() const {
  std::lock_guard lock(mutex_);
  return ResultsDirectoryLocked();
}

std::string CBatchQueue::ResultsDirectoryLocked() const {
  if (!results_directory_override_.empty()) return results_directory_override_;
  return location_.directory + "/Results";
}

std::vector<batch::BatchResultRecord> CBatchQueue::Records() const {
  std::lock_guard lock(mutex_);
  return results_;
}

batch::BatchResultsHeader CBatchQueue::ResultsHeader() const {
  std::lock_guard lock(mutex_);
  batch::BatchResultsHeader header = header_;
  header.batch_name = location_.batch_name;
  header.version_under_test = version_under_test_;
  return header;
}

// A new batch results file, named after the batch and the local time; a name an earlier run took
// in the same second gets a "_2" (and so on) suffix rather than being overwritten.
void CBatchQueue::BeginResults() {
  std::string directory, stem;
  {
    std::lock_guard lock(mutex_);
    results_.clear();
    iteration_ = 1;
    header_.all_passed = true;
    header_.start_time = Now();
    batch_open_.store(true);
    header_.host_name = HostName();
    header_.version_text = kVersionText;
    directory = ResultsDirectoryLocked();
    stem = location_.batch_name + "_" + batch::TimeStamp(static_cast<std::time_t>(header_.start_time));
  }
  std::error_code ignored;
  fs::create_directories(directory, ignored);
  std::string path = batch::CreateUniqueFile(directory, stem, ".xml");
  {
    std::lock_guard lock(mutex_);
    results_path_ = path.empty() ? directory + "/" + stem + ".xml" : path;
    header_.last_update_time = Now();
  }
  WriteResults();
}

// The stylesheet and schema are written when a results file is begun or a client rewrites it;
// after an attempt only a missing one is written again.
void CBatchQueue::WriteResults(batch::CompanionFiles companions) {
  std::lock_guard writing(write_mutex_);
  std::string path;
  std::vector<batch::BatchResultRecord> records;
  {
    std::lock_guard lock(mutex_);
    path = results_path_;
    records = results_;
  }
  if (path.empty()) return;
  batch::WriteBatchResults(path, ResultsHeader(), records, companions);
}

Status CBatchQueue::LoadResults(const std::string& file_name) {
  batch::BatchResultsHeader header;
  std::vector<batch::BatchResultRecord> records;
  if (!batch::LoadBatchResults(file_name, &header, &records)) return S_OK;
  std::lock_guard lock(mutex_);
  location_.batch_name = header.batch_name;
  location_.file_name = header.batch_name + ".tbq";
  version_under_test_ = header.version_under_test;
  header_ = header;
  iteration_ = records.empty() ? 0 : records.back().iteration;
  results_ = std::move(records);
  return S_OK;
}

Status CBatchQueue::get_ResultsFileName(std::string* file_name) {
  if (file_name == nullptr) return E_POINTER;
  std::lock_guard lock(mutex_);
  *file_name = results_path_;
  return S_OK;
}

Status CBatchQueue::get_ResultCount(std::uint32_t* count) {
  if (count == nullptr) return E_POINTER;
  std::lock_guard lock(mutex_);
  *count = static_cast<std::uint32_t>(results_.size());
  return S_OK;
}

Status CBatchQueue::ResultDetails(std::uint32_t index, std::uint32_t* id, std::string* name,
                                  std::string* file_name, std::string* comment, VariantBool* passed) {
  if (!id || !name || !file_name || !comment || !passed) return E_POINTER;
  std::lock_guard lock(mutex_);
  if (index >= results_.size()) return E_INVALIDARG;
  const batch::BatchResultRecord& record = results_[index];
  *id = record.id;
  *name = record.name;
  *file_name = record.results_file;
  *comment = record.comment;
  *passed = ToVariantBool(record.status == BatchQueueItemPassed);
  return S_OK;
}

Status CBatchQueue::AddResultComment(std::uint32_t index, const std::string& comment) {
  {
    std::lock_guard lock(mutex_);
    if (index >= results_.size()) return E_INVALIDARG;
    results_[index].comment = PrintableOnly(comment);
  }
  WriteResults();
  return S_OK;
}

}  // namespace ordalis
