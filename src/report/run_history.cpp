#include "report/run_history.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "history/results_store.h"
#include "report/html_report.h"
#include "report/report_text.h"
#include "report/results_index.h"
#include "report/store_index.h"
#include "settings/settings_store.h"
#include "trace/script_log.h"

namespace ordalis::report {

namespace fs = std::filesystem;

namespace {

std::mutex& ContextMutex() {
  static std::mutex mutex;
  return mutex;
}

HistoryContext& ProcessContext() {
  static HistoryContext context;
  return context;
}

// The user the run ran as, by the password database, else $USER.
std::string UserName() {
  struct passwd entry {};
  struct passwd* found = nullptr;
  char buffer[4096];
  if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found) return found->pw_name;
  const char* user = std::getenv("USER");
  return user ? user : "";
}

// "YYYY-MM-DD hh:mm:ss" [seconds] before [ended], which has the same form.
std::string Before(const std::string& ended, double seconds) {
  std::tm local{};
  if (!strptime(ended.c_str(), "%Y-%m-%d %H:%M:%S", &local)) return ended;
  local.tm_isdst = -1;
  std::time_t start = std::mktime(&local) - static_cast<std::time_t>(seconds + 0.5);
  localtime_r(&start, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::string Existing(const fs::path& path) {
  std::error_code error;
  return fs::exists(path, error) ? path.string() : std::string();
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r')) text.pop_back();
  return text;
}

std::string SettingsStore() {
  for (auto scope : {settings::SettingsScope::kUser, settings::SettingsScope::kMachine}) {
    settings::SettingsKey root;
    std::string error;
    if (settings::SettingsFile(settings::DefaultSettingsPath(scope)).Read(&root, &error) !=
        settings::SettingsFile::ReadStatus::kOk) {
      continue;
    }
    const settings::SettingsKey* key = root.Find(settings::kOrdalisKeyPath);
    const settings::SettingsValue* value = key ? key->Value(history::kStoreSettingsKey) : nullptr;
    if (value && !value->data.empty()) return value->data;
  }
  return std::string();
}

// The run's log gets the fault as a severe line, so it is found where the run is read.
void LogSevere(const std::string& log_path, const std::string& message) {
  if (log_path.empty()) return;
  std::ofstream log(log_path, std::ios::app | std::ios::binary);
  log << ScriptLog::FileLine(ScriptLog::Now(), severe, "Script", message) << "\r\n";
}

void AddRows(const RunDigest& digest, history::RunRecord* run) {
  for (const RowDigest& row : digest.rows) {
    history::NamedResultRecord named{row.text, row.overall, {}, row.file, row.line, row.time_taken};
    for (std::size_t r = 0; r < row.counts.size(); ++r) named.counts[r] = row.counts[r];
    run->named_results.push_back(std::move(named));
  }
  for (const FailureDigest& failure : digest.failures) {
    run->failures.push_back({failure.file, failure.line, failure.result, failure.text, failure.values});
  }
  for (const MeasurementDigest& measured : digest.measurements) {
    run->measurements.push_back({measured.measurement, measured.file, measured.line});
  }
}

}  // namespace

void SetDefaultHistoryContext(HistoryContext context) {
  std::lock_guard lock(ContextMutex());
  ProcessContext() = std::move(context);
}

HistoryContext DefaultHistoryContext() {
  std::lock_guard lock(ContextMutex());
  return ProcessContext();
}

bool ParseLabel(const std::string& text, std::pair<std::string, std::string>* label) {
  std::size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0) return false;
  *label = {text.substr(0, equals), text.substr(equals + 1)};
  return true;
}

std::string StoreText(const std::string& store) { return store.empty() ? SettingsStore() : store; }

history::RunRecord RecordOfRun(const RunDigest& digest, const std::string& xml_path) {
  history::RunRecord run;
  fs::path xml = fs::absolute(xml_path).lexically_normal();
  fs::path folder = xml.parent_path();
  run.script = digest.heading.name.empty() ? xml.stem().string() : digest.heading.name;
  run.script_path = digest.script_file;
  run.stamp = xml.stem().string();
  run.ended = digest.heading.date + " " + digest.heading.time;
  run.started = Before(run.ended, digest.duration);
  run.duration = digest.duration;
  run.verdict = digest.verdict;
  for (std::size_t r = 0; r < digest.statements.size(); ++r) {
    run.counts[r] = static_cast<std::int64_t>(digest.statements[r]);
  }
  run.host = digest.heading.host_name;
  run.version_under_test = digest.heading.version_under_test;
  run.ordalis_version = Trimmed(digest.heading.version);
  run.folder = folder.string();
  run.results_path = xml.string();
  if (!digest.heading.log_files.empty()) {
    run.log_path = Existing(folder / LogEntryFileName(digest.heading.log_files[0]));
  }
  run.record_path = Existing(folder / (run.stamp + ".odlrec"));
  run.report_path = Existing(HtmlPathFor(xml.string()));
  AddRows(digest, &run);
  return run;
}

StoredRun StoreRun(const RunDigest& digest, const std::string& xml_path, const std::string& report_path,
                   const HistoryContext& context) {
  history::RunRecord run = RecordOfRun(digest, xml_path);
  if (!report_path.empty()) run.report_path = fs::absolute(report_path).lexically_normal().string();
  run.user = UserName();
  run.labels = context.labels;
  run.batch = context.batch;
  run.attempt = context.attempt;
  std::string text = StoreText(context.store);
  history::StoreLocation location;
  StoredRun stored;
  std::string name = text;
  if (history::ParseStoreLocation(text, run.folder, &location, &stored.problem)) {
    name = history::DescribeLocation(location);
    try {
      stored.store.emplace(location);
      stored.store->Append(run, &stored.id);
      stored.host = run.host;
      return stored;
    } catch (const std::exception& error) {
      stored.store.reset();
      stored.problem = error.what();
      // The backend names the store first; the line below names it once.
      if (stored.problem.rfind(name + ": ", 0) == 0) stored.problem.erase(0, name.size() + 2);
    }
  }
  LogSevere(run.log_path, "Results store not written: " + stored.problem);
  stored.problem = "cannot write the results store " + name + ": " + stored.problem +
                   " (the run is kept in its results document)";
  return stored;
}

std::string RecordRunInHistory(const RunDigest& digest, const std::string& xml_path,
                               const HistoryContext& context) {
  return StoreRun(digest, xml_path, std::string(), context).problem;
}

namespace {

// "YYYY-MM-DD hh:mm:ss" as the local time [seconds] since 1970 reads.
std::string LocalTime(std::time_t seconds) {
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

// When a batch item finished, as its own results document gives it (its date and time), else
// now: the document of a plug-in's item may say nothing of it.
std::string ItemEnded(const fs::path& xml) {
  std::ifstream file(xml, std::ios::binary);
  std::string text(4096, '\0');
  file.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(file.gcount()));
  auto field = [&text](const std::string& tag) {
    std::size_t start = text.find("<" + tag + ">");
    if (start == std::string::npos) return std::string();
    start += tag.size() + 2;
    std::size_t end = text.find('<', start);
    return end == std::string::npos ? std::string() : text.substr(start, end - start);
  };
  std::string date = field("date"), time = field("time");
  if (date.size() == 10 && time.size() == 8) return date + " " + time;
  return LocalTime(std::time(nullptr));
}

}  // namespace

history::RunRecord RecordOfBatchEntry(const BatchAttempt& attempt, const std::string& batch,
                                      const HistoryContext& context) {
  fs::path xml = fs::absolute(attempt.results_path).lexically_normal();
  history::RunRecord run;
  run.script = fs::path(attempt.entry).filename().string();
  run.script_path = attempt.entry;
  run.stamp = xml.stem().string();
  run.ended = ItemEnded(xml);
  run.started = Before(run.ended, attempt.seconds);
  run.duration = attempt.seconds;
  run.verdict = attempt.verdict;
  run.host = history::ThisHost();
  run.user = UserName();
  run.version_under_test = attempt.version_under_test;
  run.folder = xml.parent_path().string();
  run.results_path = xml.string();
  run.log_path = Existing(xml.parent_path() / (run.stamp + ".log"));
  run.batch = batch;
  run.attempt = attempt.attempt;
  run.labels = context.labels;
  return run;
}

std::vector<std::string> MarkBatchRuns(const std::string& batch, const std::vector<BatchAttempt>& attempts,
                                       const HistoryContext& context) {
  std::vector<std::string> problems;
  std::string text = StoreText(context.store);
  // The batch ran here: its documents are this station's runs.
  std::string host = history::ThisHost();
  for (const BatchAttempt& attempt : attempts) {
    fs::path xml = fs::absolute(attempt.results_path).lexically_normal();
    if (xml.extension() != ".xml") continue;
    history::StoreLocation location;
    std::string problem;
    if (!history::ParseStoreLocation(text, xml.parent_path().string(), &location, &problem)) {
      problems.push_back(problem);
      continue;
    }
    try {
      history::ResultsStore store(location);
      if (attempt.entry.empty()) {
        store.SetBatch(xml.string(), host, batch, attempt.attempt);
      } else {
        store.Append(RecordOfBatchEntry(attempt, batch, context));
      }
    } catch (const std::exception& error) {
      problems.push_back(std::string("cannot write the results store: ") + error.what());
    }
  }
  return problems;
}

history::RunRecord RecordOfBatch(const BatchRun& batch, const HistoryContext& context) {
  fs::path xml = fs::absolute(batch.results_path).lexically_normal();
  history::RunRecord run;
  run.script = batch.name;
  run.stamp = xml.stem().string();
  run.started = batch.started;
  run.ended = batch.ended;
  run.duration = batch.duration;
  run.verdict = batch.verdict;
  run.counts = batch.entries;
  run.host = history::ThisHost();
  run.user = UserName();
  run.version_under_test = batch.version_under_test;
  run.folder = xml.parent_path().string();
  run.results_path = xml.string();
  if (!batch.report_path.empty()) run.report_path = Existing(fs::absolute(batch.report_path).lexically_normal());
  run.batch = batch.name;
  run.labels = context.labels;
  return run;
}

std::vector<std::string> RecordBatch(const BatchRun& batch, const HistoryContext& context) {
  history::RunRecord run = RecordOfBatch(batch, context);
  std::vector<std::string> problems;
  std::string error;
  history::StoreLocation location;
  if (history::ParseStoreLocation(StoreText(context.store), run.folder, &location, &error)) {
    try {
      history::ResultsStore store(location);
      store.Append(run);
      if (!WriteStoreIndex(run.folder, store, run.host, &error)) {
        problems.push_back("cannot write the results index in " + run.folder + ": " + error);
      }
      return problems;
    } catch (const std::exception& fault) {
      error = fault.what();
    }
  }
  problems.push_back("cannot write the results store: " + error);
  // Without the store the index is made from the folder's documents.
  error.clear();
  if (!WriteResultsIndex(run.folder, &error)) {
    problems.push_back("cannot write the results index in " + run.folder + ": " + error);
  }
  return problems;
}

}  // namespace ordalis::report
