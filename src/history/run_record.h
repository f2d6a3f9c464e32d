#pragma once
// One run as the results store keeps it: the facts of the run, its labels, its named results
// and its failing statements. Made from a run's results document (and what the run knew about
// itself), so the store is an index of the document, never its replacement.

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "language/measurement.h"
#include "ordalis/types.h"

namespace ordalis::history {

// Counts of runs or statements by result, indexed by the Result code (Passed 0 … Aborted 6).
using ResultCounts = std::array<std::int64_t, 7>;

struct NamedResultRecord {
  std::string label;
  Result result = TestNotRun;
  ResultCounts counts{};
  std::string file;
  std::int64_t line = 0;
  double time_taken = 0.0;
};

struct FailureRecord {
  std::string file;
  std::int64_t line = 0;
  Result result = TestFailed;
  std::string text;
  std::string values;
};

// A measurement of the run with the statement that took it.
struct MeasurementRecord {
  Measurement measurement;
  std::string file;
  std::int64_t line = 0;
};

struct RunRecord {
  std::int64_t id = 0;          // given by the store
  std::string script;           // the script's file name
  std::string script_path;      // its full path when known
  std::string stamp;            // the run stamp: the results document's name without ".xml"
  std::string started;          // "YYYY-MM-DD hh:mm:ss", local time
  std::string ended;
  double duration = 0.0;        // seconds
  Result verdict = TestNotRun;
  ResultCounts counts{};        // statements by overall result
  std::string host;
  std::string user;
  std::string version_under_test;
  std::string ordalis_version;
  std::string folder;           // the results folder
  std::string results_path;     // the results document: the run's identity in the store
  std::string log_path;
  std::string record_path;
  std::string report_path;
  std::string batch;            // empty outside a batch
  std::int64_t attempt = 0;     // 0 outside a batch
  std::vector<std::pair<std::string, std::string>> labels;
  std::vector<NamedResultRecord> named_results;
  std::vector<FailureRecord> failures;
  std::vector<MeasurementRecord> measurements;
};

// The result words as the results document writes them ("Passed", "Not Run", …).
const char* ResultName(Result result);
// The Result of [word], ignoring case; false for a word that names none.
bool ResultFromName(const std::string& word, Result* result);

}  // namespace ordalis::history
