// A Stop that comes at any moment of an action's start-up — while the engine looks the action
// up, as Execute begins, or inside the action — reaches the tester, and the run ends at once.

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "ordalis/tester_plugin.h"
#include "script_fixture.h"
#include "testers/plugin_host.h"
#include "testers/testers.h"

namespace ordalis {
namespace {

using testing_support::ScriptTest;

enum class StopAt { kActionCount, kActionName, kExecuteEntry, kInsideAction };

// A tester on the plug-in base class whose Wait action waits for an abort. It stops the script
// at the chosen moment of the call, on the run thread, which lands the stop exactly there.
class StopWaiter : public plugin::Tester<StopWaiter> {
 public:
  static constexpr const char* kType = "stopwaiter";
  static const ActionTable& Actions() {
    static const ActionTable table = {{"Wait", "Waits for an abort", {"ms"}, {}, &StopWaiter::DoWait}};
    return table;
  }
  static inline std::atomic<StopAt> stop_at{StopAt::kInsideAction};
  static inline std::function<void()> stop;

  Status get_ActionCount(std::uint32_t* count) override {
    StopIf(StopAt::kActionCount);
    return Tester::get_ActionCount(count);
  }
  Status get_Actions(std::uint32_t number, std::string* name) override {
    StopIf(StopAt::kActionName);
    return Tester::get_Actions(number, name);
  }
  Status Execute(std::uint32_t number, VariantArrayPtr parameters, VariantArrayPtr* values,
                 Result* result) override {
    StopIf(StopAt::kExecuteEntry);
    return Tester::Execute(number, std::move(parameters), values, result);
  }

 private:
  Result DoWait(plugin::Call& call) {
    StopIf(StopAt::kInsideAction);
    return WaitForAbort(std::chrono::milliseconds(call.Int(0).value_or(0))) ? TestAborted : TestPassed;
  }
  void StopIf(StopAt here) {
    if (stop_at.load() == here && stop) stop();
  }
};

constexpr const char* kStopWaiterId = "{5E0C2A41-7B8D-4C3E-9F11-2D6A8B0E4C17}";

std::shared_ptr<ITesterCreator> MakeStopWaiterCreator() {
  return std::make_shared<plugin::TesterCreator<StopWaiter>>();
}

class AbortWindowTest : public ScriptTest, public testing::WithParamInterface<StopAt> {
 protected:
  static void SetUpTestSuite() {
    PluginHost::Instance()->AddTesterCreator(kStopWaiterId, &MakeStopWaiterCreator);
    Testers::Instance().Add(kStopWaiterId);
  }
  void TearDown() override {
    StopWaiter::stop = nullptr;
    ScriptTest::TearDown();
  }
};

TEST_P(AbortWindowTest, StopReachesTheActionAndTheRunEndsPromptly) {
  StopWaiter::stop_at.store(GetParam());
  CScript* script = script_.get();
  StopWaiter::stop = [script] { script->Stop(); };
  Load("t = new stopwaiter()\nt.Wait(600000)\n");
  script_->Run();
  ASSERT_TRUE(observer_->WaitForRunEnd()) << "the ten-minute wait was not aborted";
  EXPECT_EQ(Statement(1)->current_result(), TestAborted);
}

std::string MomentName(const testing::TestParamInfo<StopAt>& info) {
  switch (info.param) {
    case StopAt::kActionCount: return "WhileCountingActions";
    case StopAt::kActionName: return "WhileReadingActionNames";
    case StopAt::kExecuteEntry: return "AsExecuteBegins";
    case StopAt::kInsideAction: return "InsideTheAction";
  }
  return "Unknown";
}

INSTANTIATE_TEST_SUITE_P(StartUpMoments, AbortWindowTest,
                         testing::Values(StopAt::kActionCount, StopAt::kActionName,
                                         StopAt::kExecuteEntry, StopAt::kInsideAction),
                         MomentName);

}  // namespace
}  // namespace ordalis
