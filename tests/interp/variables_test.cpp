#include "interp/variables.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "fake_script.h"

namespace ordalis {
namespace {

using namespace testing_support;

class VariablesTest : public ::testing::Test {
 protected:
  std::string Show(const std::string& name) {
    VariableValue value;
    return script_.table.Get(name, &value) ? value.DisplayText() : std::string("absent");
  }
  VariableValue TesterValue(const std::shared_ptr<CountingTester>& tester) {
    return VariableValue(std::shared_ptr<ITester>(tester));
  }
  // A block whose children form one chain, run the way a branch or a loop body runs.
  Result RunBlock(std::vector<ScriptItemPtr> statements) {
    block_ = Item(thenItem, "then", std::move(statements));
    return script_.ExecuteChain(block_->child(0));
  }
  ScriptItemPtr Local(ScriptItemPtr statement) { return Item(localItem, "local", {std::move(statement)}); }

  FakeScript script_;
  ScriptItemPtr block_;
};

TEST_F(VariablesTest, NamesAreLowerCasedOnStoreAndLookup) {
  SetVariable(script_, "CoUnT", Values(1));
  std::string name;
  VariableValue value;
  ASSERT_TRUE(FindVariable(script_, Id("COUNT").get(), &name, &value));
  EXPECT_EQ(name, "count");
  EXPECT_EQ(value.DisplayText(), "[1]");
  EXPECT_TRUE(FindVariable(script_, Index("Count", {Int(0)}).get(), &name, &value));
  EXPECT_FALSE(FindVariable(script_, Int(1).get(), &name, &value));
  EXPECT_EQ(LowerName("Ab_Z\xc3\x89"), "ab_z\xc3\x89");  // only A to Z change
  EXPECT_TRUE(RemoveVariable(script_, "COUNT"));
  EXPECT_FALSE(RemoveVariable(script_, "count"));
}

// A tester whose destruction reads the variable table: were it released while the table's
// mutex is held, the read would deadlock.
class TableReadingTester : public CountingTester {
 public:
  explicit TableReadingTester(VariableTable* table) : table_(table) {}
  ~TableReadingTester() override { seen_count = table_->Count(); }
  static inline std::size_t seen_count = 0;

