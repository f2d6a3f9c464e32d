// What `ordalis run` prints after a run, in the words of tests: each failing statement once, as
// written in its file, warnings with their place, conditions the verdict does not count listed
// as such, and a line of named results.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report_test_support.h"

namespace ordalis::report {
namespace {

constexpr const char* kDot = " \xC2\xB7 ";

struct ConsoleCase {
  const char* name;
  const char* script;               // written as s.odl
  int status;
  std::vector<std::string> lines;   // each a whole line of the output; "@" stands for the script's path
  const char* junit_err;            // in the JUnit document's system-err; empty: none there
};

const ConsoleCase kConsoleCases[] = {
    {"loop_failure_once_with_its_count",
     "t = new echo()\ni = 0\nwhile i < 3 do\n  t.Fail()\n  i = i + 1\nendwhile\n", 1,
     {"@(4): Failed: t.Fail() (3 times)"}, ""},
    {"named_results_in_tests",
     "t = new echo()\nresult \"3.3 V rail\" t.Echo(3.3)\nresult \"5 V rail\" if true then\n  t.Fail()\nendif\n", 1,
     {"@(4): Failed: t.Fail()", std::string("2 named results: 1 passed, 1 failed") + kDot + "3 statements" + kDot},
     ""},
    {"warning_names_its_place", "t = new echo()\n  t.Result(3,   7)\n", 1, {"@(2): Warning: t.Result(3,   7) \xE2\x80\x94 7"}, ""},
    {"condition_error_not_counted",
     "t = new echo()\nif t.Result(4) then\n  t.Echo(1)\nendif\n", 0,
     {"Conditions that could not be evaluated, not counted in the verdict; --strict fails the run:",
      "@(2): Error: if t.Result(4) then"},
     "@(2): Error: if t.Result(4) then"},
};

class ConsoleOutcomeTest : public ScratchTest, public testing::WithParamInterface<ConsoleCase> {};

std::string WithPath(std::string text, const std::string& path) {
  for (std::size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at + path.size())) {
    text.replace(at, 1, path);
  }
  return text;
}

TEST_P(ConsoleOutcomeTest, PrintsWhatTheRunMeansForItsTests) {
  const ConsoleCase& row = GetParam();
  std::string script = Script(row.script, "s.odl");
  std::string junit = (dir_ / "j.xml").string();
  Outcome run = RunOrdalis("run --junit " + junit + " " + script);
  EXPECT_EQ(run.status, row.status) << run.output;
  for (const std::string& line : row.lines) {
    std::string expected = WithPath(line, script);
    // A line ending in the separator is the start of a line (the time that follows varies).
    const std::string separator = kDot;
    bool whole = expected.size() < separator.size() ||
                 expected.compare(expected.size() - separator.size(), separator.size(), separator) != 0;
    EXPECT_NE(run.output.find("\n" + expected + (whole ? "\n" : "")), std::string::npos)
        << expected << "\n" << run.output;
  }
  std::string document = ReadFile(junit);
  std::size_t err = document.find("<system-err>");
  if (*row.junit_err == '\0') {
    EXPECT_EQ(err, std::string::npos) << document;
  } else {
    ASSERT_NE(err, std::string::npos) << document;
    EXPECT_NE(document.find(WithPath(row.junit_err, script), err), std::string::npos) << document;
  }
}

INSTANTIATE_TEST_SUITE_P(Runs, ConsoleOutcomeTest, testing::ValuesIn(kConsoleCases),
                         [](const testing::TestParamInfo<ConsoleCase>& info) { return info.param.name; });

}  // namespace
}  // namespace ordalis::report
