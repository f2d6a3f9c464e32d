#include "report/history_import.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "report/run_history.h"

namespace ordalis::report {

namespace fs = std::filesystem;

namespace {

enum class ResultsKind { kNone, kRun, kBatch };

ResultsKind KindOf(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::string head(1024, '\0');
  file.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(file.gcount()));
  if (head.find("<odl_script_result") != std::string::npos) return ResultsKind::kRun;
  if (head.find("<odl_batch_result") != std::string::npos) return ResultsKind::kBatch;
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
  std::vector<BatchAttempt> attempts;
};

// The batch's name and each item's results file and attempt, read line by line as the batch
// results format lays them out.
BatchFile ReadBatchFile(const fs::path& path) {
  BatchFile batch;
  std::ifstream file(path, std::ios::binary);
  bool in_item = false;
  std::string file_name;
  std::string value;
  for (std::string line; std::getline(file, line);) {
    if (line.find("<item>") != std::string::npos) in_item = true, file_name.clear();
    if (!in_item && batch.name.empty() && TagValue(line, "name", &value)) batch.name = value;
    if (in_item && TagValue(line, "resultsfile", &value)) file_name = value;
    if (in_item && TagValue(line, "retry", &value) && !file_name.empty()) {
      fs::path document = fs::path(file_name).is_absolute() ? fs::path(file_name) : path.parent_path() / file_name;
      batch.attempts.push_back({document.string(), std::atoll(value.c_str()) + 1});
    }
    if (line.find("</item>") != std::string::npos) in_item = false;
  }
  return batch;
}

class Importer {
 public:
  explicit Importer(history::ResultsStore& store) : store_(store) {}

  void Document(const fs::path& path) {
    std::string absolute = fs::absolute(path).lexically_normal().string();
    try {
      if (store_.HasDocument(absolute)) {
        ++outcome_.skipped;
        return;
      }
      RunDigest digest;
      std::string error;
      if (!DigestResults(absolute, nullptr, &digest, &error)) {
        outcome_.problems.push_back("cannot read " + absolute + ": " + error);
        return;
      }
      bool added = store_.Append(RecordOfRun(digest, absolute)) == history::AppendOutcome::kAdded;
      ++(added ? outcome_.added : outcome_.skipped);
    } catch (const std::exception& fault) {
      outcome_.problems.push_back("cannot store " + absolute + ": " + fault.what());
    }
  }

  void Batch(const fs::path& path) {
    BatchFile batch = ReadBatchFile(path);
    for (const BatchAttempt& attempt : batch.attempts) {
      std::error_code error;
      if (!fs::exists(attempt.results_path, error) || KindOf(attempt.results_path) != ResultsKind::kRun) continue;
      std::string absolute = fs::absolute(attempt.results_path).lexically_normal().string();
      try {
        // A document the folder's pass stored already is only marked, not counted again.
        if (!store_.HasDocument(absolute)) Document(absolute);
        store_.SetBatch(absolute, batch.name, attempt.attempt);
      } catch (const std::exception& fault) {
        outcome_.problems.push_back("cannot store " + attempt.results_path + ": " + fault.what());
      }
    }
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
      case ResultsKind::kNone:
        outcome_.problems.push_back(path.string() + " is no results document or batch results file");
    }
  }

  ImportOutcome outcome() const { return outcome_; }

 private:
  history::ResultsStore& store_;
  ImportOutcome outcome_;
};

}  // namespace

ImportOutcome ImportResults(const std::vector<std::string>& paths, history::ResultsStore& store) {
  Importer importer(store);
  for (const std::string& path : paths) importer.Path(path);
  return importer.outcome();
}

}  // namespace ordalis::report
