#include "batch/batch_queue_runner.h"

#include "batch/batch_paths.h"
#include "batch/batch_queue_item.h"
#include "engine/script.h"
#include "trace/logger.h"
#include "trace/script_log.h"

namespace ordalis {

// The runner's log destination: every line becomes an _ITraceEvents Log event carrying the
// runner's file name. Traces keep it alive by counted reference, so an item that outlives its
// runner still logs into something that exists.
class RunnerLog : public Logger {
 public:
  void SetFileName(std::string file_name) {
    std::lock_guard lock(mutex_);
    file_name_ = std::move(file_name);
  }
  ConnectionPoint<ITraceEvents>& sinks() { return sinks_; }

  void Log(LoggingLevel level, const std::string& variable_name, const std::string& message) override {
    LogTime now = ScriptLog::Now();
    std::string file_name;
    {
      std::lock_guard lock(mutex_);
      file_name = file_name_;
    }
    sinks_.Fire([&](ITraceEvents& sink) {
      sink.Log(file_name, 0, now.time, now.seconds, level, variable_name, message);
    });
  }
  bool IsLogging(LoggingLevel) const override { return !sinks_.empty(); }

 private:
  std::mutex mutex_;
  std::string file_name_;
  ConnectionPoint<ITraceEvents> sinks_;
};

namespace {

// The trace a runner hands to its item: every line goes to the runner's log under "Batch".
class RunnerTrace : public ITrace {
 public:
  explicit RunnerTrace(std::shared_ptr<RunnerLog> log) : log_(std::move(log)) {}
  Status Log(LoggingLevel level, const std::string& text) override {
    if (log_->IsLogging(level)) log_->Log(level, BatchQueueRunner::kTraceName, text);
    return S_OK;
  }

