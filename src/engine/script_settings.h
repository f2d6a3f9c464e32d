#pragma once
// ScriptSettings: what clients set on a script object for its runs — the flags, the texts the
// results carry, where results go, the playback source and the waits that pace clients. All
// operations are safe to call from any thread.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "engine/results_writer.h"
#include "engine/run_end_observer.h"
#include "testers/script_playback.h"

namespace ordalis {

// The waits that pace clients following a run. The defaults are the component's; tests and the
// command line set them to 0.
struct Pacing {
  std::uint32_t after_executed_ms = 20;
  std::uint32_t end_of_run_ms = 5000;
  std::uint32_t remote_root_ms = 1000;
};

class ScriptSettings {
 public:
  explicit ScriptSettings(Pacing pacing) { set_pacing(pacing); }

  void set_pacing(Pacing pacing) {
    after_executed_ms_.store(pacing.after_executed_ms);
    end_of_run_ms_.store(pacing.end_of_run_ms);
    remote_root_ms_.store(pacing.remote_root_ms);
  }
  std::uint32_t after_executed_ms() const { return after_executed_ms_.load(std::memory_order_relaxed); }
  std::uint32_t end_of_run_ms() const { return end_of_run_ms_.load(); }
  std::uint32_t remote_root_ms() const { return remote_root_ms_.load(); }

  std::atomic<bool> pause_on_error{false};
  std::atomic<bool> auto_reset{false};
  // Remote control records an aggregated result on the root when its run ends.
  std::atomic<bool> remote_summary{false};
  // Which runs the results document lists.
  std::atomic<KeepRuns> keep_runs{KeepRuns::kAll};

  std::string email_address() const { return Get(email_address_); }
  void set_email_address(std::string text) { Set(&email_address_, std::move(text)); }
  std::string version_under_test() const { return Get(version_under_test_); }
  void set_version_under_test(std::string text) { Set(&version_under_test_, std::move(text)); }
  std::string results_directory() const { return Get(results_directory_); }
  void set_results_directory(std::string text) { Set(&results_directory_, std::move(text)); }

  std::shared_ptr<ScriptPlayback> playback() const {
    std::lock_guard lock(mutex_);
    return playback_;
  }
  void set_playback(std::shared_ptr<ScriptPlayback> source) {
    std::lock_guard lock(mutex_);
    playback_.swap(source);
  }

  // Copied out under the lock, so the run thread calls it with no lock held.
  std::shared_ptr<IRunEndObserver> run_end_observer() const {
    std::lock_guard lock(mutex_);
    return run_end_observer_;
  }
  void set_run_end_observer(std::shared_ptr<IRunEndObserver> observer) {
    std::lock_guard lock(mutex_);
    run_end_observer_.swap(observer);
  }

 private:
  std::string Get(const std::string& field) const {
    std::lock_guard lock(mutex_);
    return field;
  }
  void Set(std::string* field, std::string text) {
    std::lock_guard lock(mutex_);
    field->swap(text);
  }

  std::atomic<std::uint32_t> after_executed_ms_{0};
  std::atomic<std::uint32_t> end_of_run_ms_{0};
  std::atomic<std::uint32_t> remote_root_ms_{0};
  mutable std::mutex mutex_;  // guards the fields below
  std::string email_address_;
  std::string version_under_test_;
  std::string results_directory_;  // the override; empty for <script directory>/Results
  std::shared_ptr<IRunEndObserver> run_end_observer_;
  std::shared_ptr<ScriptPlayback> playback_;
};

}  // namespace ordalis
