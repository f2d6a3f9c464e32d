// Address space taken by script objects that are made and loaded but never run, as a batch
// queue holds them once its entries are added: reported as the growth of VmSize from
// /proc/self/status over 20 such objects.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/script.h"

namespace ordalis {
namespace {

namespace fs = std::filesystem;

constexpr int kObjects = 20;

// The process's address space in bytes.
double VmSizeBytes() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmSize:") {
      double kib = 0;
      status >> kib;
      return kib * 1024;
    }
    status.ignore(1 << 12, '\n');
  }
  return 0;
}

void BM_IdleScriptObjects(benchmark::State& state) {
  fs::path dir = fs::temp_directory_path() / ("ordalis_bench_objects_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  fs::path path = dir / "idle.odl";
  std::ofstream(path) << "x = 1\n";
  double growth = 0;
  for (auto _ : state) {
    double before = VmSizeBytes();
    std::vector<std::shared_ptr<CScript>> scripts;
    for (int i = 0; i < kObjects; ++i) {
      scripts.push_back(CScript::Create(nullptr, Pacing{0, 0, 0}));
      VariantBool loaded;
      scripts.back()->Load(path.string(), &loaded);
    }
    growth = VmSizeBytes() - before;
  }
  fs::remove_all(dir);
  state.counters["address_space_MB"] = growth / 1e6;
}
BENCHMARK(BM_IdleScriptObjects)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ordalis

BENCHMARK_MAIN();