 private:
  VariableTable* table_;
};

TEST_F(VariablesTest, ReplacedAndRemovedValuesDieOutsideTheLock) {
  SetVariable(script_, "t", VariableValue(std::shared_ptr<ITester>(std::make_shared<TableReadingTester>(&script_.table))));
  SetVariable(script_, "other", Values(1));
  SetVariable(script_, "t", Values(2));
  EXPECT_EQ(TableReadingTester::seen_count, 2u);
  SetVariable(script_, "t", VariableValue(std::shared_ptr<ITester>(std::make_shared<TableReadingTester>(&script_.table))));
  EXPECT_TRUE(RemoveVariable(script_, "t"));
  EXPECT_EQ(TableReadingTester::seen_count, 1u);
}

// ---- local ----------------------------------------------------------------------------------

TEST_F(VariablesTest, LocalRestoresDisplacedValuesAndRemovesNewNames) {
  SetVariable(script_, "x", Values(1));
  EXPECT_EQ(RunBlock({Local(Assign("x", {Int(2)})), Local(Assign("y", {Int(3)})),
                      Local(Assign("x", {Int(5)}))}),
            TestPassed);
  EXPECT_EQ(Show("x"), "[1]");  // the first displacement wins
  EXPECT_EQ(Show("y"), "absent");
  const LoggedLine* reset = script_.log.Find("Variable x reset to 1");
  ASSERT_NE(reset, nullptr);
  EXPECT_EQ(reset->level, fine);
  EXPECT_TRUE(script_.log.Contains("Local variable y removed"));
}

TEST_F(VariablesTest, LocalIsScopedToItsOwnChainOnly) {
  // then: local x = 2; [nested block: x = 3; local z = 1]; w = x
  auto nested = Item(doItem, "do", {Assign("x", {Int(3)}), Local(Assign("z", {Int(1)}))});
  SetVariable(script_, "x", Values(1));
  RunBlock({Local(Assign("x", {Int(2)})), nested, Assign("w", {Id("x")}), Assign("z2", {Id("z")})});
  EXPECT_EQ(Show("w"), "[3]");       // the nested chain's plain assignment reached the outer x
  EXPECT_EQ(Show("z2"), "absent");   // z ended with the nested chain (assignment failed)
  EXPECT_EQ(Show("x"), "[1]");       // and x came back at the end of the outer chain
  EXPECT_EQ(Show("w"), "[3]");       // a plain assignment is not scoped
}

TEST_F(VariablesTest, LocalWithoutStatementIsAnError) {
  EXPECT_EQ(RunBlock({Item(localItem, "local")}), TestError);
  EXPECT_TRUE(script_.log.Contains("No child for local statement"));
}

TEST_F(VariablesTest, EndOfChainClosesTestersOnlyLocalsHeld) {
  auto only_local = std::make_shared<CountingTester>();
  auto shared = std::make_shared<CountingTester>();
  auto returned = std::make_shared<CountingTester>();
  auto twice = std::make_shared<CountingTester>();
  ChainScope scope;
  VariableValue global_array = Values(1);
  global_array.Append(Values(TesterValue(shared)));
  SetVariable(script_, "global", global_array);

  block_ = Item(thenItem, "then", {});
  std::vector<ScriptItemPtr> locals;
  for (const char* name : {"a", "b", "c", "d", "e"}) {
    locals.push_back(Local(Assign(name, {Int(0)})));
    block_->AddChild(locals.back());
  }
  for (auto& local : locals) scope.ExecuteLocal(script_, local.get());
  script_.table.Set("a", TesterValue(only_local));
  script_.table.Set("b", TesterValue(shared));
  script_.table.Set("c", TesterValue(returned));
  script_.table.Set("d", TesterValue(twice));
  script_.table.Set("e", Values(TesterValue(twice)));
  VariableValue result = TesterValue(returned);
  scope.End(script_, &result);
  EXPECT_EQ(only_local->closes, 1);
  EXPECT_EQ(shared->closes, 0);     // "global" still refers to it, inside a nested array
  EXPECT_EQ(returned->closes, 0);   // the function hands it back to its caller
  EXPECT_EQ(twice->closes, 1);      // closed once although two locals held it
  for (const char* name : {"a", "b", "c", "d", "e"}) EXPECT_EQ(Show(name), "absent") << name;
}

TEST_F(VariablesTest, DiscardForgetsWithoutRestoring) {
  SetVariable(script_, "x", Values(1));
  ChainScope scope;
  block_ = Item(thenItem, "then", {Local(Assign("x", {Int(2)}))});
  scope.ExecuteLocal(script_, block_->child(0));
  EXPECT_EQ(scope.saved_count(), 1u);
  scope.Discard();
  scope.End(script_);
  EXPECT_EQ(Show("x"), "[2]");
}

// ---- function parameters --------------------------------------------------------------------

TEST_F(VariablesTest, FunctionParametersLiveInTheFunctionsVariable) {
  VariableValue parameters = Values(1, 2, 3);
  {
    FunctionParameters call(script_, "F", parameters);
    EXPECT_EQ(Show("f"), "[1,2,3]");
  }
  EXPECT_EQ(Show("f"), "absent");

  SetVariable(script_, "f", Values("outer"));
  FunctionParameters call(script_, "f", Values(9));
  {
    FunctionParameters recursive(script_, "f", Values(10));
    EXPECT_EQ(Show("f"), "[10]");
  }
  EXPECT_EQ(Show("f"), "[9]");
  call.Restore();
  EXPECT_EQ(Show("f"), "[\"outer\"]");
}

TEST_F(VariablesTest, FunctionArgumentsAppendEveryElement) {
  SetVariable(script_, "pair", Values(2, 3));
  VariableValue parameters(7);
  auto call = Item(functionCallItem, "f:", {Int(1), Id("pair"), Item(arrayItem, "[]", {Int(4), Int(5)}),
                                            Item(arrayItem, "[]", {}), Str("s")});
  EXPECT_EQ(FunctionArguments(script_, call.get(), &parameters), TestPassed);
  EXPECT_EQ(parameters.DisplayText(), "[1,2,3,4,5,\"s\"]");

  auto bad = Item(functionCallItem, "f:", {Int(1), Id("missing")});
  EXPECT_EQ(FunctionArguments(script_, bad.get(), &parameters), TestFailed);
  EXPECT_TRUE(script_.log.Contains("Error: parameter 2 to function f invalid"));
}

// ---- default, ++, -- ------------------------------------------------------------------------

TEST_F(VariablesTest, DefaultAssignsOnlyWhenTheNameIsUnknown) {
  auto absent = Item(defaultItem, "default", {Assign("n", {Int(5)})});
  EXPECT_EQ(ExecuteDefault(script_, absent.get()), TestPassed);
  EXPECT_EQ(Show("n"), "[5]");
  auto present = Item(defaultItem, "default", {Assign("N", {Int(6)})});
  EXPECT_EQ(ExecuteDefault(script_, present.get()), TestPassed);
  EXPECT_EQ(Show("n"), "[5]");
  const LoggedLine* line = script_.log.Find("Variable n found default will be ignored");
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->level, information);

