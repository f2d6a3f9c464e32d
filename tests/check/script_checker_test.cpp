// What `ordalis check` finds in a script: constructs the language does not evaluate where they
// stand, undefined functions, tester types and actions that are not installed, names read but
// never assigned, and labels used twice, each at the line of the construct.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "check/script_checker.h"
#include "language/script_loader.h"
#include "support/temporary_folder.h"

namespace ordalis {
namespace {

// Two installed tester types: echo with three actions, and meter whose actions cannot be read.
class FakeTesters : public TesterTypes {
 public:
  std::vector<std::string> Types() const override { return {"echo", "meter"}; }
  const std::vector<std::string>* Actions(const std::string& type) const override {
    return type == "echo" ? &echo_ : nullptr;
  }
  // Echo declares its parameters: Echo any number of values, Result a code and any number
  // of values, Fail none.
  const DeclaredParameters* Parameters(const std::string& type, const std::string& action) const override {
    if (type != "echo") return nullptr;
    if (action == "Echo") return &any_;
    if (action == "Result") return &code_and_any_;
    return action == "Fail" ? &none_ : nullptr;
  }

 private:
  std::vector<std::string> echo_{"Echo", "Result", "Fail"};
  DeclaredParameters any_{1, true};
  DeclaredParameters code_and_any_{2, true};
  DeclaredParameters none_{0, false};
};

// The findings of [text], one per line: "(line) : Severity: text". The columns are the gcc
// form's cases below.
std::string FindingsOf(const std::string& text, const CheckOptions& options) {
  ScriptItemPtr root = ScriptItem::Make(rootItem, "root", "N/A", 0);
  ScriptLoader loader;
  loader.LoadText(text, root);
  std::string out;
  for (Finding finding : ScriptChecker(options).Check(*root, loader.SyntaxNotes())) {
    finding.column = 0;
    std::string line = FindingLine(finding);
    out += line.substr(line.find('(')) + "\n";
  }
  return out;
}

std::string FindingsOf(const std::string& text) {
  static const FakeTesters kTesters;
  CheckOptions options;
  options.testers = &kTesters;
  options.defined_outside = [](const std::string& name) { return name == "limit"; };
  return FindingsOf(text, options);
}

struct CheckCase {
  const char* script;
  const char* findings;  // every finding, "(line) : Severity: text\n" each
};

void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.script; }

class ScriptCheckerTest : public ::testing::TestWithParam<CheckCase> {};

TEST_P(ScriptCheckerTest, Finds) { EXPECT_EQ(FindingsOf(GetParam().script), GetParam().findings); }

// Scripts whose every construct is evaluated where it stands find nothing.
const CheckCase kClean[] = {
    {"function sq\n  n = sq[0]\n  r = n * n\n  return r, [n, 1]\nendfunction\nx = sq(3, [1, 2])\n", ""},
    {"t = new echo()\nv = t.Echo(1, \"a\", 2 + 3)\nif v[0] == 1 and not (v[1] != \"a\") then\n"
     "  printf(\"%d\", v[0])\nendif\nn = strlen(\"abc\")\nok = n > 2\nassert(ok, n)\n", ""},
    {"x = year\ny = limit\nsleep(1)\nz = sleep\nparts = sscanf(\"%d\", \"12\")\n", ""},
    {"m = new meter()\nm.Anything(1)\nt = new echo()\nt = 5\nt.Whatever()\n", ""},
    {"result \"a\" x = 1\nresult \"b\" y = 2\nresult if x then y = 3 endif\nresult if y then x = 1 endif\n",
     ""},
};
INSTANTIATE_TEST_SUITE_P(Clean, ScriptCheckerTest, ::testing::ValuesIn(kClean));

const CheckCase kNotEvaluated[] = {
    {"function sq\n  n = sq[0]\n  return n * n\nendfunction\n",
     "(3) : Error: 'return' takes values, not expressions or calls: 'n * n' is not evaluated in a "
     "return list; assign it first (value = n * n) and return the variable\n"},
    {"t = new echo()\nt.Echo(strlen(\"abc\"))\n",
     "(2) : Error: the call 'strlen( \"abc\" )' is not evaluated as an action argument: assign it "
     "to a variable first (value = strlen( \"abc\" )) and use the variable\n"},
    {"t = new echo()\nt.Echo([1, 2])\n",
     "(2) : Error: the array literal '[ 1 , 2 ]' is not evaluated as an action argument (it is "
     "passed as the text '[]'): assign it to a variable first (list = [ 1 , 2 ]) and use the "
     "variable\n"},
    {"printf(\"%s\", sprintf(\"a%d\", 1))\n",
     "(1) : Error: the call 'sprintf ( \"a%d\" , 1 )' is not evaluated as an argument of printf: "
     "assign it to a variable first (value = sprintf ( \"a%d\" , 1 )) and use the variable\n"},
    {"function f\nendfunction\nx = 1 + f(2)\n",
     "(3) : Error: the call 'f( 2 )' is not evaluated as an operand of '+': assign it to a "
     "variable first (value = f( 2 )) and use the variable\n"},
    {"x = 1\nprintf(\"%d\", x < 2)\n",
     "(2) : Error: the condition 'x < 2' is not a value as an argument of printf: assign it "
     "first (ok = x < 2) and use the variable\n"},
    {"t = new echo()\nif t.Fail() then\n  x = 1\nendif\n",
     "(2) : Error: the action call 't.Fail( )' is not a condition: compare its value ('t.Fail( ) "
     "== true'); a condition is a comparison, a Boolean variable, true or false, or 'and', 'or', "
     "'not' of those\n"},
    {"x = [1]\nwhile x[0] do\nendwhile\n",
     "(2) : Error: the element 'x[ 0 ]' is not a condition: compare it ('x[ 0 ] == true'); a "
     "condition is a comparison, a Boolean variable, true or false, or 'and', 'or', 'not' of "
     "those\n"},
    {"x = 2 + 3, 4\n",
     "(1) : Error: only the first value is stored after '2 + 3': '4' is ignored; assign it on its "
     "own, or make the list of plain values\n"},
    {"x = 1, 2 + 3\n",
     "(1) : Error: after a first plain value only plain values may follow: '2 + 3' is not "
     "evaluated and the assignment stores nothing; compute it into a variable first\n"},
    {"x = [1, 2 * 2]\n",
     "(1) : Error: an array literal holds values, not expressions or calls: '2 * 2' is not "
     "evaluated inside '[ ]'; compute it into a variable first\n"},
    {"x = passed\n",
     "(1) : Error: a result word cannot be assigned ('= passed' stores nothing): compare with it "
     "where it is needed ('if r == passed then')\n"},
    {"x = 1\ny = 2\nassert(x == 1, x, y)\n",
     "(3) : Error: assert takes a condition and at most one value ('assert(condition, value)'); "
     "with more, the results report this statement as an error\n"},
    {"f = \"%d\"\nt = \"1\"\nv = sscanf(f, t)\n",
     "(3) : Error: sscanf takes the format and the text, one of them written as a string literal "
     "('sscanf(\"%d\", text)'); otherwise the results report this statement as an error\n"},
    {"x = 1\nreturn x\n",
     "(2) : Error: 'return' stands outside a function: it ends nothing and records an error\n"},
};
INSTANTIATE_TEST_SUITE_P(NotEvaluated, ScriptCheckerTest, ::testing::ValuesIn(kNotEvaluated));

const CheckCase kNames[] = {
    {"voltage = 5\nif voltge < 4 then\n  x = 1\nendif\n",
     "(2) : Warning: 'voltge' is read but no statement of the script assigns it (did you mean "
     "'voltage'?): unless it comes from a user or system variable ('ordalis vars') or from "
     "'ordalis run --var voltge=VALUE', it is not found at run time\n"},
    {"Greet(1)\nfunction greet\nendfunction\nsprintf(\"a\")\nx = Undefined(2)\n",
     "(4) : Error: 'sprintf' gives a value and is no statement: assign it ('value = sprintf( "
     "\"a\" )')\n"
     "(5) : Error: the function 'Undefined' is not defined in this script or an enclosing block, "
     "nor built in (printf, strlen, saveuservar)\n"},
    {"function f\n  function g\n  endfunction\nendfunction\ng()\n",
     "(5) : Error: the function 'g' is not defined in this script or an enclosing block, nor "
     "built in (printf, strlen, saveuservar)\n"},
    {"result \"Step\" x = 1\nresult \"Step\" y = 2\nfunction f\nendfunction\nfunction F\nendfunction\n",
     "(2) : Warning: the result label 'Step' is already used by the result on line 1 of N/A: the "
     "summary shows two rows of that name\n"
     "(5) : Warning: the function 'F' is defined twice in the same block: calls run the first "
     "definition, never this one\n"},
    {"t = new ecko()\nu = new echo()\nu.Ech(1)\nu.RESULT(1)\n",
     "(1) : Error: no installed tester offers the type 'ecko' (did you mean 'echo'?); installed "
     "types: echo, meter ('ordalis testers' lists them, 'ordalis check --no-testers' skips this "
     "check)\n"
     "(3) : Error: the tester type 'echo' of 'u' has no action 'Ech' (did you mean 'Echo'?); its "
     "actions: Echo, Result, Fail\n"},
};
INSTANTIATE_TEST_SUITE_P(Names, ScriptCheckerTest, ::testing::ValuesIn(kNames));

// A call passes surely too few or too many values only when every argument is one value; a
// name or an element may hold an array that gives any number.
const CheckCase kArgumentCounts[] = {
    {"t = new echo()\nt.Fail()\nt.Echo()\nt.Echo(1, \"a\", 2)\nt.Result(1, 2, 3)\nv = [1, 2]\n"
     "t.Fail(v)\nt.Result(v)\n", ""},
    {"t = new echo()\nt.Fail(1)\n",
     "(2) : Error: the action 'Fail' of the tester type 'echo' takes 0 values, the call passes 1 value "
     "('ordalis testers' shows its parameters)\n"},
    {"t = new echo()\nv = 1\nt.fail(v, 2)\n",
     "(3) : Error: the action 'Fail' of the tester type 'echo' takes 0 values, the call passes at "
     "least 1 value ('ordalis testers' shows its parameters)\n"},
    {"t = new echo()\nt.Result()\n",
     "(2) : Error: the action 'Result' of the tester type 'echo' takes at least 1 value, the call "
     "passes 0 values ('ordalis testers' shows its parameters)\n"},
    {"m = new meter()\nm.Read(1, 2, 3)\n", ""},  // meter declares nothing
};
INSTANTIATE_TEST_SUITE_P(ArgumentCounts, ScriptCheckerTest, ::testing::ValuesIn(kArgumentCounts));

// Only syntax errors are reported while there are any: error recovery leaves half-built
// statements that the other rules would misread. Each syntax error is one finding, however
// many tokens the parser skips to recover from it.
TEST(ScriptChecker, SyntaxErrorsAloneOneFindingEach) {
  EXPECT_EQ(FindingsOf("x = 1 +* 2\ny = undefined_name\n"),
            "(1) : Error: unexpected '*', expected 'not', a value, a name, an operator or '(': "
            "expected a value after '+', found '*'\n");
}

// The gcc form of the syntax findings of [text]: "line:column: error: text" each.
std::string GccSyntaxOf(const std::string& text) {
  ScriptItemPtr root = ScriptItem::Make(rootItem, "root", "s.odl", 0);
  ScriptLoader loader;
  loader.LoadText(text, root);
  std::string out;
  for (const Finding& finding : ScriptChecker(CheckOptions{}).Check(*root, loader.SyntaxNotes())) {
    std::string line = GccFindingLine(finding);
    out += line.substr(line.find(':') + 1) + "\n";
  }
  return out;
}

struct SyntaxCase {
  const char* script;
  const char* findings;  // "line:column: error: text\n" each
};

void PrintTo(const SyntaxCase& c, std::ostream* os) { *os << c.script; }

class SyntaxFindingTest : public ::testing::TestWithParam<SyntaxCase> {};

// Each syntax error is one finding at the byte column of the token the parser could not take,
// naming it, what was expected and the construct still open.
TEST_P(SyntaxFindingTest, OneFindingAtTheToken) {
  EXPECT_EQ(GccSyntaxOf(GetParam().script), GetParam().findings);
}

const SyntaxCase kSyntaxCases[] = {
    {"i = = 1\n",
     "1:5: error: unexpected '=', expected 'not', a value, 'new', a name, an operator, '(' or '[': "
     "'=' cannot stand here: only a plain name at the start of a statement can be assigned\n"},
    {"x = 1\n\tv = f(1, )\n",
     "2:11: error: unexpected ')', expected 'not', a value, a name, an operator, '(' or '[', "
     "inside the call of 'f' opened on line 2: expected a value after ',', found ')'\n"},
    {"if x < 1 then\n  y = 2\n",
     "2:7: error: unexpected end of file, expected 'abort', 'return', 'function', "
     "'ignoreresult', 'movelogfile', 'copylogfile', a comment, 'result' or ..., inside 'if' "
     "opened on line 1: the 'if' on line 1 is not closed: 'endif' is missing before the end of "
     "the file\n"},
    {"a = 1 +* 2\nb = 2\nc = ) 3\n",
     "1:8: error: unexpected '*', expected 'not', a value, a name, an operator or '(': expected a "
     "value after '+', found '*'\n"
     "3:5: error: unexpected ')', expected 'not', a value, 'new', a name, an operator, '(' or "
     "'[': expected a value after '=', found ')'\n"},
};
INSTANTIATE_TEST_SUITE_P(Syntax, SyntaxFindingTest, ::testing::ValuesIn(kSyntaxCases));

// The rules beyond syntax give the column of the item they speak of.
TEST(ScriptChecker, RuleFindingsCarryTheirColumn) {
  EXPECT_EQ(GccSyntaxOf("x = 1\n  y = undefined(x)\n"),
            "2:7: error: the function 'undefined' is not defined in this script or an enclosing "
            "block, nor built in (printf, strlen, saveuservar)\n");
}

// Without the testers, types and actions are not checked; the other rules still run.
TEST(ScriptChecker, NoTestersNoTesterRules) {
  EXPECT_EQ(FindingsOf("t = new ecko()\nt.Ech()\nreturn 1\n", CheckOptions{}),
            "(3) : Error: 'return' stands outside a function: it ends nothing and records an "
            "error\n");
}

// ---- a script checked a run of statements at a time ------------------------------------------

std::vector<std::string> Lines(const std::vector<Finding>& findings) {
  std::vector<std::string> lines;
  for (const Finding& finding : findings) lines.push_back(FindingLine(finding));
  return lines;
}

// Checks the script file [path] whole, as the tree a load gives.
std::vector<std::string> WholeFindings(const std::string& path, const CheckOptions& options) {
  ScriptItemPtr root = ScriptItem::Make(rootItem, path, path, 0);
  ScriptLoader loader;
  EXPECT_TRUE(loader.Load(path, root));
  return Lines(ScriptChecker(options).Check(*root, loader.SyntaxNotes()));
}

// Checks it [at_once] statements at a time; nullopt when the checker wants the whole tree.
std::optional<std::vector<std::string>> StatementwiseFindings(const std::string& path, CheckOptions options,
                                                              std::size_t at_once) {
  options.statements_at_once = at_once;
  ScriptItemPtr root = ScriptItem::Make(rootItem, path, path, 0);
  std::size_t most_held = 0;
  auto read = [&](const ScriptItemPtr& top, const ScriptChecker::StatementSink& sink, bool* clean) {
    ScriptLoader loader;
    auto counting = [&](ScriptItem& item) {
      most_held = std::max(most_held, item.child_count());
      sink(item);
    };
    if (!loader.Load(path, top, counting)) return false;
    *clean = loader.ErrorCount() == 0 && loader.SyntaxNotes().empty();
    return true;
  };
  auto findings = ScriptChecker(options).CheckStatementwise(root, read);
  // No more statements are held than a run and the one that completes it (an include adds its
  // file's statements at once).
  EXPECT_LE(most_held, at_once + 8) << path;
  if (!findings) return std::nullopt;
  return Lines(*findings);
}

// Whatever the runs, the findings are those of the whole tree: names assigned and functions
// defined after their use, labels and functions defined twice in different runs, a tester
// variable given another type in a later run, functions of nested blocks, and statements an
// include brings.
TEST(ScriptChecker, StatementwiseFindsWhatTheWholeTreeFinds) {
  testing_support::TemporaryFolder folder("ordalis_check_");
  ASSERT_FALSE(folder.path().empty());
  const std::filesystem::path dir = folder.path();
  std::ofstream(dir / "lib.odl") << "function helper\nendfunction\nresult \"Step\" z = 1\nw = wherever\n";
  std::vector<std::string> scripts = {
      "x = later(1)\nprintf(\"%d\", counter)\nresult \"Step\" a = 1\nt = new echo()\nt.Ech()\n"
      "include \"lib.odl\"\nhelper()\nfunction later\nendfunction\ncounter = 1\nv = new echo()\n"
      "v.Ech()\nv = new meter()\nfunction later\nendfunction\nresult \"Step\" b = 2\n"
      "if x then\n  function inner\n  endfunction\n  inner()\nendif\ninner()\nreturn 1\nvoltge = voltage\n",
  };
  auto add = [&](const auto& table) {
    for (const CheckCase& c : table) scripts.emplace_back(c.script);
  };
  add(kClean);
  add(kNotEvaluated);
  add(kNames);
  static const FakeTesters kTesters;
  CheckOptions options;
  options.testers = &kTesters;
  for (std::size_t i = 0; i < scripts.size(); ++i) {
    const std::string path = (dir / ("script" + std::to_string(i) + ".odl")).string();
    std::ofstream(path) << scripts[i];
    std::vector<std::string> whole = WholeFindings(path, options);
    if (i == 0) {
      EXPECT_GE(whole.size(), 8u);  // the cross-run script finds something of each kind
    }
    for (std::size_t at_once : {1, 2, 3, 4096}) {
      auto statementwise = StatementwiseFindings(path, options, at_once);
      ASSERT_TRUE(statementwise.has_value()) << scripts[i];
      EXPECT_EQ(*statementwise, whole) << scripts[i] << "\nat once: " << at_once;
    }
  }
  // Syntax errors need the whole tree around them.
  const std::string broken = (dir / "broken.odl").string();
  std::ofstream(broken) << "x = 1\ny = 1 +* 2\n";
  EXPECT_FALSE(StatementwiseFindings(broken, options, 1).has_value());
}

// The checker leaves results alone: asking for the text of a malformed sscanf would mark it.
TEST(ScriptChecker, LeavesResultsAsTheyAre) {
  ScriptItemPtr root = ScriptItem::Make(rootItem, "root", "N/A", 0);
  ScriptLoader().LoadText("a = 1\nv = sscanf(a, a)\n", root);
  EXPECT_TRUE(HasErrors(ScriptChecker(CheckOptions{}).Check(*root, {})));
  EXPECT_EQ(root->current_result(), TestNotRun);
}

}  // namespace
}  // namespace ordalis
