// The reports of a failing and a passing example run, opened from disk in headless Chromium:
// what a user sees once the page's script has run. Screenshots are kept under the build tree.
// Outside CI the test is skipped, saying why, when Chromium cannot start; in CI it never is.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "history/results_store.h"
#include "report/store_index.h"
#include "report_test_support.h"

namespace ordalis::report {
namespace {

bool InContinuousIntegration() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string(ci) == "true";
}

class BrowserTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    const char* chosen = std::getenv("ORDALIS_CHROMIUM");
    executable_ = chosen != nullptr ? chosen : "/usr/bin/chromium";
    Outcome probe = Browse("--dump-dom", "about:blank");
    if (probe.status == 0 && probe.output.find("<html") != std::string::npos) return;
    std::string why = "headless Chromium (" + executable_ + ") cannot start: " + probe.output.substr(0, 300);
    if (InContinuousIntegration()) FAIL() << why << " - scripts/bootstrap installs it";
    GTEST_SKIP() << why;
  }

  // Runs Chromium headless on [url] with [action] (--dump-dom or --screenshot=FILE) and a
  // profile of its own; the flags keep it off the network, which this machine does not have.
  Outcome Browse(const std::string& action, const std::string& url) {
    fs::path profile = dir_ / ("profile" + std::to_string(++profiles_));
    std::string command = "timeout 120 " + executable_ +
                          " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
                          " --disable-background-networking --disable-component-update --disable-sync"
                          " --window-size=1200,1500 --user-data-dir=" + profile.string() + " " + action +
                          " '" + url + "' 2>/dev/null";
    Outcome outcome;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return outcome;
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) outcome.output.append(buffer, n);
    int status = pclose(pipe);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
  }

  // Runs [example] and returns its report's path.
  fs::path RunExample(const std::string& example) {
    fs::path results = dir_ / "Results";
    RunOrdalis("run --quiet --results-dir " + results.string() + " " + std::string(ORDALIS_SOURCE_DIR) +
               "/examples/" + example);
    return FindFile(results, ".html");
  }

  // Runs the script [script] with its results in [folder] and returns its report's path.
  std::string RunExampleInto(const fs::path& folder, const std::string& script) {
    RunOrdalis("run --quiet --results-dir " + folder.string() + " " + script);
    return FindFile(folder, ".html").string();
  }

  void Screenshot(const fs::path& page, const std::string& name) {
    fs::path shots = fs::path(ORDALIS_BINARY_DIR) / "report-screenshots";
    fs::create_directories(shots);
    Outcome shot = Browse("--screenshot=" + (shots / name).string(), "file://" + page.string());
    EXPECT_EQ(shot.status, 0);
    EXPECT_TRUE(fs::exists(shots / name));
  }

  std::string executable_;
  int profiles_ = 0;
};

TEST_F(BrowserTest, FailingRunShowsVerdictFailureLineAndFailuresOnlyView) {
  fs::path page = RunExample("failing/rail_out_of_range.odl");
  ASSERT_FALSE(page.empty());
  Outcome dom = Browse("--dump-dom", "file://" + page.string());
  ASSERT_EQ(dom.status, 0);
  const std::string& html = dom.output;
  EXPECT_NE(html.find("data-tree=\"rendered\""), std::string::npos) << "the page's script ran";
  EXPECT_NE(html.find("<div class=\"word\">Failed</div>"), std::string::npos);
  EXPECT_NE(html.find("rail_out_of_range.odl(12)</span>"), std::string::npos) << "the failing line";
  EXPECT_NE(html.find("<code>4.9963</code>"), std::string::npos) << "the value it read";
  EXPECT_NE(html.find("<td>3.3 V rail</td>"), std::string::npos) << "the named result";
  EXPECT_NE(html.find("id=\"failures-only\""), std::string::npos) << "the toggle";
  // The tree the script drew holds passing and failing statements.
  EXPECT_NE(html.find("<span class=\"text\">reading = supply.MeasureVoltage( )</span>"), std::string::npos);
  EXPECT_NE(html.find("<span class=\"badge r-failed\">Failed</span><span class=\"text\">3.3 V rail</span>"),
            std::string::npos);

  Outcome failures = Browse("--dump-dom", "file://" + page.string() + "#failures-only");
  ASSERT_EQ(failures.status, 0);
  EXPECT_EQ(failures.output.find("<span class=\"text\">reading = supply.MeasureVoltage( )</span>"),
            std::string::npos) << "passing statements are hidden";
  EXPECT_NE(failures.output.find("<div class=\"row failing\"><button class=\"toggle\""), std::string::npos);
  EXPECT_NE(failures.output.find("<span class=\"text\">in_range = meter.Check( \"DCV\" , 3.2 , 3.4 )</span>"),
            std::string::npos) << "the failing one is opened to";
  Screenshot(page, "failing-run.png");
}

