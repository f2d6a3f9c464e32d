// What the commands do with the places their output goes: a file named on the command line that
// is a device, a FIFO or a link, a standard output that is closed, a file-size limit. A device
// is written through and never replaced, a write it refuses ends the command with status 2, and
// a closed console costs the console lines only.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/command_line.h"

extern char** environ;

namespace ordalis {
namespace {

namespace fs = std::filesystem;

const std::string kOrdalis = std::string(ORDALIS_BINARY_DIR) + "/ordalis";

// A test's name as one folder name (a parameterised test's name holds a '/').
std::string FolderName(std::string name) {
  for (char& c : name) c = c == '/' ? '_' : c;
  return name;
}

class CommandOutputTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("ordalis_command_output_" + std::to_string(::getpid()) + "_" +
                                        FolderName(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::create_directories(dir_);
    setenv("ORDALIS_MACHINE_SETTINGS", (dir_ / "machine.json").c_str(), 1);
    setenv("ORDALIS_USER_SETTINGS", (dir_ / "user.json").c_str(), 1);
    std::ofstream(dir_ / "pass.odl") << "a = 1\n";
    std::ofstream(dir_ / "fail.odl") << "i = 0\nwhile i < 3000 do\n printf(\"line %d\", i)\n i++\nendwhile\nfailed\n";
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const char* name) const { return (dir_ / name).string(); }

  // The node of /dev/null (minor 3) or /dev/full (minor 7), made in the test's folder so nothing
  // in /dev is at stake when a command replaces what it should write through.
  std::string Device(const char* name, unsigned minor) const {
    std::string path = Path(name);
    ::unlink(path.c_str());
    EXPECT_EQ(::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, minor)), 0) << std::strerror(errno);
    return path;
  }

  static bool IsDevice(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
  }

  // The results document of a passing run, for the report commands.
  std::string ResultsDocument() {
    testing_support::RunCommandLine(kOrdalis + " run --quiet --results-dir " + Path("results") + " " +
                                    Path("pass.odl") + " >/dev/null 2>&1");
    for (const auto& entry : fs::directory_iterator(dir_ / "results")) {
      if (entry.path().extension() == ".xml" && entry.path().filename().string().starts_with("pass.odl_")) {
        return entry.path().string();
      }
    }
    ADD_FAILURE() << "no results document";
    return {};
  }

  fs::path dir_;
};

// A command line writing to OUT; the device at OUT writes everything (null) or refuses it (full).
struct DeviceCase {
  const char* name;
  const char* arguments;  // after "ordalis "; OUT is the device, DOC a results document, DIR the folder
  unsigned minor;
  int status;
};

const DeviceCase kDeviceCases[] = {
    {"RunJunitToNull", "run --quiet --junit OUT DIR/pass.odl", 3, 0},
    {"RunJunitToFull", "run --quiet --junit OUT DIR/pass.odl", 7, 2},
    {"ReportToNull", "report DOC -o OUT", 3, 0},
    {"ReportToFull", "report DOC -o OUT", 7, 2},
    {"ReportJunitToNull", "report --junit DOC -o OUT", 3, 0},
    {"ReportJunitToFull", "report --junit DOC -o OUT", 7, 2},
    {"BatchJunitToNull", "batch run --junit OUT DIR/pass.odl", 3, 0},
    {"BatchJunitToFull", "batch run --junit OUT DIR/pass.odl", 7, 2},
    // A proxy that cannot save its settings does not start serving (the time-out only bounds a
    // proxy that wrongly goes on).
    {"ProxySaveToFull", "proxy tcp 0 --insecure --save OUT", 7, 2},
};

class DeviceOutputTest : public CommandOutputTest, public testing::WithParamInterface<DeviceCase> {};

TEST_P(DeviceOutputTest, DeviceIsWrittenThroughAndItsRefusalIsStatusTwo) {
  const DeviceCase& row = GetParam();
  std::string device = Device("out", row.minor);
  std::string arguments = row.arguments;
  auto put = [&arguments](const std::string& mark, const std::string& text) {
    for (std::size_t at; (at = arguments.find(mark)) != std::string::npos;) arguments.replace(at, mark.size(), text);
  };
  put("OUT", device);
  put("DIR", dir_.string());
  if (arguments.find("DOC") != std::string::npos) put("DOC", ResultsDocument());
  testing_support::CommandOutcome outcome =
      testing_support::RunCommandLine("timeout 20 " + kOrdalis + " " + arguments + " </dev/null 2>&1");
  EXPECT_EQ(outcome.status, row.status) << outcome.output;
  EXPECT_TRUE(IsDevice(device)) << "the device was replaced by a file";
}

