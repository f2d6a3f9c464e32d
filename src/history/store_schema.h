#pragma once
// The results store's tables, their version and the migrations that bring an older store
// forward. Version 1:
//
//   store_schema  (version)                         one row: the version of the tables
//   runs          one row per run; a station's (host's) results document is stored once
//   run_labels    (run_id, name, value)             the --label pairs of a run
//   named_results (run_id, label, result, counts, file, line, time_taken)
//   failures      (run_id, file, line, result, text, run_values)
//   folder_runs   (host, folder, runs)              runs per station's results folder
//   script_days   (host, folder, script, day, passed, failed, runs)   a script's runs per day
//
// Version 2 adds every measurement of a run, with its script beside it so a measurement's
// values over the runs are read through one index without touching the runs:
//
//   measurements  (run_id, script, name, kind, number, value_text, unit, low, high, comparison,
//                  result, file, line)
//
// `kind` is "number", "text" or "boolean" (a boolean's number is 1 or 0); `low` and `high` are
// NULL for a limit the measurement has not; `comparison` is its word (GELE, GTLT, GE, LE, EQ, NE,
// LOG).
//
// Counts are one column per result, named after kCountColumns. Times are local
// "YYYY-MM-DD hh:mm:ss" texts, which sort as they read; `day` is the date of the run's end.

#include "history/store_backend.h"

namespace ordalis::history {

inline constexpr int kSchemaVersion = 2;

// The count columns, indexed by the Result code.
inline constexpr const char* kCountColumns[7] = {"n_passed", "n_failed", "n_not_implemented", "n_warning",
                                                 "n_error",  "n_not_run", "n_aborted"};

// Creates the tables of a new store or migrates an older one forward, in one transaction.
// Throws StoreError when the store was made by a newer version or cannot be written.
void PrepareSchema(IStoreConnection& connection);

}  // namespace ordalis::history
