// Measurements in the results store: a store written before it kept them opens and takes them;
// each kind of measurement comes back as it went in; and `ordalis history trend
// SCRIPT:MEASUREMENT` gives a measurement's statistics and process capability over the runs,
// with clear errors for what the store does not hold.

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "history/sqlite_backend.h"
#include "history/store_schema.h"
#include "history_test_support.h"

namespace ordalis::history {
namespace {

Measurement Measured(const std::string& name, double number, std::optional<double> low, std::optional<double> high,
                     const std::string& unit = "V") {
  Measurement m;
  m.name = name;
  m.number = number;
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", number);
  m.text = text;
  m.unit = unit;
  m.low = low;
  m.high = high;
  m.comparison = low && high ? Comparison::kBetweenInclusive : low ? Comparison::kAtLeast : Comparison::kLogOnly;
  return m;
}

RunRecord RunOf(const std::string& script, int n, std::vector<Measurement> measurements) {
  RunRecord run;
  run.script = script;
  run.stamp = script + "_" + std::to_string(n);
  run.started = run.ended = "2026-03-02 09:00:00";
  run.verdict = TestPassed;
  run.host = "bench1";
  run.folder = "/lab/Results";
  run.results_path = "/lab/Results/" + run.stamp + ".xml";
  run.named_results = {{"Rail", TestPassed, {}, script, 3, 0.0}};
  for (Measurement& m : measurements) run.measurements.push_back({std::move(m), "/lab/" + script, 7});
  return run;
}

// The cases below hold each field against what went in.
void ExpectSame(const MeasurementRecord& got, const MeasurementRecord& want) {
  const Measurement& g = got.measurement;
  const Measurement& w = want.measurement;
  EXPECT_EQ(g.name, w.name);
  EXPECT_EQ(g.kind, w.kind) << w.name;
  EXPECT_DOUBLE_EQ(g.number, w.number) << w.name;
  EXPECT_EQ(g.text, w.text);
  EXPECT_EQ(g.unit, w.unit);
  EXPECT_EQ(g.low, w.low) << w.name;
  EXPECT_EQ(g.high, w.high) << w.name;
  EXPECT_EQ(g.comparison, w.comparison) << w.name;
  EXPECT_EQ(g.result, w.result) << w.name;
  EXPECT_EQ(got.file, want.file);
  EXPECT_EQ(got.line, want.line);
}

std::vector<MeasurementRecord> EveryKind() {
  Measurement text;
  text.name = "Serial", text.kind = MeasuredKind::kText, text.text = "SN-1042 \xCE\xA9";
  text.comparison = Comparison::kEqual, text.result = TestFailed;
  Measurement flag;
  flag.name = "Fan on", flag.kind = MeasuredKind::kBoolean, flag.number = 1, flag.text = "true";
  Measurement exclusive = Measured("Ripple", 0.012, 0.0, 0.05, "V");
  exclusive.comparison = Comparison::kBetweenExclusive;
  Measurement temperature = Measured("Case", 41.5, std::nullopt, 70.0, "\xC2\xB0""C");
  temperature.comparison = Comparison::kAtMost;
  return {{Measured("3.3 V rail", 4.9963, 3.2, 3.4), "/lab/power.odl", 12},
          {Measured("Current", -0.25, -1.0, std::nullopt, "A"), "/lab/power.odl", 13},
          {exclusive, "/lab/power.odl", 14},
          {temperature, "/lab/power.odl", 15},
          {text, "/lab/power.odl", 16},
          {flag, "/lab/power.odl", 17}};
}

TEST_F(HistoryScratch, EveryKindOfMeasurementComesBackAsItWentIn) {
  ResultsStore store = OpenStore();
  RunRecord run = RunOf("power.odl", 1, {});
  run.measurements = EveryKind();
  std::int64_t id = 0;
  store.Append(run, &id);
  std::optional<RunRecord> shown = store.Show(id);
  ASSERT_TRUE(shown);
  ASSERT_EQ(shown->measurements.size(), run.measurements.size());
  for (std::size_t i = 0; i < run.measurements.size(); ++i) ExpectSame(shown->measurements[i], run.measurements[i]);
}

// A store as the ordalis before measurements left it: opened, it is brought to the current
// version with its run intact, and takes runs with measurements.
// A tester's NaN or infinity would not fit the store's number column: the run still lands, the
// value kept as its text and the limit as none, and the statistics skip it.
TEST_F(HistoryScratch, ValueThatIsNoFiniteNumberIsKeptAsText) {
  ResultsStore store = OpenStore();
  Measurement nan = Measured("5 V rail", std::nan(""), 4.75, std::numeric_limits<double>::infinity());
  nan.text = "nan";
  std::int64_t id = 0;
  ASSERT_EQ(store.Append(RunOf("power.odl", 1, {nan, Measured("5 V rail", 5.0, 4.75, 5.25)}), &id),
            AppendOutcome::kAdded);
  std::optional<RunRecord> shown = store.Show(id);
  ASSERT_TRUE(shown);
  ASSERT_EQ(shown->measurements.size(), 2u);
  EXPECT_EQ(shown->measurements[0].measurement.kind, MeasuredKind::kText);
  EXPECT_EQ(shown->measurements[0].measurement.text, "nan");
  EXPECT_EQ(shown->measurements[0].measurement.high, std::nullopt);
  EXPECT_EQ(store.MeasurementValues("power.odl", "5 V rail").size(), 1u);
}

TEST_F(HistoryScratch, StoreWrittenBeforeMeasurementsIsUpgradedAndKeepsItsRuns) {
  {
    auto connection = OpenSqliteStore(StorePath());
    connection->Execute(ReadText(fs::path(ORDALIS_TEST_DATA_DIR) / "store_version_1.sql"));
  }
  ResultsStore store = OpenStore();
  auto version = store.connection().Prepare("SELECT version FROM store_schema");
  ASSERT_TRUE(version->Step());
  EXPECT_EQ(version->Integer(0), kSchemaVersion);
  std::optional<RunRecord> old = store.Show(1);
  ASSERT_TRUE(old);
  EXPECT_EQ(old->script, "power.odl");
  EXPECT_EQ(old->labels, (std::vector<std::pair<std::string, std::string>>{{"station", "3"}}));
  ASSERT_EQ(old->named_results.size(), 1u);
  EXPECT_EQ(old->named_results[0].label, "Rail 5V");
  EXPECT_EQ(old->failures.size(), 1u);
  EXPECT_TRUE(old->measurements.empty());

  std::int64_t id = 0;
  store.Append(RunOf("power.odl", 2, {Measured("5 V rail", 5.01, 4.75, 5.25)}), &id);
  std::optional<RunRecord> added = store.Show(id);
  ASSERT_TRUE(added);
  ASSERT_EQ(added->measurements.size(), 1u);
  EXPECT_DOUBLE_EQ(added->measurements[0].measurement.number, 5.01);
  EXPECT_EQ(store.MeasurementValues("power.odl", "5 V rail").size(), 1u);
}

TEST_F(HistoryScratch, PruningARunRemovesItsMeasurements) {
  ResultsStore store = OpenStore();
  RunRecord run = RunOf("power.odl", 1, {Measured("5 V rail", 5.01, 4.75, 5.25)});
  run.host = ThisHost();
  store.Append(run);
  EXPECT_EQ(store.PruneRuns(0).runs_removed, 1);
  auto left = store.connection().Prepare("SELECT COUNT(*) FROM measurements");
  ASSERT_TRUE(left->Step());
  EXPECT_EQ(left->Integer(0), 0);
}

// power.odl took "5 V rail" a hundred times, alternately 4.9 V and 5.1 V, against 4.7–5.2 V;
// "Ripple" 29 times with both limits; "Current" a hundred times with a low limit only;
// "Serial" as text. steady.odl took none.
void SeedHundredRuns(ResultsStore& store) {
  for (int i = 0; i < 100; ++i) {
    std::vector<Measurement> taken = {Measured("5 V rail", i % 2 ? 5.1 : 4.9, 4.7, 5.2),
                                      Measured("Current", 0.5 + 0.01 * (i % 7), 0.1, std::nullopt, "A")};
    if (i < 29) taken.push_back(Measured("Ripple", 0.01 * (i % 3), 0.0, 0.05));
    Measurement serial;
    serial.name = "Serial", serial.kind = MeasuredKind::kText, serial.text = "SN" + std::to_string(i);
    taken.push_back(serial);
    store.Append(RunOf("power.odl", i, taken));
  }
  store.Append(RunOf("steady.odl", 0, {}));
}

testing_support::CommandOutcome History(const std::string& args, const std::string& store) {
  return testing_support::RunCommandLine(
      testing_support::OrdalisCommandLine("history " + args + " --results-db " + store));
}

TEST_F(HistoryScratch, TrendOfAMeasurementGivesCpkAsComputedByHand) {
  {
    ResultsStore store = OpenStore();
    SeedHundredRuns(store);
  }
  auto outcome = History("trend 'power.odl:5 V rail' --json", StorePath());
  ASSERT_EQ(outcome.status, 0) << outcome.output;
  nlohmann::json got = nlohmann::json::parse(outcome.output, nullptr, false);
  ASSERT_FALSE(got.is_discarded()) << outcome.output;
  // By hand: the mean is 5.0; each of the 100 values lies 0.1 from it, so the sample standard
  // deviation is s = sqrt(100 × 0.1² / 99). Cp = (5.2 - 4.7) / 6s, and the mean is nearer the
  // high limit, so Cpk = (5.2 - 5.0) / 3s.
  double s = std::sqrt(100 * 0.01 / 99);
  EXPECT_EQ(got["count"], 100);
  EXPECT_NEAR(got["min"].get<double>(), 4.9, 1e-12);
  EXPECT_NEAR(got["max"].get<double>(), 5.1, 1e-12);
  EXPECT_NEAR(got["mean"].get<double>(), 5.0, 1e-12);
  EXPECT_NEAR(got["standard_deviation"].get<double>(), s, 1e-12);
  EXPECT_NEAR(got["cp"].get<double>(), 0.5 / (6 * s), 1e-9);
  EXPECT_NEAR(got["cpk"].get<double>(), 0.2 / (3 * s), 1e-9);
  EXPECT_NEAR(got["cpk"].get<double>(), 0.66332, 1e-5);
  EXPECT_EQ(got["unit"], "V");

  auto table = History("trend 'power.odl:5 V rail'", StorePath());
  EXPECT_NE(table.output.find("Cpk:            0.66332"), std::string::npos) << table.output;
  EXPECT_NE(table.output.find("(sample, n-1)"), std::string::npos) << table.output;
}

struct TrendCase {
  const char* name;
  const char* args;
  int status;
  std::vector<std::string> holds;
  std::vector<std::string> lacks;
};

const TrendCase kTrendCases[] = {
    {"TableOfAMeasurement", "trend 'power.odl:5 V rail'", 0,
     {"Measurement:    5 V rail (V)", "Count:          100", "Mean:           5 V", "Limits:         4.7 to 5.2 V"}, {}},
    {"NoCapabilityUnderThirtyValues", "trend power.odl:Ripple", 0, {"Count:          29", "Cp, Cpk:        need both"},
     {"\nCpk:"}},
    {"NoCapabilityWithOneLimit", "trend power.odl:Current", 0, {"Count:          100", "Cp, Cpk:        need both"},
     {"\nCpk:"}},
    {"TextMeasurementHasNoNumbers", "trend power.odl:Serial", 1, {"'Serial' of power.odl has no numeric values"}, {}},
    {"NothingAfterTheColon", "trend power.odl:", 2, {"nothing after the colon in 'power.odl:'"}, {}},
    {"UnknownScript", "trend 'nosuch.odl:5 V rail'", 1, {"no runs of nosuch.odl in the store"}, {}},
    {"UnknownMeasurement", "trend power.odl:Voltage", 1,
     {"power.odl has no named result or measurement 'Voltage'; its measurements: '5 V rail', 'Current', 'Ripple',"
      " 'Serial'"}, {}},
    {"ScriptWithoutMeasurements", "trend steady.odl:Voltage", 1, {"it has no measurements"}, {}},
    {"NamedResultStillGivesItsPassRate", "trend power.odl:Rail", 0, {"PASS RATE", "100.0%"}, {}},
    {"ListsTheMeasurements", "measurements /lab/power.odl", 0,
     {"MEASUREMENT", "5 V rail     V     4.7  5.2   GELE        100", "Ripple", "Serial"}, {}},
    {"MeasurementsOfAnUnknownScript", "measurements nosuch.odl", 1, {"no runs of nosuch.odl"}, {}},
};

void PrintTo(const TrendCase& c, std::ostream* out) { *out << c.args; }

class MeasurementTrend : public HistoryScratch, public testing::WithParamInterface<TrendCase> {};

TEST_P(MeasurementTrend, AnswersOrSaysWhyNot) {
  {
    ResultsStore store = OpenStore();
    SeedHundredRuns(store);
  }
  const TrendCase& c = GetParam();
  auto outcome = History(c.args, StorePath());
  EXPECT_EQ(outcome.status, c.status) << outcome.output;
  for (const std::string& text : c.holds) EXPECT_NE(outcome.output.find(text), std::string::npos) << text << "\n" << outcome.output;
  for (const std::string& text : c.lacks) EXPECT_EQ(outcome.output.find(text), std::string::npos) << text << "\n" << outcome.output;
}

INSTANTIATE_TEST_SUITE_P(Cases, MeasurementTrend, testing::ValuesIn(kTrendCases),
                         [](const testing::TestParamInfo<TrendCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ordalis::history

namespace ordalis::history {
namespace {

// A results document of rail.odl whose statement on line 3 measured the 3.3 V rail at [value].
std::string MeasuredDocument(const std::string& value) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<odl_script_result>\r\n <name>rail.odl</name>\r\n"
         " <node>\r\n  <type>root</type>\r\n  <text>root</text>\r\n  <run><iteration>1</iteration>"
         "<result>Passed</result></run>\r\n  <node><type>expression</type><text>in_range = meter.Check( \"DCV\" , 3.2 , 3.4 )</text>"
         "<run><iteration>1</iteration><result>Passed</result><measurements><measurement><name>3.3 V rail</name>"
         "<type>Double</type><value>" + value + "</value><unit>V</unit><low>3.2</low><high>3.4</high>"
         "<comparison>GELE</comparison><result>Passed</result></measurement></measurements></run>"
         "<overall_result>Passed</overall_result></node>\r\n"
         "  <overall_result>Passed</overall_result>\r\n </node>\r\n</odl_script_result>\r\n";
}

// The measurements a results document holds reach the store when the document is imported, as
// when a run adds itself.
TEST_F(HistoryScratch, ImportedDocumentsBringTheirMeasurements) {
  fs::create_directories(dir_ / "old");
  const char* kValues[] = {"3.30", "3.32", "3.28"};
  for (int i = 0; i < 3; ++i) {
    WriteText(dir_ / "old" / ("rail.odl_2026_03_0" + std::to_string(i + 1) + "_09_00_00.xml"), MeasuredDocument(kValues[i]));
  }
  auto imported = testing_support::RunCommandLine(testing_support::OrdalisCommandLine(
      "history import " + (dir_ / "old").string() + " --results-db " + StorePath()));
  ASSERT_EQ(imported.status, 0) << imported.output;
  auto trend = History("trend 'rail.odl:3.3 V rail' --json", StorePath());
  ASSERT_EQ(trend.status, 0) << trend.output;
  nlohmann::json got = nlohmann::json::parse(trend.output, nullptr, false);
  EXPECT_EQ(got["count"], 3) << trend.output;
  EXPECT_NEAR(got["mean"].get<double>(), 3.30, 1e-12);
  EXPECT_EQ(got["unit"], "V");
  ResultsStore store = OpenStore();
  std::optional<RunRecord> run = store.Show(1);
  ASSERT_TRUE(run);
  ASSERT_EQ(run->measurements.size(), 1u);
  EXPECT_EQ(run->measurements[0].measurement.text, "3.30");
  EXPECT_EQ(run->measurements[0].measurement.comparison, Comparison::kBetweenInclusive);
}

}  // namespace
}  // namespace ordalis::history
