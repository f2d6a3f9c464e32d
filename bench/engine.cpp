// Execution speed of the engine: statements per second for loops, arithmetic, function calls
// and recorded tester actions, and the memory each recorded result takes.
//
// The time measured runs from the run's Started event to the Executed event of the root item,
// so the end-of-run files are not part of it. Pacing is off and nobody observes log lines.

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/script.h"
#include "scratch_folder.h"

namespace ordalis {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class Timer : public IScriptEventsClient {
 public:
  void Executed(ScriptItem* item) override {
    if (item->type() == rootItem) finished_ = Clock::now();
  }
  void ResultsReset() override {}
  void Started() override { started_ = Clock::now(); }
  void Reset() override {}
  void StateChanged(ScriptState state) override {
    if (state == ScriptNotRunning) ended.Set();
  }
  double Seconds() const { return std::chrono::duration<double>(finished_ - started_).count(); }
  Event ended;

 private:
  Clock::time_point started_, finished_;
};

fs::path Directory() { return ordalis::bench::ScratchPath("ordalis_bench_"); }

// Runs [text] once; returns the seconds its statements took.
double RunOnce(const std::string& text, std::shared_ptr<CScript>* keep = nullptr) {
  fs::path path = Directory() / "bench.odl";
  std::ofstream(path, std::ios::binary) << text;
  auto script = CScript::Create(nullptr, Pacing{0, 0, 0});
  auto timer = std::make_shared<Timer>();
  script->SetScriptEventsClient(timer);
  VariantBool loaded;
  script->Load(path.string(), &loaded);
  script->Run();
  timer->ended.Wait();
  script->SetScriptEventsClient(nullptr);
  if (keep != nullptr) *keep = script;
  return timer->Seconds();
}

void RunLoop(benchmark::State& state, const std::string& prelude, const std::string& body) {
  const int n = static_cast<int>(state.range(0));
  std::string text = prelude + "i = 0\nwhile i < " + std::to_string(n) + " do\n" + body + "  i++\nendwhile\n";
  for (auto _ : state) state.SetIterationTime(RunOnce(text));
  state.counters["iterations_per_second"] =
      benchmark::Counter(static_cast<double>(n) * state.iterations(), benchmark::Counter::kIsRate);
}

void BM_WhileIncrement(benchmark::State& state) { RunLoop(state, "", ""); }
void BM_ArithmeticLoop(benchmark::State& state) { RunLoop(state, "", "  x = i * 2 + 1\n"); }
void BM_FunctionCalls(benchmark::State& state) {
  RunLoop(state, "function f\n  return f[0]\nendfunction\n", "  y = f(i)\n");
}
// Calls of a function whose body has a `local`, in a script with range(1) other variables: the
// cost of a call should not grow with the script's variables.
void BM_LocalCalls(benchmark::State& state) {
  std::string globals;
  for (int i = 0; i < state.range(1); ++i) globals += "global" + std::to_string(i) + " = " + std::to_string(i) + "\n";
  RunLoop(state, globals + "function f\n  local x = f[0]\n  return x\nendfunction\n", "  y = f(i)\n");
}
void BM_RecordedEchoActions(benchmark::State& state) {
  RunLoop(state, "t = new echo()\n", "  t.Echo()\n");
}
// Echo actions sent the parameters of the measuring ones below, without measuring: what the
// parameters and returned values cost, apart from the measurement.
void BM_RecordedEchoActionsWithParameters(benchmark::State& state) {
  RunLoop(state, "t = new echo()\n", "  t.Echo(\"\", 1.5, \"V\", \"GELE\", 1, 2)\n");
}
// The same, each action reporting one measurement with its limits (target: at least 70 % of the
// rate without).
void BM_RecordedMeasuringEchoActions(benchmark::State& state) {
  RunLoop(state, "t = new echo()\n", "  t.Measure(\"\", 1.5, \"V\", \"GELE\", 1, 2)\n");
}

// Heap bytes held per recorded result that carries no values.
void BM_BytesPerRecordedResult(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::string text = "i = 0\nwhile i < " + std::to_string(n) + " do\n  passed\n  i++\nendwhile\n";
  double bytes_per_result = 0;
  for (auto _ : state) {
    malloc_trim(0);
    std::size_t before = mallinfo2().uordblks;
    std::shared_ptr<CScript> script;
    state.SetIterationTime(RunOnce(text, &script));
    malloc_trim(0);
    std::size_t after = mallinfo2().uordblks;
    std::size_t records = 0;
    std::vector<ScriptItem*> items = {script->root().get()};
    while (!items.empty()) {
      ScriptItem* item = items.back();
      items.pop_back();
      records += item->NumberOfRecords();
      for (const auto& child : item->children()) items.push_back(child.get());
    }
    bytes_per_result = static_cast<double>(after - before) / static_cast<double>(records);
  }
  state.counters["bytes_per_result"] = bytes_per_result;
}

BENCHMARK(BM_WhileIncrement)->Arg(200000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArithmeticLoop)->Arg(200000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FunctionCalls)->Arg(100000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LocalCalls)->Args({100000, 0})->Args({100000, 500})->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecordedEchoActions)->Arg(100000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecordedEchoActionsWithParameters)->Arg(100000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecordedMeasuringEchoActions)->Arg(100000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BytesPerRecordedResult)->Arg(200000)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ordalis

BENCHMARK_MAIN();
