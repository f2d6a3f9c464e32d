// Whole-process figures of a long run: `ordalis run --quiet` on the twin of Python's
// `while i < n: i += 1`, its wall time, its peak RSS (getrusage of the child) and the size of
// the results document it writes, beside Python 3 on the same loop; and the peak RSS of
// `ordalis check` and `ordalis tree --json` of a long script. Each figure is one run of the
// process.

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct ChildFigures {
  double seconds = 0;
  double peak_rss_mb = 0;
  int status = -1;
};

// Runs [argv] with its output thrown away and measures it.
ChildFigures RunChild(std::vector<std::string> argv) {
  ChildFigures figures;
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> args;
    for (std::string& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    FILE* null = std::fopen("/dev/null", "w");
    if (null) {
      dup2(fileno(null), 1);
      dup2(fileno(null), 2);
    }
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  figures.peak_rss_mb = static_cast<double>(usage.ru_maxrss) / 1024.0;
  figures.status = status;
  return figures;
}

// A directory of its own for one benchmark, named after [prefix] and this process.
fs::path ScratchDirectory(const std::string& prefix) {
  fs::path directory = fs::temp_directory_path() / (prefix + std::to_string(getpid()));
  fs::create_directories(directory);
  return directory;
}

// Runs [argv] once per iteration of [state] as its manual time, and gives the last run's peak
// RSS and exit status as counters.
ChildFigures TimeChild(benchmark::State& state, const std::vector<std::string>& argv) {
  ChildFigures figures;
  for (auto _ : state) {
    figures = RunChild(argv);
    state.SetIterationTime(figures.seconds);
  }
  state.counters["peak_RSS_MB"] = figures.peak_rss_mb;
  state.counters["exit_status"] = WIFEXITED(figures.status) ? WEXITSTATUS(figures.status) : -1;
  return figures;
}

std::uintmax_t ResultsBytes(const fs::path& directory) {
  std::uintmax_t bytes = 0;
  for (const auto& entry : fs::directory_iterator(directory)) {
    if (entry.path().extension() == ".xml") bytes += entry.file_size();
  }
  return bytes;
}

double PythonSeconds(std::int64_t loops) {
  std::string program = "i = 0\nwhile i < " + std::to_string(loops) + ":\n    i += 1\n";
  return RunChild({"/usr/bin/python3", "-c", program}).seconds;
}

// Argument 0: loop length; argument 1: 1 for --keep-runs failed.
void BM_LoopWholeProcess(benchmark::State& state) {
  const std::int64_t loops = state.range(0);
  const bool compact = state.range(1) != 0;
  fs::path directory = ScratchDirectory("ordalis_run_scale_");
  fs::path script = directory / "loop.odl";
  std::ofstream(script) << "i = 0\nwhile i < " << loops << " do\n  i++\nendwhile\n";
  std::vector<std::string> argv = {ORDALIS_BINARY_DIR "/ordalis", "run", "--quiet", "--results-dir",
                                   (directory / "Results").string()};
  if (compact) argv.insert(argv.end(), {"--keep-runs", "failed"});
  argv.push_back(script.string());
  ChildFigures figures = TimeChild(state, argv);
  double python = PythonSeconds(loops);
  state.counters["results_MB"] = static_cast<double>(ResultsBytes(directory / "Results")) / 1e6;
  state.counters["python_s"] = python;
  state.counters["ratio_to_python"] = figures.seconds / python;
  fs::remove_all(directory);
}

BENCHMARK(BM_LoopWholeProcess)
    ->Args({1000000, 0})
    ->Args({10000000, 0})
    ->Args({10000000, 1})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

// `ordalis check` and `ordalis tree --json` of a script of [n] plain statements: their peak RSS
// must not grow with the script. Argument 0: statements; argument 1: 0 check, 1 tree --json.
void BM_ReadLongScript(benchmark::State& state) {
  const std::int64_t statements = state.range(0);
  const bool tree = state.range(1) != 0;
  fs::path directory = ScratchDirectory("ordalis_read_scale_");
  fs::path script = directory / "long.odl";
  {
    std::ofstream out(script);
    for (std::int64_t i = 0; i < statements; ++i) out << "x = 1\n";
  }
  std::vector<std::string> argv = {ORDALIS_BINARY_DIR "/ordalis"};
  if (tree) {
    argv.insert(argv.end(), {"tree", "--json"});
  } else {
    argv.insert(argv.end(), {"check", "--no-testers"});
  }
  argv.push_back(script.string());
  TimeChild(state, argv);
  fs::remove_all(directory);
}

BENCHMARK(BM_ReadLongScript)
    ->Args({1000000, 0})
    ->Args({1000000, 1})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
