// What a browser watching a run costs the run: a counting loop run to its end by the station's
// runner with one live stream reading every batch, against the same loop run by a plain script
// object (the way `ordalis run` runs it) with nobody watching. Both write the results document,
// report and store entry. The ratio of the two is the figure to hold at 1.2 or below.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "engine/script.h"
#include "platform/event.h"
#include "report/run_end_reports.h"
#include "settings/application_manager.h"
#include "station/station_runner.h"
#include "station/station_server.h"

namespace {

namespace fs = std::filesystem;
using namespace ordalis;

// A folder of its own with the loop script of [passes] passes.
fs::path Prepare(const std::string& name, std::int64_t passes) {
  fs::path folder = fs::temp_directory_path() / (name + std::to_string(getpid()));
  fs::create_directories(folder / "Results");
  std::ofstream(folder / "loop.odl") << "i = 0\nwhile i < " << passes << " do\n  i = i + 1\nendwhile\n";
  return folder;
}

class EndWatcher : public IScriptEventsClient {
 public:
  void Executed(ScriptItem*) override {}
  void ResultsReset() override {}
  void Started() override {}
  void Reset() override {}
  void StateChanged(ScriptState state) override {
    if (state == ScriptRunning) started_ = true;
    if (state == ScriptNotRunning && started_) ended_.Set();
  }
  Event& ended() { return ended_; }

 private:
  std::atomic<bool> started_{false};
  Event ended_;
};

void BM_LoopUnwatched(benchmark::State& state) {
  fs::path folder = Prepare("ordalis-bench-unwatched-", state.range(0));
  for (auto _ : state) {
    auto script = CScript::Create(std::make_shared<CApplicationManager>(), Pacing{0, 0, 0});
    script->SetRunEndObserver(report::MakeRunEndReports());
    auto watcher = std::make_shared<EndWatcher>();
    script->SetScriptEventsClient(watcher);
    VariantBool loaded = kVariantFalse;
    script->Load((folder / "loop.odl").string(), &loaded);
    script->put_ResultsDirectory((folder / "Results").string());
    auto start = std::chrono::steady_clock::now();
    script->Run();
    watcher->ended().Wait();
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    script->SetScriptEventsClient(nullptr);
  }
  fs::remove_all(folder);
}

void BM_LoopWatched(benchmark::State& state) {
  fs::path folder = Prepare("ordalis-bench-watched-", state.range(0));
  station::StationOptions options;
  options.port = 0;
  options.token = "bench";
  options.results_folder = fs::canonical(folder / "Results").string();
  station::StationServer server(options);
  std::string problem;
  if (!server.Bind(&problem)) return state.SkipWithError(problem.c_str());
  std::thread serving([&] { server.Serve(); });
  for (auto _ : state) {
    std::atomic<bool> ended{false};
    std::string pending;
    httplib::Client browser("127.0.0.1", server.port());
    auto start = std::chrono::steady_clock::now();
    std::thread watching([&] {
      browser.Get("/api/events", [&](const char* data, std::size_t length) {
        pending.append(data, length);
        for (std::size_t end; (end = pending.find("\n\n")) != std::string::npos; pending.erase(0, end + 2)) {
          if (pending.rfind("data: ", 0) != 0) continue;
          auto update = nlohmann::json::parse(pending.substr(6, end - 6));
          if (update["ended"].get<bool>() && update["state"] == "idle" && update["path"].is_null()) ended = true;
        }
        return !ended.load();
      });
    });
    if (!server.runner().Start((folder / "loop.odl").string(), &problem)) state.SkipWithError(problem.c_str());
    watching.join();
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  server.Stop();
  serving.join();
  fs::remove_all(folder);
}

BENCHMARK(BM_LoopUnwatched)->Arg(100000)->Arg(1000000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_LoopWatched)->Arg(100000)->Arg(1000000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
