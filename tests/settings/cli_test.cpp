// The vars, creators and mail commands of the ordalis program, run as a separate process over
// temporary settings files.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "settings_test_support.h"

namespace ordalis::settings {
namespace {

using testing::ReadBytes;
using testing::SettingsDirectory;
using testing::WriteBytes;

struct Outcome {
  int exit_code = -1;
  std::string out;
  std::string err;
};

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(kProgram, X_OK) != 0) GTEST_SKIP() << kProgram << " is not built";
  }

  // Runs ordalis with [args], [input] on its standard input.
  Outcome Run(std::vector<std::string> args, const std::string& input = "") {
    const std::string in = dir_.dir() + "/in", out = dir_.dir() + "/out", err = dir_.dir() + "/err";
    WriteBytes(in, input);
    args.insert(args.begin(), kProgram);
    pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(::open(in.c_str(), O_RDONLY), 0);
      ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
      ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
      std::vector<char*> argv;
      for (std::string& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      ::execv(kProgram, argv.data());
      ::_exit(127);
    }
    Outcome outcome;
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
      outcome.exit_code = WEXITSTATUS(status);
    }
    outcome.out = ReadBytes(out);
    outcome.err = ReadBytes(err);
    return outcome;
  }

  static constexpr const char* kProgram = ORDALIS_BINARY_DIR "/ordalis";
  SettingsDirectory dir_;
};

