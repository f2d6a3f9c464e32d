// Figures of the results store: writing one run, the index of a folder of 100,000 runs, a trend
// over them, a measurement's statistics over 100,000 runs, `ordalis run` in a folder whose store holds 100,000 runs beside an empty one, and
// the import of 10,000 results documents.

#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "history/measurement_statistics.h"
#include "history/results_store.h"
#include "report/history_import.h"
#include "report/store_index.h"

namespace {

namespace fs = std::filesystem;
using namespace ordalis;

// A folder of its own for one benchmark, removed when it goes.
class Scratch {
 public:
  explicit Scratch(const std::string& prefix)
      : path_(fs::temp_directory_path() / (prefix + std::to_string(getpid()))) {
    fs::remove_all(path_);
    fs::create_directories(path_ / "Results");
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  fs::path results() const { return path_ / "Results"; }
  const fs::path& path() const { return path_; }
  history::ResultsStore Store() const {
    return history::ResultsStore(history::StoreLocation{history::StoreKind::kSqlite, (results() / "results.db").string()});
  }

 private:
  fs::path path_;
};

// [count] runs of seven scripts over a hundred days in [folder], each with one named result.
void Seed(history::ResultsStore& store, const std::string& folder, int count) {
  std::string n = std::to_string(count);
  store.connection().Execute(
      "INSERT INTO runs (script, stamp, started, ended, day, verdict, n_passed, host, version_under_test, folder,"
      " results_path) WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + n + ")"
      " SELECT 'script' || (i % 7) || '.odl', 's' || i, date('2026-01-01', '+' || (i * 100 / " + n + ") || ' days') ||"
      " ' 10:00:00', date('2026-01-01', '+' || (i * 100 / " + n + ") || ' days') || ' 10:00:00',"
      " date('2026-01-01', '+' || (i * 100 / " + n + ") || ' days'), CASE WHEN i % 5 = 0 THEN 1 ELSE 0 END, 1,"
      " 'bench1', '1.0', '" + folder + "', '" + folder + "/s' || i || '.xml' FROM n");
  store.connection().Execute("INSERT INTO named_results (run_id, label, result) SELECT id, '5 V rail', verdict FROM runs");
  // The running counts the store keeps beside its rows.
  store.connection().Execute("INSERT INTO folder_runs SELECT host, folder, COUNT(*) FROM runs GROUP BY host, folder");
  store.connection().Execute(
      "INSERT INTO script_days SELECT host, folder, script, day, SUM(CASE WHEN verdict = 0 THEN 1 ELSE 0 END),"
      " SUM(CASE WHEN verdict IN (1, 4) THEN 1 ELSE 0 END), COUNT(*) FROM runs GROUP BY host, folder, script, day");
}

history::RunRecord SampleRun(int i) {
  history::RunRecord run;
  run.script = "power.odl";
  run.stamp = "power.odl_" + std::to_string(i);
  run.started = run.ended = "2026-03-02 10:00:00";
  run.verdict = TestPassed;
  run.results_path = "/results/" + run.stamp + ".xml";
  run.labels = {{"station", "3"}};
  for (const char* rail : {"3.3 V rail", "5 V rail", "12 V rail", "PING", "Current"}) {
    history::NamedResultRecord row;
    row.label = rail;
    run.named_results.push_back(row);
  }
  run.failures = {{"power.odl", 12, TestFailed, "rail = check(5.0)", "4.7"}, {"power.odl", 14, TestError, "x", ""}};
  return run;
}

// Target: at most 2 ms a run.
void BM_AppendOneRun(benchmark::State& state) {
  Scratch scratch("ordalis_bench_append_");
  history::ResultsStore store = scratch.Store();
  int i = 0;
  for (auto _ : state) store.Append(SampleRun(++i));
}
BENCHMARK(BM_AppendOneRun)->Unit(benchmark::kMillisecond)->UseRealTime();

// Target: written in at most 0.2 s, at most 2 MB.
void BM_IndexOfHundredThousandRuns(benchmark::State& state) {
  Scratch scratch("ordalis_bench_index_");
  history::ResultsStore store = scratch.Store();
  Seed(store, scratch.results().string(), 100000);
  std::string error;
  for (auto _ : state) {
    if (!report::WriteStoreIndex(scratch.results().string(), store, "bench1", &error)) state.SkipWithError(error.c_str());
  }
  state.counters["page_kB"] = static_cast<double>(fs::file_size(scratch.results() / "index.html")) / 1024.0;
}
BENCHMARK(BM_IndexOfHundredThousandRuns)->Unit(benchmark::kMillisecond)->UseRealTime();

// Target: at most 200 ms.
void BM_TrendOverHundredThousandRuns(benchmark::State& state) {
  Scratch scratch("ordalis_bench_trend_");
  history::ResultsStore store = scratch.Store();
  Seed(store, scratch.results().string(), 100000);
  std::string named = state.range(0) ? "5 V rail" : "";
  for (auto _ : state) benchmark::DoNotOptimize(store.Trend("script3.odl", named, history::Period::kDay));
}
BENCHMARK(BM_TrendOverHundredThousandRuns)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

double RunSeconds(const std::string& command);

// [count] runs of power.odl, each measuring its 5 V rail (with both limits) and its current.
void SeedMeasured(history::ResultsStore& store, const std::string& folder, int count) {
  Seed(store, folder, count);
  store.connection().Execute(
      "INSERT INTO measurements (run_id, script, name, kind, number, value_text, unit, low, high, comparison, result)"
      " SELECT id, 'power.odl', '5 V rail', 'number', 5.0 + (id % 17) * 0.003, '', 'V', 4.75, 5.25, 'GELE', 0 FROM runs");
  store.connection().Execute(
      "INSERT INTO measurements (run_id, script, name, kind, number, value_text, unit, low, comparison, result)"
      " SELECT id, 'power.odl', 'Current', 'number', 0.5, '', 'A', 0.1, 'GE', 0 FROM runs");
}

// `ordalis history trend power.odl:5 V rail` over 100,000 runs: the values read from the store
// and summed up. Target: at most 200 ms.
void BM_MeasurementTrendOverHundredThousandRuns(benchmark::State& state) {
  Scratch scratch("ordalis_bench_measure_");
  {
    history::ResultsStore store = scratch.Store();
    SeedMeasured(store, scratch.results().string(), 100000);
  }
  std::string command = "ORDALIS_USER_SETTINGS=" + (scratch.path() / "u.json").string() +
                        " ORDALIS_MACHINE_SETTINGS=" + (scratch.path() / "m.json").string() + " " +
                        ORDALIS_BINARY_DIR + "/ordalis history trend 'power.odl:5 V rail' --results-dir " +
                        scratch.results().string() + " >/dev/null 2>&1";
  for (auto _ : state) {
    double seconds = RunSeconds(command);
    if (seconds < 0) state.SkipWithError("ordalis history trend failed");
    state.SetIterationTime(seconds);
  }
}
BENCHMARK(BM_MeasurementTrendOverHundredThousandRuns)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(10);

// No target: the same values read and summed in this process, without starting the command.
void BM_MeasurementValuesOverHundredThousandRuns(benchmark::State& state) {
  Scratch scratch("ordalis_bench_values_");
  {
    history::ResultsStore seeded = scratch.Store();
    SeedMeasured(seeded, scratch.results().string(), 100000);
  }
  history::ResultsStore store = scratch.Store();
  for (auto _ : state) {
    std::vector<double> numbers;
    for (const auto& value : store.MeasurementValues("power.odl", "5 V rail")) numbers.push_back(value.number);
    benchmark::DoNotOptimize(history::Summarise(numbers, 4.75, 5.25));
  }
}
BENCHMARK(BM_MeasurementValuesOverHundredThousandRuns)->Unit(benchmark::kMillisecond)->UseRealTime();

// No target: the flaky list over every script's and named result's last 20 runs.
void BM_FlakyOverHundredThousandRuns(benchmark::State& state) {
  Scratch scratch("ordalis_bench_flaky_");
  history::ResultsStore store = scratch.Store();
  Seed(store, scratch.results().string(), 100000);
  for (auto _ : state) benchmark::DoNotOptimize(store.Flaky(20));
}
BENCHMARK(BM_FlakyOverHundredThousandRuns)->Unit(benchmark::kMillisecond)->UseRealTime();

double RunSeconds(const std::string& command) {
  auto start = std::chrono::steady_clock::now();
  int status = std::system(command.c_str());
  if (status != 0 && WEXITSTATUS(status) > 1) return -1;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// `ordalis run` of a one-statement script whose results folder's store holds [range(0)] runs.
// Target: the 100,000-run figure at most 1.3 times the empty one.
void BM_RunInFolderHolding(benchmark::State& state) {
  Scratch scratch("ordalis_bench_run_");
  {
    history::ResultsStore store = scratch.Store();
    if (state.range(0) > 0) Seed(store, scratch.results().string(), static_cast<int>(state.range(0)));
  }
  std::ofstream(scratch.path() / "one.odl") << "passed\n";
  std::string command = "ORDALIS_USER_SETTINGS=" + (scratch.path() / "u.json").string() +
                        " ORDALIS_MACHINE_SETTINGS=" + (scratch.path() / "m.json").string() + " " +
                        ORDALIS_BINARY_DIR + "/ordalis run --quiet --results-dir " + scratch.results().string() + " " +
                        (scratch.path() / "one.odl").string() + " >/dev/null 2>&1";
  for (auto _ : state) {
    double seconds = RunSeconds(command);
    if (seconds < 0) state.SkipWithError("ordalis run failed");
    state.SetIterationTime(seconds);
  }
}
BENCHMARK(BM_RunInFolderHolding)->Arg(0)->Arg(100000)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(10);

// Target: 10,000 documents in at most 30 s.
void BM_ImportTenThousandDocuments(benchmark::State& state) {
  Scratch scratch("ordalis_bench_import_");
  std::ofstream(scratch.path() / "one.odl") << "result \"Rail\" passed\nfailed\n";
  std::string run = "ORDALIS_USER_SETTINGS=" + (scratch.path() / "u.json").string() + " ORDALIS_MACHINE_SETTINGS=" +
                    (scratch.path() / "m.json").string() + " " + ORDALIS_BINARY_DIR + "/ordalis run --quiet --results-db " +
                    (scratch.path() / "unused.db").string() + " --results-dir " + (scratch.path() / "seed").string() +
                    " " + (scratch.path() / "one.odl").string() + " >/dev/null 2>&1";
  RunSeconds(run);
  fs::path document;
  for (const auto& entry : fs::directory_iterator(scratch.path() / "seed")) {
    if (entry.path().extension() == ".xml" && entry.path().filename().string().starts_with("one.odl_")) document = entry.path();
  }
  for (int i = 0; i < 10000; ++i) fs::copy_file(document, scratch.results() / ("one.odl_" + std::to_string(i) + ".xml"));
  for (auto _ : state) {
    fs::remove(scratch.results() / "results.db");
    history::ResultsStore store = scratch.Store();
    report::ImportOutcome outcome = report::ImportResults({scratch.results().string()}, store);
    if (outcome.added != 10000) state.SkipWithError("not every document was imported");
  }
}
BENCHMARK(BM_ImportTenThousandDocuments)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
