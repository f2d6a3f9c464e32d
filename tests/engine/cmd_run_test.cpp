// The `ordalis run` command, driven as a child process.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/command_line.h"

namespace ordalis {
namespace {

namespace fs = std::filesystem;

using Outcome = testing_support::CommandOutcome;

Outcome RunOrdalis(const std::string& arguments) {
  return testing_support::RunCommandLine(testing_support::OrdalisCommandLine("run " + arguments));
}

class RunCommandTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("ordalis_cmd_run_" + std::to_string(::getpid()) + "_" +
                                        testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    // The command reads the settings store: give it files of its own.
    setenv("ORDALIS_MACHINE_SETTINGS", (dir_ / "machine.json").c_str(), 1);
    setenv("ORDALIS_USER_SETTINGS", (dir_ / "user.json").c_str(), 1);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Script(const std::string& text) {
    std::string path = (dir_ / "script.odl").string();
    std::ofstream(path) << text;
    return path;
  }

  fs::path dir_;
};

TEST_F(RunCommandTest, RunsTheExampleAndPrintsItsSummary) {
  Outcome outcome = RunOrdalis("--results-dir " + (dir_ / "out").string() + " " +
                        std::string(ORDALIS_SOURCE_DIR) + "/examples/power_supply.odl");
  EXPECT_EQ(outcome.status, 0) << outcome.output;
  EXPECT_NE(outcome.output.find("Info  :Script:Start"), std::string::npos);
  EXPECT_NE(outcome.output.find("Results: " + (dir_ / "out").string() + "/power_supply.odl_"),
            std::string::npos) << outcome.output;
  EXPECT_NE(outcome.output.find("Overall Script Result Passed"), std::string::npos);
  EXPECT_NE(outcome.output.find("|      1 |      0 |      0 |      0 |      0 |    100 | 5 V rail"),
            std::string::npos) << outcome.output;
}

TEST_F(RunCommandTest, ExitStatusAndOptions) {
  EXPECT_EQ(RunOrdalis("--quiet " + Script("t = new echo()\nt.Fail()\n")).status, 1);
  Outcome with_var = RunOrdalis("--var Limit=5 --log-level warning " +
                         Script("assert(limit == 5)\nprintf(\"hidden\")\n"));
  EXPECT_EQ(with_var.status, 0) << with_var.output;
  EXPECT_EQ(with_var.output.find("hidden"), std::string::npos) << "below the chosen level";
  EXPECT_EQ(RunOrdalis((dir_ / "missing.odl").string()).status, 2);
  EXPECT_EQ(RunOrdalis("--log-level loud " + Script("passed\n")).status, 2);
  EXPECT_EQ(RunOrdalis("").status, 2);
  Outcome broken = RunOrdalis(Script("x = \nendif\n"));
  EXPECT_EQ(broken.status, 1);
  EXPECT_NE(broken.output.find(") : Error: "), std::string::npos) << broken.output;
}

TEST_F(RunCommandTest, ReplaysARecordedRun) {
  std::string script = Script("t = new echo()\nv = t.Result(3, \"seen\")\n");
  Outcome first = RunOrdalis("--quiet " + script);
  EXPECT_EQ(first.status, 1);
  std::string record;
  for (const auto& entry : fs::directory_iterator(dir_ / "Results")) {
    if (entry.path().extension() == ".odlrec") record = entry.path().string();
  }
  ASSERT_FALSE(record.empty());
  Outcome replay = RunOrdalis("--log-level fine --playback " + record + " " + script);
  EXPECT_EQ(replay.status, 1) << replay.output;
  EXPECT_NE(replay.output.find("Overall Script Result Warning"), std::string::npos) << replay.output;
  EXPECT_EQ(replay.output.find("in != expected"), std::string::npos);
}

std::string FileText(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Every <measurements> element of a results document, in order, with the run's result before it.
std::string MeasurementsOf(const std::string& xml) {
  std::string found;
  for (std::size_t at = xml.find("<measurements>"); at != std::string::npos; at = xml.find("<measurements>", at + 1)) {
    found += xml.substr(at, xml.find("</measurements>", at) - at);
  }
  return found;
}

// A tester's measurements land on the statement whose action made them, named by the tester,
// else by the statement's result label, else by the action; a failed measurement fails a passing
// action; a playback of the run's record reproduces them exactly.
TEST_F(RunCommandTest, MeasurementsAreRecordedNamedAndReplayed) {
  std::string script = Script(
      "t = new echo()\n"
      "result \"3.3 V rail\" reading = t.Measure(\"\", 4.9963, \"V\", \"GELE\", 3.2, 3.4)\n"
      "t.Measure(\"temperature\", 21.5, \"\u00B0C\", \"LE\", \"\", 40)\n"
      "t.Measure(\"\", \"SN-7\")\n");
  Outcome first = RunOrdalis("--quiet " + script);
  EXPECT_EQ(first.status, 1) << first.output;
  fs::path document, record;
  for (const auto& entry : fs::directory_iterator(dir_ / "Results")) {
    if (entry.path().extension() == ".odlrec") record = entry.path();
    if (entry.path().extension() == ".xml") document = entry.path();
  }
  ASSERT_FALSE(record.empty());
  ASSERT_FALSE(document.empty());
  const std::string measured = MeasurementsOf(FileText(document));
  for (const char* part : {"<name>3.3 V rail</name>", "<value>4.9963</value>", "<unit>V</unit>", "<low>3.2</low>",
                           "<high>3.4</high>", "<comparison>GELE</comparison>", "<result>Failed</result>",
                           "<name>temperature</name>", "<unit>\u00B0C</unit>", "<comparison>LE</comparison>",
                           "<name>Measure</name>", "<type>String</type>", "<value>SN-7</value>"}) {
    EXPECT_NE(measured.find(part), std::string::npos) << part << "\n" << measured;
  }
  EXPECT_EQ(measured.find("<low>", measured.find("temperature")), std::string::npos) << "no low limit given";
  fs::remove(document);

  Outcome replay = RunOrdalis("--quiet --playback " + record.string() + " " + script);
  EXPECT_EQ(replay.status, 1) << replay.output;
  fs::path replayed;
  for (const auto& entry : fs::directory_iterator(dir_ / "Results")) {
    if (entry.path().extension() == ".xml") replayed = entry.path();
  }
  ASSERT_FALSE(replayed.empty());
  EXPECT_EQ(MeasurementsOf(FileText(replayed)), measured);
}

// What is not a regular file is refused with exit status 2 and a message, as a script and as a
// record file; it is never read (a device or FIFO would never end).
TEST_F(RunCommandTest, WhatIsNotARegularFileExitsTwo) {
  const std::string fifo = (dir_ / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string script = Script("passed\n");
  for (const std::string& path : {dir_.string(), std::string("/dev/zero"), fifo}) {
    Outcome as_script = RunOrdalis(path);
    EXPECT_EQ(as_script.status, 2) << path;
    EXPECT_NE(as_script.output.find("not a regular file"), std::string::npos) << as_script.output;
    Outcome as_record = RunOrdalis("--playback " + path + " " + script);
    EXPECT_EQ(as_record.status, 2) << path;
    EXPECT_NE(as_record.output.find("not a regular file"), std::string::npos) << as_record.output;
  }
}

// Out-of-range sleep times are clamped: below zero (however far) waits not at all.
TEST_F(RunCommandTest, SleepClampsOutOfRangeTimes) {
  Outcome outcome = RunOrdalis("--quiet " + Script("sleep(-1e300)\nsleep(0 - 2147483647)\npassed\n"));
  EXPECT_EQ(outcome.status, 0) << outcome.output;
}

}  // namespace
}  // namespace ordalis
