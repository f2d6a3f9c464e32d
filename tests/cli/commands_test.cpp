// Every command of `ordalis` reads its options through the one option table: the same words for
// the same mistakes, the same help layout, and completion files that offer exactly the options
// the tables declare.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/command_line.h"
#include "support/temporary_folder.h"

namespace ordalis::cli {
namespace {

using testing_support::CommandOutcome;
using testing_support::OrdalisCommandLine;
using testing_support::RunCommandLine;
using testing_support::TemporaryFolder;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The lines of the block after the line [heading] in [text], up to the next empty line.
std::vector<std::string> Block(const std::string& text, const std::string& heading) {
  std::vector<std::string> block;
  bool inside = false;
  for (const std::string& line : Lines(text)) {
    if (inside && line.empty()) break;
    if (inside) block.push_back(line);
    if (line == heading) inside = true;
  }
  return block;
}

// Every command and subcommand, as typed: "run", "mail test", "batch run", ...
std::vector<std::string> AllCommands() {
  std::vector<std::string> commands;
  for (const std::string& line : Block(RunCommandLine(OrdalisCommandLine("--help")).output, "Commands:")) {
    std::string name = line.substr(2, 9);
    name.erase(name.find_last_not_of(' ') + 1);
    commands.push_back(name);
  }
  for (const std::string& line : Block(RunCommandLine(OrdalisCommandLine("batch --help")).output, "Subcommands:")) {
    commands.push_back("batch " + line.substr(2, line.find(' ', 2) - 2));
  }
  return commands;
}

// The long options the "Options:" block of [command]'s help lists, and --help.
std::set<std::string> TableOptions(const std::string& command) {
  std::set<std::string> options{"--help"};
  std::string help = RunCommandLine(OrdalisCommandLine(command + " --help")).output;
  for (std::string line : Block(help, "Options:")) {
    if (line.rfind("  -", 0) != 0) continue;
    if (line[3] != '-') line = line.substr(4);  // "  -o, --output"
    std::size_t start = line.find("--");
    options.insert(line.substr(start, line.find(' ', start) - start));
  }
  return options;
}

struct MistakeRow {
  const char* name;
  std::string arguments;
  std::string said;
};

void PrintTo(const MistakeRow& row, std::ostream* out) { *out << row.arguments; }

class MistakeTest : public ::testing::TestWithParam<MistakeRow> {};

// A mistake in the options is named, with the command and where its help is, and exit status 2.
TEST_P(MistakeTest, IsNamedTheSameWay) {
  const MistakeRow& row = GetParam();
  CommandOutcome outcome = RunCommandLine(OrdalisCommandLine(row.arguments + " </dev/null"));
  EXPECT_EQ(outcome.status, 2) << outcome.output;
  EXPECT_NE(outcome.output.find(row.said), std::string::npos) << outcome.output;
  EXPECT_NE(outcome.output.find("--help' for more.\n"), std::string::npos) << outcome.output;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, MistakeTest,
    ::testing::ValuesIn(std::vector<MistakeRow>{
        {"RunTypo", "run --lable a=1 a.odl", "ordalis run: unknown option '--lable' (did you mean '--label'?)"},
        {"BatchRunTwice", "batch run --junit a.xml --junit b.xml q.tbq",
         "ordalis batch run: --junit is given more than once"},
        {"BatchNewTypo", "batch new q.tbq --forse", "(did you mean '--force'?)"},
        {"BatchAddTypo", "batch add q.tbq a.odl --att 1", "(did you mean '--at'?)"},
        {"BatchSetTypo", "batch set q.tbq --retyr 2", "ordalis batch set: unknown option '--retyr' (did you mean '--retry'?)"},
        {"BatchResultsTypo", "batch results r.xml --coment 1 x", "(did you mean '--comment'?)"},
        {"CheckMissingValue", "check a.odl --format", "ordalis check: --format needs a value (FMT)"},
        {"CreatorsTypo", "creators --bach", "(did you mean '--batch'?)"},
        {"HistoryTypo", "history list --limt 3", "ordalis history: unknown option '--limt' (did you mean '--limit'?)"},
        {"MailTestTypo", "mail test --servr x", "(did you mean '--server'?)"},
        {"ProxyTwice", "proxy --settings a.json --settings b.json", "--settings is given more than once"},
        {"RemoteTypo", "remote tcp 1 --timout 3", "(did you mean '--timeout'?)"},
        {"ReportMissingValue", "report r.xml -o", "ordalis report: --output needs a value (FILE)"},
        {"TermMissingValue", "term loopback '' --key", "ordalis term: --key needs a value (KEY)"},
        {"TestersTypo", "testers --jsn", "ordalis testers: unknown option '--jsn' (did you mean '--json'?)"},
        {"TreeTypo", "tree --jsn a.odl", "ordalis tree: unknown option '--jsn' (did you mean '--json'?)"},
        {"VarsTypo", "vars --sytem", "(did you mean '--system'?)"},
        {"SwitchWithValue", "run --quiet=yes a.odl", "ordalis run: --quiet takes no value"},
    }),
    [](const ::testing::TestParamInfo<MistakeRow>& info) { return std::string(info.param.name); });

// Every command, the subcommands of batch among them, refuses an option it does not have in the
// same words and lays out its help the same way.
TEST(EveryCommandTest, RefusesAnUnknownOptionAndHelpsAlike) {
  std::vector<std::string> commands = AllCommands();
  ASSERT_GE(commands.size(), 20u);
  for (const std::string& command : commands) {
    CommandOutcome refused = RunCommandLine(OrdalisCommandLine(command + " --no-such-option </dev/null"));
    EXPECT_EQ(refused.status, 2) << command;
    EXPECT_NE(refused.output.find("ordalis " + command + ": unknown option '--no-such-option'\nUsage: ordalis " + command),
              std::string::npos)
        << refused.output;
    EXPECT_NE(refused.output.find("Run 'ordalis " + command + " --help' for more.\n"), std::string::npos)
        << refused.output;
    CommandOutcome help = RunCommandLine(OrdalisCommandLine(command + " --help"));
    EXPECT_EQ(help.status, 0) << command;
    EXPECT_EQ(help.output.rfind("Usage: ordalis " + command, 0), 0u) << help.output;
  }
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The words between [open] and [close] on the line of [file] that starts with [start].
std::set<std::string> CompletionWords(const std::string& file, const std::string& start, char open, char close) {
  std::set<std::string> words;
  for (const std::string& line : Lines(file)) {
    if (line.rfind(start, 0) != 0) continue;
    std::size_t from = line.find(open, start.size()) + 1;
    std::istringstream in(line.substr(from, line.find(close, from) - from));
    for (std::string word; in >> word;) words.insert(word);
  }
  return words;
}

// The bash and zsh completion offer, for every command, exactly the options of its table.
TEST(CompletionTest, OffersTheOptionsOfEveryTable) {
  TemporaryFolder folder("ordalis-completion-");
  ASSERT_FALSE(folder.path().empty());
  std::string make = std::string(ORDALIS_CMAKE_COMMAND) + " -DORDALIS=" + ORDALIS_BINARY_DIR + "/ordalis -DBASH=" +
                     (folder / "ordalis").string() + " -DZSH=" + (folder / "_ordalis").string() + " -P " +
                     ORDALIS_SOURCE_DIR + "/cmake/package/make_completions.cmake 2>&1";
  CommandOutcome made = RunCommandLine(make);
  ASSERT_EQ(made.status, 0) << made.output;
  std::string bash = ReadFile(folder / "ordalis");
  std::string zsh = ReadFile(folder / "_ordalis");
  for (const std::string& command : AllCommands()) {
    // A command of one word is completed by the case "command "*, one of two by "command sub".
    std::string pattern = command.find(' ') == std::string::npos ? "\"" + command + " \"*)" : "\"" + command + "\")";
    std::set<std::string> table = TableOptions(command);
    EXPECT_EQ(CompletionWords(bash, "    " + pattern, '"', '"'), table) << "bash: " << command;
    EXPECT_EQ(CompletionWords(zsh, "    " + pattern, '(', ')'), table) << "zsh: " << command;
  }
}

}  // namespace
}  // namespace ordalis::cli
