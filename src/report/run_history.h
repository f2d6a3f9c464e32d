#pragma once
// A finished run's entry in the results store, made from its digest. The results document is
// written first and stays the record of the run; the store is an index of it, so a store that
// cannot be written costs a warning and a severe line in the run's log, never the run.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <optional>

#include "history/results_store.h"
#include "history/run_record.h"
#include "report/run_digest.h"

namespace ordalis::report {

// What a run's command line (or its batch, or its Python caller) adds to the run's entry.
struct HistoryContext {
  std::string store;  // --results-db: empty for the settings key, then results.db in the folder
  std::vector<std::pair<std::string, std::string>> labels;
  std::string batch;
  std::int64_t attempt = 0;
};

// The context of runs no command line sees (batch items, the class factory's scripts): set
// once by the command before its runs start. Safe to call from any thread.
void SetDefaultHistoryContext(HistoryContext context);
HistoryContext DefaultHistoryContext();

// Reads "KEY=VALUE" into [label]; false for a text without '=' or with an empty key.
bool ParseLabel(const std::string& text, std::pair<std::string, std::string>* label);

// The store's text for a run whose documents are in [results_folder]: [store] when given,
// otherwise the settings key, otherwise empty (results.db in the folder).
std::string StoreText(const std::string& store);

// The run of the document [xml_path] as the store keeps it.
history::RunRecord RecordOfRun(const RunDigest& digest, const std::string& xml_path);

// A run's entry once it was written: the store it went to (still open, for the index and the
// report's history strip) and its id; or the problem when it was not written.
struct StoredRun {
  std::optional<history::ResultsStore> store;
  std::int64_t id = 0;
  std::string host;  // the station that ran it: its index lists that station's runs only
  std::string problem;
};

// Appends the run of [xml_path], whose report is (or is about to be) [report_path], to its
// store. The problem is worded as RecordRunInHistory's and also logged in the run's log.
StoredRun StoreRun(const RunDigest& digest, const std::string& xml_path, const std::string& report_path,
                   const HistoryContext& context);

// Appends the run of [xml_path] to its store. Empty when it landed, otherwise the problem:
// "cannot write the results store STORE: reason (the run is kept in its results document)",
// which is also written to the run's log as a severe line.
std::string RecordRunInHistory(const RunDigest& digest, const std::string& xml_path,
                               const HistoryContext& context);

// One finished attempt of a batch entry whose results document is [results_path].
struct BatchAttempt {
  std::string results_path;
  std::int64_t attempt = 1;  // 1 for the first attempt of the entry, 2 for its first retry…
  // An attempt that ran no script (a command file, a plug-in's item) left no script run in the
  // store: it is stored as a run of its own, named after [entry], with its verdict, its time
  // and its log. Empty for a script's attempt.
  std::string entry;
  Result verdict = TestNotRun;
  double seconds = 0.0;
  std::string version_under_test;
};

// The run of [attempt] of [batch] that ran no script, as the store keeps it: named after its
// entry's file, finished when its own results document says, with the log beside it.
history::RunRecord RecordOfBatchEntry(const BatchAttempt& attempt, const std::string& batch,
                                      const HistoryContext& context);

// Marks the stored run of each script attempt as attempt N of [batch], and stores each other
// attempt as a run of [batch]. The problems, one per store that could not be written (the
// script runs stay stored, without their batch).
std::vector<std::string> MarkBatchRuns(const std::string& batch, const std::vector<BatchAttempt>& attempts,
                                       const HistoryContext& context);

// A finished batch as its results folder's index lists it.
struct BatchRun {
  std::string name;
  std::string results_path;  // the batch results file
  std::string report_path;   // the batch report beside it; empty when none was written
  std::string version_under_test;
  std::string started;       // "YYYY-MM-DD hh:mm:ss", local time
  std::string ended;
  double duration = 0.0;
  Result verdict = TestNotRun;
  history::ResultCounts entries{};  // the entries by the result of their last attempt
};

// [batch] as the store keeps it: attempt 0 of its own name, its entries counted as statements.
history::RunRecord RecordOfBatch(const BatchRun& batch, const HistoryContext& context);

// Stores [batch] as a run of its own (attempt 0 of itself: the store's runs of a batch are its
// attempts and the batch), then writes its results folder's index again, so the index lists
// the batch with its report and verdict beside its attempts of every kind. The problems, as
// MarkBatchRuns gives them.
std::vector<std::string> RecordBatch(const BatchRun& batch, const HistoryContext& context);

}  // namespace ordalis::report
