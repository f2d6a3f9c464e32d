// The option parser every `ordalis` command uses: one table of cases, each a command line read
// against the same small table of options, with what it must give.

#include "option_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ordalis::cli {
namespace {

const CommandSyntax kSyntax{
    "sample",
    "[OPTIONS] FILE...",
    "A command to read command lines against.\n",
    {
        {"--quiet", 0, nullptr, "print less"},
        {"--results-dir", 0, "DIR", "where the results go"},
        {"--results-db", 0, "STORE", "where the runs are kept"},
        {"--output", 'o', "FILE", "the file to write"},
        {"--label", 0, "KEY=VALUE", "a label", true},
        {"--comment", 0, "POSITION TEXT", "a comment", true, 2},
    },
    "",
    2};

struct Row {
  const char* name;
  std::vector<std::string> args;
  ParseOutcome outcome;
  std::string said;                  // on standard error (a usage error) or output (help)
  std::string parsed = "";           // the options and operands read, as Describe writes them
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

// "option=value;...|operand;..." for the options of kSyntax that were given.
std::string Describe(const ParsedArguments& arguments) {
  std::string text;
  for (const Option& option : kSyntax.options) {
    for (const std::string& value : arguments.Values(option.name)) text += std::string(option.name) + "=" + value + ";";
  }
  text += "|";
  for (const std::string& operand : arguments.operands()) text += operand + ";";
  return text;
}

class OptionTableTest : public ::testing::TestWithParam<Row> {};

TEST_P(OptionTableTest, ReadsTheLine) {
  const Row& row = GetParam();
  ParsedArguments arguments;
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  ParseOutcome outcome = ParseArguments(kSyntax, row.args, &arguments);
  std::string out = ::testing::internal::GetCapturedStdout();
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(outcome, row.outcome);
  const std::string& said = row.outcome == ParseOutcome::kHelp ? out : err;
  EXPECT_NE(said.find(row.said), std::string::npos) << said;
  if (row.outcome == ParseOutcome::kUsageError) {
    EXPECT_NE(err.find("Run 'ordalis sample --help' for more."), std::string::npos) << err;
  }
  if (row.outcome == ParseOutcome::kParsed) {
    EXPECT_EQ(Describe(arguments), row.parsed);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, OptionTableTest,
    ::testing::ValuesIn(std::vector<Row>{
        {"Switch", {"--quiet", "a"}, ParseOutcome::kParsed, "", "--quiet=;|a;"},
        {"ValueAfter", {"--results-dir", "out", "a"}, ParseOutcome::kParsed, "", "--results-dir=out;|a;"},
        {"ValueJoined", {"--results-dir=out", "a"}, ParseOutcome::kParsed, "", "--results-dir=out;|a;"},
        {"ShortForm", {"-o", "f.html", "a"}, ParseOutcome::kParsed, "", "--output=f.html;|a;"},
        {"ShortFormJoined", {"-of.html", "a"}, ParseOutcome::kParsed, "", "--output=f.html;|a;"},
        {"Repeatable", {"--label", "a=1", "--label", "b=2"}, ParseOutcome::kParsed, "", "--label=a=1;--label=b=2;|"},
        {"TwoWordValue", {"--comment", "2", "-- odd text", "f"}, ParseOutcome::kParsed, "",
         "--comment=2;--comment=-- odd text;|f;"},
        {"NegativeNumberIsOperand", {"x", "-1"}, ParseOutcome::kParsed, "", "|x;-1;"},
        {"DashIsOperand", {"-"}, ParseOutcome::kParsed, "", "|-;"},
        {"DoubleDashEndsOptions", {"--", "--quiet"}, ParseOutcome::kParsed, "", "|--quiet;"},
        {"FreeWordsAfterOperands", {"set", "name", "-x", "--quiet"}, ParseOutcome::kParsed, "",
         "--quiet=;|set;name;-x;"},
        {"UnknownOption", {"--quite"}, ParseOutcome::kUsageError,
         "ordalis sample: unknown option '--quite' (did you mean '--quiet'?)"},
        {"UnknownWithoutGuess", {"--frobnicate"}, ParseOutcome::kUsageError,
         "ordalis sample: unknown option '--frobnicate'\n"},
        {"CutShort", {"--outp", "f"}, ParseOutcome::kUsageError, "(did you mean '--output'?)"},
        {"CutShortAmbiguous", {"--results", "x"}, ParseOutcome::kUsageError, "unknown option '--results'\n"},
        {"UnknownShort", {"-q"}, ParseOutcome::kUsageError, "unknown option '-q'"},
        {"MissingValue", {"a", "--results-dir"}, ParseOutcome::kUsageError, "--results-dir needs a value (DIR)"},
        {"MissingSecondWord", {"--comment", "1"}, ParseOutcome::kUsageError,
         "--comment needs a value (POSITION TEXT)"},
        {"RepeatedSingle", {"-o", "a", "--output", "b"}, ParseOutcome::kUsageError, "--output is given more than once"},
        {"SwitchWithValue", {"--quiet=yes"}, ParseOutcome::kUsageError, "--quiet takes no value"},
        {"Help", {"--help"}, ParseOutcome::kHelp, "Usage: ordalis sample [OPTIONS] FILE...\n"},
        {"HelpWinsOverAMistake", {"--quite", "-h"}, ParseOutcome::kHelp, "Options:\n"},
    }),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

// The option list: every option on a line of its own starting "  --name" (or "  -o, --name")
// with its value's name, the help in one column, wrapped, and repeatable options marked.
TEST(OptionHelpTest, LaysOutTheOptionList) {
  std::string help = HelpText(kSyntax);
  EXPECT_NE(help.find("\nOptions:\n  --quiet                  print less\n"), std::string::npos) << help;
  EXPECT_NE(help.find("\n  -o, --output FILE        the file to write\n"), std::string::npos) << help;
  EXPECT_NE(help.find("\n  --label KEY=VALUE        a label; may be repeated\n"), std::string::npos) << help;
  EXPECT_EQ(help.rfind("Usage: ordalis sample [OPTIONS] FILE...\n\nA command to read", 0), 0u) << help;
}

}  // namespace
}  // namespace ordalis::cli
