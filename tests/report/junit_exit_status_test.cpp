// The JUnit document `ordalis run --junit` leaves never disagrees with the command's exit
// status: a CI server reads the document, the build reads the status.

#include <gtest/gtest.h>

#include <string>

#include "report_test_support.h"

namespace ordalis::report {
namespace {

// A passing document from an earlier run, which a run that fails must not leave in place.
constexpr const char* kStalePassing =
    "<?xml version=\"1.0\"?>\n<testsuites><testsuite name=\"old\" tests=\"1\" failures=\"0\" "
    "errors=\"0\"><testcase name=\"old\" classname=\"old\"/></testsuite></testsuites>\n";

struct ExitCase {
  const char* name;
  const char* options;
  const char* script;       // written as s.odl; empty: no file at all
  int status;
  const char* outcome_type; // the type of the first failure or error; empty for none
};

const ExitCase kExitCases[] = {
    {"passed", "", "t = new echo()\nresult \"ok\" t.Echo(1)\n", 0, ""},
    {"failed", "", "t = new echo()\nresult \"bad\" t.Fail()\n", 1, "Failed"},
    {"warning", "", "t = new echo()\nresult \"w\" t.Result(3)\n", 1, "Warning"},
    {"warning_in_row", "", "t = new echo()\nresult if true then\n t.Result(3)\nendif\n", 1, "Warning"},
    {"error", "", "t = new echo()\nt.Result(4)\n", 1, "Error"},
    {"not_loadable", "", "t = new echo()\nx = = 1\n", 1, "not loaded"},
    {"refused_by_strict", "--strict ", "t = new echo()\nt.NoSuch()\n", 1, "not loaded"},
    {"aborted", "", "t = new echo()\nabort(\"stop here\")\nt.Echo(1)\n", 1, "Aborted"},
    {"not_implemented", "", "t = new echo()\nresult \"n\" t.Result(2)\n", 1, "Failed"},
    {"unreadable", "", "", 2, "not loaded"},
    // A condition that could not be evaluated does not count in the verdict, nor in JUnit.
    {"uncounted_condition", "", "t = new echo()\nif t.Result(4) then\n t.Echo(1)\nendif\n", 0, ""},
    {"uncounted_condition_beside_named_results", "",
     "t = new echo()\nresult \"ok\" t.Echo(1)\nif t.Result(4) then\n t.Echo(1)\nendif\n", 0, ""},
};

class JunitExitStatusTest : public ScratchTest, public testing::WithParamInterface<ExitCase> {};

TEST_P(JunitExitStatusTest, FailuresAndErrorsAreZeroExactlyWhenTheExitStatusIs) {
  const ExitCase& row = GetParam();
  std::string script = (dir_ / "s.odl").string();
  if (*row.script != '\0') WriteFile(script, row.script);
  fs::path junit = dir_ / "j.xml";
  WriteFile(junit, kStalePassing);
  Outcome run = RunOrdalis(std::string("run --quiet ") + row.options + "--results-dir " +
                           (dir_ / "out").string() + " --junit " + junit.string() + " " + script);
  EXPECT_EQ(run.status, row.status) << run.output;
  // Read as a CI server reads it.
  Outcome parsed = RunShell(
      "/usr/bin/python3 -c \"import sys\nfrom junitparser import JUnitXml\n"
      "bad = 0\nkinds = []\n"
      "for suite in JUnitXml.fromfile(sys.argv[1]):\n"
      "  bad += suite.failures + suite.errors\n"
      "  kinds += [r.type for case in suite for r in case.result if r._tag != 'skipped']\n"
      "print(bad, kinds[0] if kinds else '')\" " + junit.string());
  ASSERT_EQ(parsed.status, 0) << parsed.output;
  bool green = parsed.output.rfind("0 ", 0) == 0;
  EXPECT_EQ(green, run.status == 0) << parsed.output << ReadFile(junit);
  EXPECT_EQ(parsed.output.substr(parsed.output.find(' ') + 1), std::string(row.outcome_type) + "\n")
      << ReadFile(junit);
}

INSTANTIATE_TEST_SUITE_P(Runs, JunitExitStatusTest, testing::ValuesIn(kExitCases),
                         [](const testing::TestParamInfo<ExitCase>& info) { return info.param.name; });

using JunitNotRunTest = ScratchTest;

TEST_F(JunitNotRunTest, AScriptNotRunWhoseJunitCannotBeWrittenExitsTwo) {
  Outcome run = RunOrdalis("run --quiet --junit " + (dir_ / "no" / "j.xml").string() + " " +
                           Script("x = = 1\n"));
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find("cannot write the JUnit document"), std::string::npos) << run.output;
}

}  // namespace
}  // namespace ordalis::report
