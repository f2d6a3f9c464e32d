#include "report/history_import.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "report/report_text.h"
#include "report/run_history.h"

namespace ordalis::report {

namespace fs = std::filesystem;

namespace {

// A script's results document, a batch results file, or the small results file of a batch
// entry that ran no script (a command file's).
enum class ResultsKind { kNone, kRun, kBatch, kEntry };

ResultsKind KindOf(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::string head(1024, '\0');
  file.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(file.gcount()));
  if (head.find("<odl_script_result") != std::string::npos) return ResultsKind::kRun;
  if (head.find("<odl_batch_result") != std::string::npos) return ResultsKind::kBatch;
  if (head.find("<results>") != std::string::npos && head.find("<batch_item>") != std::string::npos) {
    return ResultsKind::kEntry;
  }
  return ResultsKind::kNone;
}

// The value of a line "<tag>value</tag>", or nothing when the line holds another tag.
bool TagValue(const std::string& line, const std::string& tag, std::string* value) {
  std::size_t open = line.find("<" + tag + ">");
  if (open == std::string::npos) return false;
  std::size_t start = open + tag.size() + 2;
  std::size_t end = line.find('<', start);
  *value = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
  return true;
}

struct BatchFile {
  std::string name;
  std::string version_under_test;
  std::string start_date, start_time, date, time;
  std::string overall_result;
  std::vector<BatchAttempt> attempts;
  std::vector<std::string> entries;  // each attempt's entry, as the file names it
};

// The batch's name and each item's results file and attempt, read line by line as the batch
// results format lays them out.
BatchFile ReadBatchFile(const fs::path& path) {
  BatchFile batch;
  std::ifstream file(path, std::ios::binary);
  bool in_item = false;
  std::string file_name, entry, result;
  std::string value;
  const std::pair<const char*, std::string*> heading[] = {
      {"versionundertest", &batch.version_under_test}, {"startdate", &batch.start_date},
      {"starttime", &batch.start_time}, {"date", &batch.date}, {"time", &batch.time},
      {"overall_result", &batch.overall_result}};
  for (std::string line; std::getline(file, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find("<item>") != std::string::npos) in_item = true, file_name.clear(), entry.clear(), result.clear();
    if (!in_item && batch.name.empty() && TagValue(line, "name", &value)) batch.name = value;
    for (const auto& [tag, field] : heading) {
      if (!in_item && field->empty() && TagValue(line, tag, &value)) *field = value;
    }
    if (in_item && TagValue(line, "name", &value)) entry = value;
    if (in_item && TagValue(line, "result", &value)) result = value;
    if (in_item && TagValue(line, "resultsfile", &value)) file_name = value;
    if (in_item && TagValue(line, "retry", &value) && !file_name.empty()) {
      fs::path document = fs::path(file_name).is_absolute() ? fs::path(file_name) : path.parent_path() / file_name;
      report::BatchAttempt attempt;
      attempt.results_path = document.string();
      attempt.attempt = std::atoll(value.c_str()) + 1;
      // Entries are named relative to the batch results file's folder.
      attempt.entry = fs::path(entry).is_absolute() ? entry : (path.parent_path() / entry).lexically_normal().string();
      attempt.verdict = ResultFromWord(result);
      batch.attempts.push_back(std::move(attempt));
      batch.entries.push_back(entry);
    }
    if (line.find("</item>") != std::string::npos) in_item = false;
  }
  return batch;
}

class Importer {
 public:
  explicit Importer(history::ResultsStore& store) : store_(store) {}

  void Document(const fs::path& path) { Store(fs::absolute(path).lexically_normal().string(), true); }

  // Stores the document [absolute] unless its station's run is stored already, and returns the
  // name of that station; empty when the document cannot be read or stored. A document stored
  // already counts as skipped when [count_stored].
  std::string Store(const std::string& absolute, bool count_stored) {
    try {
      // Most documents are this station's own, and those stored already are skipped unread; a
      // document of the same path from another station of the fleet is not this one.
      if (store_.HasDocument(absolute, host_)) {
        if (count_stored) ++outcome_.skipped;
        return host_;
      }
      RunDigest digest;
      std::string error;
      if (!DigestResults(absolute, nullptr, &digest, &error)) {
        outcome_.problems.push_back("cannot read " + absolute + ": " + error);
        return std::string();
      }
      history::RunRecord run = RecordOfRun(digest, absolute);
      bool added = store_.Append(run) == history::AppendOutcome::kAdded;
      if (added) ++outcome_.added;
      if (!added && count_stored) ++outcome_.skipped;
      return run.host;
    } catch (const std::exception& fault) {
      outcome_.problems.push_back("cannot store " + absolute + ": " + fault.what());
      return std::string();
    }
  }

