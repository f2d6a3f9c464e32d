// ordalis batch run: runs a queue file, or a list of files, unattended, printing one line as
// each attempt starts and one as it finishes, and a summary at the end.

#include <pthread.h>
#include <signal.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <unordered_map>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "batch/batch_paths.h"
#include "batch/batch_queue.h"
#include "batch/item_creation.h"
#include "batch/junit_writer.h"
#include "batch/queue_file.h"
#include "batch_cli.h"
#include "history_options.h"
#include "option_table.h"
#include "report/run_history.h"
#include "batch_report.h"
#include "interrupts.h"
#include "language/script_item.h"
#include "language/script_loader.h"
#include "report/run_annotations.h"
#include "report/run_digest.h"
#include "report/report_text.h"
#include "platform/output_file.h"
#include "command.h"
#include "settings_warnings.h"
#include "settings/application_manager.h"
#include "trace/logger.h"
#include "trace/script_log.h"

namespace ordalis::cli {
namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// Lines of a failed attempt's failing statements printed and put in JUnit, and lines of a
// command entry's output.
constexpr std::size_t kWhyLines = 10;
constexpr std::size_t kOutputTail = 50;

const char kDescription[] =
    "Runs the entries of a queue file, or the files given (a folder gives every file in it that\n"
    "a batch item creator accepts, in name order), one after another: scripts (.odl), command\n"
    "files (.bat, run by /bin/sh), perl (.pl), shell (.sh) and python (.py) files, and the file\n"
    "types of plug-in batch item creators. A line is printed as each attempt starts and as it\n"
    "finishes (entry, attempt, result, time taken, and the page a person reads: a script's\n"
    "HTML report or a command's log), and under a failed attempt why: the script's failing\n"
    "statements, or the command's exit status and last output lines; at the end the batch\n"
    "results file's path, the batch report beside it (<stamp>.html: each entry with its\n"
    "attempts, why they failed and links to their own reports) and a summary that lists every\n"
    "entry that did not pass. The results folder's index lists the batch and its attempts of\n"
    "every kind. The queue stops after its last entry.\n";

const char kDetails[] =
    "An entry whose file cannot run (a script with syntax errors, a missing file, a folder, a\n"
    "FIFO or a device) is an Error attempt that never starts, and the batch fails.\n"
    "\n"
    "Ctrl-C stops the queue cleanly: the running entry is aborted and recorded as Aborted, the\n"
    "batch results file is complete and says Failed, and the exit status is 1. A second Ctrl-C\n"
    "ends the process at once.\n"
    "\n"
    "Exit status: 0 when every entry passed, 1 otherwise, 2 for a usage error, a file that\n"
    "cannot be read or a JUnit file that cannot be written.\n";

const CommandSyntax kSyntax{
    "batch run",
    "QUEUE.tbq | FILE|FOLDER... [OPTIONS]",
    kDescription,
    {
        {"--retry", 0, "N",
         "extra attempts for an entry that fails (default: the queue file's setting, else 0)"},
        {"--continuous", 0, nullptr, "start again at the first entry after the last, until Ctrl-C"},
        {"--auto-remove", 0, nullptr, "drop each entry from the queue once it is finished"},
        {"--results-dir", 0, "DIR",
         "write the results into DIR instead of <queue folder>/Results (for files given on the command "
         "line: ./Results)"},
        {"--version-under-test", 0, "TEXT", "the version label written into the results"},
        {"--junit", 0, "FILE",
         "also write JUnit XML: one test case per entry, decided by its last attempt, earlier failed "
         "attempts as flakyFailure or rerunFailure elements"},
        {"--keep-background", 0, nullptr,
         "leave running what a command entry started in the background (by default the entry's process "
         "group is ended with it)"},
        LabelOption("a label kept with every script run of the batch in the results store"),
        ResultsDbOption("the results store the runs go to (as for 'ordalis run'); each run is marked with "
                        "the batch's name and its attempt"),
        {"--follow", 0, nullptr,
         "print each entry's log lines as it runs (information and above, in the log-file line format, "
         "indented): what a command entry prints, a script entry's log"},
        {"--pace", 0, nullptr,
         "poll the entries as a graphical front end does (a second or two per entry) and keep the "
         "scripts' client pauses, instead of moving on as soon as an entry ends"},
    },
    kDetails};

struct Options {
  std::vector<std::string> paths;
  bool retry_given = false;
  std::uint32_t retry = 0;
  bool continuous = false;
  bool auto_remove = false;
  bool pace = false;
  bool keep_background = false;
  bool follow = false;
  std::string results_dir;
  std::string version_under_test;
  std::string junit;
  report::HistoryContext history;
};

// Reads the command line into [options]: the exit status to end with after help or a usage
// error, else -1.
int ParseOptions(const std::vector<std::string>& args, Options* options) {
  ParsedArguments arguments;
  if (int status = ParseOrExit(kSyntax, args, &arguments); status >= 0) return status;
  options->continuous = arguments.Has("--continuous");
  options->auto_remove = arguments.Has("--auto-remove");
  options->pace = arguments.Has("--pace");
  options->keep_background = arguments.Has("--keep-background");
  options->follow = arguments.Has("--follow");
  options->retry_given = arguments.Has("--retry");
  if (std::string text = arguments.Value("--retry"); options->retry_given && !ParseCount(text, &options->retry)) {
    return UsageError(kSyntax, "--retry takes a count, not '" + text + "'");
  }
  options->results_dir = arguments.Value("--results-dir");
  options->version_under_test = arguments.Value("--version-under-test");
  options->junit = arguments.Value("--junit");
  if (std::string problem = ReadHistoryOptions(arguments, &options->history); !problem.empty()) {
    return UsageError(kSyntax, problem);
  }
  options->paths = arguments.operands();
  if (options->paths.empty()) return UsageError(kSyntax, "no queue file or files given");
  return -1;
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Prints the log lines of the entries as they run (--follow): subscribed to each entry's runner,
// which tells what a command entry prints, and to a script entry's own log.
class EntryLog : public ITraceEvents, public std::enable_shared_from_this<EntryLog> {
 public:
  // The lines of the entry that [runner] runs, from now on.
  void Follow(const std::shared_ptr<IBatchQueueRunner>& runner) {
    std::uint32_t cookie = 0;
    Advise<ITraceEvents>(runner, shared_from_this(), &cookie);
    std::shared_ptr<IBatchQueueItem> item;
    if (Succeeded(runner->get_Item(&item)) && item) Advise<ITraceEvents>(item, shared_from_this(), &cookie);
  }

  // On the entry's threads.
  Status Log(const std::string&, std::uint32_t, std::int64_t time, double seconds, LoggingLevel level,
             const std::string& variable_name, const std::string& message) override {
    if (level < information) return S_OK;
    std::string line = ScriptLog::FileLine(LogTime{time, seconds}, level, variable_name, message);
    std::printf("        %s\n", line.c_str());
    std::fflush(stdout);
    return S_OK;
  }
  Status LogClear() override { return S_OK; }
};

// Watches the queue: prints the attempts as they start and finish, keeps their times for the
// JUnit file, and signals the end of the run.
class RunObserver : public IBatchQueueEvents, public IBatchQueueClient, public ITraceEvents {
 public:
  void Attach(std::shared_ptr<CBatchQueue> queue) { queue_ = queue; }
  // Follows the log lines of every entry added from now on.
  void FollowEntries(std::shared_ptr<EntryLog> log) { entry_log_ = std::move(log); }
  // Under AutoRemove a queue idles once it is empty: the run ends there.
  void StopWhenEmpty(bool stop) { stop_when_empty_.store(stop); }

  // IBatchQueueEvents (the queue thread; Added also the caller's)
  Status Started(std::uint32_t id) override {
    std::lock_guard lock(mutex_);
    starts_[id] = Clock::now();
    std::printf("start   %s (attempt %u)\n", FileName(id).c_str(), NextAttempt(id));
    std::fflush(stdout);
    return S_OK;
  }
  Status Finished(std::uint32_t id) override;
  Status Added(std::uint32_t id) override {
    {
      std::lock_guard lock(mutex_);
      entries_.insert(id);
    }
    // Before the entry can run: it is added on the thread that runs the queue, or before Run.
    std::shared_ptr<IBatchQueueRunner> runner;
    auto queue = queue_.lock();
    if (entry_log_ && queue && Succeeded(queue->get_Item(id, &runner)) && runner) entry_log_->Follow(runner);
    return S_OK;
  }
  Status Removed(std::uint32_t) override {
    std::uint32_t count = 1;
    auto queue = queue_.lock();
    if (stop_when_empty_.load() && queue && Succeeded(queue->get_ItemCount(&count)) && count == 0) queue->Stop();
    return S_OK;
  }
  Status Moved(std::uint32_t) override { return S_OK; }

  // IBatchQueueClient (under the queue's state lock)
  void StateChanged(BatchQueueState state) override {
    if (state == BatchQueueRunning) running_.store(true);
    if (state == BatchQueueNotRunning && running_.load()) ended_.Set();
  }

  // ITraceEvents: the queue's own lines (a refused queue file, a dropped entry).
  Status Log(const std::string&, std::uint32_t, std::int64_t time, double seconds, LoggingLevel level,
             const std::string& variable_name, const std::string& message) override {
    std::string line = ScriptLog::FileLine(LogTime{time, seconds}, level, variable_name, message);
    std::fprintf(stderr, "%s\n", line.c_str());
    return S_OK;
  }
  Status LogClear() override { return S_OK; }

  Event& ended() { return ended_; }
  // Seconds the attempt of [id] in [iteration] with [retry] earlier attempts took, or 0.
  double AttemptTime(std::uint32_t id, std::uint32_t iteration, std::uint32_t retry) const {
    std::lock_guard lock(mutex_);
    auto it = times_.find({id, iteration, retry});
    return it == times_.end() ? 0.0 : it->second;
  }
  std::set<std::uint32_t> entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
  }
  std::map<std::uint32_t, std::string> names() const {
    std::lock_guard lock(mutex_);
    return names_;
  }

 private:
  std::string FileName(std::uint32_t id) {
    auto queue = queue_.lock();
    std::string name;
    if (queue && Succeeded(queue->get_FileName(id, &name))) names_[id] = name;
    return names_[id];
  }
  std::uint32_t NextAttempt(std::uint32_t id) {
    auto it = next_attempt_.find(id);
    return it == next_attempt_.end() ? 1 : it->second;
  }

  std::atomic<bool> stop_when_empty_{false};
  std::weak_ptr<CBatchQueue> queue_;
  std::shared_ptr<EntryLog> entry_log_;  // set before the first entry is added
  mutable std::mutex mutex_;
  std::map<std::uint32_t, Clock::time_point> starts_;
  std::map<std::uint32_t, std::uint32_t> next_attempt_;
  std::map<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>, double> times_;
  std::map<std::uint32_t, std::string> names_;
  std::set<std::uint32_t> entries_;
  std::size_t records_seen_ = 0;
  std::atomic<bool> running_{false};
  Event ended_;
};

const char* ResultWord(BatchQueueItemStatus status) {
  return status == BatchQueueItemPassed ? "Passed" : status == BatchQueueItemAborted ? "Aborted" : "Failed";
}

// An attempt whose file could not run is an Error, whatever status the queue gave it.
const char* ResultWord(const batch::BatchResultRecord& record) {
  return record.error.empty() ? ResultWord(record.status) : "Error";
}

std::vector<std::string> WhyNotPassed(const std::string& results_directory, const std::string& entry,
                                      const batch::BatchResultRecord& record);
std::string AttemptLink(const std::string& results_directory, const std::string& results_file);

// Where a person reads the attempt, for its console line: "  report: PATH" for a script's
// HTML report, "  log: PATH" for a command's log, "  results: PATH" when neither is there.
std::string AttemptPage(const std::string& results_directory, const std::string& results_file) {
  std::string page = AttemptLink(results_directory, results_file);
  if (page.empty()) return page;
  const char* label = batch::HasExtension(page, ".html") ? "report" : batch::HasExtension(page, ".log") ? "log" : "results";
  return std::string("  ") + label + ": " + results_directory + "/" + page;
}

// A Finished that follows a recorded attempt prints it (an attempt a stop cut short is recorded
// too); the Finished of a reset, or of a stop between attempts, records nothing and prints
// nothing.
Status RunObserver::Finished(std::uint32_t id) {
  auto queue = queue_.lock();
  if (!queue) return S_OK;
  std::vector<batch::BatchResultRecord> records = queue->Records();
  std::string results_directory = queue->ResultsDirectory();
  std::lock_guard lock(mutex_);
  if (records.size() <= records_seen_) return S_OK;
  const batch::BatchResultRecord& record = records.back();
  records_seen_ = records.size();
  // Polling, an attempt that ends between two looks is never seen running; its time is unknown.
  auto start = starts_.find(id);
  std::string time = "time unknown";
  if (start != starts_.end()) {
    double seconds = SecondsSince(start->second);
    times_[{record.id, record.iteration, record.retry}] = seconds;
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s", seconds);
    time = text;
    starts_.erase(start);
  }
  bool retried = record.status == BatchQueueItemFailed && record.retry < record.maxretry;
  next_attempt_[id] = retried ? record.retry + 2 : 1;
  std::printf("%-7s %s (attempt %u of %u) %s%s\n", ResultWord(record), FileName(id).c_str(), record.retry + 1,
              record.maxretry + 1, time.c_str(), AttemptPage(results_directory, record.results_file).c_str());
  if (!record.error.empty()) {
    std::printf("        not run: %s\n", record.error.c_str());
  } else if (record.status == BatchQueueItemFailed) {
    // Why it failed, under its line: the failing statements, or how the command ended and
    // the end of its output.
    std::vector<std::string> why = WhyNotPassed(results_directory, names_[id], record);
    std::size_t first = why.size() > kWhyLines ? why.size() - kWhyLines : 0;
    for (std::size_t i = first; i < why.size(); ++i) std::printf("        %s\n", why[i].c_str());
  }
  std::fflush(stdout);
  return S_OK;
}

// Checks a queue file before it is loaded: it must read as a queue file and list something that
// can run. 0, or 2 after saying what is wrong.
int CheckQueueFile(const std::string& path) {
  batch::QueueFileContents contents;
  std::string problem;
  if (batch::ReadQueueFile(path, &contents, &problem) != batch::QueueFileRead::kRead) {
    std::fprintf(stderr, "ordalis batch run: %s\n", problem.c_str());
    return 2;
  }
  std::size_t runnable = 0;
  for (const batch::QueueFileEntry& entry : contents.entries) {
    if (batch::HasExtension(entry.file_name, ".tbq") || Accepts(BatchQueueCreators::Instance(), entry.file_name)) {
      ++runnable;
    } else {
      std::fprintf(stderr, "ordalis batch run: no batch item creator accepts '%s'; it is left out\n",
                   entry.file_name.c_str());
    }
  }
  if (runnable == 0) {
    std::fprintf(stderr, "ordalis batch run: '%s' lists nothing that can run\n", path.c_str());
    return 2;
  }
  return 0;
}

// How the batch's test cases are named for CI: the suite and class after the queue file or the
// folder given (so two batches stay two suites), each entry by its path relative to it.
struct CaseNaming {
  std::string suite;
  std::string base;  // an absolute directory ending in "/"
};

CaseNaming NamingOf(const Options& options, const std::string& batch_name) {
  CaseNaming naming{batch_name, batch::AbsolutePath(".") + "/"};
  if (options.paths.size() != 1) return naming;
  const std::string& path = options.paths[0];
  std::error_code error;
  if (batch::HasExtension(path, ".tbq")) {
    batch::QueueLocation location = batch::SplitQueuePath(path);
    naming.base = batch::AbsolutePath(location.directory) + "/";
  } else if (fs::is_directory(path, error)) {
    std::string folder = batch::AbsolutePath(path);
    naming.suite = fs::path(folder).filename().string();
    naming.base = folder + "/";
  }
  return naming;
}

// Up to kWhyLines lines saying why a script's attempt did not pass: its failing statements as
// file(line): Result: text — values. The script is read again for the places of its statements.
std::vector<std::string> ScriptFailures(const std::string& script, const std::string& results_xml) {
  ScriptItemPtr root = ScriptItem::Make(rootItem, script, script, 0);
  ScriptLoader loader;
  report::RunAnnotations notes;
  const report::RunAnnotations* places = nullptr;
  if (loader.Load(script, root)) {
    std::unordered_map<const ScriptItem*, std::size_t> index_of;
    report::NoteTree(*root, &notes, &index_of);
    places = &notes;
  }
  report::RunDigest digest;
  std::string error;
  if (!report::DigestResults(results_xml, places, &digest, &error)) return {"cannot read " + results_xml + ": " + error};
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < digest.failures.size() && i < kWhyLines; ++i) {
    lines.push_back(digest.failures[i].ConsoleLine());
  }
  for (std::size_t i = 0; i < digest.warnings.size() && lines.size() < kWhyLines; ++i) {
    lines.push_back(digest.warnings[i].ConsoleLine());
  }
  std::size_t listed = lines.size();
  std::size_t all = digest.failures_total + digest.warnings_total;
  if (all > listed) lines.push_back("... and " + std::to_string(all - listed) + " more in " + results_xml);
  if (lines.empty()) lines.push_back(std::string("verdict ") + report::ResultWordOf(digest.verdict));
  return lines;
}