INSTANTIATE_TEST_SUITE_P(Commands, DeviceOutputTest, testing::ValuesIn(kDeviceCases),
                         [](const testing::TestParamInfo<DeviceCase>& info) { return info.param.name; });

// A JUnit document asked for through a symbolic link replaces the file the link names; the
// link stays.
TEST_F(CommandOutputTest, JunitThroughALinkKeepsTheLink) {
  fs::create_directory(dir_ / "ci");
  fs::create_symlink("ci/junit.xml", dir_ / "junit.xml");
  testing_support::CommandOutcome outcome = testing_support::RunCommandLine(
      kOrdalis + " run --quiet --junit " + Path("junit.xml") + " " + Path("pass.odl") + " 2>&1");
  EXPECT_EQ(outcome.status, 0) << outcome.output;
  EXPECT_TRUE(fs::is_symlink(dir_ / "junit.xml"));
  EXPECT_TRUE(fs::is_regular_file(dir_ / "ci" / "junit.xml"));
}

// /dev/stdout names the command's own standard output, here a pipe, through links of /proc
// that name no path: the document goes down the pipe.
TEST_F(CommandOutputTest, JunitToStandardOutputGoesDownThePipe) {
  testing_support::CommandOutcome outcome = testing_support::RunCommandLine(
      kOrdalis + " run --quiet --results-dir " + Path("out") + " --junit /dev/stdout " + Path("pass.odl") + " | cat");
  EXPECT_EQ(outcome.status, 0) << outcome.output;
  EXPECT_NE(outcome.output.find("<testsuites name=\"pass.odl\""), std::string::npos) << outcome.output;
}

// The files written after the run count like the run's own: an index that cannot be written
// (here a folder stands in its place) is said on standard error and in the run's log, and the
// status is 2 although the script passed.
TEST_F(CommandOutputTest, IndexThatCannotBeWrittenIsStatusTwo) {
  fs::create_directories(dir_ / "out" / "index.html");
  testing_support::CommandOutcome outcome = testing_support::RunCommandLine(
      kOrdalis + " run --quiet --results-dir " + Path("out") + " " + Path("pass.odl") + " 2>&1");
  EXPECT_EQ(outcome.status, 2) << outcome.output;
  EXPECT_NE(outcome.output.find("cannot write the results index"), std::string::npos) << outcome.output;
  std::string log;
  for (const auto& entry : fs::directory_iterator(dir_ / "out")) {
    std::ifstream in(entry.path(), std::ios::binary);
    if (entry.path().extension() == ".log") log.assign(std::istreambuf_iterator<char>(in), {});
  }
  EXPECT_NE(log.find("Severe:Script:cannot write the results index"), std::string::npos) << log;
}

// Runs `ordalis [arguments]` with a standard output whose reader is already gone, as after
// `| head -1`; its exit status, or -1 when a signal ended it.
int RunWithClosedConsole(const std::vector<std::string>& arguments) {
  int pipe_ends[2];
  if (::pipe2(pipe_ends, O_CLOEXEC) != 0) return -2;
  ::close(pipe_ends[0]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  std::string program = kOrdalis;
  argv.push_back(program.data());
  std::vector<std::string> copies = arguments;
  for (std::string& argument : copies) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t child = -1;
  int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipe_ends[1]);
  if (spawned != 0) return -2;
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct ClosedConsoleCase {
  const char* name;
  std::vector<std::string> arguments;  // DIR is the test's folder
  int status;                          // as with an open console
};

const ClosedConsoleCase kClosedConsoleCases[] = {
    {"RunFailing", {"run", "--results-dir", "DIR/out", "DIR/fail.odl"}, 1},
    {"RunPassing", {"run", "--results-dir", "DIR/out", "DIR/pass.odl"}, 0},
    {"BatchRunBothEntries", {"batch", "run", "--results-dir", "DIR/out", "DIR/fail.odl", "DIR/pass.odl"}, 1},
};

class ClosedConsoleTest : public CommandOutputTest, public testing::WithParamInterface<ClosedConsoleCase> {};

TEST_P(ClosedConsoleTest, ResultsAndStatusAreAsWithAnOpenConsole) {
  std::vector<std::string> arguments = GetParam().arguments;
  for (std::string& argument : arguments) {
    if (argument.starts_with("DIR")) argument = dir_.string() + argument.substr(3);
  }
  EXPECT_EQ(RunWithClosedConsole(arguments), GetParam().status);
  // Every script given left its results document.
  std::size_t documents = 0;
  std::error_code ignored;
  for (const auto& entry : fs::recursive_directory_iterator(dir_ / "out", ignored)) {
    std::string name = entry.path().filename().string();
    documents += entry.path().extension() == ".xml" && name.find(".odl_") != std::string::npos;
  }
  std::size_t scripts = 0;
  for (const std::string& argument : GetParam().arguments) scripts += argument.ends_with(".odl");
  EXPECT_EQ(documents, scripts);
}

INSTANTIATE_TEST_SUITE_P(Commands, ClosedConsoleTest, testing::ValuesIn(kClosedConsoleCases),
                         [](const testing::TestParamInfo<ClosedConsoleCase>& info) { return info.param.name; });

// A process id no process has: a child that has ended and been reaped.
pid_t GoneProcess() {
  pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  return child;
}

// A process that has ended but whose parent has not collected its status yet, as a run just
// killed is for a moment; the caller reaps it.
pid_t ZombieProcess() {
  pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  siginfo_t info {};
  ::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT);
  return child;
}

