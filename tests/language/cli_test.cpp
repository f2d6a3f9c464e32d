// The `ordalis check` and `ordalis tree` commands on the example scripts and the fixtures:
// what they print and their exit status. Skipped when the command has not been built.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "support/command_line.h"

namespace {

const std::string kOrdalis = ORDALIS_BINARY_DIR "/ordalis";
const std::string kData = ORDALIS_TEST_DATA_DIR;
const std::string kExamples = ORDALIS_SOURCE_DIR "/examples";

using Outcome = ordalis::testing_support::CommandOutcome;

// Standard output only: the tests compare what the command prints for people and programs.
Outcome RunOrdalis(const std::string& arguments) {
  return ordalis::testing_support::RunCommandLine(kOrdalis + " " + arguments + " 2>/dev/null");
}

struct CommandCase {
  std::string arguments;
  std::string output;  // expected output, or "*" for any
  int status;
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.arguments; }

class CommandTest : public ::testing::TestWithParam<CommandCase> {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kOrdalis)) GTEST_SKIP() << "ordalis is not built";
  }
};

TEST_P(CommandTest, PrintsAndExits) {
  Outcome outcome = RunOrdalis(GetParam().arguments);
  if (GetParam().output != "*") {
    EXPECT_EQ(outcome.output, GetParam().output);
  }
  EXPECT_EQ(outcome.status, GetParam().status);
}

const CommandCase kCommands[] = {
    {"check " + kExamples + "/hello.odl " + kExamples + "/with_include.odl", "", 0},
    {"check " + kData + "/main.odl " + kData + "/missing_include.odl",
     kData + "/missing_include.odl(2,9) : Error: Failed to load '" + kData + "/not_here.odl'\n", 1},
    {"check " + kData + "/broken_include.odl",
     kData + "/lib/broken.odl(2,3) : Error: unexpected '=', expected an operator or ')': '=' assigns "
             "and cannot stand inside an expression: to compare two values write '==' (or is a ')' "
             "missing before it?)\n",
     1},
    {"check " + kData + "/main.odl " + kData + "/absent.odl", "", 2},
    {"check", "", 2},
    {"check --help", "*", 0},
    {"tree " + kData + "/lib/b.odl",
     "rootItem \"" + kData + "/lib/b.odl\" line 0\n"
     "  assignmentItem \"=\" line 1\n"
     "    idItem \"z\" line 1\n"
     "    integerItem \"3\" line 1\n"
     "  assignmentItem \"=\" line 1\n"
     "    idItem \"w\" line 1\n"
     "    integerItem \"4\" line 1\n",
     0},
    {"tree --json " + kData + "/lib/c.odl",
     "{\"type\":\"rootItem\",\"text\":\"" + kData + "/lib/c.odl\",\"scriptText\":\"" + kData +
     "/lib/c.odl\",\"file\":\"" + kData + "/lib/c.odl\",\"line\":0,\"children\":["
     "{\"type\":\"assignmentItem\",\"text\":\"=\",\"scriptText\":\"w = 4\",\"file\":\"" + kData +
     "/lib/c.odl\",\"line\":1,\"children\":["
     "{\"type\":\"idItem\",\"text\":\"w\",\"scriptText\":\"w\",\"file\":\"" + kData +
     "/lib/c.odl\",\"line\":1,\"children\":[]},"
     "{\"type\":\"integerItem\",\"text\":\"4\",\"scriptText\":\"4\",\"file\":\"" + kData +
     "/lib/c.odl\",\"line\":1,\"children\":[]}]}]}\n",
     0},
    {"tree " + kData + "/missing_include.odl", "*", 1},
    {"tree " + kData + "/absent.odl", "", 2},
    {"tree a.odl b.odl", "", 2},
    {"tree --help", "*", 0},
};
INSTANTIATE_TEST_SUITE_P(Commands, CommandTest, ::testing::ValuesIn(kCommands));

}  // namespace