// The last kOutputTail lines of a command entry's log (its output, then its exit status).
std::vector<std::string> CommandOutputTail(const std::string& log_path) {
  std::ifstream file(log_path, std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    if (lines.size() > kOutputTail) lines.erase(lines.begin());
  }
  return lines;
}

// Why [record]'s attempt did not pass, one line each; empty when nothing more is known.
std::vector<std::string> WhyNotPassed(const std::string& results_directory, const std::string& entry,
                                      const batch::BatchResultRecord& record) {
  if (!record.error.empty()) return {"not run: " + record.error};
  if (record.results_file.empty()) return {};
  std::string results = results_directory + "/" + record.results_file;
  if (batch::HasExtension(entry, ".odl")) return ScriptFailures(entry, results);
  std::string log = results.substr(0, results.rfind('.')) + ".log";
  return CommandOutputTail(log);
}

// The line of [why] that says most in one: how a command ended, else the first line; with ": ".
std::string Headline(const std::vector<std::string>& why) {
  for (auto line = why.rbegin(); line != why.rend(); ++line) {
    for (const char* ending : {":exit status ", ":ended by a signal"}) {
      std::size_t at = line->find(ending);
      if (at != std::string::npos) return ": " + line->substr(at + 1);
    }
  }
  return why.empty() ? std::string() : ": " + why.front();
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// One test case per entry (and iteration, running continuously): its last attempt decides it,
// and the attempts before it are kept as reruns, so a flaky pass is a pass that shows it.
std::vector<batch::JUnitSuite> JUnitOf(CBatchQueue& queue, const RunObserver& observer, const CaseNaming& naming,
                                       double total_time) {
  batch::BatchResultsHeader header = queue.ResultsHeader();
  batch::JUnitSuite suite{naming.suite, batch::IsoTimestamp(header.start_time), header.host_name, total_time, {}};
  std::map<std::uint32_t, std::string> names = observer.names();
  std::string results_directory = queue.ResultsDirectory();
  std::map<std::pair<std::uint32_t, std::uint32_t>, std::size_t> case_of;
  for (const batch::BatchResultRecord& record : queue.Records()) {
    std::string entry = names[record.id];
    auto [at, added] = case_of.try_emplace({record.id, record.iteration}, suite.cases.size());
    if (added) suite.cases.emplace_back();
    batch::JUnitCase& c = suite.cases[at->second];
    if (!added && c.outcome != batch::JUnitCase::Outcome::kPassed) {
      c.earlier.push_back({c.outcome, c.message, c.details});
    }
    c.name = batch::MakeRelativePath(naming.base, batch::AbsolutePath(entry.empty() ? record.name : entry));
    if (record.iteration > 1) c.name += " (iteration " + std::to_string(record.iteration) + ")";
    c.classname = naming.suite;
    c.file = entry;
    c.time = observer.AttemptTime(record.id, record.iteration, record.retry);
    c.outcome = batch::JUnitCase::Outcome::kPassed;
    c.message.clear();
    c.details.clear();
    if (record.status == BatchQueueItemPassed && record.error.empty()) continue;
    std::string attempt = " (attempt " + std::to_string(record.retry + 1) + ")";
    c.outcome = record.status == BatchQueueItemFailed && record.error.empty() ? batch::JUnitCase::Outcome::kFailed
                                                                               : batch::JUnitCase::Outcome::kError;
    std::vector<std::string> why = WhyNotPassed(results_directory, entry, record);
    c.message = std::string(ResultWord(record)) + attempt + Headline(why);
    c.details = Joined(why);
  }
  return {suite};
}

// The attempt's own page for a person: a script's HTML report, a command's log; the results
// XML only when neither is there.
std::string AttemptLink(const std::string& results_directory, const std::string& results_file) {
  if (results_file.empty()) return std::string();
  std::string stem = results_file.substr(0, results_file.rfind('.'));
  std::error_code error;
  for (const std::string& page : {stem + ".html", stem + ".log"}) {
    if (fs::is_regular_file(results_directory + "/" + page, error)) return page;
  }
  return results_file;
}

// Writes the batch report beside the batch results file [results_xml]; its path, or empty after
// saying why it could not be written.
std::string WriteBatchReport(CBatchQueue& queue, const RunObserver& observer, const CaseNaming& naming,
                             const std::string& results_xml) {
  batch::BatchResultsHeader header = queue.ResultsHeader();
  BatchReport page{naming.suite, "Passed", batch::IsoTimestamp(header.start_time), {}};
  std::map<std::uint32_t, std::string> names = observer.names();
  std::string results_directory = queue.ResultsDirectory();
  std::map<std::pair<std::uint32_t, std::uint32_t>, std::size_t> entry_of;
  for (const batch::BatchResultRecord& record : queue.Records()) {
    const std::string& entry = names[record.id];
    auto [at, added] = entry_of.try_emplace({record.id, record.iteration}, page.entries.size());
    if (added) {
      std::string name = batch::MakeRelativePath(naming.base, batch::AbsolutePath(entry.empty() ? record.name : entry));
      if (record.iteration > 1) name += " (iteration " + std::to_string(record.iteration) + ")";
      page.entries.push_back({name, {}});
    }
    BatchReportAttempt attempt{ResultWord(record), observer.AttemptTime(record.id, record.iteration, record.retry),
                               AttemptLink(results_directory, record.results_file), {}};
    if (attempt.result != "Passed") attempt.why = WhyNotPassed(results_directory, entry, record);
    page.entries[at->second].attempts.push_back(std::move(attempt));
  }
  for (const BatchReportEntry& entry : page.entries) {
    if (entry.attempts.empty() || entry.attempts.back().result != "Passed") page.verdict = "Failed";
  }
  std::string path = results_xml.substr(0, results_xml.rfind('.')) + ".html";
  std::string error;
  if (!WriteOutputFile(path, BatchReportHtml(page), 0644, &error)) {
    std::fprintf(stderr, "ordalis batch run: cannot write the batch report '%s': %s\n", path.c_str(), error.c_str());
    return std::string();
  }
  return path;
}

// Prints the summary; true when every entry's last attempt passed.
bool PrintSummary(CBatchQueue& queue, const RunObserver& observer, const std::string& report) {
  std::vector<batch::BatchResultRecord> records = queue.Records();
  std::map<std::uint32_t, const batch::BatchResultRecord*> last;
  for (const batch::BatchResultRecord& record : records) last[record.id] = &record;
  std::map<std::uint32_t, std::string> names = observer.names();
  int passed = 0, failed = 0, aborted = 0, not_run = 0;
  std::vector<std::string> failures;
  for (std::uint32_t id : observer.entries()) {
    auto it = last.find(id);
    if (it == last.end()) {
      ++not_run;
    } else if (it->second->status == BatchQueueItemPassed) {
      ++passed;
    } else {
      (it->second->status == BatchQueueItemAborted ? aborted : failed) += 1;
      failures.push_back(std::string(ResultWord(*it->second)) + " " + names[id]);
    }
  }
  std::string results;
  queue.get_ResultsFileName(&results);
  std::printf("\nBatch results: %s\n", results.c_str());
  if (!report.empty()) std::printf("Batch report: %s\n", report.c_str());
  std::printf("Entries %zu: passed %d, failed %d, aborted %d, not run %d (%zu attempt%s)\n", observer.entries().size(),
              passed, failed, aborted, not_run, records.size(), records.size() == 1 ? "" : "s");
  for (const std::string& failure : failures) std::printf("  %s\n", failure.c_str());
  bool all_passed = failed == 0 && aborted == 0 && not_run == 0 && passed > 0;
  std::printf("Overall batch result %s\n", all_passed ? "Passed" : "Failed");
  return all_passed;
}

Result VerdictOf(const batch::BatchResultRecord& record) {
  if (!record.error.empty()) return TestError;
  return record.status == BatchQueueItemPassed ? TestPassed : record.status == BatchQueueItemAborted ? TestAborted : TestFailed;
}

// The version under test as the results documents write it.
std::string VersionLabel(const batch::BatchResultsHeader& header) {
  return header.version_under_test.empty() ? "Undefined" : header.version_under_test;
}

// "YYYY-MM-DD hh:mm:ss" in local time.
std::string LocalTimeText(std::time_t seconds) {
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

// Marks each script run of the batch in the results store with the batch and its attempt,
// stores the attempts of the other entries and the batch itself, and makes the results
// folder's index again to list them. A store that cannot be written is a warning, never the
// batch's result.
void RecordBatchInHistory(CBatchQueue& queue, const RunObserver& observer, const std::string& report,
                          bool all_passed, const report::HistoryContext& history) {
  // An attempt's results file is named relative to the batch results file's folder.
  std::string batch_results;
  queue.get_ResultsFileName(&batch_results);
  std::filesystem::path folder = std::filesystem::path(batch_results).parent_path();
  batch::BatchResultsHeader header = queue.ResultsHeader();
  std::map<std::uint32_t, std::string> names = observer.names();
  std::map<std::uint32_t, Result> last;
  std::vector<report::BatchAttempt> attempts;
  for (const batch::BatchResultRecord& record : queue.Records()) {
    last[record.id] = VerdictOf(record);
    if (record.results_file.empty()) continue;
    report::BatchAttempt attempt;
    attempt.results_path = (folder / record.results_file).string();
    attempt.attempt = record.retry + 1;
    const std::string& entry = names[record.id];
    if (!batch::HasExtension(entry, ".odl")) {
      attempt.entry = entry.empty() ? record.name : entry;
      attempt.verdict = VerdictOf(record);
      attempt.seconds = observer.AttemptTime(record.id, record.iteration, record.retry);
      attempt.version_under_test = VersionLabel(header);
    }
    attempts.push_back(std::move(attempt));
  }
  std::vector<std::string> problems = report::MarkBatchRuns(header.batch_name, attempts, history);
  if (!batch_results.empty()) {
    report::BatchRun run{header.batch_name, batch_results, report, VersionLabel(header),
                         LocalTimeText(static_cast<std::time_t>(header.start_time)), LocalTimeText(std::time(nullptr)),
                         0.0, all_passed ? TestPassed : TestFailed, {}};
    run.duration = static_cast<double>(std::time(nullptr) - static_cast<std::time_t>(header.start_time));
    for (std::uint32_t id : observer.entries()) {
      auto it = last.find(id);
      Result result = it == last.end() ? TestNotRun : it->second;
      ++run.entries[static_cast<std::size_t>(result)];
    }
    for (std::string& problem : report::RecordBatch(run, history)) problems.push_back(std::move(problem));
  }
  for (const std::string& problem : problems) std::fprintf(stderr, "ordalis batch run: %s\n", problem.c_str());
}

// Adds the entries, or loads the queue file, and applies the options. A Ctrl-C meanwhile stops
// the adding.
int Prepare(CBatchQueue& queue, const Options& options, const InterruptWatcher& interrupts) {
  bool queue_file = options.paths.size() == 1 && batch::HasExtension(options.paths[0], ".tbq");
  if (queue_file) {
    if (int status = CheckQueueFile(options.paths[0])) return status;
    if (Failed(queue.Load(options.paths[0]))) return 2;
  } else {
    std::vector<std::string> files;
    if (int status = CollectEntries("run", options.paths, &files)) return status;
    if (files.empty()) return 2;
    for (const std::string& file : files) {
      if (interrupts.interrupted()) return 0;
      std::uint32_t id = 0;
      if (Failed(queue.Add(file, "", &id))) {
        std::fprintf(stderr, "ordalis batch run: cannot queue '%s'\n", file.c_str());
        return 2;
      }
    }
  }
  if (options.retry_given) queue.put_RetryCount(options.retry);
  if (options.auto_remove) queue.put_AutoRemove(kVariantTrue);
  if (!options.version_under_test.empty()) queue.put_VersionUnderTest(options.version_under_test);
  if (!options.results_dir.empty()) queue.SetResultsDirectory(batch::AbsolutePath(options.results_dir));
  queue.put_StopAtEnd(kVariantTrue);
  return 0;
}

int RunCommand(const std::vector<std::string>& args) {
  Options options;
  if (int status = ParseOptions(args, &options); status >= 0) return status;
  WarnOfUnreadableSettings("batch run");
  report::SetDefaultHistoryContext(options.history);
  sigset_t interrupt_signals = BlockInterrupts();
  auto queue = CBatchQueue::Create(std::make_shared<CApplicationManager>(),
                                   options.pace ? QueuePacing::kPolling : QueuePacing::kWakeOnChange);
  if (options.keep_background) queue->SetBackground(batch::Background::kKeep);
  auto observer = std::make_shared<RunObserver>();
  observer->Attach(queue);
  if (options.follow) {
    observer->FollowEntries(std::make_shared<EntryLog>());
  }
  std::uint32_t cookie = 0;
  queue->BatchQueueEvents().Advise(observer, &cookie);
  queue->TraceEvents().Advise(observer, &cookie);
  queue->SetClient(observer);
  // Watched from the start, so a stop is honoured while the entries are read as well.
  InterruptWatcher interrupts(interrupt_signals,
                              "ordalis batch run: stopping the queue (Ctrl-C again to quit at once)",
                              [&queue] { queue->Stop(); });
  if (int status = Prepare(*queue, options, interrupts)) return status;
  if (interrupts.interrupted()) {
    std::fprintf(stderr, "ordalis batch run: stopped before the queue began\n");
    return 1;
  }
  VariantBool auto_remove = kVariantFalse;
  queue->get_AutoRemove(&auto_remove);
  observer->StopWhenEmpty(auto_remove == kVariantTrue && !options.continuous);

  Clock::time_point start = Clock::now();
  if (options.continuous) {
    queue->put_RunningContinuously(kVariantTrue);
  } else {
    queue->Run();
  }
  // A stop asked for while the queue was being started found nothing to stop.
  if (interrupts.interrupted()) queue->Stop();
  observer->ended().Wait();
  queue->SetClient(nullptr);
  CaseNaming naming = NamingOf(options, queue->ResultsHeader().batch_name);
  std::string batch_results;
  queue->get_ResultsFileName(&batch_results);
  std::string report = batch_results.empty() ? std::string() : WriteBatchReport(*queue, *observer, naming, batch_results);
  bool all_passed = PrintSummary(*queue, *observer, report);
  RecordBatchInHistory(*queue, *observer, report, all_passed, options.history);
  std::string junit_error;
  bool junit_lost = !options.junit.empty() &&
                    !WriteOutputFile(options.junit,
                                     batch::JUnitXml(JUnitOf(*queue, *observer,
                                                             naming,
                                                             SecondsSince(start))),
                                     0644, &junit_error);
  if (junit_lost) {
    std::fprintf(stderr, "ordalis batch run: cannot write the JUnit file '%s': %s\n", options.junit.c_str(),
                 junit_error.c_str());
  }
  std::fflush(stdout);
  if (junit_lost) return 2;
  if (interrupts.interrupted()) {
    std::fprintf(stderr, "ordalis batch run: the queue was stopped before its end\n");
    return 1;
  }
  return all_passed ? 0 : 1;
}

}  // namespace

int BatchRun(const std::vector<std::string>& args) { return RunCommand(args); }

}  // namespace ordalis::cli