  EXPECT_EQ(ExecuteDefault(script_, Item(defaultItem, "default").get()), TestError);
  EXPECT_TRUE(script_.log.Contains("Error: default statement invalid"));
  EXPECT_EQ(ExecuteDefault(script_, Item(defaultItem, "default", {Item(assignmentItem, "=", {Id("n")})}).get()), TestError);
  EXPECT_TRUE(script_.log.Contains("Error: default keyword must be followed by an assignment"));
}

struct StepCase {
  Step step;
  std::function<ScriptItemPtr()> target;
  Result result;
  std::string outcome;  // display text of the variable afterwards, or the severe message
};

class Increment : public VariablesTest, public ::testing::WithParamInterface<StepCase> {};

TEST_P(Increment, ChangesOneIntegerElementOrExplains) {
  SetVariable(script_, "max", Values(2147483647));
  SetVariable(script_, "min", VariableValue(-2147483647 - 1));
  VariableValue nested = Values(1);
  nested.Append(Values(2, 3));
  SetVariable(script_, "a", nested);
  SetVariable(script_, "pair", Values(1, 2));
  SetVariable(script_, "s", Values("a"));
  VariableValue wrapped;  // [[7]]
  wrapped.Append(Values(7));
  SetVariable(script_, "wrapped", wrapped);
  SetVariable(script_, "empty", VariableValue());
  const StepCase& row = GetParam();
  ScriptItemPtr target = row.target();
  auto item = Item(row.step == Step::kIncrement ? incrementItem : decrementItem,
                   row.step == Step::kIncrement ? "++" : "--", {target});
  EXPECT_EQ(ExecuteIncrement(script_, item.get(), row.step), row.result);
  if (row.result == TestPassed) {
    std::string name = target->type() == idItem ? target->text() : target->child(0)->text();
    EXPECT_EQ(Show(LowerName(name)), row.outcome);
  } else {
    EXPECT_TRUE(script_.log.Contains(row.outcome)) << row.outcome;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, Increment, ::testing::Values(
    StepCase{Step::kIncrement, [] { return Id("max"); }, TestPassed, "[-2147483648]"},
    StepCase{Step::kDecrement, [] { return Id("MIN"); }, TestPassed, "2147483647"},
    StepCase{Step::kIncrement, [] { return Index("a", {Int(1), Int(0)}); }, TestPassed, "[1,[3,3]]"},
    StepCase{Step::kDecrement, [] { return Index("a", {Int(0)}); }, TestPassed, "[0,[2,3]]"},
    StepCase{Step::kIncrement, [] { return Id("Wrapped"); }, TestPassed, "[[8]]"},
    StepCase{Step::kIncrement, [] { return Id("pair"); }, TestError, "Error: cannot increment pair it is an array"},
    StepCase{Step::kDecrement, [] { return Id("empty"); }, TestError, "Error: cannot decrement empty it is an array"},
    StepCase{Step::kDecrement, [] { return Index("a", {Int(1)}); }, TestError, "Error: cannot decrement a it is an array"},
    StepCase{Step::kIncrement, [] { return Id("s"); }, TestError, "Error: cannot increment s it is not an integer"},
    StepCase{Step::kDecrement, [] { return Id("nope"); }, TestError, "Error: cannot decrement nope it does not exist"},
    StepCase{Step::kIncrement, [] { return Index("a", {Int(2)}); }, TestError, "Invalid array index"},
    StepCase{Step::kIncrement, [] { return Index("a", {Str("0")}); }, TestError, "Invalid array index"}));

// ---- saveuservar, arraylength ---------------------------------------------------------------

TEST_F(VariablesTest, SaveUserVarStoresListTextsAndReportsOthers) {
  SetVariable(script_, "build", Values(12, "rc"));
  auto call = Item(functionCallItem, "saveuservar", {Id("Build"), Id("nope"), Int(3)});
  EXPECT_EQ(SaveUserVariables(script_, call.get()), TestPassed);
  EXPECT_EQ(script_.manager.user["build"], "12,\"rc\"");
  for (const char* message : {"Save user var", "Saving variable build"}) {
    const LoggedLine* line = script_.log.Find(message);
    ASSERT_NE(line, nullptr) << message;
    EXPECT_EQ(line->level, information);
  }
  for (const char* message : {"Variable nope not found", "Save user var parameter 3 is not a variable"}) {
    const LoggedLine* line = script_.log.Find(message);
    ASSERT_NE(line, nullptr) << message;
    EXPECT_EQ(line->level, warning);
  }
}

TEST_F(VariablesTest, ArrayLengthCountsElementsAndExplainsFailures) {
  VariableValue nested = Values(1);
  nested.Append(Values(2, 3, 4));
  SetVariable(script_, "a", nested);
  SetVariable(script_, "s", VariableValue("abc"));
  VariableValue length;
  auto of = [](ScriptItemPtr child) { return Item(arrayLengthItem, "arraylength", {std::move(child)}); };

  EXPECT_EQ(ArrayLength(script_, of(Id("a")).get(), ArrayLengthUse::kExpression, &length), TestPassed);
  EXPECT_EQ(length.DisplayText(), "2");
  EXPECT_EQ(script_.log.Find("array length for 'a' is 2")->level, fine);
  EXPECT_EQ(ArrayLength(script_, of(Index("a", {Int(1)})).get(), ArrayLengthUse::kAssignment, &length), TestPassed);
  EXPECT_EQ(length.DisplayText(), "3");
  EXPECT_EQ(script_.log.Find("array length for 'a' is 3")->level, information);
  EXPECT_EQ(ArrayLength(script_, of(Id("s")).get(), ArrayLengthUse::kExpression, &length), TestPassed);
  EXPECT_EQ(length.DisplayText(), "1");

  EXPECT_EQ(ArrayLength(script_, of(Id("nope")).get(), ArrayLengthUse::kAssignment, &length), TestPassed);
  EXPECT_EQ(length.DisplayText(), "0");
  EXPECT_TRUE(script_.log.Contains("arraylength variable 'nope' not found returning 0"));
  EXPECT_EQ(ArrayLength(script_, of(Id("nope")).get(), ArrayLengthUse::kExpression, &length), TestFailed);
  EXPECT_TRUE(script_.log.Contains("variable 'nope' not found"));

  EXPECT_EQ(ArrayLength(script_, Item(arrayLengthItem, "arraylength").get(), ArrayLengthUse::kAssignment, &length), TestPassed);
  EXPECT_EQ(length.DisplayText(), "0");
  EXPECT_TRUE(script_.log.Contains("invalid arraylength statement no variable name returning 0"));
  auto two = Item(arrayLengthItem, "arraylength", {Id("a"), Id("s")});
  EXPECT_EQ(ArrayLength(script_, two.get(), ArrayLengthUse::kExpression, &length), TestError);
  EXPECT_EQ(script_.log.Find("invalid arraylength statement")->level, warning);

  VariableValue appended(5);
  EXPECT_EQ(EvaluateValue(script_, of(Id("a")).get(), &appended), TestPassed);
  EXPECT_EQ(appended.DisplayText(), "[2]");
}

}  // namespace
}  // namespace ordalis

