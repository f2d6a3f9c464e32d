// `ordalis history` on a seeded store: each row gives the arguments, the exit status, and what
// the output must hold (or, for --json, the JSON it must equal).

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "history_test_support.h"

namespace ordalis::history {
namespace {

RunRecord Seeded(const std::string& script, const std::string& ended, Result verdict, const std::string& version) {
  RunRecord run;
  run.script = script;
  run.stamp = script + "_" + ended;
  run.started = ended;
  run.ended = ended;
  run.verdict = verdict;
  run.counts[verdict] = 1;
  run.host = "bench1";
  run.version_under_test = version;
  run.results_path = "/results/" + run.stamp + ".xml";
  return run;
}

NamedResultRecord Named(const std::string& label, Result result) {
  NamedResultRecord row;
  row.label = label;
  row.result = result;
  return row;
}

// power.odl: passes, fails on its 5 V rail, passes on version 1.0, then passes on 1.1; steady.odl
// always passes, on another bench, once with a label.
void Seed(ResultsStore& store) {
  RunRecord first = Seeded("power.odl", "2026-03-02 09:00:00", TestPassed, "1.0");
  first.named_results = {Named("5 V rail", TestPassed)};
  RunRecord second = Seeded("power.odl", "2026-03-02 10:00:00", TestFailed, "1.0");
  second.named_results = {Named("5 V rail", TestFailed)};
  second.failures = {{"power.odl", 12, TestFailed, "rail = check(5.0)", "4.7"}};
  RunRecord third = Seeded("power.odl", "2026-03-03 09:00:00", TestPassed, "1.0");
  third.named_results = {Named("5 V rail", TestPassed)};
  RunRecord steady = Seeded("steady.odl", "2026-03-03 11:00:00", TestPassed, "1.0");
  steady.host = "bench2";
  steady.labels = {{"station", "3"}};
  RunRecord later = Seeded("power.odl", "2026-03-10 09:00:00", TestPassed, "1.1");
  later.named_results = {Named("5 V rail", TestPassed)};
  for (const RunRecord& run : {first, second, third, steady, later}) store.Append(run);
}

struct CommandCase {
  const char* name;
  const char* args;
  int status;
  std::vector<std::string> holds;   // texts the output holds
  std::vector<std::string> lacks;   // texts it must not hold
  const char* json = "";            // the JSON it equals, when not empty
};

const CommandCase kCases[] = {
    {"ListsNewestFirst", "list", 0, {"RUN", "5    2026-03-10 09:00:00  power.odl"}, {}},
    {"ListByVerdict", "list --verdict failed", 0, {"2026-03-02 10:00:00"}, {"steady.odl", "Passed"}},
    {"ListByLabel", "list --label station=3", 0, {"steady.odl", "station=3"}, {"power.odl"}},
    {"ListByHost", "list --host bench2", 0, {"steady.odl"}, {"power.odl"}},
    {"ListSince", "list --since 2026-03-10", 0, {"2026-03-10"}, {"2026-03-0"}},
    {"ListUntilCoversTheDay", "list --until 2026-03-02", 0, {"2026-03-02 09:00", "2026-03-02 10:00"}, {"2026-03-03"}},
    {"ListOfAScript", "list --script /lab/steady.odl --limit 1", 0, {"steady.odl"}, {"power.odl"}},
    {"UnknownVerdict", "list --verdict sometimes", 2, {"no result is called 'sometimes'"}, {}},
    {"ShowsARun", "show 2", 0, {"Verdict:            Failed", "5 V rail", "power.odl(12): Failed: rail = check(5.0)"}, {}},
    {"ShowsNoSuchRun", "show 99", 1, {"no run 99"}, {}},
    {"TrendPerDay", "trend power.odl --json", 0, {}, {},
     R"([{"period":"2026-03-02","passed":1,"failed":1,"runs":2},{"period":"2026-03-03","passed":1,"failed":0,"runs":1},
         {"period":"2026-03-10","passed":1,"failed":0,"runs":1}])"},
    {"TrendOfANamedResultPerWeek", "trend 'power.odl:5 V rail' --week --json", 0, {}, {},
     R"([{"period":"2026-03-02","passed":2,"failed":1,"runs":3},{"period":"2026-03-09","passed":1,"failed":0,"runs":1}])"},
    {"TrendTable", "trend power.odl", 0, {"DAY", "50.0%", "100.0%"}, {}},
    {"FlakyOnTheSameVersion", "flaky --json", 0, {}, {},
     R"([{"script":"power.odl","named_result":"","version_under_test":"1.0","passed":2,"failed":1,"runs":3},
         {"script":"power.odl","named_result":"5 V rail","version_under_test":"1.0","passed":2,"failed":1,"runs":3}])"},
    {"FlakyOnlyWithinTheLastRuns", "flaky --last 2 --json", 0, {}, {}, "[]"},
    {"ExportCsv", "export --format csv --script steady.odl", 0,
     {"id,script,started", "4,steady.odl,2026-03-03 11:00:00"}, {"power.odl"}},
    {"ExportNeedsAFormat", "export", 2, {"--format csv or --format json"}, {}},
    {"PruneNeedsOneLimit", "prune", 2, {"--keep-days N and --keep-runs N"}, {}},
    {"UnknownCommand", "forget", 2, {"unknown command 'forget'"}, {}},
};

void PrintTo(const CommandCase& c, std::ostream* out) { *out << c.args; }

class HistoryCommand : public HistoryScratch, public testing::WithParamInterface<CommandCase> {};

TEST_P(HistoryCommand, AnswersFromTheStore) {
  {
    ResultsStore store = OpenStore();
    Seed(store);
  }
  const CommandCase& c = GetParam();
  auto outcome = testing_support::RunCommandLine(
      testing_support::OrdalisCommandLine("history " + std::string(c.args) + " --results-db " + StorePath()));
  EXPECT_EQ(outcome.status, c.status) << outcome.output;
  for (const std::string& text : c.holds) EXPECT_NE(outcome.output.find(text), std::string::npos) << text << "\n" << outcome.output;
  for (const std::string& text : c.lacks) EXPECT_EQ(outcome.output.find(text), std::string::npos) << text << "\n" << outcome.output;
  if (*c.json) {
    EXPECT_EQ(nlohmann::json::parse(outcome.output, nullptr, false), nlohmann::json::parse(c.json)) << outcome.output;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, HistoryCommand, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<CommandCase>& info) { return std::string(info.param.name); });

TEST_F(HistoryScratch, AskingAFolderWithoutAStoreMakesNone) {
  auto outcome = testing_support::RunCommandLine(
      testing_support::OrdalisCommandLine("history list --results-dir " + (dir_ / "Results").string()));
  EXPECT_EQ(outcome.status, 2);
  EXPECT_NE(outcome.output.find("no results store"), std::string::npos) << outcome.output;
  EXPECT_FALSE(fs::exists(StorePath()));
}

}  // namespace
}  // namespace ordalis::history
