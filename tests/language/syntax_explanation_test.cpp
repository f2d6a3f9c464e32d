// Syntax errors explained from the parser's state, and the lines items carry: the line of the
// last token the parser took, never the line of the token after the construct.

#include <gtest/gtest.h>

#include <string>

#include "language/script_loader.h"
#include "tree_notation.h"

namespace ordalis {
namespace {

struct Explained {
  std::string notes;   // every note, "line: text", one per line
  std::string errors;  // every error item, "line: text", one per line
};

Explained Explain(std::string_view text) {
  ScriptItemPtr root = ScriptItem::Make(rootItem, "root", "N/A", 0);
  ScriptLoader loader;
  loader.LoadText(text, root);
  Explained out;
  for (const SyntaxNote& note : loader.SyntaxNotes()) {
    out.notes += std::to_string(note.first_error->line()) + ": " + note.text + "\n";
  }
  std::vector<const ScriptItem*> stack{root.get()};
  while (!stack.empty()) {
    const ScriptItem* item = stack.back();
    stack.pop_back();
    if (item->type() == errorItem) out.errors += std::to_string(item->line()) + ": " + item->text() + "\n";
    for (std::size_t i = item->child_count(); i > 0; --i) stack.push_back(item->child(i - 1));
  }
  return out;
}

struct ExplanationCase {
  const char* script;
  const char* note;  // the one note expected, without its line
  std::uint32_t line;
};

void PrintTo(const ExplanationCase& c, std::ostream* os) { *os << c.script; }

class SyntaxExplanationTest : public ::testing::TestWithParam<ExplanationCase> {};

TEST_P(SyntaxExplanationTest, ExplainsTheFirstErrorOfTheGroup) {
  Explained explained = Explain(GetParam().script);
  EXPECT_EQ(explained.notes, std::to_string(GetParam().line) + ": " + GetParam().note + "\n")
      << explained.errors;
}

const ExplanationCase kExplanations[] = {
    {"x = 1 +* 2", "expected a value after '+', found '*'", 1},
    {"If x > 1 Then\n  y = 2\nEndIf\n",
     "'If' is not a keyword: keywords are lower case, so write 'if'", 1},
    {"if x > 1 Then y = 2",
     "'Then' is not a keyword: keywords are lower case, so write 'then'", 1},
    {"x = 1\nif x > 0 then\n  y = 2\n\n",
     "the 'if' on line 2 is not closed: 'endif' is missing before the end of the file", 3},
    {"while i < 3\n i++\nendwhile\n",
     "expected 'do' after the condition of the 'while' on line 1, found 'i'", 2},
    {"x = 0\nif x\n  == 1 y = 2 endif",
     "expected 'then' after the condition of the 'if' on line 2, found 'y'", 3},
    {"if x then\n y = 1\nendwhile\n",
     "'endwhile' cannot close the 'if' on line 1: close it with 'endif' first", 3},
    {"x = 1\nendif\n", "'endif' has no 'if' to close", 2},
    {"if a then b = 1 else b = 2 else b = 3 endif", "the 'if' on line 1 already has its 'else'", 1},
    {"function f\n x = 1\n", "the function 'f' on line 1 is not closed: 'endfunction' is missing before the end of the file", 2},
    {"x = f(1,\n", "the file ends inside the call of 'f' on line 1: ')' is missing", 1},
    {"x = f(1 2)", "expected ',' or ')' after the arguments of the call of 'f' on line 1, found '2'", 1},
    {"a[1] = 2", "only a plain name can be assigned, not an element ('a[1] = ...'): assign the whole array instead ('a = [1, 2]')", 1},
    {"x = 5 -3.0", "'-3.0' is read as one signed number, which cannot start a statement: to subtract, put a space after the sign ('- 3.0')", 1},
    {"x = -y", "a sign stands only directly before a whole number: to negate a value write '0 - value'", 1},
    {"x = 'abc'", "texts are written in double quotes: \"text\"", 1},
    {"y = f(1, # note\n 2)", "a comment cannot stand inside an unfinished statement: finish the statement first, expected 'not', a value, a name, an operator, '(' or '['", 1},
    {"for i = 1 to 3\n", "there is no 'for' loop: count with a variable in 'while <condition> do ... endwhile'", 1},
    {"if a then\n x = 1\nelseif b then x = 2 endif", "there is no 'elseif': write 'else' followed by an 'if ... endif' of its own", 3},
    {"count\ny = 1", "'count' alone is not a statement: assign it ('count = ...'), call it ('count(...)') or call an action on it ('count.Action(...)')", 2},
    {"x = 1 2", "'2' cannot start a statement: a statement starts with a name, a keyword or a comment (is an operator or a ',' missing before it?)", 1},
    {"assert(x = 1)", "'=' assigns and cannot stand inside an expression: to compare two values write '==' (or is a ')' missing before it?)", 1},
    {"include abc", "'include' takes a file name in double quotes ('include \"lib/common.odl\"'), found 'abc'", 1},
    {"t.result(1)", "expected a name after '.', found 'result': 'result' is a keyword in lower case; in any other case ('Result') it is a name", 1},
    {"x = {1}", "braces are not part of the language: blocks end with 'endif', 'endwhile' or 'endfunction'", 1},
};
INSTANTIATE_TEST_SUITE_P(Errors, SyntaxExplanationTest, ::testing::ValuesIn(kExplanations));

// Errors met while the parser recovers from one error share its note; a later error, once the
// parser has taken three tokens again, has a note of its own.
TEST(SyntaxExplanation, OneNotePerSyntaxError) {
  Explained explained = Explain("x = 1 +* 2\ny = 3\nz = 4 +* 5\n");
  EXPECT_EQ(explained.errors, "1: *\n1: 2\n3: *\n3: 5\n");
  EXPECT_EQ(explained.notes,
            "1: expected a value after '+', found '*'\n3: expected a value after '+', found '*'\n");
}

struct LineCase {
  const char* script;
  const char* tree;  // the tree with the line of every item: type"text"@line
};

std::string LinedNotation(const ScriptItem& item) {
  std::string out = std::string(ItemTypeName(item.type())) + "@" + std::to_string(item.line());
  if (item.child_count() == 0) return out;
  out += "[";
  for (std::size_t i = 0; i < item.child_count(); ++i) out += (i ? "," : "") + LinedNotation(*item.child(i));
  return out + "]";
}

// Items made when the parser has already read the token after their construct carry the line
// of the construct, not the line of that token.
TEST(ItemLines, LastTokenTakenNotTheLookAhead) {
  const LineCase kCases[] = {
      {"x = y\nz = 1\n",
       "assignmentItem@1[idItem@1,idItem@1],assignmentItem@2[idItem@2,integerItem@2]"},
      {"printf(\"a\")\n\nt.go()\n",
       "functionCallItem@1[stringItem@1],actionItem@3[idItem@3,idItem@3]"},
      {"if a\n then\n  b = c\n\nendif\n",
       "ifItem@2[idItem@1,thenItem@2[assignmentItem@3[idItem@3,idItem@3]]]"},
      {"x = 1 +\n 2\n", "assignmentItem@1[idItem@1,arithmeticItem@2[integerItem@1,integerItem@2]]"},
      {"x = 1\n\n\n", "assignmentItem@1[idItem@1,integerItem@1]"},
      {"x = 1\nendif\n\n\n", "assignmentItem@1[idItem@1,integerItem@1],errorItem@2"},
      {"if a then\n b = 1\n\n\n", "ifItem@1[idItem@1,thenItem@1[assignmentItem@2[idItem@2,integerItem@2],errorItem@2]]"},
      // An assert is made after its closing parenthesis, with the next line's token read.
      {"assert(x == 2)\n\ny = 3\n",
       "assertItem@1[equalItem@1[idItem@1,integerItem@1]],assignmentItem@3[idItem@3,integerItem@3]"},
      {"assert(x,\n \"1\")\nassert(y)", "assertItem@2[idItem@1,stringItem@2],assertItem@3[idItem@3]"},
  };
  for (const LineCase& c : kCases) {
    ScriptItemPtr root = testing::LoadedText(c.script);
    std::string tree;
    for (std::size_t i = 0; i < root->child_count(); ++i) tree += (i ? "," : "") + LinedNotation(*root->child(i));
    EXPECT_EQ(tree, c.tree) << c.script;
  }
}

}  // namespace
}  // namespace ordalis