namespace ordalis {
namespace {

using namespace testing_support;

// A client replacing a variable while the run thread reads it: every read sees one whole
// value or the other, never a mix.
// Lookups remember where they found a name; a name removed, put back, or cleared away, and a
// different name at the remembered address, are still found as they now are.
TEST(VariableTable, LookupsFollowTheTableAsItChanges) {
  VariableTable table;
  const std::string counter = "i";
  std::string other = "j";
  table.Set("i", VariableValue(1));
  table.Set("j", VariableValue(7));
  std::int32_t value = 0;
  ASSERT_TRUE(table.GetInteger(counter, &value));
  EXPECT_EQ(value, 1);
  EXPECT_EQ(table.StepInteger(counter, 1), VariableTable::StepOutcome::kStepped);
  ASSERT_TRUE(table.GetInteger(counter, &value));
  EXPECT_EQ(value, 2);

  table.Remove("i");
  EXPECT_FALSE(table.GetInteger(counter, &value));
  EXPECT_EQ(table.StepInteger(counter, 1), VariableTable::StepOutcome::kNotInteger);
  table.Set("i", VariableValue("text"));
  EXPECT_FALSE(table.GetInteger(counter, &value));
  table.Set("i", VariableValue(40));
  ASSERT_TRUE(table.GetInteger(counter, &value));
  EXPECT_EQ(value, 40);

  ASSERT_TRUE(table.GetInteger(other, &value));
  EXPECT_EQ(value, 7);
  other = "i";  // the same string object now names another variable
  ASSERT_TRUE(table.GetInteger(other, &value));
  EXPECT_EQ(value, 40);

  table.Clear();
  EXPECT_FALSE(table.GetInteger(counter, &value));
  EXPECT_FALSE(table.Contains(other));
}

// Each kind of write notes a name once, with the value it held before the log began; an inner
// log's names reach the outer log when it ends, unless the outer one had them already.
TEST(VariableTable, WriteLogsNoteFirstWritesAndNest) {
  VariableTable table;
  for (int i = 0; i < 12; ++i) table.Set("v" + std::to_string(i), VariableValue(i));
  WriteLog outer;
  EXPECT_EQ(table.BeginWriteLog(&outer), nullptr);
  table.Set("v0", VariableValue(100));
  table.Set("v0", VariableValue(101));
  table.StepInteger("v1", 1);
  table.Replace("v2", VariableValue(102));
  WriteLog inner;
  EXPECT_EQ(table.BeginWriteLog(&inner), &outer);
  table.Remove("v3");
  table.Set("v0", VariableValue(200));
  for (int i = 4; i < 12; ++i) table.StepInteger("v" + std::to_string(i), 1);  // past the scan limit
  table.Set("new", VariableValue(1));
  table.Set("new", VariableValue(2));
  table.EndWriteLog(&inner, &outer);
  table.Set("after", VariableValue(1));  // noted by the outer log again
  table.EndWriteLog(&outer, nullptr);
  table.Set("unlogged", VariableValue(1));

  auto noted = [](const WriteLog& log) {
    std::string all;
    for (const auto& entry : log.entries()) {
      all += entry.name + (entry.existed ? "=" + entry.previous.ListText() : "(absent)") + ";";
    }
    return all;
  };
  EXPECT_EQ(noted(inner), "v3=3;v0=101;v4=4;v5=5;v6=6;v7=7;v8=8;v9=9;v10=10;v11=11;new(absent);");
  EXPECT_EQ(noted(outer), "v0=0;v1=1;v2=2;v3=3;v4=4;v5=5;v6=6;v7=7;v8=8;v9=9;v10=10;v11=11;new(absent);"
                          "after(absent);");
}

TEST(VariableTableThreads, ClientWritesDuringLookupsStayWhole) {
  FakeScript script;
  VariableValue first = Values("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", 1);
  VariableValue second = Values("bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb", 2, 3);
  script.table.Set("shared", first);
  std::atomic<bool> done{false};
  std::jthread client([&] {
    for (int i = 0; i < 2000; ++i) script.table.Replace("shared", i % 2 ? first : second);
    done = true;
  });
  auto name = Id("SHARED");
  int reads = 0;
  while (!done || reads < 100) {
    std::string lower;
    VariableValue value;
    ASSERT_TRUE(FindVariable(script, name.get(), &lower, &value));
    ASSERT_TRUE(VariableValue::Equal(value, first) || VariableValue::Equal(value, second));
    ++reads;
  }
}

}  // namespace
}  // namespace ordalis