 private:
  std::shared_ptr<RunnerLog> log_;
};

// Why the loaded script [root] must not run: where its first syntax error is and what it says,
// and how many there are; empty when it has none.
std::string SyntaxErrors(const ScriptItem& root) {
  const ScriptItem* first = nullptr;
  std::size_t count = 0;
  std::vector<const ScriptItem*> pending = {&root};
  while (!pending.empty()) {
    const ScriptItem* item = pending.back();
    pending.pop_back();
    if (item->type() == errorItem) {
      if (first == nullptr || item->line() < first->line()) first = item;
      ++count;
    }
    for (auto child = item->children().rbegin(); child != item->children().rend(); ++child) {
      pending.push_back(child->get());
    }
  }
  if (first == nullptr) return std::string();
  std::string reason = first->file_name() + "(" + std::to_string(first->line()) + ") : Error: " + first->text();
  if (count > 1) reason += " (and " + std::to_string(count - 1) + " more)";
  return reason;
}

// Calls [call] on the item; an exception becomes E_FAIL.
template <typename Call>
Status Forward(const std::shared_ptr<IBatchQueueItem>& item, Call call) {
  if (!item) return E_FAIL;
  try {
    return call(*item);
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace

BatchQueueRunner::BatchQueueRunner(std::shared_ptr<IBatchQueueItem> item)
    : item_(std::move(item)),
      item_notifies_(std::dynamic_pointer_cast<IStatusNotifier>(item_) != nullptr),
      log_(std::make_shared<RunnerLog>()),
      trace_(std::make_shared<RunnerTrace>(log_)) {}

BatchQueueRunner::~BatchQueueRunner() {
  std::lock_guard lock(execute_mutex_);
  // An item that does its work inside Execute is asked to stop, so the worker can end.
  if (starting_.load()) Forward(item_, [](IBatchQueueItem& item) { return item.Abort(); });
  // Let go from the item's own trace, on the worker's thread, the worker ends by itself.
  worker_.Release();
  if (auto notifier = std::dynamic_pointer_cast<IStatusNotifier>(item_)) notifier->NotifyStatusChanges(nullptr);
}

IConnectionPoint<ITraceEvents>& BatchQueueRunner::TraceEvents() { return log_->sinks(); }

Status BatchQueueRunner::FindConnectionPoint(std::shared_ptr<IConnectionPoint<IScriptEvents>>* point) {
  if (point == nullptr) return E_POINTER;
  point->reset();
  return E_NOINTERFACE;
}

// The source lives in the runner's log, which the item's trace holds as well, so a client may
// keep it after the queue has let go of the runner.
Status BatchQueueRunner::FindConnectionPoint(std::shared_ptr<IConnectionPoint<ITraceEvents>>* point) {
  if (point == nullptr) return E_POINTER;
  *point = std::shared_ptr<IConnectionPoint<ITraceEvents>>(log_, &log_->sinks());
  return S_OK;
}

Status BatchQueueRunner::FindConnectionPoint(std::shared_ptr<IConnectionPoint<IBatchQueueEvents>>* point) {
  if (point == nullptr) return E_POINTER;
  point->reset();
  return E_NOINTERFACE;
}

void BatchQueueRunner::NotifyStatusChanges(std::shared_ptr<Event> wake) {
  {
    std::lock_guard lock(mutex_);
    wake_ = wake;
  }
  if (auto notifier = std::dynamic_pointer_cast<IStatusNotifier>(item_)) notifier->NotifyStatusChanges(wake);
}

void BatchQueueRunner::Wake() {
  std::shared_ptr<Event> wake;
  {
    std::lock_guard lock(mutex_);
    wake = wake_;
  }
  if (wake) wake->Set();
}

Status BatchQueueRunner::get_Version(std::string* version) {
  if (version == nullptr) return E_POINTER;
  Status status = Forward(item_, [&](IBatchQueueItem& item) { return item.get_Version(version); });
  if (Failed(status)) version->clear();
  return status;
}

Status BatchQueueRunner::get_Description(std::string* description) {
  if (description == nullptr) return E_POINTER;
  Status status = Forward(item_, [&](IBatchQueueItem& item) { return item.get_Description(description); });
  if (Failed(status)) description->clear();
  return status;
}

Status BatchQueueRunner::Execute() {
  std::lock_guard lock(execute_mutex_);
  worker_.Release();
  std::string file_name;
  std::shared_ptr<ITrace> trace;
  {
    std::lock_guard fields(mutex_);
    file_name = file_name_;
    trace = trace_;
  }
  start_failed_.store(false);
  began_.store(false);
  starting_.store(true);
  try {
    worker_ = OwnedWorker([this, file_name, trace] { StartItem(file_name, trace); });
  } catch (...) {
    own_status_.store(BatchQueueItemFailed);
    start_failed_.store(true);
    starting_.store(false);
    Wake();
  }
  return S_OK;
}

// The worker: hands the file to the item. A start the item refuses or throws on counts as a
// failed attempt, and so does a file that cannot run, which the item never sees.
void BatchQueueRunner::StartItem(const std::string& file_name, std::shared_ptr<ITrace> trace) {
  own_status_.store(BatchQueueItemRunning);
  std::string reason = WhyNotRunnable(file_name);
  {
    std::lock_guard lock(mutex_);
    not_run_reason_ = reason;
  }
  if (!reason.empty()) {
    try {
      if (trace) trace->Log(severe, "Error: " + file_name + " not run: " + reason);
    } catch (...) {
      // A trace that fails must not keep the attempt from ending.
    }
    // A client of the trace may have let go of the runner meanwhile, on this thread.
    if (OwnedWorker::LetGoOnThisThread()) return;
    own_status_.store(BatchQueueItemFailed);
    start_failed_.store(true);
    starting_.store(false);
    Wake();
    return;
  }
  // The item outlives the runner for as long as it is starting: the item's trace lines reach
  // clients, and one may let go of the runner from them.
  std::shared_ptr<IBatchQueueItem> item = item_;
  Status status = Forward(item, [&](IBatchQueueItem& started) { return started.Execute(file_name, trace); });
  if (OwnedWorker::LetGoOnThisThread()) return;
  if (Failed(status)) {
    own_status_.store(BatchQueueItemFailed);
    start_failed_.store(true);
  } else {
    began_.store(true);
  }
  starting_.store(false);
  Wake();
}

// Plug-in items judge their own files; a built-in kind is refused here whatever `ordalis run`
// would refuse. A script runs the tree it loaded when it was queued, so what counts is how that load
// went; a command file is read by its interpreter when it runs, so it is looked at now.
std::string BatchQueueRunner::WhyNotRunnable(const std::string& file_name) const {
  std::string problem;
  if (auto script = std::dynamic_pointer_cast<CScript>(item_)) {
    {
      std::lock_guard lock(mutex_);
      problem = load_problem_;
    }
    if (!problem.empty()) return "the file could not be read: " + problem;
    return SyntaxErrors(*script->root());
  }
  if (std::dynamic_pointer_cast<BatchQueueItem>(item_) == nullptr) return std::string();
  problem = batch::UnreadableFile(file_name);
  return problem.empty() ? problem : "the file cannot be read: " + problem;
}

int BatchQueueRunner::ExitStatus() const {
  auto command = std::dynamic_pointer_cast<BatchQueueItem>(item_);
  return command ? command->exit_status() : BatchQueueItem::kNoExitStatus;
}

std::string BatchQueueRunner::NotRunReason() const {
  std::lock_guard lock(mutex_);
  return not_run_reason_;
}

Status BatchQueueRunner::get_Status(BatchQueueItemStatus* status) {
  if (status == nullptr) return E_POINTER;
  if (start_failed_.load()) {
    *status = BatchQueueItemFailed;
    return S_OK;
  }
  bool starting = starting_.load();
  BatchQueueItemStatus item_status = own_status_.load();
  if (item_) {
    try {
      Status result = item_->get_Status(&item_status);
      if (Failed(result)) return result;
    } catch (...) {
      *status = BatchQueueItemFailed;
      return S_OK;
    }
  }
  // While the attempt is being handed over, what the item says is the end of the previous one.
  if (starting && item_status != BatchQueueItemRunning) item_status = BatchQueueItemNotRunning;
  *status = item_status;
  return S_OK;
}

Status BatchQueueRunner::Abort() {
  return Forward(item_, [](IBatchQueueItem& item) { return item.Abort(); });
}

Status BatchQueueRunner::put_EmailAddresses(const std::string& addresses) {
  {
    std::lock_guard lock(mutex_);
    email_addresses_ = addresses;
  }
  if (auto script = std::dynamic_pointer_cast<IScript>(item_)) {
    try {
      script->put_EmailAddress(addresses);
    } catch (...) {
      return E_FAIL;
    }
  }
  return S_OK;
}

Status BatchQueueRunner::get_EmailAddresses(std::string* addresses) {
  if (addresses == nullptr) return E_POINTER;
  std::lock_guard lock(mutex_);
  *addresses = email_addresses_;
  return S_OK;
}

Status BatchQueueRunner::SetTrace(std::shared_ptr<ITrace> trace) {
  std::lock_guard lock(mutex_);
  trace_ = std::move(trace);
  return S_OK;
}

Status BatchQueueRunner::get_FileName(std::string* file_name) {
  if (file_name == nullptr) return E_POINTER;
  std::lock_guard lock(mutex_);
  *file_name = file_name_;
  return S_OK;
}

// A script item loads its file here, so an entry is parsed when it is added.
Status BatchQueueRunner::put_FileName(const std::string& file_name) {
  {
    std::lock_guard lock(mutex_);
    file_name_ = file_name;
  }
  log_->SetFileName(file_name);
  if (auto script = std::dynamic_pointer_cast<IScript>(item_)) {
    std::string problem = batch::UnreadableFile(file_name);
    {
      std::lock_guard lock(mutex_);
      load_problem_ = std::move(problem);
    }
    try {
      VariantBool loaded = kVariantFalse;
      script->Load(file_name, &loaded);
    } catch (...) {
      return E_FAIL;
    }
  }
  return S_OK;
}

Status BatchQueueRunner::Reset() {
  return Forward(item_, [](IBatchQueueItem& item) { return item.Reset(); });
}

Status BatchQueueRunner::get_Item(std::shared_ptr<IBatchQueueItem>* item) {
  if (item == nullptr) return E_POINTER;
  *item = item_;
  return S_OK;
}

Status BatchQueueRunner::get_PauseOnError(VariantBool* value) {
  if (value == nullptr) return E_POINTER;
  Status status = Forward(item_, [&](IBatchQueueItem& item) { return item.get_PauseOnError(value); });
  if (Failed(status)) *value = kVariantFalse;
  return status;
}

Status BatchQueueRunner::put_PauseOnError(VariantBool value) {
  return Forward(item_, [&](IBatchQueueItem& item) { return item.put_PauseOnError(value); });
}

Status BatchQueueRunner::get_ResultsFile(std::string* file) {
  if (file == nullptr) return E_POINTER;
  file->clear();
  if (!item_) return E_FAIL;
  auto item1 = std::dynamic_pointer_cast<IBatchQueueItem1>(item_);
  if (!item1) return S_OK;
  Status status = Forward(item_, [&](IBatchQueueItem&) { return item1->get_ResultsFile(file); });
  if (Failed(status)) file->clear();
  return status;
}

Status BatchQueueRunner::get_ResultsDirectory(std::string* directory) {
  if (directory == nullptr) return E_POINTER;
  directory->clear();
  if (!item_) return E_FAIL;
  auto item1 = std::dynamic_pointer_cast<IBatchQueueItem1>(item_);
  if (!item1) return S_OK;
  Status status = Forward(item_, [&](IBatchQueueItem&) { return item1->get_ResultsDirectory(directory); });
  if (Failed(status)) directory->clear();
  return status;
}

Status BatchQueueRunner::put_ResultsDirectory(const std::string& directory) {
  if (!item_) return E_FAIL;
  auto item1 = std::dynamic_pointer_cast<IBatchQueueItem1>(item_);
  if (!item1) return S_OK;
  return Forward(item_, [&](IBatchQueueItem&) { return item1->put_ResultsDirectory(directory); });
}

Status BatchQueueRunner::get_VersionUnderTest(std::string* version) {
  if (version == nullptr) return E_POINTER;
  version->clear();
  if (!item_) return E_FAIL;
  auto item2 = std::dynamic_pointer_cast<IBatchQueueItem2>(item_);
  if (!item2) return S_OK;
  Status status = Forward(item_, [&](IBatchQueueItem&) { return item2->get_VersionUnderTest(version); });
  if (Failed(status)) version->clear();
  return status;
}

Status BatchQueueRunner::put_VersionUnderTest(const std::string& version) {
  if (!item_) return E_FAIL;
  auto item2 = std::dynamic_pointer_cast<IBatchQueueItem2>(item_);
  if (!item2) return S_OK;
  return Forward(item_, [&](IBatchQueueItem&) { return item2->put_VersionUnderTest(version); });
}

}  // namespace ordalis
