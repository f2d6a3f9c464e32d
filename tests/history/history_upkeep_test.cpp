// Filling a store from results on disk and trimming it: an import may be repeated without
// doubling a run, and a pruned run loses its rows and its files together or keeps both.

#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "history_test_support.h"

namespace ordalis::history {
namespace {

testing_support::CommandOutcome History(const std::string& args) {
  return testing_support::RunCommandLine(testing_support::OrdalisCommandLine("history " + args));
}

// The results documents a few runs leave in the scratch Results folder.
std::vector<fs::path> Documents(const fs::path& results) {
  std::vector<fs::path> documents;
  for (const auto& entry : fs::directory_iterator(results)) {
    std::string name = entry.path().filename().string();
    if (name.ends_with(".xml") && name.find(".odl_") != std::string::npos) documents.push_back(entry.path());
  }
  return documents;
}

// An import fills a store again from the documents as the batch's own runs filled it: the
// script runs marked with their attempts, the command entry's attempts and the batch itself.
TEST_F(HistoryScratch, ImportIsIdempotentAndKeepsBatchAttempts) {
  Script("flaky.odl", false);
  Script("steady.odl");
  WriteText(dir_ / "probe.sh", "exit 3\n");
  auto batch = testing_support::RunCommandLine(
      "cd " + dir_.string() + " && " +
      testing_support::OrdalisCommandLine("batch run --retry 1 flaky.odl steady.odl probe.sh"));
  ASSERT_EQ(batch.status, 1) << batch.output;
  using Row = std::tuple<std::string, std::string, std::int64_t, Result>;
  auto rows = [](ResultsStore& store) {
    std::multiset<Row> seen;
    for (const RunRecord& run : store.List({})) seen.emplace(run.script, run.batch, run.attempt, run.verdict);
    return seen;
  };
  ResultsStore live = OpenStore();
  std::multiset<Row> expected = {{"BatchQueue", "BatchQueue", 0, TestFailed},
                                 {"flaky.odl", "BatchQueue", 1, TestFailed},
                                 {"flaky.odl", "BatchQueue", 2, TestFailed},
                                 {"steady.odl", "BatchQueue", 1, TestPassed},
                                 {"probe.sh", "BatchQueue", 1, TestFailed},
                                 {"probe.sh", "BatchQueue", 2, TestFailed}};
  EXPECT_EQ(rows(live), expected);
  fs::remove(StorePath());  // results written before there was a store
  std::string store = " --results-db " + (dir_ / "imported.db").string();
  std::string folder = (dir_ / "Results").string();
  auto first = History("import " + folder + store);
  EXPECT_EQ(first.status, 0) << first.output;
  EXPECT_NE(first.output.find("Added 6 runs, skipped 0"), std::string::npos) << first.output;
  auto again = History("import " + folder + store);
  EXPECT_NE(again.output.find("Added 0 runs, skipped 6"), std::string::npos) << again.output;
  ResultsStore imported(StoreLocation{StoreKind::kSqlite, (dir_ / "imported.db").string()});
  EXPECT_EQ(rows(imported), expected);
}

// A store the fleet shares may hold another station's runs of documents of the same paths as
// this station's: importing this station's folder adds its own runs and marks its own batch
// attempts, and leaves the other station's rows as they were.
TEST_F(HistoryScratch, ImportKeepsThisStationsRunsApartFromAnotherStationsOfTheSamePaths) {
  Script("flaky.odl", false);
  auto batch = testing_support::RunCommandLine("cd " + dir_.string() + " && " +
                                               testing_support::OrdalisCommandLine("batch run --retry 1 flaky.odl"));
  ASSERT_EQ(batch.status, 1) << batch.output;
  // The script runs; the batch itself is a run of the store too (attempt 0 of its name).
  std::vector<RunRecord> own = OpenStore().List({});
  std::erase_if(own, [](const RunRecord& run) { return run.attempt == 0; });
  ASSERT_EQ(own.size(), 2u);
  std::string shared = (dir_ / "shared.db").string();
  ResultsStore fleet(StoreLocation{StoreKind::kSqlite, shared});
  for (RunRecord run : own) {
    run.host = "station-elsewhere";
    run.batch.clear();
    run.attempt = 0;
    ASSERT_EQ(fleet.Append(run), AppendOutcome::kAdded);
  }
  auto outcome = History("import " + (dir_ / "Results").string() + " --results-db " + shared);
  EXPECT_EQ(outcome.status, 0) << outcome.output;
  EXPECT_NE(outcome.output.find("Added 3 runs, skipped 0"), std::string::npos) << outcome.output;
  std::multiset<std::tuple<std::string, std::string, std::int64_t>> seen;
  for (const RunRecord& run : fleet.List({})) seen.emplace(run.host, run.batch, run.attempt);
  std::multiset<std::tuple<std::string, std::string, std::int64_t>> expected = {
      {own[0].host, "BatchQueue", 0}, {own[0].host, "BatchQueue", 1}, {own[0].host, "BatchQueue", 2},
      {"station-elsewhere", "", 0}, {"station-elsewhere", "", 0}};
  EXPECT_EQ(seen, expected);
}

TEST_F(HistoryScratch, ImportNamesWhatItCannotRead) {
  WriteText(dir_ / "notes.xml", "<notes/>");
  auto outcome = History("import " + (dir_ / "notes.xml").string() + " --results-db " + StorePath());
  EXPECT_EQ(outcome.status, 2);
  EXPECT_NE(outcome.output.find("no results document"), std::string::npos) << outcome.output;
}

TEST_F(HistoryScratch, PruneRemovesRowsAndFilesTogether) {
  for (const char* name : {"one.odl", "two.odl", "three.odl"}) ASSERT_EQ(Run(Script(name)).status, 0);
  ASSERT_EQ(Documents(dir_ / "Results").size(), 3u);
  auto outcome = History("prune --keep-runs 1 --results-db " + StorePath());
  EXPECT_EQ(outcome.status, 0) << outcome.output;
  std::vector<fs::path> left = Documents(dir_ / "Results");
  ASSERT_EQ(left.size(), 1u);
  std::vector<RunRecord> runs = OpenStore().List({});
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(fs::path(runs[0].results_path), left[0]);
  for (const auto& entry : fs::directory_iterator(dir_ / "Results")) {
    EXPECT_EQ(entry.path().filename().string().find("one.odl"), std::string::npos) << entry.path();
  }
}

TEST_F(HistoryScratch, PruneKeepsARunWhoseFileCannotBeRemoved) {
  ASSERT_EQ(Run(Script("held.odl")).status, 0);
  RunRecord run = OpenStore().List({})[0];
  // A folder with something in it where the log would be set aside stops its removal.
  fs::create_directories(run.log_path + ".pruned/inside");
  auto outcome = History("prune --keep-runs 0 --results-db " + StorePath());
  EXPECT_EQ(outcome.status, 1) << outcome.output;
  EXPECT_NE(outcome.output.find("kept run"), std::string::npos) << outcome.output;
  EXPECT_EQ(OpenStore().List({}).size(), 1u);
  for (const std::string& path : {run.results_path, run.report_path, run.log_path, run.record_path}) {
    EXPECT_TRUE(fs::exists(path)) << path;
  }
}

}  // namespace
}  // namespace ordalis::history