TEST_F(BrowserTest, PassingRunShowsVerdictAndNoFailures) {
  fs::path page = RunExample("power_supply.odl");
  ASSERT_FALSE(page.empty());
  Outcome dom = Browse("--dump-dom", "file://" + page.string());
  ASSERT_EQ(dom.status, 0);
  EXPECT_NE(dom.output.find("data-tree=\"rendered\""), std::string::npos);
  EXPECT_NE(dom.output.find("<div class=\"word\">Passed</div>"), std::string::npos);
  EXPECT_NE(dom.output.find("id=\"no-failures\""), std::string::npos);
  EXPECT_NE(dom.output.find("<td>5 V rail</td>"), std::string::npos);
  EXPECT_EQ(dom.output.find("class=\"badge r-failed"), std::string::npos) << "no alarm colour on a passing run";

  Outcome index = Browse("--dump-dom", "file://" + (page.parent_path() / "index.html").string());
  EXPECT_NE(index.output.find("power_supply.odl"), std::string::npos);
  Screenshot(page, "passing-run.png");
}

// A folder of 100,000 runs: seven scripts over a hundred days, every fifth run failing, each
// with one named result.
void SeedManyRuns(history::ResultsStore& store, const std::string& folder) {
  store.connection().Execute(
      "INSERT INTO runs (script, stamp, started, ended, day, verdict, n_passed, host, version_under_test, folder,"
      " results_path) WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000)"
      " SELECT 'script' || (i % 7) || '.odl', 's' || i, date('2026-01-01', '+' || (i / 1000) || ' days') || ' 10:00:00',"
      " date('2026-01-01', '+' || (i / 1000) || ' days') || ' 10:00:00', date('2026-01-01', '+' || (i / 1000) || ' days'),"
      " CASE WHEN i % 5 = 0 THEN 1 ELSE 0 END, 1, 'bench1', '1.0', '" + folder + "', '" + folder + "/s' || i || '.xml' FROM n");
  store.connection().Execute(
      "INSERT INTO named_results (run_id, label, result) SELECT id, '5 V rail', verdict FROM runs");
  // The running counts the store keeps beside its rows.
  store.connection().Execute("INSERT INTO folder_runs SELECT host, folder, COUNT(*) FROM runs GROUP BY host, folder");
  store.connection().Execute(
      "INSERT INTO script_days SELECT host, folder, script, day, SUM(CASE WHEN verdict = 0 THEN 1 ELSE 0 END),"
      " SUM(CASE WHEN verdict IN (1, 4) THEN 1 ELSE 0 END), COUNT(*) FROM runs GROUP BY host, folder, script, day");
}

