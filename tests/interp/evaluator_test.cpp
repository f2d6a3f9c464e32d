#include "interp/evaluator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

#include "fake_script.h"
#include "interp/builtin_values.h"

namespace ordalis {
namespace {

using namespace testing_support;

class EvaluatorTest : public ::testing::Test {
 protected:
  void Set(const std::string& name, VariableValue value) { script_.table.Set(name, std::move(value)); }
  FakeScript script_;
};

// ---- arithmetic -----------------------------------------------------------------------------

struct ArithmeticCase {
  const char* name;
  std::function<ScriptItemPtr()> build;
  Result result;
  std::string value;    // display text of the out value when passed
  std::string message;  // the severe line when failed, else empty
};

class EvaluatedArithmetic : public EvaluatorTest, public ::testing::WithParamInterface<ArithmeticCase> {};

TEST_P(EvaluatedArithmetic, ValueOrMessage) {
  const ArithmeticCase& row = GetParam();
  Set("s", Values("ab"));
  Set("pair", Values(1, 2));
  ScriptItemPtr item = row.build();
  VariableValue out(99);
  Result result = EvaluateArithmetic(script_, item.get(), &out);
  EXPECT_EQ(result, row.result);
  if (row.result == TestPassed) {
    EXPECT_EQ(out.DisplayText(), row.value);
  }
  if (!row.message.empty()) {
    const LoggedLine* line = script_.log.Find(row.message);
    ASSERT_NE(line, nullptr) << row.message;
    EXPECT_EQ(line->level, severe);
    EXPECT_EQ(line->variable_name, "script");
  }
}

INSTANTIATE_TEST_SUITE_P(Table, EvaluatedArithmetic, ::testing::Values(
    ArithmeticCase{"IntegerDivisionTruncates", [] { return Op("/", Int(7), Int(2)); }, TestPassed, "[3]", ""},
    ArithmeticCase{"NegativeDivisor", [] { return Op("/", Int(5), Int(-2)); }, TestPassed, "[-2]", ""},
    ArithmeticCase{"DoubleDivision", [] { return Op("/", Dbl("7.0"), Int(2)); }, TestPassed, "[3.5]", ""},
    ArithmeticCase{"PowerIsDouble", [] { return Op("^", Int(2), Int(10)); }, TestPassed, "[1024]", ""},
    ArithmeticCase{"RemainderSign", [] { return Op("%", Int(-7), Int(2)); }, TestPassed, "[-1]", ""},
    ArithmeticCase{"MinimumOverMinusOne", [] { return Op("/", Int(-2147483647 - 1), Int(-1)); }, TestPassed, "[-2147483648]", ""},
    ArithmeticCase{"MinimumModMinusOne", [] { return Op("%", Int(-2147483647 - 1), Int(-1)); }, TestPassed, "[0]", ""},
    ArithmeticCase{"NestedFollowsTheTree", [] { return Op("+", Int(1), Op("*", Int(2), Int(3))); }, TestPassed, "[7]", ""},
    ArithmeticCase{"StringConcatenation", [] { return Op("+", Id("s"), Str("cd")); }, TestPassed, "[\"abcd\"]", ""},
    ArithmeticCase{"DivisionByZero", [] { return Op("/", Int(5), Int(0)); }, TestError, "", "Division by zero not allowed"},
    ArithmeticCase{"DivisionByZeroDouble", [] { return Op("/", Int(5), Dbl("0")); }, TestError, "", "Division by zero not allowed"},
    ArithmeticCase{"ModulusOfZero", [] { return Op("%", Int(5), Int(0)); }, TestError, "", "Modulus of zero not allowed"},
    ArithmeticCase{"ModulusOnDouble", [] { return Op("%", Dbl("5.5"), Int(2)); }, TestError, "", "Modulus must be on integers"},
    ArithmeticCase{"UnknownOperator", [] { return Op("&", Int(5), Int(2)); }, TestFailed, "", "Unknown arithmetic operation"},
    ArithmeticCase{"StringPlusNumber", [] { return Op("+", Str("ab"), Int(1)); }, TestFailed, "", "Invalid arithmentic operation"},
    ArithmeticCase{"StringMinusString", [] { return Op("-", Str("ab"), Str("a")); }, TestFailed, "", "Invalid arithmentic operation"},
    ArithmeticCase{"ArrayOperand", [] { return Op("+", Id("pair"), Int(1)); }, TestFailed, "", "Invalid arithmentic operation"},
    ArithmeticCase{"OneChild", [] { return Item(arithmeticItem, "+", {Int(1)}); }, TestFailed, "", "Invalid arithmentic operation"},
    ArithmeticCase{"MissingOperand", [] { return Op("+", Id("nothing"), Int(1)); }, TestFailed, "", "Variable nothing not found"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- values ---------------------------------------------------------------------------------

TEST_F(EvaluatorTest, LiteralsAppendNamesReplace) {
  VariableValue out;
  EXPECT_EQ(EvaluateValue(script_, Int(5).get(), &out), TestPassed);
  EXPECT_EQ(EvaluateValue(script_, Item(hexItem, "31").get(), &out), TestPassed);
  EXPECT_EQ(EvaluateValue(script_, Str("a").get(), &out), TestPassed);
  EXPECT_EQ(EvaluateValue(script_, Item(boolItem, "true").get(), &out), TestPassed);
  EXPECT_EQ(EvaluateValue(script_, Item(boolItem, "TRUE").get(), &out), TestPassed);
  EXPECT_EQ(EvaluateValue(script_, Dbl("0.5").get(), &out), TestPassed);
  EXPECT_EQ(EvaluateValue(script_, Item(testResultItem, "warning").get(), &out), TestPassed);
  EXPECT_EQ(EvaluateValue(script_, Item(testResultItem, "Passed").get(), &out), TestPassed);
  EXPECT_EQ(out.DisplayText(), "[5,31,\"a\",true,false,0.5,Warning,Error]");

  Set("x", Values(1));
  EXPECT_EQ(EvaluateValue(script_, Id("X").get(), &out), TestPassed);
  EXPECT_EQ(out.DisplayText(), "[1]");
}

TEST_F(EvaluatorTest, UnknownNamesAndKinds) {
  VariableValue out;
  EXPECT_EQ(EvaluateValue(script_, Id("month2").get(), &out), TestFailed);
  EXPECT_TRUE(script_.log.Contains("Variable month2 not found"));
  EXPECT_EQ(EvaluateValue(script_, Item(sprintfItem, "sprintf").get(), &out), TestFailed);
  EXPECT_TRUE(script_.log.Contains("Unknown type (34) for item sprintf"));
  EXPECT_EQ(EvaluateValue(script_, Item(arrayIndexItem, "[]", {Id("a")}).get(), &out), TestFailed);
  EXPECT_TRUE(script_.log.Contains("Invalid array item"));
}

TEST_F(EvaluatorTest, ActionCallsDeliverTheReturnedValues) {
  script_.action_values = Values(4, "ok");
  VariableValue out;
  auto action = Item(actionItem, ".", {Id("t"), Id("read")});
  EXPECT_EQ(EvaluateValue(script_, action.get(), &out), TestPassed);
  EXPECT_EQ(out.DisplayText(), "[4,\"ok\"]");
}

// ---- indexing -------------------------------------------------------------------------------

struct IndexCase {
  std::string name;
  std::vector<std::int32_t> indexes;
  std::string value;  // display text, or empty for "Invalid array index"
};

class Indexing : public EvaluatorTest, public ::testing::WithParamInterface<IndexCase> {};

TEST_P(Indexing, ElementsAndBytes) {
  VariableValue a = Values(1);
  a.Append(Values(2, 3));
  Set("a", a);
  Set("s", VariableValue("abc"));
  std::vector<ScriptItemPtr> indexes;
  for (std::int32_t i : GetParam().indexes) indexes.push_back(Int(i));
  VariableValue out;
  Result result = EvaluateValue(script_, Index(GetParam().name, std::move(indexes)).get(), &out);
  if (GetParam().value.empty()) {
    EXPECT_EQ(result, TestFailed);
    const LoggedLine* line = script_.log.Find("Invalid array index");
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->variable_name, "Script");
    EXPECT_TRUE(script_.log.Contains("index out of range"));
  } else {
    EXPECT_EQ(result, TestPassed);
    EXPECT_EQ(out.DisplayText(), GetParam().value);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, Indexing, ::testing::Values(
    IndexCase{"s", {0}, "\"abc\""},  // a scalar is its own element 0
    IndexCase{"s", {1}, "\"b\""},    // past the elements, a byte of the string
    IndexCase{"s", {2}, "\"c\""},
    IndexCase{"s", {3}, ""},
    IndexCase{"a", {1, 0}, "2"},
    IndexCase{"a", {1, 1}, "3"},
    IndexCase{"a", {1}, "[2,3]"},
    IndexCase{"a", {0, 0}, "1"},
    IndexCase{"a", {2}, ""},
    IndexCase{"a", {-1}, ""}));

TEST_F(EvaluatorTest, IndexMustBeASingleIntegerAndTheBaseMustExist) {
  Set("a", Values(1, 2));
  VariableValue out;
  EXPECT_EQ(EvaluateValue(script_, Index("a", {Dbl("1.0")}).get(), &out), TestFailed);
  EXPECT_TRUE(script_.log.Contains("Invalid array index"));
  EXPECT_EQ(EvaluateValue(script_, Index("b", {Int(0)}).get(), &out), TestFailed);
  EXPECT_TRUE(script_.log.Contains("Error: variable b not found"));
}

// ---- array elements -------------------------------------------------------------------------

TEST_F(EvaluatorTest, ArrayElementsUnwrapSingleValuesAndNestArrays) {
  Set("one", Values(7));
  Set("two", Values(8, 9));
  auto literal = Item(arrayItem, "[]", {Int(1), Id("one"), Id("two"), Item(arrayItem, "[]", {Str("x")})});
  VariableValue out;
  EXPECT_EQ(EvaluateArrayElement(script_, literal.get(), &out), TestPassed);
  EXPECT_EQ(out.DisplayText(), "[[1,7,[8,9],[\"x\"]]]");

  VariableValue missing;
  auto bad = Item(arrayItem, "[]", {Int(1), Id("nothing"), Int(3)});
  EXPECT_EQ(EvaluateArrayElement(script_, bad.get(), &missing), TestError);
  const LoggedLine* line = script_.log.Find("variable nothing not found returning 0");
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->level, warning);
  EXPECT_FALSE(script_.log.Contains("Variable nothing not found"));
  EXPECT_TRUE(missing.is_invalid());

  VariableValue arithmetic;
  EXPECT_EQ(EvaluateArrayElement(script_, Op("+", Int(2), Int(3)).get(), &arithmetic), TestFailed);
}

// ---- conditions -----------------------------------------------------------------------------

TEST_F(EvaluatorTest, ComparisonsFollowValueOrder) {
  struct Row {
    ItemType type;
    ScriptItemPtr left, right;
    bool expected;
  };
  Set("five", Values(5));
  VariableValue wrapped;  // [[5]]: a comparison takes the one element, here the array [5]
  wrapped.Append(Values(5));
  Set("wrapped", wrapped);
  VariableValue wrapped_pair;  // [[1,2]]
  wrapped_pair.Append(Values(1, 2));
  Set("wrappedpair", wrapped_pair);
  std::vector<Row> rows;
  rows.push_back({equalItem, Id("Wrapped"), Int(5), false});
  rows.push_back({lessThanItem, Id("FIVE"), Id("wrapped"), true});
  rows.push_back({equalItem, Id("wrappedpair"), Id("wrappedpair"), true});
  rows.push_back({equalItem, Id("five"), Dbl("5.0"), true});
  rows.push_back({equalItem, Int(5), Str("5"), false});
  rows.push_back({notEqualItem, Str("a"), Str("A"), true});
  rows.push_back({lessThanItem, Str("B"), Str("a"), true});
  rows.push_back({lessThanOrEqualItem, Int(5), Int(5), true});
  rows.push_back({greaterThanItem, Int(5), Str("1"), false});
  rows.push_back({greaterThanOrEqualItem, Dbl("5.5"), Id("five"), true});
  // Integers on both sides, alone or in a one-element array, under every operator.
  Set("minus", VariableValue(-3));
  rows.push_back({lessThanItem, Id("minus"), Id("five"), true});
  rows.push_back({lessThanOrEqualItem, Id("five"), Int(4), false});
  rows.push_back({equalItem, Int(5), Id("five"), true});
  rows.push_back({greaterThanOrEqualItem, Id("minus"), Int(0), false});
  rows.push_back({greaterThanItem, Id("five"), Id("minus"), true});
  rows.push_back({notEqualItem, Id("minus"), Id("minus"), false});
  for (auto& row : rows) {
    Result result = TestPassed;
    auto item = Item(row.type, "op", {row.left, row.right});
    EXPECT_EQ(EvaluateCondition(script_, item.get(), &result), row.expected) << row.type;
    EXPECT_EQ(result, TestPassed);
  }
}

// An integer literal is its decimal value wrapped to 32 bits, read the same whether it is
// appended as a value or compared, for the short texts read eight digits at once and the rest.
TEST_F(EvaluatorTest, IntegerLiteralsReadAsTheirDecimalValue) {
  for (const char* text : {"0", "7", "00000000", "00000001", "10000000", "99999999", "12345678",
                           "1234567", "100000000", "2147483647", "2147483648", "4294967297",
                           "09", "12a", "1:", "1/", "-5", "+5", "123456789012345678901"}) {
    auto expected = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(static_cast<std::uint64_t>(std::strtoll(text, nullptr, 10))));
    VariableValue appended;
    EXPECT_EQ(EvaluateValue(script_, Item(integerItem, text).get(), &appended), TestPassed);
    EXPECT_EQ(appended.DisplayText(), "[" + std::to_string(expected) + "]") << text;
    Set("expected", Values(expected));
    Result result = TestPassed;
    auto equal = Item(equalItem, "==", {Item(integerItem, text), Id("expected")});
    EXPECT_TRUE(EvaluateCondition(script_, equal.get(), &result)) << text;
  }
}

TEST_F(EvaluatorTest, LogicShortCircuitsAndNames) {
  Set("yes", Values(true));
  Set("count", Values(1));
  Result result = TestPassed;
  // The right side of an or after true, or of an and after false, is never evaluated: a
  // missing name there would log.
  auto or_item = Item(orItem, "or", {Id("yes"), Item(equalItem, "==", {Id("missing"), Int(1)})});
  EXPECT_TRUE(EvaluateCondition(script_, or_item.get(), &result));
  auto and_item = Item(andItem, "and", {Item(notItem, "not", {Id("yes")}), Item(equalItem, "==", {Id("missing"), Int(1)})});
  EXPECT_FALSE(EvaluateCondition(script_, and_item.get(), &result));
  EXPECT_TRUE(script_.log.lines.empty());
  EXPECT_TRUE(EvaluateCondition(script_, Item(boolItem, "true").get(), &result));
  EXPECT_FALSE(EvaluateCondition(script_, Id("absent").get(), &result));
  EXPECT_FALSE(EvaluateCondition(script_, Id("count").get(), &result));
  EXPECT_TRUE(script_.log.Contains("Unknown conditional statement format 0"));
  EXPECT_EQ(result, TestPassed);  // a name that is no Boolean is not recorded as an error
  EXPECT_TRUE(script_.executed.empty());
  EXPECT_EQ(script_.current_items.front(), or_item.get());
}

TEST_F(EvaluatorTest, MalformedConditionsRecordErrorOnTheirItem) {
  Set("pair", Values(1, 2));
  struct Row {
    ScriptItemPtr item;
    std::string message;
  };
  std::vector<Row> rows;
  rows.push_back({Item(equalItem, "==", {Id("pair"), Int(1)}), "Conditional requires single value on left and right =="});
  rows.push_back({Item(arithmeticItem, "+", {Int(1), Int(2)}), "Unknown conditional type 22 +"});
  rows.push_back({Item(integerItem, "1"), "Unknown conditional statement format 0"});
  rows.push_back({Item(notItem, "not", {Int(1), Int(2), Int(3)}), "Unknown conditional statement format 3"});
  for (auto& row : rows) {
    script_.executed.clear();
    Result result = TestPassed;
    EXPECT_FALSE(EvaluateCondition(script_, row.item.get(), &result));
    EXPECT_EQ(result, TestError) << row.message;
    EXPECT_TRUE(script_.log.Contains(row.message)) << row.message;
    ASSERT_EQ(row.item->NumberOfRecords(), 1u);
    EXPECT_EQ(row.item->Record(0).result, TestError);
    EXPECT_EQ(row.item->Record(0).iteration, 3u);
    ASSERT_EQ(script_.executed.size(), 1u);
    EXPECT_EQ(script_.executed[0], row.item.get());
  }
}

// ---- built-in values ------------------------------------------------------------------------

TEST(BuiltInNames, WholeNameMustMatchTheFirstEntryFound) {
  struct Row {
    const char* name;
    std::optional<BuiltIn> value;
    TimeSource time;
  };
  const Row rows[] = {
      {"rand", BuiltIn::kRandom, TimeSource::kCurrent},
      {"random", BuiltIn::kRandom, TimeSource::kCurrent},
      {"currentrand", BuiltIn::kRandom, TimeSource::kCurrent},
      {"Rand_Max", BuiltIn::kRandomMax, TimeSource::kCurrent},
      {"randommax", BuiltIn::kRandomMax, TimeSource::kCurrent},
      {"randratio", BuiltIn::kRandomRatio, TimeSource::kCurrent},
      {"RandomRatio", BuiltIn::kRandomRatio, TimeSource::kCurrent},
      {"runyear", BuiltIn::kYear, TimeSource::kRun},
      {"LoadShortMonth", BuiltIn::kShortMonth, TimeSource::kLoad},
      {"currentsecond", BuiltIn::kSecond, TimeSource::kCurrent},
      {"longmonth", BuiltIn::kLongMonth, TimeSource::kCurrent},
      {"MONTH", BuiltIn::kMonth, TimeSource::kCurrent},
      {"loadday", BuiltIn::kDay, TimeSource::kLoad},
      {"hour", BuiltIn::kHour, TimeSource::kCurrent},
      {"runminute", BuiltIn::kMinute, TimeSource::kRun},
      {"myyear", std::nullopt, TimeSource::kCurrent},
      {"yearly", std::nullopt, TimeSource::kCurrent},
      {"randmax", std::nullopt, TimeSource::kCurrent},
      {"month2", std::nullopt, TimeSource::kCurrent},
      {"currentloadyear", std::nullopt, TimeSource::kCurrent},
      {"x", std::nullopt, TimeSource::kCurrent},
  };
  for (const Row& row : rows) {
    auto match = MatchBuiltIn(row.name);
    ASSERT_EQ(match.has_value(), row.value.has_value()) << row.name;
    if (!match) continue;
    EXPECT_EQ(match->value, *row.value) << row.name;
    EXPECT_EQ(match->time, row.time) << row.name;
  }
}

TEST_F(EvaluatorTest, TimeValuesComeFromTheirSource) {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  script_.now = 1344348185;     // Tue 7 Aug 2012 14:03:05
  script_.loaded = 1262304000;  // Fri 1 Jan 2010 00:00:00
  script_.started = 1344348185;
  VariableValue year, current_year, load_year, month, month_name, second;
  EXPECT_EQ(EvaluateValue(script_, Id("year").get(), &year), TestPassed);
  EXPECT_EQ(EvaluateValue(script_, Id("CurrentYear").get(), &current_year), TestPassed);
  EXPECT_EQ(EvaluateValue(script_, Id("loadyear").get(), &load_year), TestPassed);
  EXPECT_EQ(EvaluateValue(script_, Id("runmonth").get(), &month), TestPassed);
  EXPECT_EQ(EvaluateValue(script_, Id("longmonth").get(), &month_name), TestPassed);
  EXPECT_EQ(EvaluateValue(script_, Id("second").get(), &second), TestPassed);
  EXPECT_EQ(year.DisplayText(), "2012");
  EXPECT_EQ(current_year.DisplayText(), "2012");
  EXPECT_EQ(load_year.DisplayText(), "2010");
  EXPECT_EQ(month.DisplayText(), "8");
  EXPECT_EQ(month_name.DisplayText(), "\"August\"");
  EXPECT_EQ(second.DisplayText(), "5");

  Set("year", Values(1999));  // a script variable hides the built-in
  EXPECT_EQ(EvaluateValue(script_, Id("year").get(), &year), TestPassed);
  EXPECT_EQ(year.DisplayText(), "[1999]");
}

TEST(BuiltInValues, RandomValuesAndTheFallBack) {
  RecordingLogger log;
  for (int i = 0; i < 20; ++i) {
    VariableValue random = BuiltInValue(BuiltIn::kRandom, 0, log);
    EXPECT_EQ(random.kind(), ValueKind::Integer);
    EXPECT_GE(random.integer(), 0);
    VariableValue ratio = BuiltInValue(BuiltIn::kRandomRatio, 0, log);
    EXPECT_EQ(ratio.kind(), ValueKind::Double);
    EXPECT_GE(ratio.dbl(), 0.0);
    EXPECT_LE(ratio.dbl(), 1.0);
  }
  EXPECT_EQ(BuiltInValue(BuiltIn::kRandomMax, 0, log).integer(), 2147483647);
  EXPECT_TRUE(log.lines.empty());

  auto failing = [](std::uint32_t*) { return false; };
  EXPECT_EQ(BuiltInValue(BuiltIn::kRandomMax, 0, log, failing).integer(), 32767);
  VariableValue fallback = BuiltInValue(BuiltIn::kRandom, 0, log, failing);
  EXPECT_GE(fallback.integer(), 0);
  EXPECT_LE(fallback.integer(), 32767);
  VariableValue ratio = BuiltInValue(BuiltIn::kRandomRatio, 0, log, failing);
  EXPECT_LE(ratio.dbl(), 1.0);
  ASSERT_EQ(log.lines.size(), 3u);
  EXPECT_EQ(log.lines[0].message, "rand_s failed using rand()");
  EXPECT_EQ(log.lines[0].level, warning);
  EXPECT_EQ(log.lines[0].variable_name, "Script");
}

}  // namespace
}  // namespace ordalis
