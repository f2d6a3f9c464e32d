// Script text -> item tree: every construct of the grammar, operator precedence, and the
// placement of items made direct, pending and by adoption.

#include <gtest/gtest.h>

#include "tree_notation.h"

namespace ordalis {
namespace {

using testing::TreeOf;

struct TreeCase {
  const char* script;
  const char* tree;
};

void PrintTo(const TreeCase& c, std::ostream* os) { *os << c.script; }

class GrammarTest : public ::testing::TestWithParam<TreeCase> {};

TEST_P(GrammarTest, BuildsTree) { EXPECT_EQ(TreeOf(GetParam().script), GetParam().tree); }

const TreeCase kStatements[] = {
    {"", ""},
    {"# note", R"T(commentItem"# note")T"},
    {"x = 5", R"T(assignmentItem"="[idItem"x",integerItem"5"])T"},
    {"x = -5", R"T(assignmentItem"="[idItem"x",integerItem"-5"])T"},
    {"x = +5", R"T(assignmentItem"="[idItem"x",integerItem"5"])T"},
    {"x = -2147483648", R"T(assignmentItem"="[idItem"x",integerItem"-2147483648"])T"},
    {"x = 4294967297", R"T(assignmentItem"="[idItem"x",integerItem"1"])T"},
    {"x = 0x1F, &HFF, 017, &O17, 019, 0",
     R"T(assignmentItem"="[idItem"x",hexItem"31",hexItem"255",octalItem"15",octalItem"15",integerItem"19",integerItem"0"])T"},
    {"x = 3.1415926, 1e10, 0.5, 1000000.0, -1.5, 1.",
     R"T(assignmentItem"="[idItem"x",doubleItem"3.14159",doubleItem"1e+10",doubleItem"0.5",doubleItem"1e+06",doubleItem"-1.5",doubleItem"1"])T"},
    {"x = true, FALSE", R"T(assignmentItem"="[idItem"x",boolItem"true",boolItem"false"])T"},
    {"x = \"a\" \"b\"", R"T(assignmentItem"="[idItem"x",stringItem"ab"])T"},
    {"x = 1, 2 + 3, [4, 5]",
     R"T(assignmentItem"="[idItem"x",integerItem"1",arithmeticItem"+"[integerItem"2",integerItem"3"],arrayItem"[]"[integerItem"4",integerItem"5"]])T"},
    {"x = [], [[1], 2]",
     R"T(assignmentItem"="[idItem"x",arrayItem"[]",arrayItem"[]"[arrayItem"[]"[integerItem"1"],integerItem"2"]])T"},
    {"x = tester.read(1, n)",
     R"T(assignmentItem"="[idItem"x",actionItem"."[idItem"tester",idItem"read"[integerItem"1",idItem"n"]]])T"},
    {"t = new Meter(port)",
     R"T(assignmentItem"="[idItem"t",newItem"new"[idItem"Meter"[idItem"port"]]])T"},
    {"t = new Meter()", R"T(assignmentItem"="[idItem"t",newItem"new"[idItem"Meter"]])T"},
    {"x = a[1][2]",
     R"T(assignmentItem"="[idItem"x",arrayIndexItem"[]"[idItem"a",integerItem"1",integerItem"2"]])T"},
    {"x = passed", R"T(assignmentItem"="[idItem"x",testResultItem"passed"])T"},
    {"default x = 1",
     R"T(defaultItem"default"[assignmentItem"="[idItem"x",integerItem"1"]])T"},
    {"delete t", R"T(deleteItem"delete"[idItem"t"])T"},
    {"i++ j--", R"T(incrementItem"++"[idItem"i"],decrementItem"--"[idItem"j"])T"},
    {"a[i]++", R"T(incrementItem"++"[arrayIndexItem"[]"[idItem"a",idItem"i"]])T"},
    {"t.go()", R"T(actionItem"."[idItem"t",idItem"go"])T"},
    {"t:go()", R"T(actionItem":"[idItem"t",idItem"go"])T"},
    {"t.a(1).b(2)",
     R"T(actionItem"."[actionItem"."[idItem"t",idItem"a"[integerItem"1"]],idItem"b"[integerItem"2"]])T"},
    {"a[0].go(x)",
     R"T(actionItem"."[arrayIndexItem"[]"[idItem"a",integerItem"0"],idItem"go"[idItem"x"]])T"},
    {"foo(1)", R"T(functionCallItem"foo"[integerItem"1"])T"},
    {"foo(1):", R"T(functionCallItem"foo:"[integerItem"1"])T"},
    {"Sleep(5)", R"T(sleepItem"sleep"[integerItem"5"])T"},
    {"sleep(5):", R"T(sleepItem"sleep"[integerItem"5"])T"},
    {"ASSERT(a == 1, \"m\")",
     R"T(assertItem"assert"[equalItem"=="[idItem"a",integerItem"1"],stringItem"m"])T"},
    {"sprintf(\"%d\", 1)", R"T(functionCallItem"sprintf"[stringItem"%d",integerItem"1"])T"},
    {"x = sleep(5)", R"T(assignmentItem"="[idItem"x",functionCallItem"sleep"[integerItem"5"]])T"},
    {"x = sprintf(\"%d\", 1), sscanf(s, \"%d\"), arraylength(a), f()",
     R"T(assignmentItem"="[idItem"x",sprintfItem"sprintf"[stringItem"%d",integerItem"1"],sscanfItem"sscanf"[idItem"s",stringItem"%d"],arrayLengthItem"arraylength"[idItem"a"],functionCallItem"f"])T"},
    {"x = f(1):", R"T(assignmentItem"="[idItem"x",functionCallItem"f:"[integerItem"1"]])T"},
    {"x = ArrayLength(a):", R"T(assignmentItem"="[idItem"x",arrayLengthItem"arraylength:"[idItem"a"]])T"},
    {"Warning", R"T(testResultItem"warning")T"},
    {"passed failed error",
     R"T(testResultItem"passed",testResultItem"failed",testResultItem"error")T"},
    {"abort(\"stop\")", R"T(abortItem"stop")T"},
    {"movelogfile(\"a.log\") copylogfile(name)",
     R"T(moveLogFileItem"movelogfile"[stringItem"a.log"],copyLogFileItem"copylogfile"[idItem"name"])T"},
    {"return 1, a + b",
     R"T(returnItem"return"[integerItem"1",arithmeticItem"+"[idItem"a",idItem"b"]])T"},
    {"local x = 5", R"T(localItem"local"[assignmentItem"="[idItem"x",integerItem"5"]])T"},
    {"local i++", R"T(localItem"local"[incrementItem"++"[idItem"i"]])T"},
    {"ignoreresult t.go() endignoreresult",
     R"T(ignoreResultItem"ignoreresult"[actionItem"."[idItem"t",idItem"go"]])T"},
    {"function Add x = 1 return x endfunction",
     R"T(functionItem"Add"[assignmentItem"="[idItem"x",integerItem"1"],returnItem"return"[idItem"x"]])T"},
    {"if a then x = 1 endif",
     R"T(ifItem"if"[idItem"a",thenItem"then"[assignmentItem"="[idItem"x",integerItem"1"]]])T"},
    {"if a then else b() endif",
     R"T(ifItem"if"[idItem"a",thenItem"then",elseItem"else"[functionCallItem"b"]])T"},
    {"if a[2] >= 3 and not ok then x = 1 else y = 2 endif",
     R"T(ifItem"if"[andItem"and"[greaterThanOrEqualItem">="[arrayIndexItem"[]"[idItem"a",integerItem"2"],integerItem"3"],notItem"not"[idItem"ok"]],thenItem"then"[assignmentItem"="[idItem"x",integerItem"1"]],elseItem"else"[assignmentItem"="[idItem"y",integerItem"2"]]])T"},
    {"while i < 3 do i++ endwhile",
     R"T(whileItem"while"[lessThanItem"<"[idItem"i",integerItem"3"],doItem"do"[incrementItem"++"[idItem"i"]]])T"},
    {"if 1 == t.f() then endif",
     R"T(ifItem"if"[equalItem"=="[integerItem"1",actionItem"."[idItem"t",idItem"f"]],thenItem"then"])T"},
    {"x = 1; y = 2 z = 3",
     R"T(assignmentItem"="[idItem"x",integerItem"1"],assignmentItem"="[idItem"y",integerItem"2"],assignmentItem"="[idItem"z",integerItem"3"])T"},
    {"x = 1 # why", R"T(assignmentItem"="[idItem"x",integerItem"1"],commentItem"# why")T"},
    // A result statement: directly placed items become its children, pending ones its siblings.
    {"result \"Step 1\" x = 1",
     R"T(resultItem"Step 1"[assignmentItem"="[idItem"x",integerItem"1"]])T"},
    {"result \"Step 2\" t.go()",
     R"T(resultItem"Step 2",actionItem"."[idItem"t",idItem"go"])T"},
    {"result # Login test", R"T(resultItem" Login test"[commentItem"# Login test"])T"},
    {"result if a then endif",
     R"T(resultItem"if"[ifItem"if"[idItem"a",thenItem"then"]])T"},
    {"result x = 1", R"T(resultItem"="[assignmentItem"="[idItem"x",integerItem"1"]])T"},
    {"result result \"in\" x = 1",
     R"T(resultItem"in"[resultItem"in"[assignmentItem"="[idItem"x",integerItem"1"]]])T"},
};
INSTANTIATE_TEST_SUITE_P(Statements, GrammarTest, ::testing::ValuesIn(kStatements));

const TreeCase kPrecedence[] = {
    {"x = 1 + 2 * 3",
     R"T(assignmentItem"="[idItem"x",arithmeticItem"+"[integerItem"1",arithmeticItem"*"[integerItem"2",integerItem"3"]]])T"},
    {"x = 8 / 2 / 2",
     R"T(assignmentItem"="[idItem"x",arithmeticItem"/"[arithmeticItem"/"[integerItem"8",integerItem"2"],integerItem"2"]])T"},
    {"x = 2 * 3 ^ 2",
     R"T(assignmentItem"="[idItem"x",arithmeticItem"^"[arithmeticItem"*"[integerItem"2",integerItem"3"],integerItem"2"]])T"},
    {"x = (1 + 2) * 3",
     R"T(assignmentItem"="[idItem"x",arithmeticItem"*"[arithmeticItem"+"[integerItem"1",integerItem"2"],integerItem"3"]])T"},
    {"x = 7 % 2 - 1",
     R"T(assignmentItem"="[idItem"x",arithmeticItem"-"[arithmeticItem"%"[integerItem"7",integerItem"2"],integerItem"1"]])T"},
    {"x = a or b and c",
     R"T(assignmentItem"="[idItem"x",orItem"or"[idItem"a",andItem"and"[idItem"b",idItem"c"]]])T"},
    {"x = not a and b",
     R"T(assignmentItem"="[idItem"x",andItem"and"[notItem"not"[idItem"a"],idItem"b"]])T"},
    {"x = not a == b",
     R"T(assignmentItem"="[idItem"x",equalItem"=="[notItem"not"[idItem"a"],idItem"b"]])T"},
    {"x = a < 1 || b && c",
     R"T(assignmentItem"="[idItem"x",orItem"or"[lessThanItem"<"[idItem"a",integerItem"1"],andItem"and"[idItem"b",idItem"c"]]])T"},
    {"x = a + 1 <= b - 1",
     R"T(assignmentItem"="[idItem"x",lessThanOrEqualItem"<="[arithmeticItem"+"[idItem"a",integerItem"1"],arithmeticItem"-"[idItem"b",integerItem"1"]]])T"},
    {"x = a != b > c",
     R"T(assignmentItem"="[idItem"x",greaterThanItem">"[notEqualItem"!="[idItem"a",idItem"b"],idItem"c"]])T"},
    {"x = !a", R"T(assignmentItem"="[idItem"x",notItem"not"[idItem"a"]])T"},
    {"x = 5 -3",
     R"T(assignmentItem"="[idItem"x",arithmeticItem"-"[integerItem"5",integerItem"3"]])T"},
    {"x = 5 - -3",
     R"T(assignmentItem"="[idItem"x",arithmeticItem"-"[integerItem"5",integerItem"-3"]])T"},
    {"x = 5 - 3.0",
     R"T(assignmentItem"="[idItem"x",arithmeticItem"-"[integerItem"5",doubleItem"3"]])T"},
};
INSTANTIATE_TEST_SUITE_P(Precedence, GrammarTest, ::testing::ValuesIn(kPrecedence));

const TreeCase kErrors[] = {
    {"x = 5 -3.0",
     R"T(assignmentItem"="[idItem"x",integerItem"5"],errorItem"-3.0")T"},
    {"endif x = 1",
     R"T(errorItem"endif",assignmentItem"="[idItem"x",integerItem"1"])T"},
    {"if x then", R"T(ifItem"if"[idItem"x",thenItem"then"[errorItem"unexpected end of file"]])T"},
    {"x =", R"T(assignmentItem"="[idItem"x"],errorItem"unexpected end of file")T"},
    {"x = -y", R"T(assignmentItem"="[idItem"x"],errorItem"y")T"},
    // The error item stands at once; the pending index is attached when the error statement ends.
    {"a[1] = 2", R"T(errorItem"=",arrayIndexItem"[]"[idItem"a",integerItem"1"],errorItem"2")T"},
    {"x = 1 ~ y = 2",
     R"T(assignmentItem"="[idItem"x",integerItem"1"],errorItem"~",assignmentItem"="[idItem"y",integerItem"2"])T"},
    {"x = 1 \r y = 2",
     "assignmentItem\"=\"[idItem\"x\",integerItem\"1\"],errorItem\"\r\",assignmentItem\"=\"[idItem\"y\",integerItem\"2\"]"},
    {"foo(1, # c\n 2)",
     R"T(errorItem"# c",integerItem"1",errorItem"2",errorItem")")T"},
    // The unfinished call is closed and kept; the statement after the error is parsed again.
    {"x = f(1, ) y = 2",
     R"T(assignmentItem"="[idItem"x",functionCallItem"f"[integerItem"1"]],errorItem")",assignmentItem"="[idItem"y",integerItem"2"])T"},
    {"x = [1, ) y = 2",
     R"T(assignmentItem"="[idItem"x",integerItem"1"],errorItem")",assignmentItem"="[idItem"y",integerItem"2"])T"},
    {"t.go(1 if",
     R"T(errorItem"if",actionItem"."[idItem"t",idItem"go"[integerItem"1"]])T"},
    {"if x then ) endif y = 1",
     R"T(ifItem"if"[idItem"x",thenItem"then"[errorItem")"]],assignmentItem"="[idItem"y",integerItem"1"])T"},
    {"\"unclosed", R"T(errorItem""",errorItem"unexpected end of file",idItem"unclosed")T"},
    {"&h10", R"T(errorItem"&",errorItem"unexpected end of file",idItem"h10")T"},
    // Items already in the tree are not attached a second time when their construct closes.
    {"default x = (", R"T(errorItem"unexpected end of file",defaultItem"default"[assignmentItem"="[idItem"x"]])T"},
    {"local x = ( y = 1",
     R"T(localItem"local"[assignmentItem"="[idItem"x",idItem"y"]],errorItem"=",errorItem"1")T"},
    {"x = a[1 endif",
     R"T(assignmentItem"="[idItem"x",arrayIndexItem"[]"[idItem"a",integerItem"1"]],errorItem"endif")T"},
    {"t.go(f(1, ] z = 1",
     R"T(errorItem"]",actionItem"."[idItem"t",idItem"go"[functionCallItem"f"[integerItem"1"]]],assignmentItem"="[idItem"z",integerItem"1"])T"},
};
INSTANTIATE_TEST_SUITE_P(Errors, GrammarTest, ::testing::ValuesIn(kErrors));

}  // namespace
}  // namespace ordalis
