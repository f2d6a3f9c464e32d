// Speed of writing the results document of a large run.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "engine/results_writer.h"
#include "language/script_item.h"
#include "platform/file_descriptor.h"

namespace ordalis {
namespace {

void FillTree(ScriptItem& root, int records);

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
  FillTree(*root, records);
  return root;
}

// [records] results spread over the statements of [root], every fourth carrying two values.
void FillTree(ScriptItem& root, int records) {
  int statements = static_cast<int>(root.child_count());
  for (int r = 0; r < records; ++r) {
    ScriptItem* item = root.child(static_cast<std::size_t>(r % statements));
    VariantArray values;
    if (r % 4 == 0) values = {Variant::Int(r), Variant::Double(2.5)};
    item->RecordResult(r % 10 == 0 ? TestFailed : TestPassed, 1 + r / statements, 0.0125, std::move(values));
  }
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

// The document streamed to a file, as a run writes it; argument 1 spills the records first.
void BM_ResultsXmlStreamed(benchmark::State& state) {
  ScriptItemPtr root;
  if (state.range(1) != 0) {
    root = BigTree(100, 0);
    root->SetResultSpill(std::make_shared<ResultSpill>(std::filesystem::temp_directory_path().string()));
    FillTree(*root, static_cast<int>(state.range(0)));
  } else {
    root = BigTree(100, static_cast<int>(state.range(0)));
  }
  ResultsHeader header = HeaderForNow("bench.odl", "1.0", {"bench.odl_2026_01_01_00_00_00.log"});
  std::string path =
      (std::filesystem::temp_directory_path() / ("ordalis_bench_results_" + std::to_string(::getpid()) + ".xml")).string();
  std::size_t bytes = 0;
  for (auto _ : state) {
    FileDescriptor file = OpenFile(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    XmlOutput output(file.get());
    WriteResultsXml(*root, header, output);
    output.Finish();
    bytes += static_cast<std::size_t>(::lseek(file.get(), 0, SEEK_CUR));
  }
  ::unlink(path.c_str());
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
  state.counters["document_MB"] = static_cast<double>(bytes) / state.iterations() / 1e6;
}

BENCHMARK(BM_ResultsXmlStreamed)->Args({1000000, 0})->Args({1000000, 1})->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ordalis

BENCHMARK_MAIN();
