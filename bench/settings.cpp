// Speed of the settings store with many variables: a settings text read into its key tree and
// written back, and the manager made over a file of them (what `ordalis vars` does first). Each
// grows linearly with the number of variables; the reported complexity shows it.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "settings/manager.h"
#include "settings/settings_store.h"

namespace ordalis::settings {
namespace {

namespace fs = std::filesystem;

// The settings text of [count] user variables, as the store writes it.
std::string TextOfVariables(int count) {
  SettingsKey root;
  SettingsKey& variables = root.Create(std::string(kOrdalisKeyPath) + "\\Variables");
  for (int i = 0; i < count; ++i) {
    variables.CreateSubkey("var" + std::to_string(i)).SetValue("Value", {ValueType::kString, std::to_string(i)});
  }
  std::string text, error;
  SettingsJson::Write(root, &text, &error);
  return text;
}

void BM_SettingsRead(benchmark::State& state) {
  const std::string text = TextOfVariables(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    SettingsKey root;
    std::string error;
    benchmark::DoNotOptimize(SettingsJson::Read(text, &root, &error));
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_SettingsRead)->Arg(20000)->Arg(80000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

void BM_SettingsWrite(benchmark::State& state) {
  SettingsKey root;
  std::string error;
  SettingsJson::Read(TextOfVariables(static_cast<int>(state.range(0))), &root, &error);
  for (auto _ : state) {
    std::string text;
    benchmark::DoNotOptimize(SettingsJson::Write(root, &text, &error));
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_SettingsWrite)->Arg(20000)->Arg(80000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

// The manager reading a user settings file of that many variables.
void BM_ManagerLoad(benchmark::State& state) {
  const fs::path dir = fs::temp_directory_path() / ("ordalis_bench_settings_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string user = (dir / "user.json").string();
  std::ofstream(user, std::ios::binary) << TextOfVariables(static_cast<int>(state.range(0)));
  ManagerOptions options;
  options.machine_path = (dir / "machine.json").string();
  options.user_path = user;
  options.offer_creator = [](CreatorKind, const std::string&) { return false; };
  for (auto _ : state) {
    Manager manager(options);
    benchmark::DoNotOptimize(manager.VariableCount(SettingsScope::kUser));
  }
  state.SetComplexityN(state.range(0));
  fs::remove_all(dir);
}
BENCHMARK(BM_ManagerLoad)->Arg(20000)->Arg(80000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

}  // namespace
}  // namespace ordalis::settings

BENCHMARK_MAIN();