  // Appends [run] unless this station's run of its document is stored already.
  void StoreRecord(const history::RunRecord& run) {
    try {
      if (store_.HasDocument(run.results_path, host_)) {
        ++outcome_.skipped;
      } else if (store_.Append(run) == history::AppendOutcome::kAdded) {
        ++outcome_.added;
      }
    } catch (const std::exception& fault) {
      outcome_.problems.push_back("cannot store " + run.results_path + ": " + fault.what());
    }
  }

  // The batch itself, as its run stored it: its verdict and its entries by their last attempt.
  void BatchItself(const fs::path& path, const BatchFile& file) {
    BatchRun batch;
    batch.name = file.name;
    batch.results_path = fs::absolute(path).lexically_normal().string();
    fs::path report = path;
    report.replace_extension(".html");
    std::error_code error;
    if (fs::exists(report, error)) batch.report_path = report.string();
    batch.version_under_test = file.version_under_test;
    batch.started = file.start_date + " " + file.start_time;
    batch.ended = file.date + " " + file.time;
    batch.verdict = file.overall_result == "Passed" ? TestPassed : TestFailed;
    std::map<std::string, Result> last;
    for (std::size_t i = 0; i < file.attempts.size(); ++i) last[file.entries[i]] = file.attempts[i].verdict;
    for (const auto& [entry, result] : last) ++batch.entries[static_cast<std::size_t>(result)];
    history::RunRecord run = RecordOfBatch(batch, HistoryContext{});
    run.host = host_;
    StoreRecord(run);
  }

  void Batch(const fs::path& path) {
    BatchFile batch = ReadBatchFile(path);
    for (BatchAttempt attempt : batch.attempts) {
      std::error_code error;
      if (!fs::exists(attempt.results_path, error)) continue;
      ResultsKind kind = KindOf(attempt.results_path);
      if (kind == ResultsKind::kEntry) {
        attempt.version_under_test = batch.version_under_test;
        history::RunRecord run = RecordOfBatchEntry(attempt, batch.name, HistoryContext{});
        run.host = host_;
        StoreRecord(run);
        continue;
      }
      if (kind != ResultsKind::kRun) continue;
      std::string absolute = fs::absolute(attempt.results_path).lexically_normal().string();
      try {
        // A document the folder's pass stored already is only marked, not counted again.
        std::string host = Store(absolute, false);
        if (!host.empty()) store_.SetBatch(absolute, host, batch.name, attempt.attempt);
      } catch (const std::exception& fault) {
        outcome_.problems.push_back("cannot store " + attempt.results_path + ": " + fault.what());
      }
    }
    BatchItself(path, batch);
  }

  // A folder's documents first, then its batch results files, which mark some of them.
  void Folder(const fs::path& folder) {
    std::vector<fs::path> runs, batches;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
      if (entry.path().extension() != ".xml" || !entry.is_regular_file(error)) continue;
      ResultsKind kind = KindOf(entry.path());
      if (kind == ResultsKind::kRun) runs.push_back(entry.path());
      if (kind == ResultsKind::kBatch) batches.push_back(entry.path());
    }
    if (error) outcome_.problems.push_back("cannot read " + folder.string() + ": " + error.message());
    std::sort(runs.begin(), runs.end());
    std::sort(batches.begin(), batches.end());
    for (const fs::path& run : runs) Document(run);
    for (const fs::path& batch : batches) Batch(batch);
  }

  void Path(const fs::path& path) {
    std::error_code error;
    if (fs::is_directory(path, error)) return Folder(path);
    switch (fs::exists(path, error) ? KindOf(path) : ResultsKind::kNone) {
      case ResultsKind::kRun: return Document(path);
      case ResultsKind::kBatch: return Batch(path);
      case ResultsKind::kEntry:
      case ResultsKind::kNone:
        outcome_.problems.push_back(path.string() + " is no results document or batch results file");
    }
  }

  ImportOutcome outcome() const { return outcome_; }

 private:
  history::ResultsStore& store_;
  const std::string host_ = history::ThisHost();  // the station importing
  ImportOutcome outcome_;
};

}  // namespace

ImportOutcome ImportResults(const std::vector<std::string>& paths, history::ResultsStore& store) {
  Importer importer(store);
  for (const std::string& path : paths) importer.Path(path);
  return importer.outcome();
}

}  // namespace ordalis::report
