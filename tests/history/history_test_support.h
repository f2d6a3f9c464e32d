#pragma once
// Shared pieces of the results store tests: a scratch folder per test with settings of its
// own, scripts written into it, the `ordalis` command, and the store read back.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "history/results_store.h"
#include "support/command_line.h"
#include "support/temporary_folder.h"

namespace ordalis::history {

namespace fs = std::filesystem;

inline std::string ReadText(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

inline void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

class HistoryScratch : public testing::Test {
 protected:
  void SetUp() override {
    // A short name of its own: a database server's socket path in it must stay under the
    // system's limit of 107 bytes, whatever the test is called and wherever TMPDIR is.
    ASSERT_FALSE(folder_.path().empty());
    dir_ = folder_.path();
    fs::create_directories(dir_ / "Results");
    setenv("ORDALIS_MACHINE_SETTINGS", (dir_ / "machine.json").c_str(), 1);
    setenv("ORDALIS_USER_SETTINGS", (dir_ / "user.json").c_str(), 1);
  }

  // Writes a script [name] whose verdict is [passes] and returns its path.
  std::string Script(const std::string& name, bool passes = true) {
    fs::path path = dir_ / name;
    WriteText(path, std::string("v = ") + (passes ? "5" : "4") +
                        "\nresult \"Rail 5V\" if v == 5 then passed else failed endif\n");
    return path.string();
  }

  // `ordalis run --results-dir <scratch>/Results ARGS`, standard error included.
  testing_support::CommandOutcome Run(const std::string& args) {
    return testing_support::RunCommandLine(testing_support::OrdalisCommandLine(
        "run --quiet --results-dir " + (dir_ / "Results").string() + " " + args));
  }

  std::string StorePath() const { return (dir_ / "Results" / kStoreFile).string(); }

  ResultsStore OpenStore() { return ResultsStore(StoreLocation{StoreKind::kSqlite, StorePath()}); }

  testing_support::TemporaryFolder folder_{"ordalis_history_"};
  fs::path dir_;
};

}  // namespace ordalis::history