TEST_F(BrowserTest, IndexOfAHundredThousandRunsOpensWithTrendsAndPages) {
  fs::path folder = dir_ / "Results";
  fs::create_directories(folder);
  history::ResultsStore store(history::StoreLocation{history::StoreKind::kSqlite, (folder / "results.db").string()});
  SeedManyRuns(store, folder.string());
  std::string error;
  ASSERT_TRUE(WriteStoreIndex(folder.string(), store, "bench1", &error)) << error;
  EXPECT_LE(fs::file_size(folder / "index.html"), 2u * 1024 * 1024);
  Outcome dom = Browse("--dump-dom", "file://" + (folder / "index.html").string());
  ASSERT_EQ(dom.status, 0);
  const std::string& html = dom.output;
  EXPECT_NE(html.find("100000 runs in the results store"), std::string::npos);
  EXPECT_NE(html.find("data-page=\"1\""), std::string::npos) << "the page's script drew the first page";
  EXPECT_NE(html.find("500 runs \u00b7 page 1 of 10"), std::string::npos);
  std::size_t rows = 0;
  for (std::size_t at = html.find("<tr class=\"run\">"); at != std::string::npos; at = html.find("<tr class=\"run\">", at + 1)) ++rows;
  EXPECT_EQ(rows, 50u);
  EXPECT_NE(html.find("<td>script6.odl</td>"), std::string::npos);
  EXPECT_NE(html.find("<svg class=\"trend\""), std::string::npos) << "a trend drawn per script";
  EXPECT_NE(html.find("<circle"), std::string::npos);
  EXPECT_NE(html.find("<tr class=\"flaky-row\"><td>script0.odl</td><td>5 V rail</td>"), std::string::npos);
  Screenshot(folder / "index.html", "index-of-100000-runs.png");
}

}  // namespace
}  // namespace ordalis::report

namespace ordalis::report {
namespace {

// A batch with a flaky command and a failing script: its report opened from disk shows the
// verdict, each entry with its attempts and why the script failed, and links to the script's
// own report, not to XML.
TEST_F(BrowserTest, BatchReportShowsEntriesAttemptsAndWhy) {
  fs::create_directories(dir_ / "suite");
  WriteFile(dir_ / "suite" / "flaky.sh", "if [ -e \"$0.once\" ]; then exit 0; fi\ntouch \"$0.once\"\nexit 3\n");
  WriteFile(dir_ / "suite" / "rail.odl", "t = new echo()\nt.Result(1, 3.1)\n");
  Outcome run = RunOrdalis("batch run " + (dir_ / "suite").string() + " --retry 1 --results-dir " +
                           (dir_ / "out").string());
  EXPECT_EQ(run.status, 1) << run.output;
  std::size_t at = run.output.find("Batch report: ");
  ASSERT_NE(at, std::string::npos) << run.output;
  std::string page = run.output.substr(at + 14, run.output.find('\n', at) - at - 14);
  Outcome dom = Browse("--dump-dom", "file://" + page);
  ASSERT_EQ(dom.status, 0);
  const std::string& html = dom.output;
  EXPECT_NE(html.find("id=\"verdict\">Failed</span>"), std::string::npos) << html;
  EXPECT_NE(html.find("<td>flaky.sh</td><td>1</td><td class=\"Failed\">Failed</td>"), std::string::npos) << html;
  EXPECT_NE(html.find("<td></td><td>2</td><td class=\"Passed\">Passed</td>"), std::string::npos) << html;
  EXPECT_NE(html.find("rail.odl(2): Failed: t.Result(1, 3.1)"), std::string::npos) << html;
  EXPECT_NE(html.find(".html\">rail.odl_"), std::string::npos) << "a link to the script's report\n" << html;
  EXPECT_EQ(html.find(".xml\">"), std::string::npos) << "no link to XML for a person\n" << html;
  Screenshot(page, "batch-report.png");
}

}  // namespace
}  // namespace ordalis::report

