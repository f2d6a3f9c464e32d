// 'ordalis mail test': the front end sends a test message with the stored mail settings or with
// the server and user given on its command line.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "test_servers.h"

namespace ordalis {
namespace {

using testing::Addresses;
using testing::MessageRecord;

struct RunResult {
  int exit_status = -1;
  std::string out;
  std::string err;
};

class MailTestCommand : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.started()) << server_.error(); }
  void TearDown() override { std::filesystem::remove_all(directory_); }

  // Runs the front end with [args]; [input] is its standard input, [password] (when not empty)
  // its ORDALIS_SMTP_PASSWORD. The settings files live in the test's own directory.
  RunResult Run(std::vector<std::string> args, const std::string& input = "",
                const std::string& password = "") {
    args.insert(args.begin(), std::string(ORDALIS_BINARY_DIR) + "/ordalis");
    std::vector<std::string> environment = {
        "ORDALIS_MACHINE_SETTINGS=" + directory_ + "/machine.json",
        "ORDALIS_USER_SETTINGS=" + directory_ + "/user.json", "PATH=/usr/bin:/bin"};
    if (!password.empty()) environment.push_back("ORDALIS_SMTP_PASSWORD=" + password);
    testing::WriteFileBytes(directory_ + "/in", input);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, (directory_ + "/in").c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (directory_ + "/out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, (directory_ + "/err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    RunResult result;
    pid_t pid = -1;
    int rc = posix_spawn(&pid, args[0].c_str(), &actions, nullptr, Pointers(args).data(),
                         Pointers(environment).data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return result;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = testing::ReadFileBytes(directory_ + "/out");
    result.err = testing::ReadFileBytes(directory_ + "/err");
    return result;
  }

  static std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
  }

  testing::RecordingServer server_{{"--refuse", "no@x"}};
  std::string directory_ = testing::MakeTempDirectory();
};

TEST_F(MailTestCommand, SendsWithTheStoredSettings) {
  ASSERT_EQ(Run({"mail", "server", server_.server_name()}).exit_status, 0);
  ASSERT_EQ(Run({"mail", "addresses", "Team <a@x>;b@y"}).exit_status, 0);
  ASSERT_EQ(Run({"mail", "auth", "alice"}, "secret\n").exit_status, 0);
  RunResult run = Run({"mail", "test"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out, "250 Message accepted\n");
  std::optional<MessageRecord> record = server_.Record(1);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->auth_user, "alice");
  EXPECT_EQ(record->rcpt_tos, (Addresses{"a@x", "b@y"}));
}

struct CommandCase {
  const char* label;
  std::vector<std::string> args;  // "SERVER" stands for the test server's name
  std::string password;
  int exit_status;
  std::string out;
  std::string err_part;
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.label; }

class MailTestCommandLine : public MailTestCommand,
                            public ::testing::WithParamInterface<CommandCase> {};

TEST_P(MailTestCommandLine, ExitStatusAndOutput) {
  const CommandCase& c = GetParam();
  std::vector<std::string> args = {"mail", "test"};
  for (const std::string& arg : c.args) {
    args.push_back(arg == "SERVER" ? server_.server_name() : arg);
  }
  RunResult run = Run(args, "", c.password);
  EXPECT_EQ(run.exit_status, c.exit_status) << run.err;
  EXPECT_EQ(run.out, c.out);
  EXPECT_NE(run.err.find(c.err_part), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Runs, MailTestCommandLine,
    ::testing::ValuesIn(std::vector<CommandCase>{
        {"ServerAndUserGiven", {"c@z", "--server", "SERVER", "--user", "alice"}, "secret", 0,
         "250 Message accepted\n", ""},
        {"WithoutLogin", {"c@z", "--server", "SERVER"}, "", 0, "250 Message accepted\n", ""},
        {"RefusedRecipientReported", {"c@z;no@x", "--server", "SERVER", "--user", ""}, "", 0,
         "250 Message accepted\n", "recipient refused: no@x: 550"},
        {"WrongPassword", {"c@z", "--server", "SERVER", "--user", "alice"}, "wrong", 1, "",
         "535:SMTP Authendication failed"},
        {"NoServer", {"c@z"}, "", 2, "", "no mail server"},
        {"NoRecipients", {"--server", "SERVER"}, "", 2, "", "no recipients"},
        {"UnclosedAddress", {"Team <c@z", "--server", "SERVER"}, "", 2, "", "without a closing"},
        {"MissingValue", {"c@z", "--server"}, "", 2, "", "needs a value"},
        {"BadPort", {"c@z", "--server", "host:99999"}, "", 2, "", "bad mail server name"},
        // Nothing listens on port 1: the server, the port and the system's reason are named.
        {"NobodyListens", {"c@z", "--server", "127.0.0.1:1"}, "", 1, "",
         "Unable to connect to server\nordalis mail test: server 127.0.0.1 port 1: Connection refused"},
    }),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace ordalis
