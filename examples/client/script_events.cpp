// script_events: a client that follows a script while it runs. It advises the script object's
// two event sources through the component interface — script events (Started, Executed, ...)
// and trace events (the run's log lines) — runs the script and prints every event as it comes.
//
//   script_events SCRIPT       exit status 0 when the script passed, 1 otherwise, 2 when it
//                              cannot be loaded
//
// Build it with the client example (examples/client/CMakeLists.txt) against the installed
// package.

#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "ordalis/component.h"

namespace {

using namespace ordalis;

// Receives both event interfaces. The engine calls it on the script's run thread (and on the
// thread of a client call that logs), so what it shares with main is under a lock.
class Printer : public IScriptEvents, public ITraceEvents {
 public:
  Status Executed(std::uint32_t id) override {
    std::printf("event  Executed item %u\n", id);
    return S_OK;
  }
  Status ResultsReset() override { return Say("event  ResultsReset"); }
  Status Started() override { return Say("event  Started"); }
  Status Reset() override { return Say("event  Reset"); }

  Status Log(const std::string&, std::uint32_t, std::int64_t, double, LoggingLevel level,
             const std::string& variable_name, const std::string& message) override {
    // The engine's own tracing (finest to configuration) is left out.
    if (level >= information) std::printf("log    %s: %s\n", variable_name.c_str(), message.c_str());
    // The script logs its return to not running, at level finest, when the run is over.
    if (message.rfind("State changed to ScriptNotRunning", 0) == 0) {
      std::lock_guard lock(mutex_);
      ended_ = true;
      ended_changed_.notify_all();
    }
    return S_OK;
  }
  Status LogClear() override { return Say("log    (cleared)"); }

  void WaitForTheEnd() {
    std::unique_lock lock(mutex_);
    ended_changed_.wait(lock, [&] { return ended_; });
  }

 private:
  Status Say(const char* text) {
    std::printf("%s\n", text);
    return S_OK;
  }
  std::mutex mutex_;
  std::condition_variable ended_changed_;
  bool ended_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: script_events SCRIPT\n");
    return 2;
  }
  std::shared_ptr<IUnknown> object;
  if (CreateInstance("Ordalis.Script", &object) != S_OK) return 2;
  auto script = std::dynamic_pointer_cast<IScript>(object);
  VariantBool loaded = kVariantFalse;
  if (script->Load(argv[1], &loaded) != S_OK || loaded != kVariantTrue) {
    std::fprintf(stderr, "script_events: cannot load %s\n", argv[1]);
    return 2;
  }
  auto printer = std::make_shared<Printer>();
  std::uint32_t script_cookie = 0, trace_cookie = 0;
  if (Advise<IScriptEvents>(object, printer, &script_cookie) != S_OK ||
      Advise<ITraceEvents>(object, printer, &trace_cookie) != S_OK) {
    std::fprintf(stderr, "script_events: the script object offers no event sources\n");
    return 2;
  }
  script->Run();
  printer->WaitForTheEnd();
  // Disconnected before the script goes, as every client should: the source holds the sink.
  Unadvise<IScriptEvents>(object, script_cookie);
  Unadvise<ITraceEvents>(object, trace_cookie);

  std::shared_ptr<IScriptItem> root;
  Result result = TestNotRun;
  if (script->get_Item(&root) == S_OK && root) root->get_CurrentResult(&result);
  std::printf("%s: %s\n", argv[1], result == TestPassed ? "Passed" : "not passed");
  return result == TestPassed ? 0 : 1;
}