namespace ordalis::report {
namespace {

// Each chart's points, limit lines and histogram counts in the page as Chromium drew it: the
// rows of the measurement table, in order.
struct DrawnChart {
  std::size_t points = 0;
  std::size_t limits = 0;
  std::size_t binned = 0;  // the values the histogram's bins count
};

std::size_t Occurrences(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

std::vector<DrawnChart> DrawnCharts(const std::string& html) {
  std::vector<DrawnChart> charts;
  const std::string kRow = "<tr class=\"measurement-row\">";
  for (std::size_t at = html.find(kRow); at != std::string::npos;) {
    std::size_t next = html.find(kRow, at + 1);
    std::string row = html.substr(at, (next == std::string::npos ? html.find("</table>", at) : next) - at);
    DrawnChart chart{Occurrences(row, "<circle class=\"point\""), Occurrences(row, "<line class=\"limit\""), 0};
    for (std::size_t bin = row.find("data-count=\""); bin != std::string::npos; bin = row.find("data-count=\"", bin + 1)) {
      chart.binned += std::stoul(row.substr(bin + 12));
    }
    charts.push_back(chart);
    at = next;
  }
  return charts;
}

// 250 runs of rail.odl, each measuring its 3.3 V rail against both limits and its current
// against a low limit only, in this station's folder [folder].
void SeedMeasuredRuns(history::ResultsStore& store, const std::string& folder) {
  for (int i = 0; i < 250; ++i) {
    history::RunRecord run;
    run.script = "rail.odl";
    run.stamp = "rail.odl_" + std::to_string(i);
    run.started = run.ended = "2026-03-02 09:00:00";
    run.verdict = TestPassed;
    run.host = history::ThisHost();
    run.folder = folder;
    run.results_path = folder + "/" + run.stamp + ".xml";
    Measurement rail;
    rail.name = "3.3 V rail", rail.number = 3.3 + 0.001 * (i % 11 - 5), rail.text = std::to_string(rail.number);
    rail.unit = "V", rail.low = 3.2, rail.high = 3.4, rail.comparison = Comparison::kBetweenInclusive;
    Measurement current;
    current.name = "Current", current.number = 0.5 + 0.01 * (i % 7), current.text = std::to_string(current.number);
    current.unit = "A", current.low = 0.1, current.comparison = Comparison::kAtLeast;
    run.measurements = {{rail, "rail.odl", 3}, {current, "rail.odl", 4}};
    store.Append(run);
  }
}

// The index and a run's report draw, per measurement, at most the newest 200 runs' values with a line
// at each limit and a histogram of the same values.
TEST_F(BrowserTest, IndexAndReportChartEachMeasurementWithLimitsAndHistogram) {
  fs::path folder = dir_ / "Results";
  fs::create_directories(folder);
  {
    history::ResultsStore store(history::StoreLocation{history::StoreKind::kSqlite, (folder / "results.db").string()});
    SeedMeasuredRuns(store, folder.string());
  }
  fs::path page = fs::path(RunExampleInto(folder, Script("passed\n", "rail.odl")));
  ASSERT_FALSE(page.empty());
  // The index draws the folder's newest 200 runs, the last of which (the one just run) measured
  // nothing; the report draws the newest 200 values of each measurement of its script.
  const std::pair<fs::path, std::size_t> kPages[] = {{folder / "index.html", 199}, {page, 200}};
  for (const auto& [shown, drawn] : kPages) {
    Outcome dom = Browse("--dump-dom", "file://" + shown.string());
    ASSERT_EQ(dom.status, 0);
    std::vector<DrawnChart> charts = DrawnCharts(dom.output);
    ASSERT_EQ(charts.size(), 2u) << shown;
    EXPECT_EQ(charts[0].points, drawn) << "3.3 V rail: " << shown;
    EXPECT_EQ(charts[0].limits, 4u) << "low and high, on the chart and the histogram: " << shown;
    EXPECT_EQ(charts[0].binned, drawn) << shown;
    EXPECT_EQ(charts[1].points, drawn) << "Current: " << shown;
    EXPECT_EQ(charts[1].limits, 2u) << "its low limit only: " << shown;
    EXPECT_EQ(charts[1].binned, drawn) << shown;
    EXPECT_NE(dom.output.find("<svg class=\"measure-chart\""), std::string::npos);
    EXPECT_NE(dom.output.find("<svg class=\"measure-histogram\""), std::string::npos);
  }
  Screenshot(folder / "index.html", "index-measurements.png");
  Screenshot(page, "report-measurements.png");
}

}  // namespace
}  // namespace ordalis::report
