// What `local` statements leave behind once their chain ends: which variables get their old
// values back, which go, and the fine lines that say so, for locals in branches, loops and
// function bodies, locals whose statement calls functions (with locals of their own), and
// statements that fail or end the run.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script_fixture.h"

namespace ordalis {
namespace {

using testing_support::ScriptTest;

struct LocalCase {
  const char* name;
  const char* script;
  // Every variable after the run, in name order: "name=list text;" each.
  const char* variables;
  // The scope lines of the run in the order they were logged, each followed by "; ".
  const char* scope_lines;
};

class LocalScope : public ScriptTest, public ::testing::WithParamInterface<LocalCase> {
 protected:
  std::string Variables() {
    std::string all;
    std::string name;
    VariableValue value;
    for (std::size_t i = 0; script_->variables().EntryAt(i, &name, &value); ++i) {
      all += name + "=" + value.ListText() + ";";
    }
    return all;
  }
  std::string ScopeLines() {
    std::string all;
    std::lock_guard lock(observer_->mutex);
    for (const auto& line : observer_->lines) {
      const std::string& m = line.message;
      bool reset = m.rfind("Variable ", 0) == 0 && m.find(" reset to ") != std::string::npos;
      bool removed = m.rfind("Local variable ", 0) == 0 && m.size() > 8 && m.ends_with(" removed");
      if (reset || removed) all += m + "; ";
    }
    return all;
  }
};

TEST_P(LocalScope, RestoresAndRemovesWhatItsStatementChanged) {
  const LocalCase& c = GetParam();
  Load(c.script);
  script_->Run();
  ASSERT_TRUE(observer_->WaitForRunEnd());
  EXPECT_EQ(Variables(), c.variables);
  EXPECT_EQ(ScopeLines(), c.scope_lines);
}

// A function g that writes a global z and makes a global w, and returns 5.
#define WRITES_GLOBALS "function g\n  z = 9\n  w = 1\n  return 5\nendfunction\n"

INSTANTIATE_TEST_SUITE_P(Cases, LocalScope, ::testing::ValuesIn(std::vector<LocalCase>{
  {"DisplacedValueComesBack",
   "x = 1\nif true then\n  local x = 2\n  y = x\nendif\n",
   "x=1;y=2;", "Variable x reset to 1; "},
  {"NewNameGoes",
   "if true then\n  local y = 3\n  y = 4\nendif\n",
   "", "Local variable y removed; "},
  {"FirstDisplacementWins",
   "x = 1\nif true then\n  local x = 2\n  local x = 3\nendif\n",
   "x=1;", "Variable x reset to 1; "},
  {"AnEqualValueDisplacesNothing",
   "x = 1\nif true then\n  local x = 1\n  x = 4\nendif\n",
   "x=4;", ""},
  {"TheMainProgramIsAChainToo",
   "x = 1\nlocal x = 2\nlocal n = 5\n",
   "x=1;", "Variable x reset to 1; Local variable n removed; "},
  {"EachLoopPassEndsItsLocals",
   "i = 0\nx = 0\nwhile i < 2 do\n  local x = i + 10\n  s = x\n  i++\nendwhile\n",
   "i=2;s=11;x=0;",
   "Variable x reset to 0; Variable x reset to 0; "},
  {"NamesWrittenByACalledFunctionAreScopedToo",
   WRITES_GLOBALS "z = 1\nif true then\n  local q = g()\nendif\n",
   "z=1;",
   "Variable z reset to 1; Local variable q removed; Local variable w removed; "},
  {"AFunctionsOwnLocalsEndWithItsBody",
   "function h\n  local x = 5\n  y = 2\n  return x\nendfunction\n"
   "x = 1\ny = 1\nif true then\n  local r = h()\n  s = r\nendif\n",
   "s=5;x=1;y=1;",
   "Variable x reset to 1; Variable y reset to 1; Local variable r removed; "},
  {"RecursiveCallsRestoreEveryLevel",
   "function f\n  local n = f[0]\n  if n > 0 then\n    local r = f(n - 1)\n  endif\n  return n\nendfunction\n"
   "n = 100\nr = 7\ntop = f(2)\n",
   "n=100;r=7;top=2;",
   // f(0) ends, then the branch of f(1), then f(1), then the branch of f(2), then f(2).
   "Variable n reset to 1; Variable r reset to 7; Variable n reset to 2; Variable r reset to 7; "
   "Variable n reset to 100; "},
  {"AFailedStatementChangesNothing",
   "x = 1\nif true then\n  local x = nosuch\nendif\n",
   "x=1;", ""},
  {"WritesBeforeAFailureAreScoped",
   "function g\n  z = 2\n  return nosuch\nendfunction\nz = 1\nif true then\n  local q = g()\nendif\n",
   "z=1;", "Variable z reset to 1; Local variable q removed; "},
  {"ADeletedNameStaysDeleted",
   "t = new echo()\nk = 1\nif true then\n  local delete t\nendif\n",
   "k=1;", ""},
  {"AbortStillEndsTheChain",
   WRITES_GLOBALS "z = 1\nlocal q = g()\nabort\nz = 3\n",
   "z=1;",
   "Variable z reset to 1; Local variable q removed; Local variable w removed; "},
}), [](const auto& info) { return std::string(info.param.name); });

#undef WRITES_GLOBALS

}  // namespace
}  // namespace ordalis
