// `ordalis batch`, driven as a child process.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <regex>

#include "batch/batch_queue.h"
#include "batch/queue_file.h"
#include "batch_test_support.h"
#include "support/command_line.h"

namespace ordalis {
namespace {

using testing_support::ReadFile;

using Outcome = testing_support::CommandOutcome;

Outcome Ordalis(const std::string& arguments) {
  return testing_support::RunCommandLine(testing_support::OrdalisCommandLine("batch " + arguments));
}

int Shell(const std::string& command) {
  int status = std::system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The text after [label] on its line of [output].
std::string After(const std::string& output, const std::string& label) {
  std::size_t at = output.find(label);
  if (at == std::string::npos) return "";
  at += label.size();
  return output.substr(at, output.find('\n', at) - at);
}

class BatchCommandTest : public testing_support::TempDirTest {
 protected:
  // A folder with a passing script, a perl file, a shell file that fails once and one that
  // always fails.
  void MakeFolder() {
    Write("suite/a_pass.odl", "x = 1\n");
    Write("suite/b_ok.pl", "print \"perl ran\\n\"; exit 0;\n");
    Write("suite/c_flaky.sh", "if [ -e marker ]; then exit 0; fi\ntouch marker\nexit 1\n");
    Write("suite/d_fails.sh", "echo broken\nexit 1\n");
    Write("suite/notes.txt", "not a batch item\n");
  }
};

TEST_F(BatchCommandTest, RunsAFolderWithRetriesAndWritesResultsAndJUnit) {
  MakeFolder();
  Outcome outcome = Ordalis("run " + Path("suite") + " --retry 1 --results-dir " + Path("out") + " --junit " +
                            Path("junit.xml") + " --version-under-test 'build 7'");
  EXPECT_EQ(outcome.status, 1) << outcome.output;
  const std::string& out = outcome.output;
  EXPECT_NE(out.find("start   " + Path("suite/a_pass.odl") + " (attempt 1)"), std::string::npos) << out;
  EXPECT_NE(out.find("Passed  " + Path("suite/a_pass.odl") + " (attempt 1 of 2)"), std::string::npos) << out;
  EXPECT_NE(out.find("Failed  " + Path("suite/c_flaky.sh") + " (attempt 1 of 2)"), std::string::npos);
  EXPECT_NE(out.find("start   " + Path("suite/c_flaky.sh") + " (attempt 2)"), std::string::npos);
  EXPECT_NE(out.find("Passed  " + Path("suite/c_flaky.sh") + " (attempt 2 of 2)"), std::string::npos);
  EXPECT_NE(out.find("Failed  " + Path("suite/d_fails.sh") + " (attempt 2 of 2)"), std::string::npos);
  // Each attempt's line names the page a person reads, never the XML a machine reads: a
  // command's log, a script's HTML report (beside its results document, listed in the index).
  std::string command_page = After(out, "Failed  " + Path("suite/d_fails.sh") + " (attempt 2 of 2)");
  EXPECT_EQ(After(command_page, "  log: ").rfind(Path("out") + "/d_fails.sh_", 0), 0u) << command_page;
  EXPECT_EQ(command_page.substr(command_page.size() - 4), ".log") << command_page;
  std::string page = After(After(out, "Passed  " + Path("suite/a_pass.odl") + " (attempt 1 of 2)"), "  report: ");
  EXPECT_EQ(page.substr(page.size() - 5), ".html") << out;
  EXPECT_EQ(out.find("  results: "), std::string::npos) << out;
  EXPECT_NE(ReadFile(page).find("<html"), std::string::npos) << page;
  EXPECT_NE(ReadFile(Path("out/index.html")).find(std::filesystem::path(page).filename().string()), std::string::npos);
  // The index lists the batch, with its verdict and its report, and the attempts of every
  // entry kind, not only the scripts'.
  std::string index = ReadFile(Path("out/index.html"));
  std::string batch_report = std::filesystem::path(After(out, "Batch report: ")).filename().string();
  EXPECT_NE(index.find("<td>BatchQueue</td><td class=\"verdict-cell\"><span class=\"badge r-failed\">Failed</span>"),
            std::string::npos)
      << index;
  EXPECT_NE(index.find("<a href=\"" + batch_report + "\">report</a>"), std::string::npos) << index;
  for (const char* attempt : {"\"b_ok.pl\",\"Passed\"", "\"c_flaky.sh\",\"Failed\"", "\"c_flaky.sh\",\"Passed\"",
                              "\"d_fails.sh\",\"Failed\""}) {
    EXPECT_NE(index.find(attempt), std::string::npos) << attempt << "\n" << index;
  }
  EXPECT_NE(out.find("Entries 4: passed 3, failed 1, aborted 0, not run 0 (6 attempts)"), std::string::npos) << out;
  EXPECT_NE(out.find("  Failed " + Path("suite/d_fails.sh")), std::string::npos);
  EXPECT_NE(out.find("Overall batch result Failed"), std::string::npos);

  std::string results = After(out, "Batch results: ");
  ASSERT_EQ(results.rfind(Path("out") + "/BatchQueue_", 0), 0u) << results;
  std::string xml = ReadFile(results);
  EXPECT_NE(xml.find("<versionundertest>build 7</versionundertest>"), std::string::npos);
  EXPECT_NE(xml.find("<name>../suite/d_fails.sh</name>"), std::string::npos) << xml;
  // A command entry's exit status is kept (an optional element the schema declares); a
  // script's attempt has none.
  EXPECT_NE(xml.find("<maxretry>1</maxretry>\r\n   <exitstatus>1</exitstatus>"), std::string::npos) << xml;
  std::size_t statuses = 0;
  for (std::size_t at = xml.find("<exitstatus>"); at != std::string::npos; at = xml.find("<exitstatus>", at + 1)) {
    ++statuses;
  }
  EXPECT_EQ(statuses, 5u) << "the five command attempts, not the script's\n" << xml;
  EXPECT_EQ(Shell("xmllint --noout --schema " + Path("out/OrdalisBatch4_2.xsd") + " " + results), 0);
  EXPECT_EQ(Shell("xsltproc -o " + Path("report.html") + " " + Path("out/OrdalisBatch4_2.xsl") + " " + results), 0);
  EXPECT_NE(ReadFile(Path("report.html")).find("Test Results for BatchQueue"), std::string::npos);

  std::string junit = ReadFile(Path("junit.xml"));
  // Read as a CI server reads it (the Jenkins xUnit schema has no <flakyFailure>, so the
  // document is read by a real consumer instead): the flaky entry passed, the failing one failed.
  Outcome parsed = testing_support::RunCommandLine(
      "/usr/bin/python3 -c \"import sys\nfrom junitparser import JUnitXml\n"
      "for suite in JUnitXml.fromfile(sys.argv[1]):\n"
      "  print(suite.name, suite.tests, suite.failures, suite.errors)\n"
      "  for case in suite:\n"
      "    print(case.name, case.classname, case.is_passed)\" " + Path("junit.xml") + " 2>&1");
  EXPECT_EQ(parsed.output,
            "suite 4 1 0\na_pass.odl suite True\nb_ok.pl suite True\nc_flaky.sh suite True\n"
            "d_fails.sh suite False\n")
      << junit;
  // One case per entry, named by its path in the folder given, in a suite named after the
  // folder; the last attempt decides it and the earlier failed ones are reruns.
  EXPECT_NE(junit.find("<testsuites tests=\"4\" failures=\"1\" errors=\"0\" time="), std::string::npos) << junit;
  EXPECT_NE(junit.find("<testsuite name=\"suite\""), std::string::npos) << junit;
  EXPECT_NE(junit.find("<testcase name=\"c_flaky.sh\" classname=\"suite\""), std::string::npos) << junit;
  EXPECT_NE(junit.find("file=\"" + Path("suite/d_fails.sh") + "\""), std::string::npos);
  EXPECT_NE(junit.find("<flakyFailure message=\"Failed (attempt 1): exit status 1\">"), std::string::npos) << junit;
  EXPECT_NE(junit.find("<failure message=\"Failed (attempt 2): exit status 1\">"), std::string::npos) << junit;
  EXPECT_NE(junit.find("<rerunFailure message=\"Failed (attempt 1): exit status 1\">"), std::string::npos) << junit;
  EXPECT_NE(junit.find(":broken\n"), std::string::npos) << "with the end of the command's output\n" << junit;
  // Each failed attempt says why under its line.
  EXPECT_NE(out.find("Failed  " + Path("suite/d_fails.sh") + " (attempt 1 of 2)"), std::string::npos);
  EXPECT_NE(After(out, "Failed  " + Path("suite/c_flaky.sh") + " (attempt 1 of 2)").size(), 0u);
  EXPECT_NE(out.find(":exit status 1\n"), std::string::npos) << out;

  // Everything passes without the failing file; removing entries as they finish, the run ends
  // when the queue is empty.
  std::filesystem::remove(Path("suite/d_fails.sh"));
  std::filesystem::remove(Path("suite/marker"));
  outcome = Ordalis("run " + Path("suite") + " --retry 1 --auto-remove --results-dir " + Path("out"));
  EXPECT_EQ(outcome.status, 0) << outcome.output;
  EXPECT_NE(outcome.output.find("Entries 3: passed 3"), std::string::npos) << outcome.output;
}

TEST_F(BatchCommandTest, QueueJUnitNamesEntriesFromTheQueueAndQuotesFailingStatements) {
  Write("q/sub/rail.odl", "t = new echo()\nt.Result(1, 3.1)\n");
  std::string queue = Path("q/nightly.tbq");
  testing_support::WriteFile(queue, batch::QueueFileBytes(queue, {{Path("q/sub/rail.odl"), ""}},
                                                          batch::kNewQueueSettings));
  Outcome run = Ordalis("run " + queue + " --junit " + Path("j.xml"));
  EXPECT_EQ(run.status, 1) << run.output;
  // The statement as written in the script, not as the results document normalises it.
  const std::string failing = Path("q/sub/rail.odl") + "(2): Failed: t.Result(1, 3.1) \xE2\x80\x94 3.1";
  EXPECT_NE(run.output.find("        " + failing + "\n"), std::string::npos) << run.output;
  std::string junit = ReadFile(Path("j.xml"));
  EXPECT_NE(junit.find("<testsuite name=\"nightly\""), std::string::npos) << junit;
  EXPECT_NE(junit.find("<testcase name=\"sub/rail.odl\" classname=\"nightly\""), std::string::npos) << junit;
  EXPECT_NE(junit.find("<failure message=\"Failed (attempt 1): " + failing + "\">" + failing + "\n</failure>"),
            std::string::npos)
      << junit;
  // The batch report beside the batch results: the verdict, the entry with its attempt, why it
  // failed and a link to the script's own report rather than its XML.
  std::string report = After(run.output, "Batch report: ");
  ASSERT_EQ(report.substr(report.size() - 5), ".html") << run.output;
  EXPECT_EQ(report.substr(0, report.size() - 5), After(run.output, "Batch results: ").substr(0, report.size() - 5));
  std::string page = ReadFile(report);
  EXPECT_NE(page.find("<span class=\"Failed\" id=\"verdict\">Failed</span>"), std::string::npos) << page;
  EXPECT_NE(page.find("<td>sub/rail.odl</td><td>1</td><td class=\"Failed\">Failed</td>"), std::string::npos) << page;
  EXPECT_TRUE(std::regex_search(page, std::regex("<a href=\"rail\\.odl_[0-9_]+\\.html\">"))) << page;
  EXPECT_NE(page.find("t.Result(1, 3.1) \xE2\x80\x94 3.1\n</pre>"), std::string::npos) << page;
}

TEST_F(BatchCommandTest, UsageErrorsAndHelp) {
  Write("a.odl", "x = 1\n");
  Write("notes.txt", "x\n");
  Write("bad.tbq", "not a queue file at all");
  struct Case {
    std::string arguments;
    int status;
    std::string says;
  };
  const Case cases[] = {
      {"", 2, "Usage: ordalis batch"},
      {"--help", 0, "Subcommands:"},
      {"frobnicate", 2, "unknown subcommand"},
      {"run", 2, "no queue file or files given"},
      {"run --help", 0, "Ctrl-C stops the queue"},
      {"run " + Path("a.odl") + " --retry many", 2, "--retry takes a count"},
      {"run " + Path("a.odl") + " --loud", 2, "unknown option"},
      {"run " + Path("missing.odl"), 2, "cannot open"},
      {"run " + Path("notes.txt"), 2, "no batch item creator accepts"},
      {"run " + Path("bad.tbq"), 2, "is not a queue file: format version"},
      {"new --help", 0, "--stop-at-end on|off"},
      {"new " + Path("q.txt") + " " + Path("a.odl"), 2, "ends in .tbq"},
      {"list " + Path("missing.tbq"), 2, "Cannot open the queue file"},
      {"list " + Path("bad.tbq"), 2, "byte offset 4"},
      {"results " + Path("a.odl"), 2, "cannot be read as a batch results file"},
      {"set --help", 0, "--email POSITION ADDRESSES"},
  };
  for (const Case& c : cases) {
    Outcome outcome = Ordalis(c.arguments);
    EXPECT_EQ(outcome.status, c.status) << c.arguments << "\n" << outcome.output;
    EXPECT_NE(outcome.output.find(c.says), std::string::npos) << c.arguments << "\n" << outcome.output;
  }
}

// FIFOs, devices and folders are refused as `ordalis run` refuses them, without waiting on them;
// a queue file that lists more entries than a queue holds is refused before its entries are read.
// Each command runs under a safety time-out, so one that waits fails instead of hanging.
TEST_F(BatchCommandTest, FilesThatCannotBeReadAreRefusedWithoutWaiting) {
  Write("a.odl", "x = 1\n");
  Write("results.xml", "<odl_batch_result>\n");
  ASSERT_EQ(::mkfifo(Path("fifo.odl").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(Path("fifo.tbq").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(Path("fifo.xml").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", Path("zero.tbq"));
  std::string names_fifo = Path("names_fifo.tbq");
  testing_support::WriteFile(names_fifo, batch::QueueFileBytes(names_fifo, {{Path("fifo.odl"), ""}}, batch::kNewQueueSettings));
  batch::QueueFileContents crowded;
  crowded.entries.assign(batch::kMaxQueueEntries + 1, {Path("a.odl"), ""});
  testing_support::WriteFile(Path("crowded.tbq"), batch::SerializeQueueFile(crowded));
  struct Case {
    std::string arguments;
    int status;
    std::string says;
  };
  const Case cases[] = {
      {"new " + Path("q.tbq") + " " + Path("fifo.odl"), 2, "cannot open '" + Path("fifo.odl") + "': not a regular file"},
      {"add " + Path("names_fifo.tbq") + " " + Path("fifo.odl"), 2, "not a regular file"},
      {"run " + Path("fifo.odl"), 2, "cannot open '" + Path("fifo.odl") + "': not a regular file"},
      {"list " + names_fifo, 1, "no file  " + Path("fifo.odl")},
      {"list " + Path("fifo.tbq"), 2, "Cannot open the queue file " + Path("fifo.tbq") + ": not a regular file"},
      {"run " + Path("fifo.tbq"), 2, "not a regular file"},
      {"list " + Path("zero.tbq"), 2, "not a regular file"},
      {"results " + Path("fifo.xml"), 2, "cannot open '" + Path("fifo.xml") + "': not a regular file"},
      {"list " + Path("crowded.tbq"), 2, "a queue holds at most"},
      {"run " + Path("crowded.tbq"), 2, "a queue holds at most"},
  };
  for (const Case& c : cases) {
    Outcome outcome = testing_support::RunCommandLine("timeout -s KILL 60 " + testing_support::OrdalisCommandLine("batch " + c.arguments));
    EXPECT_EQ(outcome.status, c.status) << c.arguments << "\n" << outcome.output;
    EXPECT_NE(outcome.output.find(c.says), std::string::npos) << c.arguments << "\n" << outcome.output;
  }
}

// An entry whose file cannot run is an Error with its reason, and every output says the batch
// failed: the console, the batch results file, the JUnit file and the exit status.
TEST_F(BatchCommandTest, EntriesThatCannotRunAreErrorsEverywhere) {
  Write("q/ok.sh", "exit 0\n");
  Write("q/syntax.odl", "if x then\nfailed\n");
  std::filesystem::create_directories(Path("q/folder.odl"));
  std::filesystem::create_symlink("/dev/zero", Path("q/zero.odl"));
  std::filesystem::create_symlink(Path("q/loop.odl"), Path("q/loop.odl"));
  ASSERT_EQ(::mkfifo(Path("q/fifo.odl").c_str(), 0600), 0);
  struct Case {
    const char* file;
    const char* reason;
  };
  const Case cases[] = {
      {"syntax.odl", "syntax.odl(2) : Error: unexpected end of file"},
      {"missing.odl", "No such file or directory"},
      {"folder.odl", "not a regular file"},
      {"zero.odl", "not a regular file"},
      {"fifo.odl", "not a regular file"},
      {"loop.odl", "Too many levels of symbolic links"},
      {"missing.sh", "No such file or directory"},
  };
  std::vector<batch::QueueFileEntry> entries = {{Path("q/ok.sh"), ""}};
  for (const Case& c : cases) entries.push_back({Path(std::string("q/") + c.file), ""});
  std::string queue = Path("q/q.tbq");
  testing_support::WriteFile(queue, batch::QueueFileBytes(queue, entries, batch::kNewQueueSettings));

  Outcome run = Ordalis("run " + queue + " --junit " + Path("j.xml"));
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find("Passed  " + Path("q/ok.sh")), std::string::npos) << run.output;
  for (const Case& c : cases) {
    std::string file = Path(std::string("q/") + c.file);
    EXPECT_NE(run.output.find("Error   " + file + " (attempt 1 of 1)"), std::string::npos) << c.file << "\n" << run.output;
    EXPECT_NE(run.output.find(c.reason), std::string::npos) << c.file << "\n" << run.output;
  }
  EXPECT_NE(run.output.find("Overall batch result Failed"), std::string::npos) << run.output;
  std::string xml = ReadFile(After(run.output, "Batch results: "));
  EXPECT_NE(xml.find("<overall_result>Failed</overall_result>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<comments>Error: " + Path("q/syntax.odl") + "(2) : Error: unexpected end of file</comments>"),
            std::string::npos)
      << xml;
  std::string junit = ReadFile(Path("j.xml"));
  EXPECT_NE(junit.find("<testsuites tests=\"8\" failures=\"0\" errors=\"7\""), std::string::npos) << junit;
  EXPECT_NE(junit.find("<error message=\"Error (attempt 1): not run: the file could not be read: not a regular "
                       "file\">not run: the file could not be read: not a regular file\n</error>"),
            std::string::npos)
      << junit;

  // The same script given on the command line is refused the same way.
  run = Ordalis("run " + Path("q/syntax.odl"));
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find("Error   " + Path("q/syntax.odl")), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("Overall batch result Failed"), std::string::npos) << run.output;
}

// Made and edited from the command line, a queue file round-trips through Load and Save byte
// for byte and runs.
TEST_F(BatchCommandTest, QueueFilesMadeAndEditedFromTheCommandLine) {
  Write("q/a.odl", "x = 1\n");
  Write("q/sub/b.sh", "exit 0\n");
  Write("lib/c.pl", "exit 0;\n");
  std::string queue = Path("q/q.tbq");
  ASSERT_EQ(Ordalis("new " + queue + " " + Path("q/a.odl") + " " + Path("q/sub/b.sh") + " --retry 2").status, 0);
  EXPECT_EQ(Ordalis("new " + queue + " " + Path("q/a.odl")).status, 2) << "an existing file is kept";
  ASSERT_EQ(Ordalis("add " + queue + " " + Path("lib/c.pl") + " --at 1 --email 'Lab <lab@example.com>'").status, 0);
  ASSERT_EQ(Ordalis("move " + queue + " 1 9").status, 0);
  ASSERT_EQ(Ordalis("set " + queue + " --auto-save on --email 2 qa@example.com").status, 0);
  EXPECT_EQ(Ordalis("remove " + queue + " 7").status, 2);
  Outcome list = Ordalis("list " + queue);
  ASSERT_EQ(list.status, 0) << list.output;
  EXPECT_NE(list.output.find("Settings: auto-remove off, email-enabled off, auto-reset on, retry 2, auto-save on, "
                             "stop-at-end on"),
            std::string::npos)
      << list.output;
  std::regex order("1  ok +" + Path("q/a.odl") + "\n +2  ok +" + Path("q/sub/b.sh") + "\n +e-mail: qa@example.com\n +3  ok +" +
                   Path("lib/c.pl") + "\n +e-mail: Lab <lab@example.com>\n");
  EXPECT_TRUE(std::regex_search(list.output, order)) << list.output;
  std::string bytes = ReadFile(queue);

  {
    auto loaded = CBatchQueue::Create(nullptr, QueuePacing::kWakeOnChange);
    auto recorder = testing_support::QueueRecorder::Attach(*loaded);
    ASSERT_EQ(loaded->Load(queue), S_OK);
    ASSERT_TRUE(recorder->WaitFor([](const auto& events) { return events.size() >= 3; }));
    ASSERT_EQ(loaded->Save(), S_OK);
    EXPECT_EQ(ReadFile(queue), bytes) << "Load and Save give back the same bytes";
  }

  ASSERT_EQ(Ordalis("remove " + queue + " 3").status, 0);
  Outcome run = Ordalis("run " + queue);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("Batch results: " + Path("q/Results/q_")), std::string::npos) << run.output;

  // A queue folder copied elsewhere still runs: its entries travel with it.
  std::filesystem::copy(Path("q"), Path("copy"), std::filesystem::copy_options::recursive);
  std::filesystem::remove_all(Path("q"));
  list = Ordalis("list " + Path("copy/q.tbq"));
  EXPECT_EQ(list.status, 0) << list.output;
  EXPECT_NE(list.output.find(Path("copy/sub/b.sh")), std::string::npos);
  Write("copy/ghost.sh", "");
  ASSERT_EQ(Ordalis("add " + Path("copy/q.tbq") + " " + Path("copy/ghost.sh")).status, 0);
  std::filesystem::remove(Path("copy/ghost.sh"));
  list = Ordalis("list " + Path("copy/q.tbq"));
  EXPECT_EQ(list.status, 1) << "an entry that cannot run is reported";
  EXPECT_NE(list.output.find("missing  " + Path("copy/ghost.sh")), std::string::npos) << list.output;
}

TEST_F(BatchCommandTest, ResultsAreShownAndCommented) {
  Write("r/a.sh", "exit 0\n");
  Write("r/b.sh", "exit 1\n");
  Outcome run = Ordalis("run " + Path("r") + " --results-dir " + Path("out"));
  ASSERT_EQ(run.status, 1) << run.output;
  std::string results = After(run.output, "Batch results: ");
  Outcome shown = Ordalis("results " + results + " --comment 2 'known issue #12'");
  ASSERT_EQ(shown.status, 0) << shown.output;
  EXPECT_NE(shown.output.find("Overall result:     Failed"), std::string::npos) << shown.output;
  EXPECT_NE(shown.output.find("Check code:         matches the records"), std::string::npos);
  EXPECT_NE(shown.output.find("   2  iteration 1  Failed  ../r/b.sh  (attempt 1 of 1)  results: b.sh_"),
            std::string::npos)
      << shown.output;
  EXPECT_NE(shown.output.find("      comment: known issue #12"), std::string::npos);
  EXPECT_NE(ReadFile(results).find("<comments>known issue #12</comments>"), std::string::npos);
  EXPECT_EQ(Ordalis("results " + results + " --comment 5 x").status, 2);

  std::string edited = ReadFile(results);
  edited.replace(edited.find("<result>Failed</result>"), 23, "<result>Passed</result>");
  testing_support::WriteFile(results, edited);
  EXPECT_NE(Ordalis("results " + results).output.find("DOES NOT MATCH"), std::string::npos);
}

// The first Ctrl-C stops the queue cleanly: the running entry is aborted and recorded as such,
// the results file is complete, and the console, the results file, the JUnit file and the exit
// status all say the batch failed.
TEST_F(BatchCommandTest, CtrlCStopsTheQueueCleanly) {
  Write("slow/a.sh", "exit 0\n");
  Write("slow/b.sh", "sleep 60\n");
  int output[2];
  ASSERT_EQ(pipe(output), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(output[1], 1);
    dup2(output[1], 2);
    close(output[0]);
    std::string program = std::string(ORDALIS_BINARY_DIR) + "/ordalis";
    std::string folder = Path("slow"), out = Path("out"), junit = Path("j.xml");
    execl(program.c_str(), "ordalis", "batch", "run", folder.c_str(), "--results-dir", out.c_str(), "--junit",
          junit.c_str(), nullptr);
    _exit(127);
  }
  close(output[1]);
  std::string text;
  std::string running = "start   " + Path("slow/b.sh");
  char buffer[4096];
  ssize_t n;
  while (text.find(running) == std::string::npos && (n = read(output[0], buffer, sizeof buffer)) > 0) {
    text.append(buffer, n);
  }
  ASSERT_NE(text.find(running), std::string::npos) << text;
  kill(child, SIGINT);
  while ((n = read(output[0], buffer, sizeof buffer)) > 0) text.append(buffer, n);
  close(output[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status)) << text;
  EXPECT_EQ(WEXITSTATUS(status), 1) << text;
  EXPECT_NE(text.find("stopping the queue"), std::string::npos) << text;
  EXPECT_NE(text.find("Aborted " + Path("slow/b.sh") + " (attempt 1 of 1)"), std::string::npos) << text;
  EXPECT_NE(text.find("Entries 2: passed 1, failed 0, aborted 1, not run 0 (2 attempts)"), std::string::npos) << text;
  EXPECT_NE(text.find("Overall batch result Failed"), std::string::npos) << text;
  std::string results = After(text, "Batch results: ");
  std::string xml = ReadFile(results);
  EXPECT_NE(xml.find("</odl_batch_result>"), std::string::npos) << "the results file is complete";
  EXPECT_NE(xml.find("<overall_result>Failed</overall_result>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<name>../slow/b.sh</name>\r\n   <result>Aborted</result>"), std::string::npos) << xml;
  EXPECT_EQ(Shell("xmllint --noout --schema " + Path("out/OrdalisBatch4_2.xsd") + " " + results), 0);
  std::string junit = ReadFile(Path("j.xml"));
  EXPECT_NE(junit.find("<testsuites tests=\"2\" failures=\"0\" errors=\"1\""), std::string::npos) << junit;
  EXPECT_NE(junit.find("<error message=\"Aborted (attempt 1)"), std::string::npos) << junit;
}

// Reads [fd] into [text] until [wanted] appears, the output ends, or nothing has come for a
// minute (a hung command); true when [wanted] appeared.
bool ReadUntil(int fd, const std::string& wanted, std::string* text) {
  char buffer[4096];
  while (text->find(wanted) == std::string::npos) {
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, 60000) <= 0) return false;
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return false;
    text->append(buffer, n);
  }
  return true;
}

// With --follow an entry's log lines are printed while it runs: the command entry below waits
// for an answer that the test gives only once it has seen the entry's first line, and the
// script entry's own log follows it.
TEST_F(BatchCommandTest, FollowPrintsAnEntrysLogLinesWhileItRuns) {
  ASSERT_EQ(mkfifo(Path("answer").c_str(), 0600), 0);
  Write("follow/a_asks.sh", "echo waiting for an answer\nread answer < '" + Path("answer") + "'\necho got $answer\n");
  Write("follow/b_script.odl", "x = 7\nprintf(\"the script says %d\", x)\n");
  int output[2];
  ASSERT_EQ(pipe(output), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(output[1], 1);
    close(output[0]);
    std::string program = std::string(ORDALIS_BINARY_DIR) + "/ordalis";
    std::string folder = Path("follow"), out = Path("out");
    execl(program.c_str(), "ordalis", "batch", "run", "--follow", folder.c_str(), "--results-dir", out.c_str(),
          nullptr);
    _exit(127);
  }
  close(output[1]);
  std::string text;
  bool asked = ReadUntil(output[0], ":Batch:waiting for an answer\n", &text);
  if (asked) {
    int answer = open(Path("answer").c_str(), O_WRONLY);
    EXPECT_GE(answer, 0);
    EXPECT_EQ(write(answer, "yes\n", 4), 4);
    close(answer);
  } else {
    kill(child, SIGINT);  // the line never came while the entry ran: stop the queue
  }
  ReadUntil(output[0], "\x01", &text);  // to the end of the output
  close(output[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(asked) << text;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << text;
  std::size_t got = text.find(":Batch:got yes\n");
  std::size_t passed = text.find("Passed  " + Path("follow/a_asks.sh"));
  EXPECT_NE(got, std::string::npos) << text;
  EXPECT_LT(got, passed) << text;
  std::size_t says = text.find(":script:the script says 7\n");
  EXPECT_NE(says, std::string::npos) << text;
  EXPECT_LT(says, text.find("Passed  " + Path("follow/b_script.odl"))) << text;
  // Indented, in the log-file line format.
  EXPECT_TRUE(std::regex_search(text, std::regex("\n        \\d{4}/\\d\\d/\\d\\d [0-9:.]+ Info  :Batch:got yes\n")))
      << text;
}

}  // namespace
}  // namespace ordalis
