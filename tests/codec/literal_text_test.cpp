#include "codec/literal_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>

namespace ordalis {
namespace {

// A compact, unambiguous picture of read values: 5, d2.5, 'text' (bytes as they stand), true,
// [..].
std::string Show(const VariantArray& values) {
  std::string out;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i != 0) out += ',';
    const Variant& v = values[i];
    switch (v.type()) {
      case VT_I4: out += std::to_string(v.as_int()); break;
      case VT_R8: {
        char text[64];
        std::snprintf(text, sizeof text, "d%.10g", v.as_double());
        out += text;
        break;
      }
      case VT_BSTR: out += "'" + v.as_string() + "'"; break;
      case VT_BOOL: out += v.as_bool() ? "true" : "false"; break;
      case kVariantArrayType: out += "[" + Show(*v.as_array()) + "]"; break;
      default: out += "?"; break;
    }
  }
  return out;
}

struct ReadCase {
  std::string text;
  const char* read;  // nullptr: not a literal list
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << ::testing::PrintToString(c.text); }

class LiteralTextReading : public ::testing::TestWithParam<ReadCase> {};

// The reader accepts what the script language accepts as literals on the right of an assignment,
// with the language's longest-match rules, and nothing else.
TEST_P(LiteralTextReading, ReadsLiteralsLikeTheLanguage) {
  VariantArray values{Variant::Int(42)};
  bool ok = ParseLiteralText(GetParam().text, &values);
  if (GetParam().read == nullptr) {
    EXPECT_FALSE(ok) << GetParam().text;
    EXPECT_EQ(Show(values), "42") << "a failed read leaves the values alone";
  } else {
    EXPECT_TRUE(ok) << GetParam().text;
    EXPECT_EQ(Show(values), GetParam().read) << GetParam().text;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, LiteralTextReading, ::testing::Values(
    ReadCase{"1, \"two\", [3, 4.5]", "1,'two',[3,d4.5]"},
    ReadCase{"017, 078, 08, 00, 0", "15,78,8,0,0"},  // octal wins a tie, a longer decimal wins
    ReadCase{"0x1f, &H1F, &O17", "31,31,15"},
    ReadCase{"- 5, +7, -2147483648, 4294967297", "-5,7,-2147483648,1"},  // 32-bit wrapping
    ReadCase{"-1.5, 1., 1e3, +2E-1, 3.14159265", "d-1.5,d1,d1000,d0.2,d3.14159"},
    ReadCase{"TRUE, False", "true,false"},
    ReadCase{"(((1))), (\"a\" \"b\")", "1,'ab'"},
    ReadCase{"[], [[1], []]", "[],[[1],[]]"},
    ReadCase{"\"a\\\"b\\n\"", "'a\\\"b\\n'"},  // the bytes between the quotes, as they stand
    ReadCase{"\"a\x94, \x94" "b\"", "'a','b'"},  // the byte 0x94 quotes as well
    ReadCase{std::string("\"x\0y\"", 5), "'x'"},  // a zero byte ends a text
    ReadCase{"1;\n\t2 ;", nullptr},
    ReadCase{"1 ;\n", "1"},
    ReadCase{"scriptdir \"/x\"", "'/x'"},  // no script file, so no script directory
    ReadCase{"", nullptr},
    ReadCase{" ", nullptr},
    ReadCase{"abc", nullptr},
    ReadCase{"passed", nullptr},
    ReadCase{"true1", nullptr},
    ReadCase{"1 2", nullptr},
    ReadCase{"1,", nullptr},
    ReadCase{"[1,]", nullptr},
    ReadCase{"1 + 2", nullptr},
    ReadCase{"1 -2", nullptr},
    ReadCase{"-(5)", nullptr},
    ReadCase{"- 1.5", nullptr},
    ReadCase{"-0x5", nullptr},
    ReadCase{"([1])", nullptr},
    ReadCase{"0X1", nullptr},
    ReadCase{"&h1", nullptr},
    ReadCase{"1 # note", nullptr},
    ReadCase{"1\r", nullptr},
    ReadCase{"\"open", nullptr},
    ReadCase{"\"a\\\n\"", nullptr},
    ReadCase{"x = 1", nullptr},
    ReadCase{"1\ninclude \"/dev/null\"", nullptr},
    ReadCase{"include \"/dev/zero\"", nullptr}));

TEST(LiteralText, NestingIsBounded) {
  for (std::size_t depth : {kMaxLiteralNesting, kMaxLiteralNesting + 1}) {
    bool fits = depth <= kMaxLiteralNesting;
    VariantArray values;
    std::string arrays = std::string(depth, '[') + std::string(depth, ']');
    EXPECT_EQ(ParseLiteralText(arrays, &values), fits) << depth;
    std::string parentheses = std::string(depth, '(') + "1" + std::string(depth, ')');
    EXPECT_EQ(ParseLiteralText(parentheses, &values), fits) << depth;
  }
}

TEST(LiteralText, WrittenValuesReadBack) {
  auto written = std::make_shared<VariantArray>(VariantArray{
      Variant::Int(-3), Variant::Double(2.5), Variant::Double(1e-7), Variant::String("plain text"),
      Variant::Bool(true), Variant::Bool(false),
      Variant::Array({Variant::Int(1), Variant::Array({Variant::String("x")}), Variant::Array(VariantArray())})});
  std::string text = LiteralText(written);
  EXPECT_EQ(text, "-3,2.5,1e-07,\"plain text\",true,false,[1,[\"x\"],[]]");
  VariantArray read;
  ASSERT_TRUE(ParseLiteralText(text, &read));
  EXPECT_EQ(Show(read), Show(*written));
}

}  // namespace
}  // namespace ordalis
