#pragma once
// StationRunner: the script object the station's page drives. Starting a script loads it into a
// new script object whose events feed the hub; pause, resume, step, stop and breakpoints go to
// that object as any automation client's would. Each run writes its results into the station's
// results folder, with the HTML report and the results store entry every run leaves.
// All operations are safe to call from any thread.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/script.h"
#include "station/station_hub.h"

namespace ordalis::station {

class StationRunner {
 public:
  StationRunner(std::shared_ptr<StationHub> hub, std::string results_folder);
  // Stops a run in progress and lets the script object go.
  ~StationRunner();
  StationRunner(const StationRunner&) = delete;
  StationRunner& operator=(const StationRunner&) = delete;

  // Loads [path] and runs it; false with [problem] when a run is going on or the script cannot
  // be read or has syntax errors.
  bool Start(const std::string& path, std::string* problem);
  enum class Control { kPause, kResume, kStep, kStop };
  // False with [problem] when no script is loaded.
  bool Apply(Control control, std::string* problem);
  // The scripts started here, the latest first.
  std::vector<std::string> StartedScripts();
  // Sets or clears the breakpoint of the statement in [row] of the hub's tree.
  bool SetBreakpoint(std::size_t row, bool on, std::string* problem);

 private:
  std::shared_ptr<CScript> CurrentScript();

  const std::shared_ptr<StationHub> hub_;
  const std::string results_folder_;
  std::mutex start_mutex_;  // one Start at a time; the script's notifications never take it
  std::mutex mutex_;        // guards script_ and started_; never held while the script is told anything
  std::shared_ptr<CScript> script_;
  std::vector<std::string> started_;  // guarded by mutex_
};

}  // namespace ordalis::station
