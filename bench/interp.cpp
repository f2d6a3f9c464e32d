// Costs of the interpreter's hottest paths: a variable lookup plus store, the evaluation of
// a small arithmetic expression, and a fine-grained log call that nobody observes.

#include <benchmark/benchmark.h>

#include "interp/evaluator.h"
#include "interp/script_context.h"
#include "interp/variables.h"
#include "language/script_item.h"
#include "trace/script_log.h"

namespace ordalis {
namespace {

// The script object's log as the engine wires it: a Logger over a ScriptLog.
class ScriptLogger : public Logger {
 public:
  using Logger::Log;
  void Log(LoggingLevel level, const std::string& name, const std::string& message) override {
    log.Log(level, name, message, LogSource{});
  }
  bool IsLogging(LoggingLevel level) const override { return log.IsListening(level); }
  ScriptLog log;
};

class BenchScript : public IScriptContext {
 public:
  ScriptLogger log;
  VariableTable table;
  Logger& logger() override { return log; }
  VariableTable& variables() override { return table; }
  IApplicationManager* application_manager() override { return nullptr; }
  bool playback_active() const override { return false; }
  bool RecordedVariable(const std::string&, std::string*) override { return false; }
  void SetCurrentItem(ScriptItem*) override {}
  std::uint32_t iteration() const override { return 1; }
  void FireExecuted(ScriptItem*) override {}
  std::int64_t current_time() const override { return 0; }
  std::int64_t load_time() const override { return 0; }
  std::int64_t run_time() const override { return 0; }
  Result ExecuteChain(ScriptItem*) override { return TestPassed; }
  Result ExecuteAssignment(ScriptItem*) override { return TestPassed; }
  ActionOutcome CallAction(ScriptItem*, VariableValue*, const std::string&) override {
    return {TestError, Recording::kRecord};
  }
};

void FillTable(BenchScript& script) {
  // A table of a realistic size, so lookups walk a tree of some depth.
  for (int i = 0; i < 32; ++i) {
    VariableValue value;
    value.Append(VariableValue(i));
    script.table.Set("var" + std::to_string(i), std::move(value));
  }
}

void BM_FindAndSetInteger(benchmark::State& state) {
  BenchScript script;
  FillTable(script);
  auto name = ScriptItem::Make(idItem, "Var17", "bench", 1);
  for (auto _ : state) {
    std::string lower;
    VariableValue value;
    FindVariable(script, name.get(), &lower, &value);
    SetVariable(script, lower, VariableValue(value.Element(0).integer() + 1));
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_FindAndSetInteger);

void BM_ArithmeticAPlusBTimes2(benchmark::State& state) {
  BenchScript script;
  FillTable(script);
  script.table.Set("a", VariableValue(3));
  script.table.Set("b", VariableValue(4));
  auto times = ScriptItem::Make(arithmeticItem, "*", "bench", 1);
  times->AddChild(ScriptItem::Make(idItem, "b", "bench", 1));
  times->AddChild(ScriptItem::Make(integerItem, "2", "bench", 1));
  auto plus = ScriptItem::Make(arithmeticItem, "+", "bench", 1);
  plus->AddChild(ScriptItem::Make(idItem, "a", "bench", 1));
  plus->AddChild(times);
  for (auto _ : state) {
    VariableValue value;
    EvaluateArithmetic(script, plus.get(), &value);
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_ArithmeticAPlusBTimes2);

void BM_LogFinestWithoutObserver(benchmark::State& state) {
  BenchScript script;
  std::string text = "x = a + b * 2";
  for (auto _ : state) {
    script.logger().Log(finest, "script", "executing command \"%s\"", text.c_str());
  }
}
BENCHMARK(BM_LogFinestWithoutObserver);

}  // namespace
}  // namespace ordalis

BENCHMARK_MAIN();
