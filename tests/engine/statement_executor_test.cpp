// Statements run by the real executor on the test's thread, through a fake script context: the
// run state and the current tester are plain fields, so the moments of an action call can be
// examined one by one.

#include "interp/statement_executor.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "../interp/fake_script.h"
#include "language/script_loader.h"

namespace ordalis {
namespace {

using testing_support::FakeExecutionContext;

// Where a stop arrives while an action call starts.
enum class StopAt { kNowhere, kActionCount, kActionName, kExecute };

// A tester with one action, Measure, that stops the script at a chosen moment of the call and
// notes what it saw.
class StopPointTester : public ITester {
 public:
  StopPointTester(FakeExecutionContext& script, StopAt at) : script_(script), at_(at) {}

  bool executed = false;
  bool current_while_executing = false;

  Status get_ActionCount(std::uint32_t* count) override {
    StopIf(StopAt::kActionCount);
    *count = 1;
    return S_OK;
  }
  Status get_Actions(std::uint32_t, std::string* name) override {
    StopIf(StopAt::kActionName);
    *name = "Measure";
    return S_OK;
  }
  Status Execute(std::uint32_t, VariantArrayPtr, VariantArrayPtr* values, Result* result) override {
    executed = true;
    current_while_executing = script_.current_tester.get() == this;
    StopIf(StopAt::kExecute);
    *values = std::make_shared<VariantArray>(VariantArray{Variant::Int(5)});
    *result = TestPassed;
    return S_OK;
  }
  Status ActionDocumentation(std::uint32_t, std::string*, TextArray*, TextArray*) override { return E_FAIL; }
  Status Open(VariantArrayPtr, VariantBool* opened) override {
    *opened = kVariantTrue;
    return S_OK;
  }
  Status Close(VariantBool* closed) override {
    *closed = kVariantTrue;
    return S_OK;
  }
  Status Abort() override { return S_OK; }
  Status get_TesterType(std::string* type) override {
    *type = "stoppoint";
    return S_OK;
  }
  Status get_Status(std::string* status) override {
    *status = "ready";
    return S_OK;
  }
  Status SetTrace(std::shared_ptr<ITrace>) override { return S_OK; }

 private:
  void StopIf(StopAt here) {
    if (at_ == here) script_.RequestStop();
  }
  FakeExecutionContext& script_;
  StopAt at_;
};

struct StopRow {
  StopAt at;
  bool executed;
  Result result;
};

class ActionStartTest : public testing::TestWithParam<StopRow> {};

// A stop before Execute begins means the action never starts and records Aborted; a stop
// during Execute finds the tester published as the current one, where Stop's abort reaches it.
TEST_P(ActionStartTest, AStopDuringTheStartOfAnActionIsNeverLost) {
  const StopRow& row = GetParam();
  FakeExecutionContext script;
  auto tester = std::make_shared<StopPointTester>(script, row.at);
  script.table.Set("t", VariableValue(std::shared_ptr<ITester>(tester)));
  ScriptItemPtr root = ScriptItem::Make(rootItem, "root", "test.odl", 0);
  ASSERT_TRUE(ScriptLoader().LoadText("t.Measure()\n", root));

  EXPECT_EQ(script.Run(root.get()), row.result);
  EXPECT_EQ(tester->executed, row.executed);
  if (row.executed) {
    EXPECT_TRUE(tester->current_while_executing);
  }
  EXPECT_EQ(script.tester_calls_begun, 1);
  EXPECT_EQ(script.tester_calls_ended, 1);
  EXPECT_EQ(script.current_tester, nullptr);
  ASSERT_EQ(root->child(0)->NumberOfRecords(), 1u);
  EXPECT_EQ(root->child(0)->Record(0).result, row.result);
}

std::string StopName(const testing::TestParamInfo<StopRow>& info) {
  switch (info.param.at) {
    case StopAt::kNowhere: return "NoStop";
    case StopAt::kActionCount: return "WhileCountingActions";
    case StopAt::kActionName: return "WhileReadingActionNames";
    case StopAt::kExecute: return "DuringExecute";
  }
  return "Unknown";
}

INSTANTIATE_TEST_SUITE_P(StopPoints, ActionStartTest,
                         testing::Values(StopRow{StopAt::kNowhere, true, TestPassed},
                                         StopRow{StopAt::kActionCount, false, TestAborted},
                                         StopRow{StopAt::kActionName, false, TestAborted},
                                         StopRow{StopAt::kExecute, true, TestPassed}),
                         StopName);

// Statements that hand their work to the end of the run reach the script's hooks.
TEST(StatementExecutor, LogFileStatementsRegisterTheirFiles) {
  FakeExecutionContext script;
  ScriptItemPtr root = ScriptItem::Make(rootItem, "root", "test.odl", 0);
  ASSERT_TRUE(ScriptLoader().LoadText("movelogfile(\"a.trc\")\ncopylogfile(\"b.txt\")\n", root));
  EXPECT_EQ(script.Run(root.get()), TestPassed);
  EXPECT_EQ(script.moved_logs, std::vector<std::string>{"a.trc"});
  EXPECT_EQ(script.copied_logs, std::vector<std::string>{"b.txt"});
}

}  // namespace
}  // namespace ordalis
