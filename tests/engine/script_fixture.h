#pragma once
// The script tests' fixture: a script object with pacing off, observed by an Observer that
// records its states, executed items, run starts and log lines and lets a test wait for each.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/script.h"
#include "support/temporary_folder.h"

namespace ordalis::testing_support {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Observes one script object: its states, executed items, run starts and log lines, with waits
// on each. Every wait has a generous safety time-out so a broken engine fails instead of
// hanging.
class Observer : public IScriptEventsClient, public ITraceEventsClient {
 public:
  void Executed(ScriptItem* item) override { Note([&] { executed.push_back(item->text()); }); }
  void ResultsReset() override { Note([&] { ++results_resets; }); }
  void Started() override { Note([&] { ++starts; }); }
  void Reset() override { Note([&] { ++resets; }); }
  void StateChanged(ScriptState state) override { Note([&] { states.push_back(state); }); }
  void Log(std::int64_t, double, LoggingLevel level, const std::string& variable_name,
           const std::string& message) override {
    Note([&] { lines.push_back({level, variable_name, message}); });
  }
  void LogClear() override {}

  struct Line {
    LoggingLevel level;
    std::string variable;
    std::string message;
  };

  template <typename Predicate>
  bool WaitFor(Predicate ready) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, 20s, [&] { return ready(); });
  }
  // Waits until the [n]-th run has ended (the state went back to not running after a start).
  bool WaitForRunEnd(int n = 1) {
    return WaitFor([&] {
      int ends = 0;
      bool running = false;
      for (ScriptState s : states) {
        if (s == ScriptRunning) running = true;
        if (s == ScriptNotRunning && running) {
          ++ends;
          running = false;
        }
      }
      return ends >= n;
    });
  }
  bool WaitForState(ScriptState state) {
    return WaitFor([&] { return !states.empty() && states.back() == state; });
  }
  bool Logged(const std::string& message) {
    std::lock_guard lock(mutex);
    return std::any_of(lines.begin(), lines.end(), [&](const Line& l) { return l.message == message; });
  }
  std::vector<std::string> Executed() {
    std::lock_guard lock(mutex);
    return executed;
  }

  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> executed;
  std::vector<ScriptState> states;
  std::vector<Line> lines;
  int results_resets = 0;
  int starts = 0;
  int resets = 0;

 private:
  template <typename F>
  void Note(F f) {
    {
      std::lock_guard lock(mutex);
      f();
    }
    changed.notify_all();
  }
};

class ScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.path().empty());
    dir_ = folder_.path();
    script_ = CScript::Create(nullptr, Pacing{0, 0, 0});
    observer_ = std::make_shared<Observer>();
    script_->SetScriptEventsClient(observer_);
    script_->SetTraceEventsClient(observer_);
  }
  void TearDown() override { script_.reset(); }

  void Load(const std::string& text) {
    std::string path = (dir_ / "test.odl").string();
    std::ofstream(path, std::ios::binary) << text;
    VariantBool loaded = kVariantFalse;
    ASSERT_EQ(script_->Load(path, &loaded), S_OK);
    ASSERT_EQ(loaded, kVariantTrue);
  }

  // Loads [text], runs it to its end and returns the root's result.
  Result RunToEnd(const std::string& text) {
    Load(text);
    script_->Run();
    EXPECT_TRUE(observer_->WaitForRunEnd());
    return script_->root()->current_result();
  }

  VariableValue Variable(const std::string& name) {
    VariableValue value;
    script_->variables().Get(name, &value);
    return value;
  }

  ScriptItem* Statement(std::size_t index) { return script_->root()->child(index); }

  // One folder per test, whatever its name (a parameterised test's name holds a '/'), removed
  // with the fixture.
  TemporaryFolder folder_{"ordalis_engine_"};
  fs::path dir_;
  std::shared_ptr<CScript> script_;
  std::shared_ptr<Observer> observer_;
};

}  // namespace ordalis::testing_support
