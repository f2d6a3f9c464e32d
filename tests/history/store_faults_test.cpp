// A results store that cannot be written costs the run nothing: the verdict, the files and the
// exit status are those of a run without a store, and the fault is named on the console and in
// the run's log. Runs finishing together all land.

#include <sqlite3.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "history_test_support.h"

namespace ordalis::history {
namespace {

// The password of the stores above; no message may show it.
constexpr const char* kPassword = "s3cret-pw";

struct FaultCase {
  const char* name;
  // Spoils the store of [test] (a scratch folder) and returns the --results-db option to use.
  std::function<std::string(const fs::path& dir)> spoil;
  const char* reason;  // what the warning says
};

void PrintTo(const FaultCase& fault, std::ostream* out) { *out << fault.name; }

// Holds the write lock of an SQLite file for as long as it lives, as another writer would.
class HeldLock {
 public:
  explicit HeldLock(const std::string& path) {
    sqlite3_open(path.c_str(), &db_);
    sqlite3_exec(db_, "PRAGMA journal_mode=WAL; CREATE TABLE IF NOT EXISTS t (x); BEGIN EXCLUSIVE; INSERT INTO t VALUES (1)",
                 nullptr, nullptr, nullptr);
  }
  ~HeldLock() { sqlite3_close(db_); }

