// Speed of writing the results document of a large run.

#include <benchmark/benchmark.h>

#include "engine/results_writer.h"
#include "language/script_item.h"

namespace ordalis {
namespace {

// A tree of [statements] assignments under a root, [records] results spread over them, every
// fourth carrying two values.
ScriptItemPtr BigTree(int statements, int records) {
  auto root = ScriptItem::Make(rootItem, "root", "bench.odl", 0);
  for (int s = 0; s < statements; ++s) {
    auto assignment = ScriptItem::Make(assignmentItem, "=", "bench.odl", s + 1);
    assignment->AddChild(ScriptItem::Make(idItem, "value" + std::to_string(s), "bench.odl", s + 1));
    assignment->AddChild(ScriptItem::Make(integerItem, std::to_string(s), "bench.odl", s + 1));
    root->AddChild(assignment);
  }
  for (int r = 0; r < records; ++r) {
    ScriptItem* item = root->child(static_cast<std::size_t>(r % statements));
    VariantArray values;
    if (r % 4 == 0) values = {Variant::Int(r), Variant::Double(2.5)};
    item->RecordResult(r % 10 == 0 ? TestFailed : TestPassed, 1 + r / statements, 0.0125, std::move(values));
  }
  return root;
}

void BM_ResultsXml(benchmark::State& state) {
  ScriptItemPtr root = BigTree(100, static_cast<int>(state.range(0)));
  ResultsHeader header = HeaderForNow("bench.odl", "1.0", {"bench.odl_2026_01_01_00_00_00.log"});
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::string xml = ResultsXml(*root, header);
    bytes += xml.size();
    benchmark::DoNotOptimize(xml.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
  state.counters["document_MB"] = static_cast<double>(bytes) / state.iterations() / 1e6;
}

BENCHMARK(BM_ResultsXml)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ordalis

BENCHMARK_MAIN();
