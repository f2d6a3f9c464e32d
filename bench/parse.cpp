// Parse speed: scanning, parsing and building the item tree of a generated script of about
// 1 MB that mixes the language's statements. Reports bytes per second and items per second.
// Also the cost of recording results on an item.

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "interp/variable_value.h"
#include "language/script_item.h"
#include "language/script_loader.h"

namespace {

// One block of varied statements; the number keeps names and values distinct.
std::string Block(int n) {
  std::string i = std::to_string(n);
  return "# block " + i + ": arithmetic, calls, branches and loops\n"
         "total" + i + " = " + i + " + 2 * count - (limit / 4)\n"
         "name" + i + " = \"item \" \"" + i + "\"\n"
         "values" + i + " = [1, 2.5, \"three\", [4, 5], 0x1F]\n"
         "if total" + i + " >= 3 and not done or flag == false then\n"
         "  meter.Measure(total" + i + ", \"volts\"):\n"
         "  result \"step " + i + "\" reading = meter.Read(1).Value()\n"
         "else\n"
         "  total" + i + "--\n"
         "endif\n"
         "while k < " + std::to_string(n % 7 + 1) + " do\n"
         "  k = k + 1\n"
         "endwhile\n"
         "function Helper" + i + "\n"
         "  local v = values" + i + "[0][1]\n"
         "  return v * 3, sprintf(\"%d\", v)\n"
         "endfunction\n"
         "Helper" + i + "(1, name" + i + "):\n";
}

std::string GeneratedScript(std::size_t size) {
  std::string text;
  for (int n = 0; text.size() < size; ++n) text += Block(n);
  return text;
}

std::size_t CountItems(const ordalis::ScriptItem& item) {
  std::size_t count = 1;
  for (const auto& child : item.children()) count += CountItems(*child);
  return count;
}

void BM_ParseAndBuildTree(benchmark::State& state) {
  const std::string script = GeneratedScript(1 << 20);
  std::size_t items = 0;
  for (auto _ : state) {
    auto root = ordalis::ScriptItem::Make(ordalis::rootItem, "root", "bench.odl", 0);
    ordalis::ScriptLoader().LoadText(script, root);
    state.PauseTiming();
    items = CountItems(*root) - 1;
    root.reset();  // releasing the tree is not part of the parse
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(script.size()) *
                          static_cast<std::int64_t>(state.iterations()));
  state.counters["items"] = static_cast<double>(items);
  state.counters["items_per_second"] = benchmark::Counter(
      static_cast<double>(items) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
  state.counters["MB_per_second"] = benchmark::Counter(
      static_cast<double>(script.size()) * static_cast<double>(state.iterations()) / 1e6,
      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ParseAndBuildTree)->Unit(benchmark::kMillisecond);

// The same script loaded and released, as a client that reloads a script pays it.
void BM_ParseBuildAndRelease(benchmark::State& state) {
  const std::string script = GeneratedScript(1 << 20);
  for (auto _ : state) {
    auto root = ordalis::ScriptItem::Make(ordalis::rootItem, "root", "bench.odl", 0);
    ordalis::ScriptLoader().LoadText(script, root);
    benchmark::DoNotOptimize(root.get());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(script.size()) *
                          static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_ParseBuildAndRelease)->Unit(benchmark::kMillisecond);

// A one-line script held in memory, as a remote peer sends it.
void BM_LoadValueText(benchmark::State& state) {
  const std::string text = "1, \"two\", [3, 4.5], true";
  for (auto _ : state) {
    auto root = ordalis::ScriptItem::Make(ordalis::rootItem, "root", "N/A", 0);
    ordalis::ScriptLoader().LoadText("x = " + text, root);
    benchmark::DoNotOptimize(root.get());
  }
}
BENCHMARK(BM_LoadValueText)->Unit(benchmark::kMicrosecond);

// One comment and one string token of N MiB each: the scanner is linear in the length of a
// token, so the time per byte stays flat from 1 to 4 MiB (chunked scanning made it quadratic:
// 0.26 s for 1 MiB, 3.7 s for 4 MiB).
void BM_ScanLongTokens(benchmark::State& state) {
  const std::size_t length = static_cast<std::size_t>(state.range(0)) << 20;
  const std::string script = "#" + std::string(length, 'c') + "\nx = \"" + std::string(length, 's') + "\"\n";
  for (auto _ : state) {
    auto root = ordalis::ScriptItem::Make(ordalis::rootItem, "root", "N/A", 0);
    ordalis::ScriptLoader().LoadText(script, root);
    benchmark::DoNotOptimize(root.get());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * script.size()));
}
BENCHMARK(BM_ScanLongTokens)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);

// A short value list read as a value text (user and system variables, recorded values during
// playback, ITesterUtilities::VariableValue): the literal reader, no parser and no lock.
void BM_ReadValueText(benchmark::State& state) {
  const std::string text = "1, \"two\", [3, 4.5], true";
  for (auto _ : state) {
    ordalis::VariableValue value;
    benchmark::DoNotOptimize(ordalis::VariableValue::ParseValueText(text, &value));
  }
}
BENCHMARK(BM_ReadValueText)->Unit(benchmark::kMicrosecond);

// Recording results on items, as a run does once per execution of a statement; reports the
// heap bytes each record without values costs, the per-item result state included. The
// argument is the number of records per item.
void BM_RecordResults(benchmark::State& state) {
  const auto per_item = static_cast<std::uint32_t>(state.range(0));
  const std::uint32_t items = std::max<std::uint32_t>(1, 100000 / per_item);
  std::vector<ordalis::ScriptItemPtr> tree;
  for (std::uint32_t i = 0; i < items; ++i) {
    tree.push_back(ordalis::ScriptItem::Make(ordalis::idItem, "x", "bench.odl", 1));
  }
  double bytes_per_record = 0;
  for (auto _ : state) {
    std::size_t before = mallinfo2().uordblks;
    for (const auto& item : tree) {
      for (std::uint32_t i = 0; i < per_item; ++i) item->RecordResult(ordalis::TestPassed, i, 0.001);
    }
    bytes_per_record = static_cast<double>(mallinfo2().uordblks - before) / (items * per_item);
    state.PauseTiming();
    for (const auto& item : tree) item->ResetResults();
    state.ResumeTiming();
  }
  state.counters["bytes_per_record"] = bytes_per_record;
  state.counters["records_per_second"] = benchmark::Counter(
      static_cast<double>(items) * per_item * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RecordResults)->Arg(1)->Arg(100)->Arg(100000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
