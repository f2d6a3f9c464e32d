// What `ordalis run` leaves behind when runs meet: every run keeps its own results, a results
// folder that cannot be made is a failure, odd bytes never break the document, and a stopped
// run says so. Every results document written is checked with xmllint against its schema.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/command_line.h"

namespace ordalis {
namespace {

namespace fs = std::filesystem;

using Outcome = testing_support::CommandOutcome;

std::string Command(const std::string& arguments) { return testing_support::OrdalisCommandLine("run " + arguments); }

Outcome RunOrdalis(const std::string& arguments) { return testing_support::RunCommandLine(Command(arguments)); }

Outcome Finish(FILE* pipe) { return testing_support::FinishCommandLine(pipe); }

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::vector<fs::path> FilesEndingWith(const fs::path& directory, const std::string& ending) {
  std::vector<fs::path> found;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(directory, ignored)) {
    std::string name = entry.path().filename().string();
    if (name.size() >= ending.size() && name.compare(name.size() - ending.size(), ending.size(), ending) == 0) {
      found.push_back(entry.path());
    }
  }
  return found;
}

class RunResultsCommandTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("ordalis_run_results_" + std::to_string(::getpid()) + "_" +
                                        testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    setenv("ORDALIS_MACHINE_SETTINGS", (dir_ / "machine.json").c_str(), 1);
    setenv("ORDALIS_USER_SETTINGS", (dir_ / "user.json").c_str(), 1);
  }
  void TearDown() override {
    // Every results document the test left validates against the schema written beside it.
    for (const fs::path& xml : FilesEndingWith(dir_ / "Results", ".xml")) {
      std::string check = "xmllint --noout --schema '" + (dir_ / "Results" / "Ordalis4_2.xsd").string() + "' '" +
                          xml.string() + "' >/dev/null 2>&1";
      EXPECT_EQ(std::system(check.c_str()), 0) << xml;
    }
    fs::remove_all(dir_);
  }

