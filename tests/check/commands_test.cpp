// `ordalis check` and `ordalis run` as a new user meets them: findings with their lines, the
// strict run, the place of a fault on the console, and values on the command line.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/command_line.h"

namespace ordalis {
namespace {

namespace fs = std::filesystem;

using Outcome = testing_support::CommandOutcome;  // standard output and error together

class CommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("ordalis_commands_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    setenv("ORDALIS_MACHINE_SETTINGS", (dir_ / "machine.json").c_str(), 1);
    setenv("ORDALIS_USER_SETTINGS", (dir_ / "user.json").c_str(), 1);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string File(const std::string& name, const std::string& text) {
    std::string path = (dir_ / name).string();
    std::ofstream(path) << text;
    return path;
  }

  Outcome Ordalis(const std::string& arguments) {
    return testing_support::RunCommandLine(testing_support::OrdalisCommandLine(arguments));
  }

  bool Has(const Outcome& outcome, const std::string& text) {
    return outcome.output.find(text) != std::string::npos;
  }

  fs::path dir_;
};

// A script with a typo and an unknown tester type: each finding at its line and column, as
// Visual Studio-style readers take "(line,column)"; warnings fail
// only with --werror; tester rules are skipped with --no-testers; --syntax reports syntax only.
TEST_F(CommandsTest, CheckFindingsAndExitStatus) {
  std::string typo = File("typo.odl", "voltage = 5\nif voltge < 4 then\n  x = 1\nendif\n");
  Outcome warned = Ordalis("check " + typo);
  EXPECT_EQ(warned.status, 0) << warned.output;
  EXPECT_TRUE(Has(warned, typo + "(2,4) : Warning: 'voltge' is read but no statement of the script "
                               "assigns it (did you mean 'voltage'?)")) << warned.output;
  EXPECT_EQ(Ordalis("check --werror " + typo).status, 1);

  std::string tester = File("tester.odl", "t = new multimetr(1)\nt.Nothing()\n");
  Outcome unknown = Ordalis("check " + tester);
  EXPECT_EQ(unknown.status, 1);
  EXPECT_TRUE(Has(unknown, tester + "(1,20) : Error: no installed tester offers the type 'multimetr' "
                                    "(did you mean 'multimeter'?)")) << unknown.output;
  EXPECT_EQ(Ordalis("check --no-testers " + tester).output, "");
  std::string action = File("action.odl", "t = new echo()\nt.Ecko(1)\n");
  EXPECT_TRUE(Has(Ordalis("check " + action), "(2,3) : Error: the tester type 'echo' of 't' has no "
                                               "action 'Ecko' (did you mean 'Echo'?)"));
  EXPECT_EQ(Ordalis("check --syntax " + action).output, "");
  EXPECT_EQ(Ordalis("check --bogus " + action).status, 2);
  EXPECT_EQ(Ordalis("check " + (dir_ / "absent.odl").string()).status, 2);
}

// --format gcc prints what compilers print for editors: file, line, column, severity; a call
// that passes the wrong number of values to an installed tester's action is found.
TEST_F(CommandsTest, CheckInGccFormat) {
  std::string script = File("gcc.odl", "t = new echo()\nt.Result()\nx = 1 +* 2\n");
  Outcome syntax = Ordalis("check --format gcc " + script);
  EXPECT_EQ(syntax.status, 1);
  EXPECT_EQ(syntax.output, script + ":3:8: error: unexpected '*', expected 'not', a value, a name, an "
                                    "operator or '(': expected a value after '+', found '*'\n");
  std::string calls = File("calls.odl", "t = new echo()\n  t.Result()\nvoltage = 1\nv = voltge\n");
  Outcome found = Ordalis("check --format=gcc " + calls);
  EXPECT_EQ(found.output, calls + ":2:5: error: the action 'Result' of the tester type 'echo' takes at "
                                  "least 1 value, the call passes 0 values ('ordalis testers' shows its "
                                  "parameters)\n" +
                              calls + ":4:5: warning: 'voltge' is read but no statement of the script "
                                      "assigns it (did you mean 'voltage'?): unless it comes from a user or "
                                      "system variable ('ordalis vars') or from 'ordalis run --var "
                                      "voltge=VALUE', it is not found at run time\n");
  for (const char* wrong : {"--format xml", "--format"}) {
    EXPECT_EQ(Ordalis(std::string("check ") + wrong + " " + calls).status, 2) << wrong;
  }
}

// Two scripts for one run is a usage error that names the command for a batch of them.
TEST_F(CommandsTest, RunOfTwoScriptsPointsAtBatchRun) {
  std::string a = File("a.odl", "x = 1\n");
  std::string b = File("b.odl", "y = 2\n");
  Outcome outcome = Ordalis("run " + a + " " + b);
  EXPECT_EQ(outcome.status, 2);
  EXPECT_TRUE(Has(outcome, "use: ordalis batch run " + a + " " + b)) << outcome.output;
}

// A guide's odl blocks are checked with the guide's own line numbers.
TEST_F(CommandsTest, CheckReadsTheBlocksOfAGuide) {
  std::string guide = File("guide.md", "# Guide\n\n```odl\nx = 1\n```\n\ntext\n\n```odl\ny = 2\n"
                                       "function f\n  return y + 1\nendfunction\n```\n");
  Outcome outcome = Ordalis("check --no-testers " + guide);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.output.substr(0, outcome.output.find(" : ")), guide + "(12,14)");
}

// The script of the first hour: non-strict it passes with its faults shown in place;
// strict it is refused for what check finds; strict, a condition error fails the run.
TEST_F(CommandsTest, StrictRunAndPlaceLines) {
  std::string faulty = File("faulty.odl", "t = new echo()\nx = 1\nt.Echo(strlen(\"abc\"))\n");
  Outcome loose = Ordalis("run " + faulty);
  EXPECT_EQ(loose.status, 0) << loose.output;
  EXPECT_TRUE(Has(loose, "Severe:script:Unknown type (47) for item strlen\n" + faulty +
                             "(3): t.Echo( strlen( \"abc\" ) )\n")) << loose.output;
  EXPECT_TRUE(Has(loose, "'ordalis run --strict' fails such a run")) << loose.output;

  Outcome refused = Ordalis("run --strict " + faulty);
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(Has(refused, faulty + "(3,8) : Error: the call 'strlen( \"abc\" )'")) << refused.output;
  EXPECT_TRUE(Has(refused, "has 1 error; not run (--strict)")) << refused.output;
  EXPECT_FALSE(Has(refused, "Script:Start"));

  std::string condition = File("condition.odl", "x = [1, 2]\nif x < 3 then\n  y = 1\nendif\n"
                                                "if flag then\n  y = 2\nendif\npassed\n");
  EXPECT_EQ(Ordalis("run --quiet " + condition).status, 0);
  Outcome strict = Ordalis("run --strict " + condition);
  EXPECT_EQ(strict.status, 1) << strict.output;
  EXPECT_TRUE(Has(strict, "Overall Script Result Error")) << strict.output;
  EXPECT_TRUE(Has(strict, condition + "(2): if x < 3 then\n")) << strict.output;
  EXPECT_TRUE(Has(strict, "Severe:script:Variable flag not found\n" + condition +
                              "(5): if flag then\n")) << strict.output;
}

// The first statement of a block is the one shown, not the block around it.
TEST_F(CommandsTest, PlaceOfTheFirstStatementOfABlock) {
  std::string script = File("first.odl", "printf(\"%d\", a)\nx = 1\nif x == 1 then\n"
                                         "  printf(\"%d\", y)\nendif\n");
  Outcome outcome = Ordalis("run " + script);
  EXPECT_TRUE(Has(outcome, "Variable a not found\n" + script + "(1): printf( \"%d\" , a )\n"))
      << outcome.output;
  EXPECT_TRUE(Has(outcome, "Variable y not found\n" + script + "(4): printf( \"%d\" , y )\n"))
      << outcome.output;
}

// A failing assert is listed at its own line, not at the line after it.
TEST_F(CommandsTest, FailingAssertAtItsOwnLine) {
  std::string script = File("assert.odl", "x = 1\nassert(x == 2)\n\ny = 3\nif x == 1 then\n"
                                          "  assert(x == 3)\nendif\n");
  Outcome outcome = Ordalis("run " + script);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_TRUE(Has(outcome, script + "(2): Failed: assert(x == 2)\n")) << outcome.output;
  EXPECT_TRUE(Has(outcome, script + "(6): Failed: assert(x == 3)\n")) << outcome.output;
}

// Inside an ignoreresult section, a strict run fails the statement but not the run.
TEST_F(CommandsTest, StrictRunKeepsIgnoredSectionsIgnored) {
  std::string ignored = File("ignored.odl", "ignoreresult\n  if flag then\n    x = 1\n  endif\n"
                                            "endignoreresult\n");
  Outcome outcome = Ordalis("run --strict " + ignored);
  EXPECT_EQ(outcome.status, 0) << outcome.output;
}

// Syntax errors stop a run, each group explained.
TEST_F(CommandsTest, RunExplainsSyntaxErrors) {
  std::string broken = File("broken.odl", "x = 1 +* 2\n");
  Outcome outcome = Ordalis("run " + broken);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_TRUE(Has(outcome, broken + "(1,8) : Error: *\n" + broken + "(1,10) : Error: 2\n" + broken +
                               "(1,8) : Note: expected a value after '+', found '*'\n")) << outcome.output;
}

// --var takes script literals; anything else is a usage error that shows the literal forms,
// unless --string takes the values as text.
TEST_F(CommandsTest, VariablesOnTheCommandLineAreLiterals) {
  std::string script = File("vars.odl", "assert(tolerance == 0.5)\nassert(name == \"a b\")\n");
  EXPECT_EQ(Ordalis("run --quiet --var tolerance=0.5 --var 'name=\"a b\"' " + script).status, 0);
  Outcome bad = Ordalis("run --var tolerance=abc " + script);
  EXPECT_EQ(bad.status, 2);
  EXPECT_TRUE(Has(bad, "--var tolerance=abc: 'abc' is no script literal")) << bad.output;
  EXPECT_TRUE(Has(bad, "A value is a script literal")) << bad.output;
  std::string text = File("text.odl", "assert(name == \"a b\")\n");
  EXPECT_EQ(Ordalis("run --quiet --string --var 'name=a b' " + text).status, 0);
  EXPECT_EQ(Ordalis("run --string --var 'name=a\"b' " + text).status, 2);
}

}  // namespace
}  // namespace ordalis
