#include "station/station_runner.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <utility>
#include <vector>

#include "engine/run_end_observer.h"
#include "engine/script_events.h"
#include "language/script_item.h"
#include "report/run_end_reports.h"
#include "settings/application_manager.h"
#include "trace/trace_events_client.h"

namespace ordalis::station {
namespace {

// The engine's finest lines tell of every statement it executes; the tree shows that already,
// and a browser need not cost the run a line per statement.
constexpr LoggingLevel kLowestLevelShown = fine;
constexpr std::size_t kScriptsRemembered = 50;

// Tells the hub what the script object does: its statements' results, its states, its log
// lines and the report of each run that ends.
class HubFeed : public IScriptEventsClient, public ITraceEventsClient, public IRunEndObserver {
 public:
  HubFeed(std::shared_ptr<StationHub> hub, ScriptItemPtr root, std::string results_folder)
      : hub_(std::move(hub)), root_(std::move(root)), results_folder_(std::move(results_folder)),
        reports_(report::MakeRunEndReports()) {}

  void Executed(ScriptItem* item) override { hub_->Executed(item); }
  void ResultsReset() override {}
  void Started() override {}
  void Reset() override {}
  void set_script(std::weak_ptr<CScript> script) { script_ = std::move(script); }

  void StateChanged(ScriptState state) override {
    if (state == ScriptRunning) running_ = true;
    // A paused run waits before its current statement: that is the one to highlight.
    if (state == ScriptPaused) ShowCurrent();
    hub_->StateChanged(state);
    if (state == ScriptNotRunning && running_) {
      running_ = false;
      std::lock_guard lock(mutex_);
      hub_->RunEnded(root_->current_result(), report_);
    }
  }

  void Log(std::int64_t, double, LoggingLevel level, const std::string& variable_name,
           const std::string& message) override {
    hub_->Log(level, variable_name, message);
  }
  void LogClear() override {}

  void ResultsWritten(const WrittenResults& results) override {
    reports_->ResultsWritten(results);
    std::string report = results.results_xml_path.substr(0, results.results_xml_path.rfind('.')) + ".html";
    std::lock_guard lock(mutex_);
    report_ = RelativeToFolder(report);
  }

 private:
  void ShowCurrent() {
    std::shared_ptr<CScript> script = script_.lock();
    std::shared_ptr<IScriptItem> current;
    if (!script || Failed(script->get_CurrentItem(&current)) || !current) return;
    hub_->SetCurrent(dynamic_cast<ScriptItem*>(current.get()));
  }

  // [path] as the page asks for it under the results folder; empty when it lies elsewhere.
  std::string RelativeToFolder(const std::string& path) const {
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) return std::string();
    std::string full(real);
    std::free(real);
    if (full.compare(0, results_folder_.size() + 1, results_folder_ + "/") != 0) return std::string();
    return full.substr(results_folder_.size() + 1);
  }

  const std::shared_ptr<StationHub> hub_;
  const ScriptItemPtr root_;
  const std::string results_folder_;
  const std::shared_ptr<IRunEndObserver> reports_;
  std::weak_ptr<CScript> script_;  // set before the run starts
  std::atomic<bool> running_{false};
  std::mutex mutex_;  // guards report_
  std::string report_;
};

bool IsRegularFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

StationRunner::StationRunner(std::shared_ptr<StationHub> hub, std::string results_folder)
    : hub_(std::move(hub)), results_folder_(std::move(results_folder)) {}

StationRunner::~StationRunner() {
  std::shared_ptr<CScript> script = CurrentScript();
  if (!script) return;
  script->Stop();
  script->SetScriptEventsClient(nullptr);
  script->SetTraceEventsClient(nullptr);
}

std::shared_ptr<CScript> StationRunner::CurrentScript() {
  std::lock_guard lock(mutex_);
  return script_;
}

bool StationRunner::Start(const std::string& given_path, std::string* problem) {
  // Two browsers pressing Start together must not both find the station idle.
  std::lock_guard starting(start_mutex_);
  // The store keeps the script's path; an absolute one is found again from the list.
  const std::string path = std::filesystem::absolute(given_path).lexically_normal().string();
  std::shared_ptr<CScript> previous = CurrentScript();
  ScriptState state = ScriptNotRunning;
  if (previous) previous->get_State(&state);
  if (state != ScriptNotRunning) {
    *problem = "a script is running: stop it first";
    return false;
  }
  if (!IsRegularFile(path)) {
    *problem = "cannot open '" + path + "': no such script";
    return false;
  }
  Pacing pacing{0, 0, 0};
  std::shared_ptr<CScript> script = CScript::Create(std::make_shared<CApplicationManager>(), pacing);
  VariantBool loaded = kVariantFalse;
  script->Load(path, &loaded);
  if (loaded != kVariantTrue || HasErrorItems(*script->root())) {
    *problem = "'" + path + "' has syntax errors ('ordalis check " + path + "' lists them); not run";
    return false;
  }
  auto feed = std::make_shared<HubFeed>(hub_, script->root(), results_folder_);
  feed->set_script(script);
  script->SetScriptEventsClient(feed);
  script->SetTraceEventsClient(feed, kLowestLevelShown);
  script->SetRunEndObserver(feed);
  script->put_ResultsDirectory(results_folder_);
  hub_->Loaded(script->root(), path);
  {
    std::lock_guard lock(mutex_);
    script_ = script;
    std::erase(started_, path);
    started_.insert(started_.begin(), path);
    if (started_.size() > kScriptsRemembered) started_.pop_back();
  }
  if (previous) {
    previous->SetScriptEventsClient(nullptr);
    previous->SetTraceEventsClient(nullptr);
  }
  hub_->NewRun();
  script->Run();
  return true;
}

std::vector<std::string> StationRunner::StartedScripts() {
  std::lock_guard lock(mutex_);
  return started_;
}

bool StationRunner::Apply(Control control, std::string* problem) {
  std::shared_ptr<CScript> script = CurrentScript();
  if (!script) {
    *problem = "no script is loaded: start one first";
    return false;
  }
  switch (control) {
    case Control::kPause: script->Pause(); break;
    case Control::kResume: {
      // Run on an idle script would start it again; resume only continues a paused one.
      ScriptState state = ScriptNotRunning;
      script->get_State(&state);
      if (state != ScriptPaused && state != ScriptPausing) {
        *problem = "the script is not paused";
        return false;
      }
      script->Run();
      break;
    }
    case Control::kStep: {
      // A step of an idle script starts a new run, one statement at a time.
      ScriptState state = ScriptNotRunning;
      script->get_State(&state);
      if (state == ScriptNotRunning) hub_->NewRun();
      script->Step();
      break;
    }
    case Control::kStop: script->Stop(); break;
  }
  return true;
}

bool StationRunner::SetBreakpoint(std::size_t row, bool on, std::string* problem) {
  if (hub_->ItemOfRow(row) == nullptr) {
    *problem = "no statement " + std::to_string(row) + " in the script shown";
    return false;
  }
  hub_->SetBreakpoint(row, on);
  return true;
}

}  // namespace ordalis::station