 private:
  sqlite3* db_ = nullptr;
};

const FaultCase kFaults[] = {
    {"CorruptFile",
     [](const fs::path& dir) {
       WriteText(dir / "Results" / kStoreFile, std::string(8192, 'x'));
       return std::string();
     },
     "not a database"},
    {"FolderThatIsAFile",
     [](const fs::path& dir) {
       WriteText(dir / "plain", "a file, not a folder");
       return "--results-db " + (dir / "plain" / "results.db").string();
     },
     "cannot open"},
    {"ServerDown",
     [](const fs::path& dir) {
       // A socket folder no server listens in: the server of a fleet that is down.
       fs::create_directories(dir / "no-server");
       return "--results-db postgresql://lab:" + std::string(kPassword) + "@/runs?host=" + (dir / "no-server").string();
     },
     "Is the server running"},
};

class StoreFault : public HistoryScratch, public testing::WithParamInterface<FaultCase> {};

TEST_P(StoreFault, RunKeepsItsVerdictFilesAndStatus) {
  std::string option = GetParam().spoil(dir_);
  auto outcome = Run(option + " " + Script("rail.odl", false));
  EXPECT_EQ(outcome.status, 1) << outcome.output;  // the failing script's own status
  EXPECT_NE(outcome.output.find("cannot write the results store"), std::string::npos) << outcome.output;
  EXPECT_NE(outcome.output.find(GetParam().reason), std::string::npos) << outcome.output;
  EXPECT_NE(outcome.output.find("Overall Script Result Failed"), std::string::npos) << outcome.output;
  EXPECT_EQ(outcome.output.find(kPassword), std::string::npos) << outcome.output;
  bool document = false;
  bool logged = false;
  for (const auto& entry : fs::directory_iterator(dir_ / "Results")) {
    std::string name = entry.path().filename().string();
    if (name.size() > 4 && name.ends_with(".xml") && name.starts_with("rail.odl_")) document = true;
    if (name.ends_with(".log")) logged = ReadText(entry.path()).find("Results store not written") != std::string::npos;
  }
  EXPECT_TRUE(document);
  EXPECT_TRUE(logged) << "the run's log has no severe line about the store";
}

INSTANTIATE_TEST_SUITE_P(Faults, StoreFault, testing::ValuesIn(kFaults),
                         [](const testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

TEST_F(HistoryScratch, StoreLockedPastItsTimeoutLosesNothingButTheRow) {
  HeldLock lock(StorePath());
  setenv(kBusyTimeoutVariable, "50", 1);
  auto outcome = Run(Script("rail.odl"));
  unsetenv(kBusyTimeoutVariable);
  EXPECT_EQ(outcome.status, 0) << outcome.output;
  EXPECT_NE(outcome.output.find("database is locked"), std::string::npos) << outcome.output;
}

// A store on a small tmpfs (in a private mount namespace) that is filled up for real.
TEST_F(HistoryScratch, StoreOnAFullDiskLosesNothingButTheRow) {
  if (testing_support::RunCommandLine("unshare -rm true 2>&1").status != 0) GTEST_SKIP() << "no private mounts here";
  fs::path mount = dir_ / "small";
  fs::create_directories(mount);
  std::string run = testing_support::OrdalisCommandLine(
      "run --quiet --label unit=" + std::string(4000, 'u') + " --results-db " + (mount / kStoreFile).string() +
      " --results-dir " + (dir_ / "Results").string() + " " + Script("rail.odl"));
  std::string script = "mount -t tmpfs -o size=256k tmpfs " + mount.string() + " || exit 9\n" + run +
                       " >/dev/null\ndd if=/dev/zero of=" + (mount / "fill").string() + " bs=1k 2>/dev/null\n" + run +
                       "\necho status=$?\n";
  WriteText(dir_ / "full.sh", script);
  auto outcome = testing_support::RunCommandLine("unshare -rm sh " + (dir_ / "full.sh").string() + " 2>&1");
  EXPECT_NE(outcome.output.find("status=0"), std::string::npos) << outcome.output;
  EXPECT_NE(outcome.output.find("cannot write the results store"), std::string::npos) << outcome.output;
  std::size_t documents = 0;
  for (const auto& entry : fs::directory_iterator(dir_ / "Results")) documents += entry.path().extension() == ".xml" &&
                                                                                  entry.path().filename().string().starts_with("rail.odl_");
  EXPECT_EQ(documents, 2u) << "both runs keep their results documents";
}

TEST_F(HistoryScratch, TwentyRunsFinishingTogetherAllLand) {
  constexpr int kRuns = 20;
  std::string line = "status=0; ";
  for (int i = 0; i < kRuns; ++i) {
    line += testing_support::OrdalisCommandLine("run --quiet --label unit=" + std::to_string(i) +
                                                " --results-dir " + (dir_ / "Results").string() + " " +
                                                Script("unit" + std::to_string(i) + ".odl")) +
            " >" + (dir_ / ("out" + std::to_string(i))).string() + " & ";
  }
  line += "for job in $(jobs -p); do wait $job || status=1; done; cat " + (dir_ / "out*").string() + "; exit $status";
  auto outcome = testing_support::RunCommandLine(line);
  EXPECT_EQ(outcome.status, 0) << outcome.output;
  EXPECT_EQ(outcome.output.find("results store"), std::string::npos) << outcome.output;
  ResultsStore store = OpenStore();
  EXPECT_EQ(store.List({}).size(), static_cast<std::size_t>(kRuns));
}

TEST_F(HistoryScratch, RunIsStoredWithItsLabelsNamedResultsAndFailures) {
  auto outcome = Run("--label station=3 --label unit=SN7 " + Script("rail.odl", false));
  ASSERT_EQ(outcome.status, 1) << outcome.output;
  ResultsStore store = OpenStore();
  std::vector<RunRecord> runs = store.List({});
  ASSERT_EQ(runs.size(), 1u);
  std::optional<RunRecord> run = store.Show(runs[0].id);
  ASSERT_TRUE(run);
  EXPECT_EQ(run->script, "rail.odl");
  EXPECT_EQ(run->verdict, TestFailed);
  EXPECT_TRUE(fs::exists(run->results_path));
  EXPECT_TRUE(fs::exists(run->log_path));
  EXPECT_TRUE(fs::exists(run->report_path));
  EXPECT_EQ(run->labels, (std::vector<std::pair<std::string, std::string>>{{"station", "3"}, {"unit", "SN7"}}));
  ASSERT_EQ(run->named_results.size(), 1u);
  EXPECT_EQ(run->named_results[0].label, "Rail 5V");
  EXPECT_EQ(run->named_results[0].result, TestFailed);
  ASSERT_FALSE(run->failures.empty());
  EXPECT_EQ(run->failures[0].line, 2);
}

TEST_F(HistoryScratch, ReportShowsTheLastVerdictsAndTheIndexComesFromTheStore) {
  // The script is rewritten before each run, so its verdicts go pass, fail, pass.
  std::vector<std::string> reports;
  for (bool passes : {true, false, true}) {
    Script("rail.odl", passes);
    Run(dir_.string() + "/rail.odl");
    reports.push_back(OpenStore().List({})[0].report_path);
  }
  std::string page = ReadText(reports.back());
  std::size_t strip = page.find("<section id=\"history-strip\">");
  ASSERT_NE(strip, std::string::npos);
  std::string verdicts;
  for (std::size_t at = page.find("title=\"", strip); at != std::string::npos && at < page.find("</section>", strip);
       at = page.find("title=\"", at + 1)) {
    verdicts += page.substr(at + 7, page.find('"', at + 7) - at - 7) + " ";
  }
  EXPECT_EQ(verdicts, "Passed Failed Passed Passed Failed Passed ") << "the script's, then its named result's";
  std::string index = ReadText(dir_ / "Results" / "index.html");
  EXPECT_NE(index.find("3 runs in the results store"), std::string::npos);
  EXPECT_NE(index.find("<svg class=\"trend\""), std::string::npos);
}

TEST_F(HistoryScratch, BatchRunsAreMarkedWithTheirBatchAndAttempt) {
  Script("flaky.odl", false);
  Script("steady.odl");
  auto outcome = testing_support::RunCommandLine(
      "cd " + dir_.string() + " && " +
      testing_support::OrdalisCommandLine("batch run --retry 1 --label line=B flaky.odl steady.odl"));
  ASSERT_EQ(outcome.status, 1) << outcome.output;
  ResultsStore store = OpenStore();
  std::vector<std::tuple<std::string, std::string, std::int64_t>> seen;
  for (const RunRecord& run : store.List({})) seen.emplace_back(run.script, run.batch, run.attempt);
  // The batch itself comes last, as attempt 0 of its name, and carries the batch's labels too.
  std::vector<std::tuple<std::string, std::string, std::int64_t>> expected = {
      {"BatchQueue", "BatchQueue", 0},
      {"steady.odl", "BatchQueue", 1},
      {"flaky.odl", "BatchQueue", 2},
      {"flaky.odl", "BatchQueue", 1}};
  EXPECT_EQ(seen, expected);
  RunFilter labelled;
  labelled.labels = {{"line", "B"}};
  EXPECT_EQ(store.List(labelled).size(), 4u);
}

}  // namespace
}  // namespace ordalis::history
