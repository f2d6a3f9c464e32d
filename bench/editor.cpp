// The editor servers as an editor meets them, each through its own process and pipes:
// `ordalis lsp` publishing the diagnostics of a 10,000-line script after an edit, and answering
// a completion; and a counting loop of 1M passes run under `ordalis dap` with no breakpoint,
// beside `ordalis run` of the same script (the ratio of the two times).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "editor/message_stream.h"
#include "platform/file_descriptor.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using ordalis::FileDescriptor;

const std::string kOrdalis = std::string(ORDALIS_BINARY_DIR) + "/ordalis";

// A folder of its own, removed with everything in it when the benchmark ends.
class Scratch {
 public:
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "ordalis-bench-editor-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data()) ? fs::path(pattern) : fs::path();
  }
  ~Scratch() {
    std::error_code error;
    fs::remove_all(path_, error);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// `ordalis SUBCOMMAND` with its standard input and output on pipes; closing the input ends it.
class Server {
 public:
  explicit Server(const std::string& subcommand) {
    int in[2];
    int out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<std::string> argv = {kOrdalis, subcommand};
    char* args[] = {argv[0].data(), argv[1].data(), nullptr};
    if (posix_spawn(&pid_, kOrdalis.c_str(), &actions, nullptr, args, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    to_.Reset(in[1]);
    from_.Reset(out[0]);
    reader_ = std::make_unique<ordalis::editor::MessageReader>(from_.get());
  }
  ~Server() {
    to_.Reset();
    if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
  }

  void Send(const json& message) { ordalis::editor::MessageWriter(to_.get()).Send(message); }
  // The next message the server sends for which [wanted] holds; null at the end of its output.
  template <typename Wanted>
  json Await(Wanted wanted) {
    for (;;) {
      ordalis::editor::Incoming incoming = reader_->Next();
      if (incoming.kind == ordalis::editor::Incoming::Kind::kEnd) return nullptr;
      if (incoming.kind == ordalis::editor::Incoming::Kind::kMessage && wanted(incoming.message)) {
        return incoming.message;
      }
    }
  }

 private:
  pid_t pid_ = -1;
  FileDescriptor to_;
  FileDescriptor from_;
  std::unique_ptr<ordalis::editor::MessageReader> reader_;
};

// A 10,000-line script: a tester, functions, loops, conditions and action calls.
std::string LongScript() {
  std::string text = "meter = new multimeter(42)\n";
  int line = 1;
  for (int block = 0; line < 10000; ++block) {
    std::string n = std::to_string(block);
    text += "function Step" + n + "\n  local v = Step" + n + "[0] * 2\n  return v\nendfunction\n";
    text += "value" + n + " = Step" + n + "(" + n + ")\n";
    text += "meter.SetNominal(\"DCV\", value" + n + ")\n";
    text += "if value" + n + " > 3 then\n  printf(\"%d\", value" + n + ")\nendif\n";
    text += "result \"check " + n + "\" ok" + n + " = meter.Check(\"DCV\", 0, value" + n + ")\n";
    line += 10;
  }
  return text;
}

json Notification(const std::string& method, json params) {
  return {{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}};
}

// An lsp with the long script open; the last line reads "meter." for completion.
struct OpenScript {
  Scratch scratch;
  Server server{"lsp"};
  std::string uri = "file://" + (scratch.path() / "long.odl").string();
  std::string text = LongScript() + "meter.";
  int version = 1;

  OpenScript() {
    server.Send({{"jsonrpc", "2.0"}, {"id", 0}, {"method", "initialize"}, {"params", {{"capabilities", json::object()}}}});
    server.Await([](const json& m) { return m.contains("id"); });
    server.Send(Notification("textDocument/didOpen",
                             {{"textDocument", {{"uri", uri}, {"languageId", "odl"}, {"version", version}, {"text", text}}}}));
    AwaitDiagnostics();
  }
  json AwaitDiagnostics() {
    return server.Await([this](const json& m) {
      return m.value("method", "") == "textDocument/publishDiagnostics" && m["params"]["uri"] == uri;
    });
  }
};

void BM_LspDiagnosticsAfterEdit(benchmark::State& state) {
  OpenScript open;
  for (auto _ : state) {
    // An edit: one value changes in the middle of the script.
    std::string edited = open.text;
    edited.replace(edited.size() / 2, 1, (++open.version % 2) ? "7" : "8");
    open.server.Send(Notification("textDocument/didChange",
                                  {{"textDocument", {{"uri", open.uri}, {"version", open.version}}},
                                   {"contentChanges", json::array({{{"text", edited}}})}}));
    benchmark::DoNotOptimize(open.AwaitDiagnostics());
  }
}
BENCHMARK(BM_LspDiagnosticsAfterEdit)->Unit(benchmark::kMillisecond);

void BM_LspCompletionAnswer(benchmark::State& state) {
  OpenScript open;
  int id = 1;
  std::uint32_t last_line = static_cast<std::uint32_t>(std::count(open.text.begin(), open.text.end(), '\n'));
  for (auto _ : state) {
    open.server.Send({{"jsonrpc", "2.0"}, {"id", ++id}, {"method", "textDocument/completion"},
                      {"params", {{"textDocument", {{"uri", open.uri}}},
                                  {"position", {{"line", last_line}, {"character", 6}}}}}});
    json answer = open.server.Await([id](const json& m) { return m.value("id", -1) == id; });
    if (answer["result"]["items"].empty()) state.SkipWithError("no actions completed after 'meter.'");
  }
}
BENCHMARK(BM_LspCompletionAnswer)->Unit(benchmark::kMillisecond);

// The seconds `ordalis run` takes for [script].
double RunSeconds(const fs::path& script, const fs::path& results) {
  std::vector<std::string> argv = {kOrdalis, "run", "--quiet", "--results-dir", results.string(), script.string()};
  std::vector<char*> args;
  for (std::string& arg : argv) args.push_back(arg.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  int spawned = posix_spawn(&pid, kOrdalis.c_str(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return 0;
  ::waitpid(pid, nullptr, 0);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The seconds from starting `ordalis dap` to the exited event of [script] run with no breakpoint.
double AdapterSeconds(const fs::path& script, const fs::path& results) {
  auto start = std::chrono::steady_clock::now();
  Server adapter("dap");
  auto request = [&](int seq, const std::string& command, json arguments) {
    adapter.Send({{"seq", seq}, {"type", "request"}, {"command", command}, {"arguments", std::move(arguments)}});
  };
  request(1, "initialize", {{"adapterID", "ordalis"}});
  request(2, "launch", {{"program", script.string()}, {"resultsDirectory", results.string()}});
  adapter.Await([](const json& m) { return m.value("event", "") == "initialized"; });
  request(3, "configurationDone", json::object());
  adapter.Await([](const json& m) { return m.value("event", "") == "exited"; });
  request(4, "disconnect", json::object());
  adapter.Await([](const json& m) { return m.value("command", "") == "disconnect"; });
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_CountingLoopUnderAdapterToRun(benchmark::State& state) {
  Scratch scratch;
  fs::path script = scratch.path() / "count.odl";
  std::ofstream(script) << "i = 0\nwhile i < 1000000 do\n  i++\nendwhile\n";
  double adapter = 0;
  double run = 0;
  for (auto _ : state) {
    double under_adapter = AdapterSeconds(script, scratch.path() / "Results");
    run += RunSeconds(script, scratch.path() / "Results");
    adapter += under_adapter;
    state.SetIterationTime(under_adapter);
  }
  state.counters["run_s"] = benchmark::Counter(run, benchmark::Counter::kAvgIterations);
  state.counters["adapter_to_run"] = run > 0 ? adapter / run : 0;
}
BENCHMARK(BM_CountingLoopUnderAdapterToRun)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
