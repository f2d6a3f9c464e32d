// copylogfile and movelogfile patterns: '*' and '?' are the only wildcards, and a slash or a
// backslash separates directories.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/run_files.h"
#include "trace/logger.h"

namespace ordalis {
namespace {

namespace fs = std::filesystem;

class QuietLogger : public Logger {
 public:
  using Logger::Log;
  void Log(LoggingLevel, const std::string&, const std::string&) override {}
};

struct PatternCase {
  const char* pattern;  // after the logs folder; '|' stands for the separator written
  std::vector<std::string> copied;
};

class LogFilePatterns : public testing::TestWithParam<PatternCase> {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("ordalis_log_patterns_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "logs");
    fs::create_directories(dir_ / "out");
    for (const char* name : {"run1.log", "run[1].log", "a.trc", "b.trc", "ab.trc", "x.txt"}) {
      std::ofstream(dir_ / "logs" / name) << name;
    }
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
};

TEST_P(LogFilePatterns, CopiesExactlyTheNamesThePatternMatches) {
  const PatternCase& row = GetParam();
  std::string pattern = row.pattern;
  std::string logs = (dir_ / "logs").string();
  std::size_t bar = pattern.find('|');
  std::string registered = logs + pattern.substr(0, bar) + pattern.substr(bar + 1);
  if (pattern.substr(0, bar) == "\\") {
    // A backslash between every directory, as a script written on Windows has it.
    std::replace(registered.begin(), registered.end(), '/', '\\');
  }
  RunNames names{(dir_ / "out").string(), "s.odl_stamp", (dir_ / "out" / "s.odl_stamp").string()};
  std::vector<std::string> listed;
  QuietLogger log;
  TransferLogFiles({registered}, LogFileAction::kCopy, names, &listed, log);
  std::vector<std::string> expected;
  for (const std::string& name : row.copied) expected.push_back("s.odl_stamp_" + name);
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, expected) << registered;
  for (const std::string& name : row.copied) EXPECT_TRUE(fs::exists(dir_ / "out" / ("s.odl_stamp_" + name)));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LogFilePatterns,
    testing::Values(PatternCase{"/|run[1].log", {"run[1].log"}},     // brackets are themselves
                    PatternCase{"/|run?.log", {"run1.log"}},          // ? is one character
                    PatternCase{"/|*.trc", {"a.trc", "ab.trc", "b.trc"}},
                    PatternCase{"/|?.trc", {"a.trc", "b.trc"}},
                    PatternCase{"\\|*.txt", {"x.txt"}},               // backslashes separate
                    PatternCase{"/|*", {"a.trc", "ab.trc", "b.trc", "run1.log", "run[1].log", "x.txt"}},
                    PatternCase{"/|run\\1.log", {}}));  // a backslash separates, never escapes

}  // namespace
}  // namespace ordalis
