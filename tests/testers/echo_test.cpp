// The echo module driven as a script would drive it, without a script: created by type name
// through the catalogue, given a trace, opened, every action called by name, closed.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "testers/tester_proxy.h"
#include "testers/testers.h"
#include "testers_support.h"

namespace ordalis {
namespace {

using namespace testing_support;
using ::testing::Contains;
using ::testing::Pair;

VariantArrayPtr Values(VariantArray values) { return std::make_shared<VariantArray>(std::move(values)); }

// Finds the action by name ignoring letter case, as the engine does on every call.
Status CallAction(ITester& tester, const std::string& name, VariantArrayPtr parameters,
                  VariantArrayPtr* values, Result* result) {
  std::uint32_t count = 0;
  if (Failed(tester.get_ActionCount(&count))) return E_FAIL;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::string action;
    if (Succeeded(tester.get_Actions(i, &action)) && Testers::Lower(action) == Testers::Lower(name)) {
      return tester.Execute(i, std::move(parameters), values, result);
    }
  }
  ADD_FAILURE() << "no action " << name;
  return E_INVALIDARG;
}

class EchoTester : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string message;
    echo_ = Testers::Instance().Create("echo", &message);
    ASSERT_TRUE(echo_) << message;
    EXPECT_EQ(message, "Type 'echo' created successfully");
    ASSERT_EQ(echo_->SetTrace(trace_), S_OK);
    VariantBool opened = kVariantFalse;
    ASSERT_EQ(echo_->Open(Values({}), &opened), S_OK);
    ASSERT_EQ(opened, kVariantTrue);
  }
  void TearDown() override {
    VariantBool closed = kVariantFalse;
    EXPECT_EQ(echo_->Close(&closed), S_OK);
    EXPECT_EQ(closed, kVariantTrue);
  }

  std::shared_ptr<TesterProxy> echo_;
  std::shared_ptr<RecordingTrace> trace_ = std::make_shared<RecordingTrace>();
};

struct ActionRow {
  const char* action;
  VariantArray parameters;
  Status status;
  Result result;
  std::vector<std::string> texts;  // expected values, each by its text (or integer)
};

std::vector<std::string> Texts(const VariantArrayPtr& values) {
  std::vector<std::string> texts;
  if (!values) return texts;
  for (const Variant& v : *values) {
    texts.push_back(v.type() == VT_BSTR ? v.as_string() : std::to_string(v.as_int()));
  }
  return texts;
}

TEST_F(EchoTester, EachActionAnswersAsDocumented) {
  const std::vector<ActionRow> rows = {
      {"Echo", {Variant::Int(1), Variant::String("two")}, S_OK, TestPassed, {"1", "two"}},
      {"ECHO", {}, S_OK, TestPassed, {}},
      {"result", {Variant::Int(TestWarning), Variant::String("x")}, S_OK, TestWarning, {"x"}},
      {"Result", {Variant::Int(42)}, S_OK, static_cast<Result>(42), {}},
      {"Result", {Variant::String("no code")}, S_OK, TestError, {}},
      {"Fail", {}, S_OK, TestFailed, {}},
      {"Count", {}, S_OK, TestPassed, {"7"}},
      {"Wait", {Variant::Int(0)}, S_OK, TestPassed, {}},
      {"Wait", {}, S_OK, TestError, {}},
      {"Log", {Variant::Int(warning), Variant::String("careful")}, S_OK, TestPassed, {}},
      {"Log", {Variant::Int(9), Variant::String("no such level")}, S_OK, TestError, {}},
      {"Broken", {}, E_FAIL, TestPassed, {}},
  };
  for (const ActionRow& row : rows) {
    VariantArrayPtr values;
    Result result = TestPassed;
    Status status = CallAction(*echo_, row.action, Values(row.parameters), &values, &result);
    EXPECT_EQ(status, row.status) << row.action;
    if (Succeeded(status)) {
      EXPECT_EQ(result, row.result) << row.action;
    }
    EXPECT_EQ(Texts(values), row.texts) << row.action;
  }
  EXPECT_THAT(trace_->Lines(), Contains(Pair(warning, "careful")));
}

