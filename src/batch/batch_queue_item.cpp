#include "batch/batch_queue_item.h"

#include <signal.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "batch/batch_paths.h"
#include "batch/item_results.h"
#include "trace/logger.h"
#include "trace/script_log.h"

namespace ordalis {

namespace {

// How long an aborted command has to end after it was asked to terminate, before it is killed.
constexpr std::uint32_t kTerminateGraceMs = 2000;

// "YYYY/MM/DD hh:mm:ss.mmm Level :message", the line of an item's own log file.
std::string ItemLogLine(LoggingLevel level, const std::string& message) {
  LogTime now = ScriptLog::Now();
  std::time_t whole = static_cast<std::time_t>(now.time);
  std::tm parts{};
  localtime_r(&whole, &parts);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d/%02d/%02d %02d:%02d:%02d.%03d ", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                static_cast<int>(now.seconds * 1000));
  return stamp + LevelName(level) + ":" + message;
}

}  // namespace

BatchQueueItem::BatchQueueItem(std::string description, std::string version)
    : description_(std::move(description)), version_(std::move(version)) {}

BatchQueueItem::~BatchQueueItem() {
  std::lock_guard lock(execute_mutex_);
  if (status_.load() == BatchQueueItemRunning) {
    abort_requested_.store(true);
    child_.Signal(SIGTERM);
  }
  StopWorker();
}

Status BatchQueueItem::get_Version(std::string* version) {
  if (version == nullptr) return E_POINTER;
  *version = version_;
  return S_OK;
}

Status BatchQueueItem::get_Description(std::string* description) {
  if (description == nullptr) return E_POINTER;
  *description = description_;
  return S_OK;
}

Status BatchQueueItem::Execute(const std::string& file_name, std::shared_ptr<ITrace> trace) {
  std::lock_guard lock(execute_mutex_);
  if (status_.load() == BatchQueueItemRunning) return S_OK;
  // An aborted run may still be ending; the new one starts only when it has.
  StopWorker();
  Run run;
  run.full_file_name = file_name;
  std::size_t separator = file_name.find_last_of("/\\");
  run.file_name = separator == std::string::npos ? file_name : file_name.substr(separator + 1);
  std::string absolute = batch::AbsolutePath(file_name);
  run.directory = batch::SplitQueuePath(absolute).directory;
  if (run.directory.empty()) run.directory = "/";
  run.command = CommandLine(absolute);
  run.trace = std::move(trace);
  run.background = background_.load();
  {
    std::lock_guard fields(mutex_);
    run.results_directory = results_directory_;
    results_file_.clear();
  }
  abort_requested_.store(false);
  exit_status_.store(kNoExitStatus);
  SetStatus(BatchQueueItemRunning);
  Log(run, configuration, "Item: '%s' Version '%s'", description_.c_str(), version_.c_str());
  Log(run, information, "BatchQueueItem::Execute %s start", run.full_file_name.c_str());
  worker_done_.Reset();
  try {
    worker_ = std::jthread([this, run] { Work(run); });
  } catch (...) {
    worker_done_.Set();
    SetStatus(BatchQueueItemFailed);
  }
  return S_OK;
}

void BatchQueueItem::Work(const Run& run) {
  bool passed = false;
  std::string error;
  if (abort_requested_.load()) {
    // Aborted before the command could start.
  } else if (child_.Start(run.command, run.directory, &error)) {
    // An abort that came while the command was being started found nothing to signal.
    if (abort_requested_.load()) child_.Signal(SIGTERM);
    int exit_status =
        child_.Wait([&](const std::string& line) { Log(run, information, "%s", line.c_str()); }, run.background);
    passed = exit_status == 0;
    exit_status_.store(exit_status);
    // Said in the entry's log, so whoever reads why it failed sees how its command ended.
    if (!passed && exit_status >= 0) Log(run, information, "exit status %d", exit_status);
    if (exit_status < 0) Log(run, information, "ended by a signal");
  } else {
    Log(run, severe, "BatchQueueItem::Execute %s cannot start %s: %s", run.full_file_name.c_str(),
        run.command[0].c_str(), error.c_str());
  }
  Finish(run, passed);
  worker_done_.Set();
}

// The results are written before the final status is published, so whoever sees the item
// finished also finds its results file.
void BatchQueueItem::Finish(const Run& run, bool passed) {
  bool aborted = abort_requested_.load();
  const char* name = run.full_file_name.c_str();
  if (aborted) {
    Log(run, warning, "BatchQueueItem::Execute %s aborted", name);
  } else if (passed) {
    Log(run, information, "BatchQueueItem::Execute %s passed", name);
  } else {
    Log(run, severe, "BatchQueueItem::Execute %s failed", name);
  }
  if (!run.results_directory.empty()) {
    batch::ItemOutcome outcome{run.results_directory, run.file_name, run.full_file_name,
                               aborted ? "Aborted" : passed ? "Passed" : "Failed", std::time(nullptr)};
    batch::ItemResultsFiles files = batch::WriteItemResults(outcome);
    if (!files.log_moved) Log(run, warning, "Failed to move log file to results directory");
    std::lock_guard lock(mutex_);
    results_file_ = files.results_file;
  }
  SetStatus(aborted ? BatchQueueItemAborted : passed ? BatchQueueItemPassed : BatchQueueItemFailed);
}

void BatchQueueItem::StopWorker() {
  if (!worker_.joinable()) return;
  if (!worker_done_.Wait(kTerminateGraceMs)) child_.Signal(SIGKILL);
  worker_.join();
}

void BatchQueueItem::SetStatus(BatchQueueItemStatus status) {
  status_.store(status);
  std::shared_ptr<Event> wake;
  {
    std::lock_guard lock(mutex_);
    wake = wake_;
  }
  if (wake) wake->Set();
}

void BatchQueueItem::NotifyStatusChanges(std::shared_ptr<Event> wake) {
  std::lock_guard lock(mutex_);
  wake_ = std::move(wake);
}

Status BatchQueueItem::get_Status(BatchQueueItemStatus* status) {
  if (status == nullptr) return E_POINTER;
  *status = status_.load();
  return S_OK;
}

Status BatchQueueItem::Abort() {
  abort_requested_.store(true);
  SetStatus(BatchQueueItemNotRunning);
  child_.Signal(SIGTERM);
  return S_OK;
}

Status BatchQueueItem::Reset() { return S_OK; }

Status BatchQueueItem::get_PauseOnError(VariantBool* value) {
  if (value == nullptr) return E_POINTER;
  *value = ToVariantBool(pause_on_error_.load());
  return S_OK;
}

Status BatchQueueItem::put_PauseOnError(VariantBool value) {
  pause_on_error_.store(value == kVariantTrue);
  return S_OK;
}

Status BatchQueueItem::get_ResultsFile(std::string* file) {
  if (file == nullptr) return E_POINTER;
  std::lock_guard lock(mutex_);
  *file = results_file_;
  return S_OK;
}

Status BatchQueueItem::get_ResultsDirectory(std::string* directory) {
  if (directory == nullptr) return E_POINTER;
  std::lock_guard lock(mutex_);
  *directory = results_directory_;
  return S_OK;
}

Status BatchQueueItem::put_ResultsDirectory(const std::string& directory) {
  std::lock_guard lock(mutex_);
  results_directory_ = directory;
  return S_OK;
}

// Messages go to the trace; from level configuration up they are also appended to the item's
// log in the results directory. Without a trace nothing is logged.
void BatchQueueItem::Log(const Run& run, LoggingLevel level, const char* format, ...) {
  if (!run.trace) return;
  char buffer[1024];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(buffer, sizeof buffer, format, arguments);
  va_end(arguments);
  std::string message(buffer);
  try {
    run.trace->Log(level, message);
  } catch (...) {
    // A trace that fails must not stop the item.
  }
  if (level >= configuration && !run.results_directory.empty()) {
    ScriptLog::AppendLine(batch::ItemLogPath(run.results_directory, run.file_name), ItemLogLine(level, message));
  }
}

}  // namespace ordalis
