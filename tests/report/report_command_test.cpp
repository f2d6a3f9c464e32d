// `ordalis run` leaving its report, JUnit document, index and console failures, and the
// `ordalis report` command, driven as child processes.

#include <gtest/gtest.h>

#include "report_test_support.h"

namespace ordalis::report {
namespace {

const char kFailing[] =
    "t = new echo()\n"                          // 1
    "values = t.Echo(1, \"two\", 2.5)\n"        // 2
    "function check\n"                          // 3
    "  printf(\"checking %d\", 5)\n"            // 4
    "  t.Result(1, \"low\", 4.75)\n"            // 5
    "endfunction\n"                             // 6
    "result \"Rail\" r = check()\n"             // 7
    "result \"Echo\" v = t.Echo(3)\n"           // 8
    "assert(values[0] == 2, \"first value\")\n";  // 9

class RunReportTest : public ScratchTest {};

TEST_F(RunReportTest, FailingRunLeavesReportJunitIndexAndConsoleLines) {
  std::string junit = (dir_ / "junit.xml").string();
  Outcome run = RunOrdalis("run --junit " + junit + " " + Script(kFailing));
  EXPECT_EQ(run.status, 1) << run.output;
  std::string script = (dir_ / "check.odl").string();
  // One line per failing statement, in the form editors jump to, quoting the line as written
  // (so the source can be searched for it), before the summary.
  std::size_t first = run.output.find(script + "(5): Failed: t.Result(1, \"low\", 4.75) \xE2\x80\x94 \"low\", 4.75\n");
  // The assert's message is among its values. (Its line is the parser's; see the language suite.)
  std::size_t second = run.output.find("): Failed: assert(values[0] == 2, \"first value\") \xE2\x80\x94 \"first value\"");
  std::size_t summary = run.output.find("Overall Script Result Failed");
  ASSERT_NE(first, std::string::npos) << run.output;
  ASSERT_NE(second, std::string::npos) << run.output;
  EXPECT_LT(first, second);
  EXPECT_LT(second, summary);

  fs::path results = dir_ / "Results";
  fs::path html = FindFile(results, ".html");
  ASSERT_FALSE(html.empty());
  EXPECT_NE(run.output.find("Report: " + html.string()), std::string::npos) << run.output;
  std::string page = ReadFile(html);
  EXPECT_NE(page.find("<span class=\"where\">" + script + "(5)</span>"), std::string::npos);
  // The page quotes the line as written and shows the text the results document keeps beside it.
  EXPECT_NE(page.find("<code class=\"text\">t.Result(1, &quot;low&quot;, 4.75)</code></div>\n"
                      "<div class=\"normalised\">In the results: <code>t.Result( 1 , &quot;low&quot; , 4.75 )</code>"),
            std::string::npos)
      << page;
  EXPECT_NE(page.find("Info  :script:checking 5"), std::string::npos) << "the log line before the failure";
  std::string index = ReadFile(results / "index.html");
  EXPECT_NE(index.find(html.filename().string()), std::string::npos);

  // The named result that failed in a function it called names that function's statement.
  std::string document = ReadFile(junit);
  EXPECT_NE(document.find("<testcase name=\"Rail\" classname=\"check.odl\" file=\"" + script + "\" line=\"7\""),
            std::string::npos) << document;
  EXPECT_NE(document.find("<failure message=\"" + script + "(5): Failed: t.Result("), std::string::npos) << document;
  Outcome valid = RunShell("xmllint --noout --schema " + std::string(ORDALIS_TEST_DATA_DIR) + "/junit-10.xsd " + junit);
  EXPECT_EQ(valid.status, 0) << valid.output;

  // CI must not take a missing JUnit document for a run without tests.
  Outcome unwritable = RunOrdalis("run --quiet --junit " + (dir_ / "no" / "junit.xml").string() + " " + script);
  EXPECT_EQ(unwritable.status, 2);
  EXPECT_NE(unwritable.output.find("cannot write the JUnit document"), std::string::npos) << unwritable.output;
}

// The failing example measures the 5 V rail against the limits of a 3.3 V rail: the console, the
// report and the JUnit document each name the measurement with its value, unit and limits, and
// agree with the exit status.
TEST_F(RunReportTest, FailingExampleShowsItsMeasurementEverywhere) {
  std::string junit = (dir_ / "junit.xml").string();
  std::string example = std::string(ORDALIS_SOURCE_DIR) + "/examples/failing/rail_out_of_range.odl";
  Outcome run = RunOrdalis("run --results-dir " + (dir_ / "Results").string() + " --junit " + junit + " " + example);
  EXPECT_EQ(run.status, 1) << run.output;
  const std::string phrase = "3.3 V rail: DCV = 4.9963 V, limits 3.2\xE2\x80\x93" "3.4 V";
  EXPECT_NE(run.output.find(example + "(12): Failed: result \"3.3 V rail\" in_range = meter.Check(\"DCV\", 3.2, 3.4) "
                            "\xE2\x80\x94 " + phrase + "\n"),
            std::string::npos)
      << run.output;

  fs::path html = FindFile(dir_ / "Results", ".html");
  ASSERT_FALSE(html.empty());
  std::string page = ReadFile(html);
  EXPECT_NE(page.find("<div class=\"measured\">Measured: " + phrase + "</div>"), std::string::npos) << page;
  // The table of the run: name, value, unit, limits, verdict and where the value sits (above the
  // band of its limits, marked as failed).
  std::size_t table = page.find("<section id=\"measurements\">");
  ASSERT_NE(table, std::string::npos) << page;
  EXPECT_NE(page.find("<tr class=\"measurement\"><td>DCV</td><td class=\"n\">4.9963</td><td>V</td>"
                      "<td>3.2\xE2\x80\x93" "3.4</td><td><span class=\"badge r-failed\">Failed</span></td><td><svg",
                      table),
            std::string::npos)
      << page.substr(table, 2000);
  EXPECT_NE(page.find("aria-label=\"value above limits\"", table), std::string::npos);
  // Drawn inline: the section fetches nothing.
  std::string section = page.substr(table, page.find("</section>", table) - table);
  EXPECT_EQ(section.find("http"), std::string::npos) << section;
  // The supply's reading, reported without a name, is named by the action.
  EXPECT_NE(section.find("<td>MeasureVoltage</td><td class=\"n\">"), std::string::npos) << section;

  std::string document = ReadFile(junit);
  EXPECT_NE(document.find("<property name=\"3.3 V rail: DCV\" value=\"4.9963 V, limits 3.2\xE2\x80\x93" "3.4 V, Failed\"/>"),
            std::string::npos)
      << document;
  EXPECT_NE(document.find("<failure message=\"" + example + "(12): Failed: result"), std::string::npos) << document;
  EXPECT_NE(document.find(phrase), std::string::npos);
  EXPECT_NE(document.find("failures=\"1\""), std::string::npos);
  Outcome valid = RunShell("xmllint --noout --schema " + std::string(ORDALIS_TEST_DATA_DIR) + "/junit-10.xsd " + junit);
  EXPECT_EQ(valid.status, 0) << valid.output;
}

// The log lines a failure shows on the page and in the JUnit document carry what the script
// printed; the control characters among it are shown as \xNN, never written raw.
TEST_F(RunReportTest, LogLinesOfFailuresCarryNoControlCharacters) {
  std::string junit = (dir_ / "junit.xml").string();
  Outcome run = RunOrdalis("run --quiet --junit " + junit + " " + Script("printf(\"%s\", \"a\x01" "b\")\nfailed\n"));
  EXPECT_EQ(run.status, 1) << run.output;
  std::string page = ReadFile(FindFile(dir_ / "Results", ".html"));
  std::string document = ReadFile(junit);
  for (const std::string* text : {&page, &document}) {
    EXPECT_NE(text->find("a\\x01b"), std::string::npos) << *text;
    EXPECT_EQ(text->find('\x01'), std::string::npos);
  }
}

TEST_F(RunReportTest, QuietPrintsOnlyFailuresAndTheVerdict) {
  std::string text = "t = new echo()\n";
  for (int i = 0; i < 12; ++i) text += "t.Fail()\n";
  Outcome run = RunOrdalis("run --quiet " + Script(text));
  EXPECT_EQ(run.status, 1);
  std::string expected;
  for (int line = 2; line <= 11; ++line) expected += (dir_ / "check.odl").string() + "(" + std::to_string(line) + "): Failed: t.Fail()\n";
  std::string html = FindFile(dir_ / "Results", ".html").string();
  expected += "... and 2 more (all in " + html + ")\nOverall Script Result Failed\n";
  EXPECT_EQ(run.output, expected);

  Outcome passed = RunOrdalis("run --quiet " + Script("passed\n", "ok.odl"));
  EXPECT_EQ(passed.status, 0);
  EXPECT_EQ(passed.output, "Overall Script Result Passed\n");
}

TEST_F(RunReportTest, ReportCommandRendersDocumentsAndDirectories) {
  RunOrdalis("run --quiet " + Script(kFailing));
  fs::path results = dir_ / "Results";
  fs::path xml = FindFile(results, ".xml");
  fs::path html = FindFile(results, ".html");
  fs::remove(html);
  fs::remove(results / "index.html");

  Outcome rendered = RunOrdalis("report " + xml.string());
  EXPECT_EQ(rendered.status, 0) << rendered.output;
  EXPECT_EQ(rendered.output, "Report: " + html.string() + "\n");
  EXPECT_NE(ReadFile(html).find("data-result=\"Failed\""), std::string::npos);

  Outcome other = RunOrdalis("report " + xml.string() + " -o " + (dir_ / "elsewhere.html").string());
  EXPECT_EQ(other.status, 0) << other.output;
  EXPECT_NE(ReadFile(dir_ / "elsewhere.html").find("href=\"Results/" + xml.filename().string() + "\""),
            std::string::npos) << "links follow the page";

  Outcome junit = RunOrdalis("report --junit " + xml.string());
  EXPECT_EQ(junit.status, 0);
  EXPECT_NE(junit.output.find("<testcase name=\"Rail\""), std::string::npos) << junit.output;

  Outcome index = RunOrdalis("report " + results.string());
  EXPECT_EQ(index.status, 0) << index.output;
  EXPECT_TRUE(fs::exists(results / "index.html"));

  struct Usage {
    const char* arguments;
    const char* says;
  };
  WriteFile(dir_ / "not-results.xml", "<?xml version=\"1.0\"?><testsuites/>");
  const Usage usages[] = {
      {"", "no results document"},
      {"--loud x.xml", "unknown option"},
      {"a.xml b.xml", "one results document"},
      {"missing.xml", "No such file"},
      {"not-results.xml", "not a results document"},
      {"-o", "--output needs a value (FILE)"},
  };
  for (const Usage& usage : usages) {
    Outcome outcome = RunShell("cd " + dir_.string() + " && " + ORDALIS_BINARY_DIR + "/ordalis report " + usage.arguments);
    EXPECT_EQ(outcome.status, 2) << usage.arguments;
    EXPECT_NE(outcome.output.find(usage.says), std::string::npos) << usage.arguments << ": " << outcome.output;
  }
  EXPECT_EQ(RunOrdalis("report --help").status, 0);
}

}  // namespace
}  // namespace ordalis::report
