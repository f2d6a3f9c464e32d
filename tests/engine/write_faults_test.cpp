// Writes that fail under a run: the file-size limit (writes beyond it fail with EFBIG, as on a
// full disk) and, where a private mount can be made, a tiny tmpfs that really fills up (ENOSPC).
// The results XML, the log file, the record file and the settings file are all written there;
// the run must report the failure, finish, and never leave a half-written results or settings
// file in place of a good one.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/command_line.h"

namespace ordalis {
namespace {

namespace fs = std::filesystem;

const std::string kOrdalis = std::string(ORDALIS_BINARY_DIR) + "/ordalis";

using Outcome = testing_support::CommandOutcome;

Outcome Shell(const std::string& command) { return testing_support::RunCommandLine(command + " 2>&1"); }

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A script that logs, calls a tester (so the record file grows) and makes a long results file.
const char kScript[] =
    "t = new echo()\n"
    "i = 0\n"
    "while i < 300 do\n"
    "  printf(\"line %d of a run whose files cannot all be written\", i)\n"
    "  v = t.Result(0, \"value text of some length to fill the record\")\n"
    "  i++\n"
    "endwhile\n";

class WriteFaultsTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("ordalis_write_faults_" + std::to_string(::getpid()) + "_" +
                                        testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // The environment that points the settings store at [where].
  static std::string SettingsIn(const fs::path& where) {
    return "ORDALIS_MACHINE_SETTINGS=" + (where / "machine.json").string() +
           " ORDALIS_USER_SETTINGS=" + (where / "user.json").string() + " ";
  }

  fs::path dir_;
};

// Beyond the file-size limit every write fails; SIGXFSZ is ignored, as a daemon would.
TEST_F(WriteFaultsTest, FileSizeLimitIsReportedAndLeavesNoHalfFile) {
  std::ofstream(dir_ / "script.odl") << kScript;
  const std::string good_settings = "{\"keys\":{}}\n";
  std::ofstream(dir_ / "user.json") << good_settings;
  const std::string limited = "trap '' XFSZ; " + SettingsIn(dir_) + "prlimit --fsize=4096 -- ";

  Outcome run = Shell(limited + kOrdalis + " run --results-dir " + (dir_ / "out").string() + " " +
                      (dir_ / "script.odl").string());
  EXPECT_NE(run.status, -1) << run.output;  // finished by itself
  EXPECT_EQ(run.status, 2) << run.output;  // the results document could not be written
  EXPECT_NE(run.output.find("Cannot write the log file"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("The results of this run were not written"), std::string::npos) << run.output;
  for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
    const std::string name = entry.path().filename().string();
    EXPECT_EQ(name.find(".tmp-"), std::string::npos) << "temporary file left: " << entry.path();
    if (entry.path().extension() == ".xml") {
      // A results file that stands is complete.
      std::string xml = ReadAll(entry.path());
      xml.erase(xml.find_last_not_of("\r\n") + 1);
      EXPECT_TRUE(xml.ends_with(">") && xml.find("</") != std::string::npos) << entry.path();
    }
  }

  Outcome set = Shell(limited + kOrdalis + " vars set big '\"" + std::string(8000, 'v') + "\"'");
  EXPECT_EQ(set.status, 1) << set.output;
  EXPECT_NE(set.output.find("user.json"), std::string::npos) << set.output;
  EXPECT_EQ(ReadAll(dir_ / "user.json"), good_settings);
  for (const auto& entry : fs::directory_iterator(dir_)) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
  }
}

// The command itself survives the signal a file-size limit sends: whoever starts it need not
// ignore SIGXFSZ for it. The write fails with EFBIG, which is reported, and the status is 2.
TEST_F(WriteFaultsTest, FileSizeLimitSignalDoesNotEndTheRun) {
  std::ofstream(dir_ / "script.odl") << kScript;
  Outcome run = Shell(SettingsIn(dir_) + "prlimit --fsize=4096 -- " + kOrdalis + " run --quiet --results-dir " +
                      (dir_ / "out").string() + " " + (dir_ / "script.odl").string());
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find("File too large"), std::string::npos) << run.output;
}

// The record file must not take the space of a small results folder: in a 1 MiB file system a
// short run keeps its whole log; once the folder is full, the lost log and results are said and
// the status is 2, not a passed run with an empty log.
TEST_F(WriteFaultsTest, SmallFileSystemKeepsTheLogOrSaysItWasLost) {
  if (Shell("unshare -rm true").status != 0) GTEST_SKIP() << "no private mounts here";
  std::ofstream(dir_ / "short.odl") << "a = 1\n";
  std::ofstream(dir_ / "script.odl") << kScript;
  const fs::path mount = dir_ / "small";
  fs::create_directories(mount);
  std::ofstream(dir_ / "inside.sh")
      << "mount -t tmpfs -o size=1m tmpfs " << mount << " || exit 9\n"
      << "export " << SettingsIn(dir_) << "\n"
      << kOrdalis << " run --quiet --results-dir " << mount / "short" << " " << dir_ / "short.odl" << "\n"
      << "echo \"short status $?\"\n"
      << "cat " << mount / "short" << "/short.odl_*.log | grep -c Start\n"
      << "head -c 1000000 /dev/zero > " << mount / "filler" << " 2>/dev/null\n"
      << kOrdalis << " run --quiet --results-dir " << mount / "full" << " " << dir_ / "script.odl" << "\n"
      << "echo \"full status $?\"\n";
  Outcome outcome = Shell("unshare -rm sh " + (dir_ / "inside.sh").string());
  EXPECT_NE(outcome.output.find("short status 0\n1\n"), std::string::npos) << outcome.output;
  EXPECT_NE(outcome.output.find("full status 2\n"), std::string::npos) << outcome.output;
  EXPECT_NE(outcome.output.find("Cannot write the log file"), std::string::npos) << outcome.output;
}

