#include "interp/formatting.h"

#include <gtest/gtest.h>

#include <vector>

namespace ordalis {
namespace {

VariantArrayPtr Params(std::vector<Variant> values) {
  return std::make_shared<VariantArray>(std::move(values));
}

struct FormatCase {
  const char* name;
  std::vector<Variant> parameters;  // the format first
  std::string expected;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

class FormatTextTest : public testing::TestWithParam<FormatCase> {};

TEST_P(FormatTextTest, Formats) {
  EXPECT_EQ(FormatText(0, Params(GetParam().parameters)), GetParam().expected);
}

const FormatCase kFormatCases[] = {
    {"WidthLeftAndString", {Variant::String("%5d|%-4x|%s"), Variant::Int(42), Variant::Int(255), Variant::String("ab")},
     "   42|ff  |ab"},
    {"ZeroFillPrecision", {Variant::String("%05.2g"), Variant::Double(3.14159)}, "003.1"},
    {"HexAndOctalEscapes", {Variant::String("\\x41\\0102\\n")}, "AB\n"},
    {"WrongTypeGivesQuestionMark", {Variant::String("%d"), Variant::String("7")}, "?"},
    {"PercentSign", {Variant::String("%d%%"), Variant::Int(50)}, "50%"},
    {"MissingStringGivesNull", {Variant::String("%s and %s"), Variant::String("x")}, "x and (null)"},
    {"TrailingBackslashEmitsNothing", {Variant::String("ab\\")}, "ab"},
    {"UnknownConversionCopiedWithoutArgument", {Variant::String("%q%d"), Variant::Int(3)}, "%q3"},
    {"MissingArgumentGivesQuestionMark", {Variant::String("[%d]")}, "[?]"},
    {"UpperHexWritesLowerDigits", {Variant::String("%X"), Variant::Int(0xAB)}, "ab"},
    {"NegativeOctalIsUnsigned", {Variant::String("%o"), Variant::Int(-1)}, "37777777777"},
    {"GeneralOfIntegerIsDecimal", {Variant::String("%g"), Variant::Int(12)}, "12"},
    {"GeneralDefaultPrecision", {Variant::String("%g"), Variant::Double(1234567.0)}, "1.23457e+06"},
    {"EscapedQuoteAndPercent", {Variant::String("\\\"\\%\\\\")}, "\"%\\"},
    {"ControlEscapes", {Variant::String("\\a\\b\\f\\r\\t\\v")}, "\a\b\f\r\t\v"},
    {"OpenOctalAtEndIsDropped", {Variant::String("a\\012")}, "a"},
    {"StringIgnoresWidth", {Variant::String("%8s|"), Variant::String("ab")}, "ab|"},
    {"EveryConversionConsumesAnArgument", {Variant::String("%d %d"), Variant::String("x"), Variant::Int(2)}, "? 2"},
    {"NonStringFormatGivesEmptyText", {Variant::Int(3)}, ""},
};

INSTANTIATE_TEST_SUITE_P(Cases, FormatTextTest, testing::ValuesIn(kFormatCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FormatText, FormatIndexSelectsTheFormatElement) {
  EXPECT_EQ(FormatText(1, Params({Variant::Int(9), Variant::String("<%d>"), Variant::Int(4)})), "<4>");
  EXPECT_EQ(FormatText(5, Params({Variant::String("x")})), "");
  EXPECT_EQ(FormatText(0, nullptr), "");
}

struct LogLine {
  LoggingLevel level;
  std::string variable;
  std::string message;
};

struct ScanRun {
  Result result;
  std::string values;  // display text of the stored values
  std::vector<LogLine> log;
};

ScanRun Scan(const std::string& format, const std::string& text) {
  ScanRun run;
  VariableValue values;
  run.result = ScanText(format, text, &values, [&](LoggingLevel level, const std::string& variable,
                                                    const std::string& message) {
    run.log.push_back({level, variable, message});
  });
  for (const VariableValue& v : values.elements()) {
    if (!run.values.empty()) run.values += ",";
    switch (v.kind()) {
      case ValueKind::Integer: run.values += std::to_string(v.integer()); break;
      case ValueKind::Double: run.values += "d" + std::to_string(v.dbl()); break;
      case ValueKind::String: run.values += "'" + v.text() + "'"; break;
      default: run.values += "?"; break;
    }
  }
  return run;
}

struct ScanCase {
  const char* name;
  const char* format;
  const char* text;
  Result result;
  const char* values;
  const char* last_message;  // the last log line, or "" for none
};

void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.name; }

class ScanTextTest : public testing::TestWithParam<ScanCase> {};

TEST_P(ScanTextTest, Scans) {
  const ScanCase& c = GetParam();
  ScanRun run = Scan(c.format, c.text);
  EXPECT_EQ(run.result, c.result);
  EXPECT_EQ(run.values, c.values);
  EXPECT_EQ(run.log.empty() ? std::string() : run.log.back().message, c.last_message);
  for (const LogLine& line : run.log) EXPECT_EQ(line.variable, "Script");
}

const ScanCase kScanCases[] = {
    {"TwoNumbersWithSpace", "%d,%d", "12, 34", TestPassed, "12,34", "sscanf Dec value = 34"},
    {"TextRunsOutFirst", "%d %s", "7", TestFailed, "7", "sscanf Dec value = 7"},
    {"DiscardedNumber", "%*d %d", "1 2", TestPassed, "2", "sscanf Dec value = 2"},
    {"IncorrectCharacter", "a%d", "b5", TestFailed, "",
     "sscanf Incorrect character received at char position 0 (Expected 'a' Got 'b')"},
    {"NegativeDecimal", "%d", "-17", TestPassed, "-17", "sscanf Dec value = -17"},
    {"Octal", "%o", "17", TestPassed, "15", "sscanf Oct value = 17"},
    {"HexStopsAtX", "%x", "0x1F", TestPassed, "0", "sscanf Hex value = 0"},
    {"HexUpperInMessage", "%x", "1f", TestPassed, "31", "sscanf Hex value = 1F"},
    {"Unsigned", "%u", "42", TestPassed, "42", "sscanf Unsigned val = 42"},
    {"InvalidDecimal", "%d", "abc", TestFailed, "", "sscanf Invalid decimal number received at char position 0"},
    {"Float", "%f", "2.5e1x", TestPassed, "d25.000000", "sscanf Floating val = 25"},
    {"InvalidFloat", "%g", "+x", TestFailed, "", "sscanf Invalid float received + at char position 0"},
    {"WordStopsAtSpace", "%s %s", "ab cd", TestPassed, "'ab','cd'", "sscanf String value = \"cd\""},
    {"WordWidth", "%2s", "abcd", TestPassed, "'ab'", "sscanf String value = \"ab\""},
    {"CharsKeepSpace", "%c%3c", "x yz", TestPassed, "'x',' yz'", "sscanf char value = \" yz\""},
    {"ScanSetRange", "%[a-c]", "abcd", TestPassed, "'abc'", "sscanf String value = \"abc\""},
    {"NegatedScanSet", "%[^,],%d", "key,5", TestPassed, "'key',5", "sscanf Dec value = 5"},
    {"BlankScanSet", "%[0-9]", "x", TestFailed, "", "sscanf Blank string received"},
    {"InvalidConversion", "%k", "1", TestFailed, "", "sscanf Invalid format statement at char position 0"},
    {"BackslashNewlineMatchesNothing", "%d\\n%d", "1 2", TestPassed, "1,2", "sscanf Dec value = 2"},
    {"BadBackslash", "\\q", "1", TestFailed, "", "sscanf Only \\n, \\t or \\r allowed"},
    {"PercentLiteral", "%d%%", "50%", TestPassed, "50", "sscanf Dec value = 50"},
    {"TextLeftOverIgnored", "%d", "5 extra", TestPassed, "5", "sscanf Dec value = 5"},
};

INSTANTIATE_TEST_SUITE_P(Cases, ScanTextTest, testing::ValuesIn(kScanCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ScanFormatted, NeedsExactlyTwoStrings) {
  std::vector<std::string> log;
  VariableValue out;
  auto sink = [&](LoggingLevel level, const std::string&, const std::string& message) {
    EXPECT_EQ(level, severe);
    log.push_back(message);
  };
  EXPECT_EQ(ScanFormatted(Params({Variant::String("%d")}), &out, sink), TestFailed);
  EXPECT_EQ(ScanFormatted(Params({Variant::String("%d"), Variant::Int(4)}), &out, sink), TestFailed);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], "Error: invalid paremters to sscanf expected (\"format\",\"text\")");
  EXPECT_EQ(ScanFormatted(Params({Variant::String("%d"), Variant::String("4")}), &out, nullptr),
            TestPassed);
}

TEST(ScanText, DiscardedValuesLogTheirOwnMessages) {
  ScanRun run = Scan("%*d %*s %*x", "-3 ab ff");
  ASSERT_EQ(run.log.size(), 3u);
  EXPECT_EQ(run.log[0].message, "sscanf Dec value -3 discarded");
  EXPECT_EQ(run.log[1].message, "sscanf String value \"ab\" discarded");
  EXPECT_EQ(run.log[2].message, "sscanf Hex value FF discarded");
  EXPECT_EQ(run.log[0].level, information);
  EXPECT_EQ(run.values, "");
}


}  // namespace
}  // namespace ordalis
