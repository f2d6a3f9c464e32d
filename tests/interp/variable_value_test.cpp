#include "interp/variable_value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "fake_script.h"

namespace ordalis {
namespace {

using testing_support::CountingTester;
using testing_support::Values;

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

TEST(VariableValue, DefaultIsEmptyArrayAndScalarsCountAsOneElement) {
  VariableValue empty;
  EXPECT_TRUE(empty.is_invalid());
  EXPECT_EQ(empty.ElementCount(), 0u);
  EXPECT_THROW(empty.Element(0), IndexOutOfRange);

  VariableValue five(5);
  EXPECT_EQ(five.ElementCount(), 1u);
  EXPECT_EQ(&five.Element(0), &five);
  EXPECT_EQ(five.dbl(), 5.0);
  try {
    five.Element(1);
    FAIL();
  } catch (const IndexOutOfRange& error) {
    EXPECT_STREQ(error.what(), "Index out of range");
  }
}

TEST(VariableValue, AppendingToAScalarDropsTheScalar) {
  VariableValue value("a");
  value.Append(VariableValue(1));
  ASSERT_EQ(value.kind(), ValueKind::Array);
  ASSERT_EQ(value.ElementCount(), 1u);
  EXPECT_EQ(value.Element(0).kind(), ValueKind::Integer);
  EXPECT_EQ(value.Element(0).integer(), 1);
}

TEST(VariableValue, DoubleMirrorTruncatesOrFallsBackToMinimum) {
  EXPECT_EQ(VariableValue(-2.9).integer(), -2);
  EXPECT_EQ(VariableValue(1e10).integer(), kMin);
  EXPECT_EQ(VariableValue(std::nan("")).integer(), kMin);
  EXPECT_EQ(VariableValue(std::shared_ptr<ITester>()).kind(), ValueKind::Integer);
}

TEST(VariableValue, CopiesAreDeepButShareTheTester) {
  auto tester = std::make_shared<CountingTester>();
  VariableValue original;
  original.Append(VariableValue(std::shared_ptr<ITester>(tester)));
  original.Append(Values(1, 2));
  long before = tester.use_count();
  VariableValue copy = original;
  EXPECT_EQ(tester.use_count(), before + 1);
  copy.Element(1).Element(0) = VariableValue(9);
  EXPECT_EQ(original.Element(1).Element(0).integer(), 1);
  EXPECT_TRUE(VariableValue::Equal(copy.Element(0), original.Element(0)));
}

// ---- arithmetic ---------------------------------------------------------------------------

enum class Op { kAdd, kSub, kMul, kDiv, kRem, kPow };

struct ArithmeticRow {
  Op op;
  VariableValue left, right;
  std::string expected;  // display text; "[]" is the invalid value
  ValueKind kind;
};

VariableValue Apply(Op op, const VariableValue& l, const VariableValue& r) {
  switch (op) {
    case Op::kAdd: return VariableValue::Add(l, r);
    case Op::kSub: return VariableValue::Subtract(l, r);
    case Op::kMul: return VariableValue::Multiply(l, r);
    case Op::kDiv: return VariableValue::Divide(l, r);
    case Op::kRem: return VariableValue::Remainder(l, r);
    case Op::kPow: return VariableValue::Power(l, r);
  }
  return VariableValue();
}

class Arithmetic : public ::testing::TestWithParam<ArithmeticRow> {};

TEST_P(Arithmetic, FollowsTheKindTable) {
  const ArithmeticRow& row = GetParam();
  VariableValue result = Apply(row.op, row.left, row.right);
  EXPECT_EQ(result.DisplayText(), row.expected);
  EXPECT_EQ(result.kind(), row.kind);
  if (result.kind() == ValueKind::Integer) {
    EXPECT_EQ(result.dbl(), result.integer());
  }
  if (result.kind() == ValueKind::Double && std::fabs(result.dbl()) < 2e9) {
    EXPECT_EQ(result.integer(), static_cast<std::int32_t>(result.dbl()));
  }
}

using V = VariableValue;
const ValueKind I = ValueKind::Integer, D = ValueKind::Double, S = ValueKind::String,
                A = ValueKind::Array;

INSTANTIATE_TEST_SUITE_P(Table, Arithmetic, ::testing::Values(
    ArithmeticRow{Op::kAdd, V(kMax), V(1), "-2147483648", I},
    ArithmeticRow{Op::kSub, V(kMin), V(1), "2147483647", I},
    ArithmeticRow{Op::kMul, V(65536), V(65536), "0", I},
    ArithmeticRow{Op::kAdd, V(1), V(0.5), "1.5", D},
    ArithmeticRow{Op::kSub, V(0.5), V(2), "-1.5", D},
    ArithmeticRow{Op::kAdd, V("ab"), V("cd"), "\"abcd\"", S},
    ArithmeticRow{Op::kSub, V("ab"), V("cd"), "[]", A},
    ArithmeticRow{Op::kAdd, V("ab"), V(1), "[]", A},
    ArithmeticRow{Op::kAdd, V(true), V(1), "[]", A},
    ArithmeticRow{Op::kDiv, V(7), V(-2), "-3", I},
    ArithmeticRow{Op::kDiv, V(-7), V(2), "-3", I},
    ArithmeticRow{Op::kDiv, V(7.0), V(2), "3.5", D},
    ArithmeticRow{Op::kDiv, V(kMin), V(-1), "-2147483648", I},
    ArithmeticRow{Op::kDiv, V(1), V(0), "[]", A},
    ArithmeticRow{Op::kRem, V(7), V(-2), "1", I},
    ArithmeticRow{Op::kRem, V(-7), V(2), "-1", I},
    ArithmeticRow{Op::kRem, V(kMin), V(-1), "0", I},
    ArithmeticRow{Op::kRem, V(5), V(0), "[]", A},
    ArithmeticRow{Op::kRem, V(5.5), V(2), "[]", A},
    ArithmeticRow{Op::kPow, V(2), V(3), "8", D},
    ArithmeticRow{Op::kPow, V(2), V(10), "1024", D},
    ArithmeticRow{Op::kPow, V(2), V(-2), "0.25", D},
    ArithmeticRow{Op::kPow, V(-3), V(3), "-27", D},
    ArithmeticRow{Op::kPow, V(0), V(0), "1", D},
    ArithmeticRow{Op::kPow, V(2), V(kMin), "0", D},
    ArithmeticRow{Op::kPow, V(4), V(0.5), "2", D},
    ArithmeticRow{Op::kPow, V("a"), V(2), "[]", A}));

// ---- comparison ---------------------------------------------------------------------------

struct CompareRow {
  VariableValue left, right;
  bool less, equal;
};

class Comparison : public ::testing::TestWithParam<CompareRow> {};

TEST_P(Comparison, PrimitivesAndTheFourDerived) {
  const CompareRow& row = GetParam();
  EXPECT_EQ(VariableValue::Less(row.left, row.right), row.less);
  EXPECT_EQ(VariableValue::Equal(row.left, row.right), row.equal);
  EXPECT_EQ(VariableValue::LessOrEqual(row.left, row.right), row.less || row.equal);
  EXPECT_EQ(VariableValue::Greater(row.left, row.right), VariableValue::Less(row.right, row.left));
  EXPECT_EQ(VariableValue::GreaterOrEqual(row.left, row.right),
            row.equal || VariableValue::Less(row.right, row.left));
  EXPECT_EQ(VariableValue::NotEqual(row.left, row.right), !row.equal);
}

INSTANTIATE_TEST_SUITE_P(Table, Comparison, ::testing::Values(
    CompareRow{V(3), V(3.0), false, true},
    CompareRow{V(2), V(2.5), true, false},
    CompareRow{V(2.5), V(2), false, false},
    CompareRow{V(3), V("1"), true, false},          // kind order: Integer before String
    CompareRow{V("z"), V(false), true, false},      // String before Boolean
    CompareRow{V(true), V(1), false, false},
    CompareRow{V(5), V("5"), true, false},
    CompareRow{V("ab"), V("abc"), true, false},
    CompareRow{V("B"), V("a"), true, false},        // byte order, case-sensitive
    CompareRow{V("\xff"), V("a"), false, false},    // bytes compare unsigned
    CompareRow{V(false), V(true), true, false},
    CompareRow{V(-1), V(1), true, false},
    CompareRow{V(std::nan("")), V(1), false, false},
    CompareRow{V(TestPassed), V(TestFailed), true, false},
    CompareRow{Values(1, 2), Values(1, 2), false, true},
    CompareRow{Values(1), Values(1, 2), true, false}));

TEST(VariableValue, TestersCompareByIdentity) {
  auto a = std::make_shared<CountingTester>();
  auto b = std::make_shared<CountingTester>();
  VariableValue va{std::shared_ptr<ITester>(a)}, va2{std::shared_ptr<ITester>(a)},
      vb{std::shared_ptr<ITester>(b)};
  EXPECT_TRUE(VariableValue::Equal(va, va2));
  EXPECT_FALSE(VariableValue::Equal(va, vb));
  EXPECT_NE(VariableValue::Less(va, vb), VariableValue::Less(vb, va));
}

// ---- text forms ---------------------------------------------------------------------------

TEST(VariableValue, ResultWords) {
  const char* words[] = {"Passed", "Failed", "Not Implemented", "Warning", "Error", "Not Run", "Aborted"};
  for (int code = 0; code < 7; ++code) EXPECT_EQ(VariableValue::ResultWord(code), words[code]);
  EXPECT_EQ(VariableValue::ResultWord(9), "Unknown Result 9");
  EXPECT_EQ(VariableValue::ResultWord(-1), "Unknown Result -1");
}

struct DisplayRow {
  VariableValue value;
  std::string display;
  std::string list;
};

class Display : public ::testing::TestWithParam<DisplayRow> {};

TEST_P(Display, DisplayAndListText) {
  EXPECT_EQ(GetParam().value.DisplayText(), GetParam().display);
  EXPECT_EQ(GetParam().value.ListText(), GetParam().list);
}

VariableValue Mixed() {
  VariableValue value = Values(1, "x");
  value.Append(Values(2.5));
  return value;
}

INSTANTIATE_TEST_SUITE_P(Table, Display, ::testing::Values(
    DisplayRow{V(-12), "-12", "-12"},
    DisplayRow{V("a\t<"), "\"a<09><3c>\"", "\"a<09><3c>\""},
    DisplayRow{V("\n>\x7f\x80\xff~ "), "\"<0a><3e><7f><80><ff>~ \"", "\"<0a><3e><7f><80><ff>~ \""},
    DisplayRow{V(true), "true", "true"},
    DisplayRow{V(0.1), "0.1", "0.1"},
    DisplayRow{V(1234567.0), "1.23457e+06", "1.23457e+06"},
    DisplayRow{V(TestNotImplemented), "Not Implemented", "Not Implemented"},
    DisplayRow{V(), "[]", ""},
    DisplayRow{Mixed(), "[1,\"x\",[2.5]]", "1,\"x\",[2.5]"}));

TEST(VariableValue, TesterDisplayNamesTypeAndStatus) {
  VariableValue tester(std::shared_ptr<ITester>(std::make_shared<CountingTester>()));
  EXPECT_EQ(tester.DisplayText(), "meter tester ready");

  struct Mute : CountingTester {
    Status get_TesterType(std::string*) override { return E_FAIL; }
    Status get_Status(std::string*) override { throw std::runtime_error("plug-in fault"); }
  };
  VariableValue mute(std::shared_ptr<ITester>(std::make_shared<Mute>()));
  EXPECT_EQ(mute.DisplayText(), "unknown tester status unknown");
}

// ---- the automation boundary --------------------------------------------------------------

TEST(VariableValue, ToVariantArrayMapsEveryKind) {
  EXPECT_EQ(VariableValue().ToVariantArray()->size(), 0u);
  auto four = VariableValue(4).ToVariantArray();
  ASSERT_EQ(four->size(), 1u);
  EXPECT_EQ((*four)[0].type(), VT_I4);
  EXPECT_EQ((*four)[0].as_int(), 4);

  auto tester = std::make_shared<CountingTester>();
  VariableValue all = Values(1, "s", true, 2.5, TestWarning);
  all.Append(VariableValue(std::shared_ptr<ITester>(tester)));
  all.Append(Values(7));
  auto array = all.ToVariantArray();
  ASSERT_EQ(array->size(), 7u);
  EXPECT_EQ((*array)[1].as_string(), "s");
  EXPECT_EQ((*array)[2].type(), VT_BOOL);
  EXPECT_EQ((*array)[2].as_bool_bits(), kVariantTrue);
  EXPECT_EQ((*array)[3].as_double(), 2.5);
  EXPECT_EQ((*array)[4].as_string(), "Warning");
  EXPECT_EQ((*array)[5].type(), VT_DISPATCH);
  EXPECT_EQ((*array)[5].as_object().get(), static_cast<IUnknown*>(tester.get()));
  ASSERT_TRUE((*array)[6].is_array());
  EXPECT_EQ((*array)[6].as_array()->at(0).as_int(), 7);
}

class WrapAll : public VariableValue::TesterWrapHook {
 public:
  std::vector<std::string> names;
  std::shared_ptr<ITester> WrapTester(std::shared_ptr<ITester> object, const std::string& name) override {
    names.push_back(name);
    return object;
  }
};

TEST(VariableValue, AppendFromVariantArrayConvertsReleasesAndSkips) {
  auto tester = std::make_shared<CountingTester>();
  struct NotATester : IUnknown {};
  auto array = std::make_shared<VariantArray>(VariantArray{
      Variant::Bool(true), Variant::Int(1), Variant::Double(0.5), Variant::String("t"),
      Variant::Array(VariantArray{Variant::Int(2), Variant::Other(VT_DATE)}),
      Variant::Dispatch(tester), Variant::Unknown(std::make_shared<NotATester>()),
      Variant::Dispatch(nullptr), Variant()});
  WrapAll hook;
  VariableValue value(9);
  value.AppendFromVariantArray(array, &hook, "meter");
  EXPECT_EQ(value.DisplayText(), "[1,0.5,\"t\",[2],meter tester ready]");
  EXPECT_EQ(hook.names, std::vector<std::string>{"meter"});
  EXPECT_TRUE((*array)[5].empty());  // the source gives up its references
  EXPECT_TRUE((*array)[6].empty());
  EXPECT_EQ((*array)[1].as_int(), 1);

  VariableValue unwrapped;
  unwrapped.AppendFromVariantArray(std::make_shared<VariantArray>(VariantArray{Variant::Dispatch(tester)}));
  EXPECT_EQ(unwrapped.ElementCount(), 0u);
  VariableValue absent(3);
  absent.AppendFromVariantArray(nullptr);
  EXPECT_TRUE(absent.is_invalid());
}

TEST(VariableValue, LiteralTextOfVariantArrays) {
  auto array = std::make_shared<VariantArray>(VariantArray{
      Variant::Int(-3), Variant::Double(2.5), Variant::String("a\"b\\c\a\b\t\n\v\f\rz"),
      Variant::Bool(true), Variant::BoolBits(1), Variant::Array(VariantArray{Variant::Int(1), Variant::String("x")}),
      Variant::Other(VT_DATE), Variant::Array(VariantArrayPtr())});
  EXPECT_EQ(VariableValue::LiteralText(array),
            "-3,2.5,\"a\\\"b\\\\c\\a\\b\\t\\n\\v\\f\\rz\",true,false,[1,\"x\"],Unknown Format 7,[]");
  EXPECT_EQ(VariableValue::LiteralText(nullptr), "");
}

}  // namespace
}  // namespace ordalis