TEST_F(CliTest, VariablesInBothScopes) {
  EXPECT_EQ(Run({"vars", "set", "Build", "12"}).exit_code, 0);
  EXPECT_EQ(Run({"vars", "set", "--system", "Lab", "\"north\""}).exit_code, 0);
  EXPECT_EQ(Run({"vars", "set", "alpha", "-1"}).exit_code, 0);
  EXPECT_EQ(Run({"vars"}).out,
            "alpha = -1  [user, Integer]\nbuild = 12  [user, Integer]\n"
            "lab = \"north\"  [system, String]\n");
  EXPECT_EQ(Run({"vars", "--system"}).out, "lab = \"north\"  [system, String]\n");
  EXPECT_EQ(Run({"vars", "remove", "BUILD"}).exit_code, 0);
  EXPECT_EQ(Run({"vars", "--user"}).out, "alpha = -1  [user, Integer]\n");
  Outcome missing = Run({"vars", "remove", "build"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.err.find("no variable 'build'"), std::string::npos) << missing.err;
}

struct UsageCase {
  std::vector<std::string> args;
};

void PrintTo(const UsageCase& row, std::ostream* out) {
  for (const std::string& arg : row.args) *out << arg << ' ';
}

class CliUsage : public CliTest, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(CliUsage, ExitsTwoWithHelp) {
  Outcome outcome = Run(GetParam().args);
  EXPECT_EQ(outcome.exit_code, 2);
  EXPECT_NE(outcome.err.find("Usage: ordalis"), std::string::npos) << outcome.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CliUsage,
    ::testing::Values(UsageCase{{"vars", "set", "only-name"}}, UsageCase{{"vars", "--bogus"}},
                      UsageCase{{"vars", "drop", "x"}}, UsageCase{{"creators", "add"}},
                      UsageCase{{"creators", "--everything"}}, UsageCase{{"mail", "server"}},
                      UsageCase{{"mail", "send", "x"}}));

// A value no script could read is refused with the literal forms; --string stores text.
TEST_F(CliTest, VariableValuesAreScriptLiterals) {
  for (const char* value : {"abc", "abc def", "", "1 +"}) {
    Outcome refused = Run({"vars", "set", "tolerance", value});
    EXPECT_EQ(refused.exit_code, 2) << value;
    EXPECT_NE(refused.err.find("A value is a script literal"), std::string::npos) << refused.err;
  }
  EXPECT_EQ(Run({"vars", "set", "--string", "name", "abc", "def"}).exit_code, 0);
  EXPECT_EQ(Run({"vars", "set", "--string", "quote", "a\"b"}).exit_code, 2);
  EXPECT_EQ(Run({"vars", "set", "list", "[1, 2], 3"}).exit_code, 0);
  EXPECT_EQ(Run({"vars"}).out,
            "list = [1, 2], 3  [user, Array of 2]\nname = \"abc def\"  [user, String]\n");
}

TEST_F(CliTest, HelpForEachCommand) {
  for (const char* command : {"vars", "creators", "mail"}) {
    Outcome outcome = Run({command, "--help"});
    EXPECT_EQ(outcome.exit_code, 0) << command;
    EXPECT_EQ(outcome.out.rfind(std::string("Usage: ordalis ") + command, 0), 0u) << outcome.out;
  }
}

TEST_F(CliTest, CorruptFileIsNamedAndKept) {
  const std::string corrupt = "{ not json";
  WriteBytes(dir_.user(), corrupt);
  Outcome list = Run({"vars"});
  EXPECT_EQ(list.exit_code, 2);
  EXPECT_NE(list.err.find(dir_.user()), std::string::npos) << list.err;
  EXPECT_EQ(Run({"vars", "set", "x", "1"}).exit_code, 2);
  EXPECT_EQ(ReadBytes(dir_.user()), corrupt);
  EXPECT_EQ(Run({"vars", "--system"}).exit_code, 0);
}

TEST_F(CliTest, CreatorsAddListRemove) {
  Outcome refused = Run({"creators", "add", "{00000000-0000-0000-0000-000000000000}"});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.err.find("refused by the creator catalogue"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("no module on the plug-in path registers"), std::string::npos)
      << refused.err;
  EXPECT_NE(refused.err.find("The plug-in path, searched in order"), std::string::npos);
  EXPECT_EQ(Run({"creators"}).out, "");

  // The built-in batch item creator is always known to its catalogue.
  const std::string builtin = "MarrowindCon.BuiltIn";
  EXPECT_EQ(Run({"creators", "add", "--batch", builtin}).exit_code, 0);
  Outcome again = Run({"creators", "add", "--batch", builtin});
  EXPECT_EQ(again.exit_code, 1);
  EXPECT_NE(again.err.find("already registered in " + dir_.machine()), std::string::npos)
      << again.err;
  EXPECT_EQ(Run({"creators", "--batch"}).out, builtin + "  (built-in)\n");
  EXPECT_EQ(Run({"creators"}).out, "");
  EXPECT_EQ(Run({"creators", "remove", "--batch", builtin}).exit_code, 0);
  EXPECT_EQ(Run({"creators", "--batch"}).out, "");
  EXPECT_EQ(Run({"creators", "remove", "--batch", builtin}).exit_code, 1);
}

TEST_F(CliTest, TesterCreatorFromThePluginDirectory) {
  if (::access(ORDALIS_BUILD_PLUGIN_DIR "/echo.so", R_OK) != 0) GTEST_SKIP() << "echo not built";
  const std::string echo = "{AE96A215-DD09-45A8-9075-26D1616B16E9}";
  EXPECT_EQ(Run({"creators", "add", echo}).exit_code, 0);
  EXPECT_EQ(Run({"creators"}).out,
            echo + "  " + ORDALIS_BUILD_PLUGIN_DIR + "/echo.so  types: echo\n");
  EXPECT_EQ(Run({"creators", "remove", echo}).exit_code, 0);
}

// A registration whose module has gone is listed as not loaded and can still be removed.
TEST_F(CliTest, RegistrationWithoutItsModule) {
  const std::string gone = "{11111111-2222-3333-4444-555555555555}";
  WriteBytes(dir_.machine(),
             R"({"keys": {"SOFTWARE": {"keys": {"Marrowind Consulting Ltd": {"keys": {"Ordalis": )"
             R"({"keys": {"TesterCreators": {"keys": {")" + gone + R"(": {}}}}}}}}}}})");
  EXPECT_EQ(Run({"creators"}).out,
            gone + "  not loaded: no module on the plug-in path registers it\n");
  EXPECT_EQ(Run({"creators", "remove", gone}).exit_code, 0);
  EXPECT_EQ(Run({"creators"}).out, "");
  EXPECT_EQ(Run({"creators", "remove", gone}).exit_code, 1);
}

TEST_F(CliTest, MailSettingsNeverShowThePassword) {
  EXPECT_EQ(Run({"mail", "server", "mail.example:2525"}).exit_code, 0);
  EXPECT_EQ(Run({"mail", "auth", "bob"}, "hunter2\n").exit_code, 0);
  EXPECT_EQ(Run({"mail", "addresses", "Team <t@example>;x@example"}).exit_code, 0);
  Outcome refused = Run({"mail", "addresses", "Team <t@example"});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.err.find("without a closing '>'"), std::string::npos) << refused.err;
  Outcome shown = Run({"mail"});
  EXPECT_EQ(shown.exit_code, 0);
  EXPECT_EQ(shown.out,
            "server: mail.example:2525\nuser: bob\npassword: (set)\n"
            "addresses: Team <t@example>;x@example\n");
  EXPECT_EQ(ReadBytes(dir_.machine()).find("hunter2"), std::string::npos);
  EXPECT_EQ(Run({"mail", "auth", "bob"}, "\n").exit_code, 0);
  EXPECT_NE(Run({"mail"}).out.find("password: (none)"), std::string::npos);
}

}  // namespace
}  // namespace ordalis::settings