TEST_F(EchoTester, NewEchoHandsOutAWorkingTester) {
  VariantArrayPtr values;
  Result result = TestError;
  ASSERT_EQ(CallAction(*echo_, "NewEcho", Values({}), &values, &result), S_OK);
  ASSERT_TRUE(values);
  ASSERT_EQ(values->size(), 1u);
  auto object = std::dynamic_pointer_cast<ITester>((*values)[0].as_object());
  ASSERT_TRUE(object);
  // As the engine does with a returned tester: wrapped, given a trace, not opened.
  TesterProxy returned;
  ASSERT_TRUE(returned.Attach(object));
  auto trace = std::make_shared<RecordingTrace>();
  ASSERT_EQ(returned.SetTrace(trace), S_OK);
  ASSERT_EQ(CallAction(returned, "Log", Values({Variant::Int(information), Variant::String("hi")}),
                       &values, &result), S_OK);
  EXPECT_THAT(trace->Lines(), Contains(Pair(information, "hi")));
  ASSERT_EQ(CallAction(returned, "count", Values({}), &values, &result), S_OK);
  EXPECT_EQ(Texts(values), std::vector<std::string>{"2"}) << "counts its own calls";

  std::uint32_t kinds = 0;
  EXPECT_EQ(echo_->get_NumberOfReturnedTesters(&kinds), S_OK);
  EXPECT_EQ(kinds, 1u);
  std::shared_ptr<ITester> made;
  EXPECT_EQ(echo_->createReturnedTester(0, &made), S_OK);
  std::string type;
  ASSERT_TRUE(made);
  EXPECT_EQ(made->get_TesterType(&type), S_OK);
  EXPECT_EQ(type, "echo");
}

TEST(EchoOpen, TheSingleParameterFalseReportsNotOpened) {
  struct Row {
    VariantArray parameters;
    VariantBool opened;
  };
  const std::vector<Row> rows = {
      {{Variant::Bool(false)}, kVariantFalse},
      {{Variant::Bool(true)}, kVariantTrue},
      {{Variant::Bool(false), Variant::Bool(false)}, kVariantTrue},
      {{Variant::Int(0)}, kVariantTrue},
      {{}, kVariantTrue},
  };
  for (const Row& row : rows) {
    std::string message;
    auto echo = Testers::Instance().Create("echo", &message);
    ASSERT_TRUE(echo) << message;
    VariantBool opened = 7;
    EXPECT_EQ(echo->Open(Values(row.parameters), &opened), S_OK);
    EXPECT_EQ(opened, row.opened) << row.parameters.size();
  }
}

TEST(EchoDocumentation, EveryLevelIsFilledIn) {
  std::string message;
  auto echo = Testers::Instance().Create("echo", &message);
  ASSERT_TRUE(echo) << message;
  std::string text;
  TextArray in, out;
  EXPECT_EQ(echo->get_Version(&text), S_OK);
  EXPECT_EQ(text, "1.0");
  EXPECT_EQ(echo->get_Description(&text), S_OK);
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(echo->ConstructorDocumentation(&text, &in), S_OK);
  EXPECT_FALSE(text.empty());
  std::uint32_t count = 0;
  ASSERT_EQ(echo->get_ActionCount(&count), S_OK);
  EXPECT_EQ(count, 9u);
  for (std::uint32_t i = 0; i < count; ++i) {
    text.clear();
    EXPECT_EQ(echo->ActionDocumentation(i, &text, &in, &out), S_OK);
    EXPECT_FALSE(text.empty()) << i;
  }
  EXPECT_EQ(echo->ActionDocumentation(count, &text, &in, &out), E_INVALIDARG);
}

}  // namespace
}  // namespace ordalis
