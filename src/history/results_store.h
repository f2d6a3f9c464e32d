#pragma once
// The results store: every run that left a results document, appended in one transaction with
// its labels, named results, failing statements and measurements, and the questions a lab asks of them —
// which runs (List), one run in full (Show), the pass rate of a script or named result per day
// or week (Trend), a measurement's values over the runs (MeasurementValues), what passed and failed on the same version under test (Flaky) — and the
// removal of old runs together with their files (Prune).
//
// Every operation throws StoreError when the database fails; the store's callers turn that
// into a warning, since the results document, not the store, is the record of a run. One
// ResultsStore belongs to one thread at a time; processes share a store through the database.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "history/run_record.h"
#include "history/store_backend.h"
#include "history/store_location.h"

namespace ordalis::history {

struct RunFilter {
  std::string script;                 // the script's file name
  std::optional<Result> verdict;
  std::string since;                  // "YYYY-MM-DD[ hh:mm:ss]", inclusive
  std::string until;                  // the same, inclusive (a date covers the whole day)
  std::vector<std::pair<std::string, std::string>> labels;  // every pair must be on the run
  std::string host;
  std::string folder;                 // runs whose results document is in this folder
  std::int64_t limit = 0;             // newest first; 0 for all
};

enum class Period { kDay, kWeek };

// One day's (or week's) runs of a script or named result.
struct TrendPoint {
  std::string period;   // "YYYY-MM-DD": the day, or the Monday of the week
  std::int64_t passed = 0;
  std::int64_t failed = 0;  // Failed or Error
  std::int64_t total = 0;
};

// A script (empty named_result) or named result that both passed and failed on one version.
struct FlakyEntry {
  std::string script;
  std::string named_result;
  std::string version_under_test;
  std::int64_t passed = 0;
  std::int64_t failed = 0;
  std::int64_t runs = 0;
};

// A results folder of one station. Stations of a fleet that share a store and are set up alike
// write to folders of the same path, so a folder is named by its station and its path.
struct StationFolder {
  std::string host;    // the station's name, as its runs carry it
  std::string folder;  // the folder's absolute path on that station
};

// The runs of one script on one day in one station's folder.
struct ScriptDay {
  std::string script;
  std::string day;
  std::int64_t passed = 0;
  std::int64_t failed = 0;
  std::int64_t runs = 0;
};

// One numeric value of a measurement in one run, as its statistics and charts read it.
struct MeasuredValue {
  std::int64_t run_id = 0;
  double number = 0.0;
  std::optional<double> low;
  std::optional<double> high;
  std::string unit;
  Result result = TestPassed;
};

// A measurement a script has taken: its name, the unit, limits and comparison of its newest
// value, how many values the store holds and how many of them are numbers.
struct MeasurementSummary {
  std::string name;
  std::string unit;
  std::optional<double> low;
  std::optional<double> high;
  std::string comparison;
  std::int64_t values = 0;
  std::int64_t numbers = 0;
};

// A numeric value of a measurement taken by a run of a station's folder, for the index's charts.
struct FolderMeasurement {
  std::string script;
  std::string name;
  MeasuredValue value;
};

enum class AppendOutcome { kAdded, kAlreadyStored };

struct PruneOutcome {
  std::int64_t runs_removed = 0;
  std::int64_t files_removed = 0;
  std::vector<std::string> problems;  // runs kept because a file could not be removed
};

// This station's name as its results documents give it.
std::string ThisHost();

class ResultsStore {
 public:
  // Connects to [location] and brings its tables to the current version.
  explicit ResultsStore(const StoreLocation& location);
  // A store over an open connection (a test's, or a backend made elsewhere).
  explicit ResultsStore(std::unique_ptr<IStoreConnection> connection);

  // Appends [run] in one transaction; a run whose results document is stored already for the
  // same host is left as it is. [id], when given, is set to the run's id in the store.
  AppendOutcome Append(const RunRecord& run, std::int64_t* id = nullptr);
  // Whether the station [host]'s run whose results document is [results_path] is stored.
  bool HasDocument(const std::string& results_path, const std::string& host);
  // Marks the station [host]'s run of [results_path] as attempt [attempt] of the batch [batch];
  // another station's document of the same path is not part of this station's batch.
  void SetBatch(const std::string& results_path, const std::string& host, const std::string& batch,
                std::int64_t attempt);

