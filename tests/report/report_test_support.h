#pragma once
// Shared pieces of the report tests: a scratch directory per test, files, and running the
// `ordalis` command or another program as a child process.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/command_line.h"

namespace ordalis::report {

namespace fs = std::filesystem;

using Outcome = testing_support::CommandOutcome;  // standard output and error together

// Runs [command] through the shell.
inline Outcome RunShell(const std::string& command) { return testing_support::RunCommandLine(command + " 2>&1"); }

inline Outcome RunOrdalis(const std::string& arguments) {
  return testing_support::RunCommandLine(testing_support::OrdalisCommandLine(arguments));
}

inline std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

inline void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// The first file in [directory] whose name ends with [suffix] (and is not the index).
inline fs::path FindFile(const fs::path& directory, const std::string& suffix) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(directory, error)) {
    std::string name = entry.path().filename().string();
    if (name == "index.html" || name == "ViewResults.html" || name.size() < suffix.size()) continue;
    if (name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) return entry.path();
  }
  return fs::path();
}

// A test's name as one folder name: a parameterised test's name holds a '/', which would make
// the scratch directory a folder inside another that removing it leaves behind.
inline std::string FolderName(std::string name) {
  for (char& c : name) c = c == '/' ? '_' : c;
  return name;
}

// A scratch directory for one test, with settings files of its own for the command.
class ScratchTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("ordalis_report_" + std::to_string(::getpid()) + "_" +
                                        FolderName(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    setenv("ORDALIS_MACHINE_SETTINGS", (dir_ / "machine.json").c_str(), 1);
    setenv("ORDALIS_USER_SETTINGS", (dir_ / "user.json").c_str(), 1);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // Writes [text] as a script named [name] in the scratch directory and returns its path.
  std::string Script(const std::string& text, const std::string& name = "check.odl") {
    fs::path path = dir_ / name;
    WriteFile(path, text);
    return path.string();
  }

  fs::path dir_;
};

}  // namespace ordalis::report
