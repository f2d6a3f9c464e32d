#pragma once
// Records the log lines a script proxy shows its local observer and lets a test wait for one.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "trace/trace_events_client.h"

namespace ordalis::testing {

class LogRecord : public ITraceEventsClient {
 public:
  struct Line {
    LoggingLevel level;
    std::string variable_name;
    std::string message;
  };

  void Log(std::int64_t, double, LoggingLevel level, const std::string& variable_name,
           const std::string& message) override {
    {
      std::lock_guard lock(mutex_);
      lines_.push_back({level, variable_name, message});
    }
    changed_.notify_all();
  }
  void LogClear() override {}

  // Waits (up to a safety time-out) for a line whose message contains [text].
  bool WaitFor(const std::string& text) {
    std::unique_lock lock(mutex_);
    std::size_t checked = 0;  // each line is looked at once, however many lines arrive
    return changed_.wait_for(lock, std::chrono::seconds(20), [&] {
      bool found = FindLocked(text, checked) != nullptr;
      checked = lines_.size();
      return found;
    });
  }
  // The first line whose message contains [text], if any.
  std::optional<Line> Find(const std::string& text) {
    std::lock_guard lock(mutex_);
    const Line* line = FindLocked(text);
    return line ? std::optional<Line>(*line) : std::nullopt;
  }

 private:
  const Line* FindLocked(const std::string& text, std::size_t from = 0) const {
    for (std::size_t i = from; i < lines_.size(); ++i) {
      if (lines_[i].message.find(text) != std::string::npos) return &lines_[i];
    }
    return nullptr;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Line> lines_;
};

}  // namespace ordalis::testing
