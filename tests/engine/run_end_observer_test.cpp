#include "engine/run_end_observer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "engine/script.h"
#include "script_fixture.h"

namespace ordalis {
namespace {

using testing_support::ScriptTest;
namespace fs = std::filesystem;

// Notes what it is told and what it finds at that moment; calls back into the script to show
// no lock of the script is held.
class NotingObserver : public IRunEndObserver {
 public:
  struct Call {
    WrittenResults results;
    bool document_on_disk;
    ScriptState state_seen;
  };
  explicit NotingObserver(std::weak_ptr<CScript> script) : script_(std::move(script)) {}
  void ResultsWritten(const WrittenResults& results) override {
    ScriptState state = ScriptNotRunning;
    if (auto script = script_.lock()) script->get_State(&state);
    std::lock_guard lock(mutex_);
    calls_.push_back({results, fs::exists(results.results_xml_path), state});
  }
  std::vector<Call> calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  std::weak_ptr<CScript> script_;
  std::mutex mutex_;
  std::vector<Call> calls_;
};

class ThrowingObserver : public IRunEndObserver {
 public:
  void ResultsWritten(const WrittenResults&) override { throw std::runtime_error("no room for the report"); }
};

TEST_F(ScriptTest, RunEndObserverIsToldOfTheWrittenDocumentBeforeTheRunEnds) {
  auto observer = std::make_shared<NotingObserver>(script_);
  script_->SetRunEndObserver(observer);
  EXPECT_EQ(RunToEnd("t = new echo()\nt.Fail()\n"), TestFailed);
  std::vector<NotingObserver::Call> calls = observer->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].results.results_xml_path, script_->results_xml_path());
  EXPECT_EQ(calls[0].results.verdict, TestFailed);
  EXPECT_EQ(calls[0].results.script_file_name, script_->script_file_name());
  EXPECT_TRUE(calls[0].document_on_disk);
  // Told before ScriptNotRunning, so a client waiting for it finds the reports written.
  EXPECT_EQ(calls[0].state_seen, ScriptRunning);

  script_->SetRunEndObserver(nullptr);
  script_->Run();
  ASSERT_TRUE(observer_->WaitForRunEnd(2));
  EXPECT_EQ(observer->calls().size(), 1u);
}

TEST_F(ScriptTest, RunEndObserverThatThrowsIsLoggedAndTheRunEnds) {
  script_->SetRunEndObserver(std::make_shared<ThrowingObserver>());
  EXPECT_EQ(RunToEnd("x = 1\n"), TestPassed);
  EXPECT_TRUE(fs::exists(script_->results_xml_path()));
  EXPECT_TRUE(observer_->Logged("Writing the reports of " + script_->results_xml_path() +
                                " failed: no room for the report"));
}

}  // namespace
}  // namespace ordalis