// A small tmpfs in a private mount namespace fills up for real (ENOSPC). The run and the
// settings change happen inside the namespace; what they left is listed there for the checks.
TEST_F(WriteFaultsTest, FullFileSystemIsReportedAndLeavesNoHalfFile) {
  if (Shell("unshare -rm true").status != 0) GTEST_SKIP() << "no private mounts here";
  std::ofstream(dir_ / "script.odl") << kScript;
  const fs::path mount = dir_ / "small";
  fs::create_directories(mount);
  const std::string good_settings = "{\"keys\":{}}\n";
  std::ofstream(dir_ / "user.json") << good_settings;
  // The steps inside the namespace, as a shell script.
  std::ofstream(dir_ / "inside.sh")
      << "mount -t tmpfs -o size=48k tmpfs " << mount << " || exit 9\n"
      << "cp " << dir_ / "script.odl" << " " << dir_ / "user.json" << " " << mount << "\n"
      << "export " << SettingsIn(mount) << "\n"
      << kOrdalis << " run --results-dir " << mount / "out" << " " << mount / "script.odl" << "\n"
      << "echo \"run status $?\"\n"
      << kOrdalis << " vars set big '\"" << std::string(60000, 'v') << "\"'\n"
      << "echo \"set status $?\"\n"
      << "cd " << mount << " && find . -type f | sort\n"
      << "echo settings:; cat user.json\n";
  Outcome outcome = Shell("unshare -rm sh " + (dir_ / "inside.sh").string());
  const std::size_t at = outcome.output.find("run status ");
  ASSERT_NE(at, std::string::npos) << outcome.output;
  const int run_status = std::stoi(outcome.output.substr(at + 11));
  EXPECT_GT(run_status, 0) << outcome.output;
  EXPECT_LT(run_status, 128) << outcome.output;  // not ended by a signal (SIGBUS, SIGSEGV)
  EXPECT_NE(outcome.output.find("Cannot write the log file"), std::string::npos) << outcome.output;
  EXPECT_NE(outcome.output.find("set status 1\n"), std::string::npos) << outcome.output;
  EXPECT_NE(outcome.output.find("settings:\n" + good_settings), std::string::npos) << outcome.output;
  EXPECT_EQ(outcome.output.find(".tmp-"), std::string::npos) << outcome.output;
}

// A disk that fails (EIO), through a preloaded library that refuses the writes to chosen files:
// every write in the results folder, or only the flush (fsync) that a disk's late error surfaces
// at. The run and the settings change report it, finish, and leave no half file in place.
TEST_F(WriteFaultsTest, FailingDiskIsReportedAndLeavesNoHalfFile) {
  std::ofstream(dir_ / "script.odl") << kScript;
  const std::string good_settings = "{\"keys\":{}}\n";
  std::ofstream(dir_ / "user.json") << good_settings;
  const char* asan = std::getenv("ASAN_OPTIONS");
  // The library comes before the sanitizer's runtime in the list of preloaded libraries.
  const std::string preload = "ASAN_OPTIONS='" + std::string(asan ? asan : "") + ":verify_asan_link_order=0' " +
                              "LD_PRELOAD=" + ORDALIS_FAIL_WRITES_LIBRARY + " " + SettingsIn(dir_);
  const fs::path out = dir_ / "out";
  fs::create_directories(out);
  for (const char* calls : {"", "fsync"}) {
    SCOPED_TRACE(std::string("failing calls: ") + (*calls ? calls : "all"));
    Outcome run = Shell(preload + "FAIL_WRITES_CALLS=" + calls + " FAIL_WRITES_UNDER=" + out.string() + " " +
                        kOrdalis + " run --results-dir " + out.string() + " " + (dir_ / "script.odl").string());
    EXPECT_EQ(run.status, 2) << run.output;
    EXPECT_NE(run.output.find("The results of this run were not written"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Input/output error"), std::string::npos) << run.output;
    for (const auto& entry : fs::recursive_directory_iterator(out)) {
      EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
      EXPECT_NE(entry.path().extension(), ".xml") << "no results document stands: " << entry.path();
    }
    Outcome set = Shell(preload + "FAIL_WRITES_CALLS=" + calls + " FAIL_WRITES_UNDER=" + dir_.string() + "/user " +
                        kOrdalis + " vars set big 12");
    EXPECT_EQ(set.status, 1) << set.output;
    EXPECT_NE(set.output.find("user.json"), std::string::npos) << set.output;
    EXPECT_EQ(ReadAll(dir_ / "user.json"), good_settings);
  }
}

}  // namespace
}  // namespace ordalis
