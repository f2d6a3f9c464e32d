// Runs every example of the language guide and checks the result its last comment names.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "engine/script.h"
#include "interp/variable_value.h"

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

TEST(LanguageGuide, EveryExampleEndsWithItsExpectedResult) {
  std::vector<Example> examples = Examples();
  ASSERT_GE(examples.size(), 5u);
  fs::path dir = fs::temp_directory_path() / ("ordalis_guide_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  for (const Example& example : examples) {
    SCOPED_TRACE("example at docs/language.md line " + std::to_string(example.line));
    ASSERT_FALSE(example.expect.empty()) << "the example names no expected result";
    std::string path = (dir / "example.odl").string();
    std::ofstream(path, std::ios::binary) << example.text;
    auto script = CScript::Create(nullptr, Pacing{0, 0, 0});
    auto watcher = std::make_shared<Watcher>();
    script->SetScriptEventsClient(watcher);
    VariantBool loaded;
    script->Load(path, &loaded);
    script->Run();
    ASSERT_TRUE(watcher->ended.Wait(20000));
    EXPECT_EQ(VariableValue::ResultWord(script->root()->current_result()), example.expect);
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace ordalis