// Working files a run killed before its end left in the results folder are removed by the next
// run there, but never those of a run that may still be going on.
TEST_F(CommandOutputTest, LeftoversOfDeadRunsAreRemovedByTheNextRun) {
  const fs::path out = dir_ / "out";
  fs::create_directories(out);
  const std::string dead = std::to_string(GoneProcess());
  const std::string live = std::to_string(::getpid());
  const pid_t zombie_process = ZombieProcess();
  const std::string zombie = std::to_string(zombie_process);
  struct Leftover {
    std::string name;
    bool removed;
  };
  const std::vector<Leftover> leftovers = {
      {"x.odl.running_" + dead + "_1.log", true},
      {"x.odl.running_" + dead + "_1.odlrec", true},
      {"w.odl.running_" + zombie + "_4.log", true},   // its process has ended, not been reaped
      {"y.odl.running_" + live + "_1.log", false},     // its process lives
      {"z.odl.running_" + dead + "_2.log", false},     // its record is locked: a run elsewhere
      {"z.odl.running_" + dead + "_2.odlrec", false},
      {"notes.running_x_1.log", false},                // not a working file's name
  };
  for (const Leftover& leftover : leftovers) std::ofstream(out / leftover.name) << "lines";
  int locked = ::open((out / ("z.odl.running_" + dead + "_2.odlrec")).c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(locked, 0);
  ASSERT_EQ(::flock(locked, LOCK_SH), 0);

  testing_support::CommandOutcome outcome = testing_support::RunCommandLine(
      kOrdalis + " run --quiet --results-dir " + out.string() + " " + Path("pass.odl") + " 2>&1");
  ::close(locked);
  int status = 0;
  ::waitpid(zombie_process, &status, 0);
  EXPECT_EQ(outcome.status, 0) << outcome.output;
  for (const Leftover& leftover : leftovers) {
    EXPECT_EQ(!fs::exists(out / leftover.name), leftover.removed) << leftover.name;
  }
}

// On a terminal the control characters a script logs are shown escaped, so they cannot drive
// it; the log file keeps the bytes.
TEST_F(CommandOutputTest, ControlCharactersAreEscapedOnATerminalOnly) {
  std::ofstream(dir_ / "escapes.odl") << "printf(\"%s\", \"\x1B]0;title\x07\x1B[2Jcleared\")\n";
  int terminal = -1;
  pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::execl(kOrdalis.c_str(), kOrdalis.c_str(), "run", "--results-dir", Path("out").c_str(),
            Path("escapes.odl").c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  std::string shown;
  char buffer[4096];
  for (ssize_t got; (got = ::read(terminal, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR);) {
    if (got > 0) shown.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(terminal);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << shown;
  EXPECT_NE(shown.find("\\x1B]0;title\\x07\\x1B[2Jcleared"), std::string::npos) << shown;
  EXPECT_EQ(shown.find("\x1B]0;"), std::string::npos) << shown;
  std::string log;
  for (const auto& entry : fs::directory_iterator(dir_ / "out")) {
    std::ifstream in(entry.path(), std::ios::binary);
    if (entry.path().extension() == ".log") log.assign(std::istreambuf_iterator<char>(in), {});
  }
  EXPECT_NE(log.find("\x1B]0;title\x07\x1B[2Jcleared"), std::string::npos) << log;
}

}  // namespace
}  // namespace ordalis
