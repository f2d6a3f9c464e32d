// The reports of a failing and a passing example run, opened from disk in headless Chromium:
// what a user sees once the page's script has run. Screenshots are kept under the build tree.
// Outside CI the test is skipped, saying why, when Chromium cannot start; in CI it never is.

#include <gtest/gtest.h>

#include <cstdlib>

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
