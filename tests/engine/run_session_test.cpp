// What one run leaves behind when its record file cannot be written: a logged error, and a run
// that still finishes with its results.

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "engine/run_session.h"

#include "script_fixture.h"

namespace ordalis {
namespace {

using testing_support::ScriptTest;
namespace fs = std::filesystem;

TEST_F(ScriptTest, ARecordFileThatCannotBeWrittenIsLoggedAndTheRunFinishes) {
  // The working record file lands on a device that is always full.
  fs::create_directories(dir_ / "Results");
  fs::path record = dir_ / "Results" /
                    ("test.odl.running_" + std::to_string(::getpid()) + "_" + std::to_string(NextRunNumber()) + ".odlrec");
  fs::create_symlink("/dev/full", record);
  EXPECT_EQ(RunToEnd("t = new echo()\nx = t.Echo(1)\n"), TestPassed);
  EXPECT_TRUE(observer_->Logged("Failed to write the record file '" + record.string() +
                                "': No space left on device"));
  EXPECT_TRUE(fs::exists(script_->results_xml_path()));
  // The cut record is a results problem the command line reports.
  ASSERT_EQ(script_->results_problems().size(), 1u);
  EXPECT_NE(script_->results_problems()[0].find(record.string()), std::string::npos);
  EXPECT_EQ(Variable("x").ListText(), "1");
}

}  // namespace
}  // namespace ordalis
