// Runs every example of the language guide and every script in examples/, and checks the result
// each names in its "# expect:" comment; `ordalis check` finds nothing in either.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "engine/script.h"
#include "interp/variable_value.h"
#include "support/temporary_folder.h"

namespace ordalis {
namespace {

namespace fs = std::filesystem;

struct Example {
  int line;            // where the example starts in the guide
  std::string text;
  std::string expect;  // the result word of "# expect: <word>"
};

std::vector<Example> Examples() {
  std::ifstream guide(std::string(ORDALIS_SOURCE_DIR) + "/docs/language.md");
  std::vector<Example> examples;
  std::string line;
  bool inside = false;
  int number = 0;
  Example current;
  std::regex expect("# expect: (.+)");
  while (std::getline(guide, line)) {
    ++number;
    if (!inside && line == "```odl") {
      inside = true;
      current = Example{number + 1, "", ""};
    } else if (inside && line == "```") {
      inside = false;
      examples.push_back(current);
    } else if (inside) {
      std::smatch match;
      if (std::regex_match(line, match, expect)) current.expect = match[1];
      current.text += line + "\n";
    }
  }
  return examples;
}

class Watcher : public IScriptEventsClient {
 public:
  void Executed(ScriptItem*) override {}
  void ResultsReset() override {}
  void Started() override {}
  void Reset() override {}
  void StateChanged(ScriptState state) override {
    if (state == ScriptRunning) running_ = true;
    if (state == ScriptNotRunning && running_) ended.Set();
  }
  Event ended;

 private:
  std::atomic<bool> running_{false};
};

// Runs the script at [path] once; the Result word of its root, or "" when it did not end.
std::string RunScript(const std::string& path) {
  auto script = CScript::Create(nullptr, Pacing{0, 0, 0});
  auto watcher = std::make_shared<Watcher>();
  script->SetScriptEventsClient(watcher);
  VariantBool loaded;
  script->Load(path, &loaded);
  script->Run();
  if (!watcher->ended.Wait(20000)) return "";
  return VariableValue::ResultWord(script->root()->current_result());
}

// The result word of the last "# expect: <word>" comment of the file at [path].
std::string ExpectedResult(const fs::path& path) {
  std::ifstream in(path);
  std::regex expect("# expect: (.+)");
  std::string line;
  std::string word;
  std::smatch match;
  while (std::getline(in, line)) {
    if (std::regex_match(line, match, expect)) word = match[1];
  }
  return word;
}

TEST(LanguageGuide, EveryExampleEndsWithItsExpectedResult) {
  std::vector<Example> examples = Examples();
  ASSERT_GE(examples.size(), 5u);
  testing_support::TemporaryFolder folder("ordalis_guide_");
  ASSERT_FALSE(folder.path().empty());
  const fs::path dir = folder.path();
  for (const Example& example : examples) {
    SCOPED_TRACE("example at docs/language.md line " + std::to_string(example.line));
    ASSERT_FALSE(example.expect.empty()) << "the example names no expected result";
    std::string path = (dir / "example.odl").string();
    std::ofstream(path, std::ios::binary) << example.text;
    EXPECT_EQ(RunScript(path), example.expect);
  }
}

// The scripts a new user runs first end as they say (those in failing/ fail on purpose), from a
// copy of the examples folder so their results stay out of the source tree.
TEST(ExampleScripts, EveryScriptEndsWithItsExpectedResult) {
  testing_support::TemporaryFolder folder("ordalis_examples_");
  ASSERT_FALSE(folder.path().empty());
  const fs::path dir = folder / "examples";
  fs::copy(std::string(ORDALIS_SOURCE_DIR) + "/examples", dir, fs::copy_options::recursive);
  int scripts = 0;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir)) {
    // Files under lib/ are included by the scripts, not run on their own.
    if (entry.path().extension() != ".odl" || entry.path().parent_path().filename() == "lib") continue;
    ++scripts;
    SCOPED_TRACE(entry.path().filename().string());
    std::string expect = ExpectedResult(entry.path());
    ASSERT_FALSE(expect.empty()) << "the script names no expected result";
    EXPECT_EQ(RunScript(entry.path().string()), expect);
  }
  EXPECT_GT(scripts, 0);
}

// `ordalis check` prints nothing for the examples folder and the guide's examples.
TEST(ExampleScripts, CheckFindsNothing) {
  std::string command = std::string(ORDALIS_BINARY_DIR) + "/ordalis check " + ORDALIS_SOURCE_DIR +
                        "/examples " + ORDALIS_SOURCE_DIR + "/docs/language.md 2>&1";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, got);
  int status = ::pclose(pipe);
  EXPECT_EQ(output, "");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace ordalis