  std::string Script(const std::string& text) {
    std::string path = (dir_ / "script.odl").string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  fs::path dir_;
};

TEST_F(RunResultsCommandTest, RunsInOneSecondEachKeepTheirFiles) {
  std::string script = Script("x = 1\n");
  for (int i = 0; i < 3; ++i) ASSERT_EQ(RunOrdalis("--quiet " + script).status, 0);
  EXPECT_EQ(FilesEndingWith(dir_ / "Results", ".xml").size(), 3u);
  EXPECT_EQ(FilesEndingWith(dir_ / "Results", ".log").size(), 3u);
  EXPECT_EQ(FilesEndingWith(dir_ / "Results", ".odlrec").size(), 3u);
}

TEST_F(RunResultsCommandTest, TwoRunsOfOneScriptAtOnceEachKeepAWholeLog) {
  std::string script = Script("sleep(1)\nx = 1\n");
  FILE* first = popen(Command("--quiet --results-dir " + (dir_ / "a").string() + " " + script).c_str(), "r");
  FILE* second = popen(Command("--quiet --results-dir " + (dir_ / "b").string() + " " + script).c_str(), "r");
  EXPECT_EQ(Finish(first).status, 0);
  EXPECT_EQ(Finish(second).status, 0);
  for (const char* folder : {"a", "b"}) {
    std::vector<fs::path> logs = FilesEndingWith(dir_ / folder, ".log");
    ASSERT_EQ(logs.size(), 1u) << folder;
    std::string log = ReadFile(logs[0]);
    EXPECT_EQ(log.find(":Script:Start"), log.rfind(":Script:Start")) << log;
    EXPECT_NE(log.find(":Script:Start"), std::string::npos) << log;
    EXPECT_NE(log.find(":Script:End"), std::string::npos) << log;
    EXPECT_EQ(FilesEndingWith(dir_ / folder, ".odlrec").size(), 1u) << folder;
  }
}

TEST_F(RunResultsCommandTest, AResultsFolderThatCannotBeMadeIsAFailure) {
  std::string script = Script("x = 1\n");
  Outcome outcome = RunOrdalis("--results-dir " + script + "/out " + script);
  EXPECT_EQ(outcome.status, 2) << outcome.output;
  EXPECT_NE(outcome.output.find("cannot create the results directory " + script + "/out: Not a directory"),
            std::string::npos)
      << outcome.output;
  EXPECT_EQ(outcome.output.find("Results:"), std::string::npos) << outcome.output;
}

TEST_F(RunResultsCommandTest, BytesThatAreNotUtf8AndControlBytesStayReadable) {
  std::string script = Script(std::string("x = \"caf\xE9\"\ny = \"ack\x06\"\n", 22));
  ASSERT_EQ(RunOrdalis("--quiet " + script).status, 0);
  std::vector<fs::path> documents = FilesEndingWith(dir_ / "Results", ".xml");
  ASSERT_EQ(documents.size(), 1u);
  std::string document = ReadFile(documents[0]);
  EXPECT_NE(document.find("caf\xC3\xA9"), std::string::npos);
  EXPECT_NE(document.find("ack\\x06"), std::string::npos);
  std::string check = "xmllint --noout '" + documents[0].string() + "' >/dev/null 2>&1";
  EXPECT_EQ(std::system(check.c_str()), 0);
}

// A tester that answers with a code no result stands for fails its action as an Error, in the
// log, the document and the verdict alike.
TEST_F(RunResultsCommandTest, AResultCodeOutsideTheResultsIsAnError) {
  Outcome outcome = RunOrdalis(Script("t = new echo()\nt.Result(12)\n"));
  EXPECT_EQ(outcome.status, 1) << outcome.output;
  EXPECT_NE(outcome.output.find("Action Result returned the result code 12, which is not a result"), std::string::npos)
      << outcome.output;
  EXPECT_NE(outcome.output.find("Overall Script Result Error"), std::string::npos) << outcome.output;
  std::vector<fs::path> documents = FilesEndingWith(dir_ / "Results", ".xml");
  ASSERT_EQ(documents.size(), 1u);
  EXPECT_EQ(ReadFile(documents[0]).find("Unknown Result"), std::string::npos);
}

// Ten thousand nested calls work; a runaway recursion ends at the nesting limit with an Error,
// and the run still writes its results.
TEST_F(RunResultsCommandTest, RecursionStopsAtTheNestingLimitNotTheStack) {
#if defined(__SANITIZE_THREAD__)
  // ThreadSanitizer's bookkeeping of a recursion this deep needs gigabytes (about 3 GB at a
  // thousand levels): the plain and AddressSanitizer builds check it.
  GTEST_SKIP() << "too deep for ThreadSanitizer";
#endif
  const std::string down =
      "function down\n  local n = down[0]\n  if n > 0 then\n    local r = down(n - 1)\n  endif\n"
      "  return n\nendfunction\n";
  EXPECT_EQ(RunOrdalis("--quiet " + Script(down + "result \"deep\" x = down(9999)\n")).status, 0);
  Outcome runaway = RunOrdalis(
      Script("function f\n  local n = f[0]\n  local r = f(n + 1)\n  return n\nendfunction\nx = f(1)\n"));
  EXPECT_EQ(runaway.status, 1) << runaway.output;
  EXPECT_NE(runaway.output.find("Function call nesting too deep: f at depth 10001"), std::string::npos);
  EXPECT_NE(runaway.output.find("Overall Script Result Error"), std::string::npos);
  EXPECT_EQ(FilesEndingWith(dir_ / "Results", ".xml").size(), 2u);
}

// A statement whose form the results document shows as an error (an assert with two values,
// an sscanf with neither argument a literal) is an Error when it runs, so the document, the
// console and the exit status tell one verdict; one that never runs changes nothing.
TEST_F(RunResultsCommandTest, MalformedFormsGiveOneVerdict) {
  struct Case {
    const char* script;
    int status;
    const char* verdict;
  };
  const Case cases[] = {
      {"x = 1\ny = 2\nassert(x == 1, x, y)\n", 1, "Error"},
      {"f = \"%d\"\nr = \"12\"\nv = sscanf(f, r)\n", 1, "Error"},
      {"x = 1\nif x == 2 then\n  assert(x == 1, x, x)\nendif\n", 0, "Passed"},
  };
  for (const Case& c : cases) {
    fs::remove_all(dir_ / "Results");
    Outcome run = RunOrdalis(Script(c.script));
    EXPECT_EQ(run.status, c.status) << c.script << run.output;
    EXPECT_NE(run.output.find(std::string("Overall Script Result ") + c.verdict), std::string::npos) << run.output;
    std::vector<fs::path> documents = FilesEndingWith(dir_ / "Results", ".xml");
    ASSERT_EQ(documents.size(), 1u);
    std::string xml = ReadFile(documents[0]);
    std::string root_verdict = xml.substr(xml.find("<overall_result>"), 40);
    EXPECT_NE(root_verdict.find(std::string(">") + c.verdict + "<"), std::string::npos) << c.script << xml;
  }
}

// A settings file with a syntax error is named on standard error and in the run's log, and
// left as it was; a strict run refuses to start without its settings.
TEST_F(RunResultsCommandTest, UnreadableSettingsAreReported) {
  const std::string broken = "{\"Software\": [\n";
  std::ofstream(dir_ / "user.json") << broken;
  std::string script = Script("x = 1\n");
  Outcome run = RunOrdalis(script);
  EXPECT_EQ(run.status, 0) << run.output;
  const std::string said = "the settings were not read: cannot parse " + (dir_ / "user.json").string() +
                           ": parse error at line 2";
  EXPECT_NE(run.output.find("ordalis run: warning: " + said), std::string::npos) << run.output;
  std::vector<fs::path> logs = FilesEndingWith(dir_ / "Results", ".log");
  ASSERT_EQ(logs.size(), 1u);
  std::string log = ReadFile(logs[0]);
  EXPECT_NE(log.find("Severe:script:The settings were not read: cannot parse"), std::string::npos) << log;

  Outcome strict = RunOrdalis("--strict " + script);
  EXPECT_EQ(strict.status, 2) << strict.output;
  EXPECT_NE(strict.output.find("not run (--strict): the settings were not read"), std::string::npos);
  EXPECT_EQ(FilesEndingWith(dir_ / "Results", ".log").size(), 1u);
  EXPECT_EQ(ReadFile(dir_ / "user.json"), broken);
}

TEST_F(RunResultsCommandTest, AnInterruptedRunIsAborted) {
  std::string script = Script("sleep(10)\nx = 1\n");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::string binary = std::string(ORDALIS_BINARY_DIR) + "/ordalis";
    int null = ::open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execl(binary.c_str(), "ordalis", "run", "--quiet", script.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  // The run has started once its working log exists.
  for (int i = 0; i < 500 && FilesEndingWith(dir_ / "Results", ".log").empty(); ++i) usleep(10000);
  kill(child, SIGINT);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  std::vector<fs::path> documents = FilesEndingWith(dir_ / "Results", ".xml");
  ASSERT_EQ(documents.size(), 1u);
  std::string document = ReadFile(documents[0]);
  std::size_t root = document.find("<type>root</type>");
  ASSERT_NE(root, std::string::npos);
  std::size_t overall = document.find("<overall_result>", root);
  EXPECT_EQ(document.compare(overall, 24, "<overall_result>Aborted<"), 0) << document;
}

}  // namespace
}  // namespace ordalis