  // Runs newest first, without their named results and failures.
  std::vector<RunRecord> List(const RunFilter& filter);
  // The labels of [runs], read at once, set on each of them.
  void AddLabels(std::vector<RunRecord>& runs);
  // The run [id] with its labels, named results, failures and measurements.
  std::optional<RunRecord> Show(std::int64_t id);
  // Per day or week, oldest first; [named_result] empty for the script's own verdicts.
  std::vector<TrendPoint> Trend(const std::string& script, const std::string& named_result, Period period);
  // Whether any run of [script] is stored.
  bool HasScript(const std::string& script);
  // The measurements [script]'s runs have taken, by name.
  std::vector<MeasurementSummary> ScriptMeasurements(const std::string& script);
  // The numeric values of [script]'s measurement [name], oldest first: every one, or with
  // [count] > 0 the newest [count] of the runs up to [up_to_id] (0: the newest run) included.
  std::vector<MeasuredValue> MeasurementValues(const std::string& script, const std::string& name,
                                               std::int64_t up_to_id = 0, std::int64_t count = 0);
  // The names of the numeric measurements taken by [script]'s newest [runs] runs up to the run
  // [up_to_id] included, by name: read through the runs, so the cost follows [runs].
  std::vector<std::string> RecentMeasurementNames(const std::string& script, std::int64_t up_to_id, std::int64_t runs);
  // The numeric values taken by the runs of [where] from the run [from_id] on, oldest run first.
  std::vector<FolderMeasurement> FolderMeasurements(const StationFolder& where, std::int64_t from_id);
  // Within the last [last_runs] runs of each script (for a named result: its runs within those
  // runs of its script), by script, named result and version.
  std::vector<FlakyEntry> Flaky(std::int64_t last_runs);
  // The verdicts of the last [count] runs of [script] (and of its named result
  // [named_result] when not empty) up to the run [before_id] included, newest first.
  std::vector<Result> LastVerdicts(const std::string& script, const std::string& named_result,
                                   std::int64_t before_id, std::int64_t count);

  // The runs of the station's folder [where] from the run [from_id] on, newest first, at most
  // [count].
  std::vector<RunRecord> FolderRuns(const StationFolder& where, std::int64_t from_id, std::int64_t count);
  // The id of the [count]th newest run of [where] (the oldest of its newest [count]), or 0.
  std::int64_t FolderWindowStart(const StationFolder& where, std::int64_t count);
  // How many runs [where] holds, from a running count.
  std::int64_t FolderRunCount(const StationFolder& where);
  // Each script's runs per day in [where] from the day [since] ("YYYY-MM-DD") on, from running
  // counts: as many rows as scripts times days, whatever the runs.
  std::vector<ScriptDay> FolderDays(const StationFolder& where, const std::string& since);
  // The named results of [where]'s runs from [from_id] on: run id, label and result, newest
  // run first.
  struct NamedOutcome {
    std::int64_t run_id = 0;
    std::string label;
    Result result = TestNotRun;
  };
  std::vector<NamedOutcome> FolderNamedResults(const StationFolder& where, std::int64_t from_id);

  // Removes this station's runs older than [keep_days] days, or all but its newest [keep_runs]:
  // each run's rows and files (results document, report, log, record) go together or not at
  // all. A store a fleet shares keeps other stations' runs, whose files are on those stations.
  PruneOutcome PruneDays(std::int64_t keep_days);
  PruneOutcome PruneRuns(std::int64_t keep_runs);

  IStoreConnection& connection() { return *connection_; }

 private:
  PruneOutcome Prune(const std::vector<RunRecord>& runs);
  bool RemoveRun(const RunRecord& run, PruneOutcome* outcome);
  std::int64_t InsertRun(const RunRecord& run);
  void InsertDetails(std::int64_t id, const RunRecord& run);
  void InsertMeasurements(std::int64_t id, const RunRecord& run);
  void CountRun(const RunRecord& run, std::int64_t sign);

  std::unique_ptr<IStoreConnection> connection_;
};

}  // namespace ordalis::history
