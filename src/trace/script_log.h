#pragma once
// ScriptLog: the path of one script's log lines. Each line is stamped from the Clock, tagged
// with the file name and line of the item that was running, handed to the in-process trace
// client and to every connected _ITraceEvents sink, and, from level configuration up, appended
// to <script directory>/Results/<script file name>.log.
//
// The script object owns the sinks; it tells the log how to list them (a callback that copies
// the list under the object's lock) and how many there are, so that a line nobody observes is
// skipped before it is even formatted.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "ordalis/interfaces.h"
#include "trace/trace_events_client.h"

namespace ordalis {

// Where a line came from: the current item's file name and line (empty and 0 without one).
// The caller keeps the item alive for the duration of the Log call.
struct LogSource {
  std::string_view file_name;
  std::uint32_t line = 0;
};

// The time stamp of a log event: whole seconds since 1970 and the fraction beyond them.
struct LogTime {
  std::int64_t time = 0;
  double seconds = 0.0;
};

class ScriptLog {
 public:
  using SinkList = std::vector<std::shared_ptr<ITraceEvents>>;
  using SinkLister = std::function<SinkList()>;

  explicit ScriptLog(SinkLister sinks = nullptr);

  // Where the log file goes: [directory]/Results/[file_name].log. Empty names write no file.
  // Safe to call from any thread.
  void SetLogFile(const std::string& directory, const std::string& file_name);
  // The log file is [path] from now on; empty writes no file. Safe to call from any thread.
  void SetLogPath(const std::string& path);
  // The path of the log file, or empty.
  std::string LogFilePath() const;
  // Why the log file lost a line since the last call ("Cannot write the log file 'path':
  // reason"), or empty; the next failure is then said again. Safe from any thread.
  std::string TakeLogFileFailure();
  // The single in-process observer (null clears it), told of the lines from [lowest] up: lines
  // below it are not even formatted when no sink listens, which a statement's finest lines
  // would otherwise cost on every statement. Safe from any thread.
  void SetTraceClient(std::shared_ptr<ITraceEventsClient> client, std::int32_t lowest = 0);
  // The owner reports how many sinks are connected after every connect and disconnect.
  void SetSinkCount(std::size_t count) { sink_count_.store(count, std::memory_order_release); }

  // Whether a line at [level] reaches a file, the trace client or a sink. Cheap; any thread.
  bool IsListening(std::int32_t level) const {
    return level >= configuration || ClientWants(level) || sink_count_.load(std::memory_order_acquire) != 0;
  }

  // Delivers one line. Safe to call from any thread; lines written by different threads never
  // mix within a line of the file.
  void Log(std::int32_t level, const std::string& variable_name, const std::string& message,
           const LogSource& source);
  // Delivers one line to the trace client and the sinks only, writing no file line.
  void RaiseEvent(const LogTime& when, std::int32_t level, const std::string& variable_name,
                  const std::string& message, const LogSource& source);
  // Raises LogClear on the trace client and then on every sink.
  void LogClear();

  // The time stamp of a line logged now.
  static LogTime Now();
  // One line of the log file, without the line end:
  // "YYYY/MM/DD hh:mm:ss.mmm Level :variable:message", in local time.
  static std::string FileLine(const LogTime& when, std::int32_t level,
                              std::string_view variable_name, std::string_view message);
  // Appends [line] and a line end to [path], creating its directory; false when it cannot.
  static bool AppendLine(const std::string& path, const std::string& line);

 private:
  std::shared_ptr<ITraceEventsClient> trace_client() const;
  bool ClientWants(std::int32_t level) const {
    return has_client_.load(std::memory_order_acquire) && level >= client_lowest_.load(std::memory_order_acquire);
  }
  void ReportLogFileFailure(const std::string& path, int error);

  SinkLister sinks_;
  std::atomic<std::size_t> sink_count_{0};
  std::atomic<bool> has_client_{false};
  std::atomic<std::int32_t> client_lowest_{0};  // the lowest level the client is told of
  mutable std::mutex mutex_;  // guards the fields below
  std::shared_ptr<ITraceEventsClient> client_;
  std::string log_directory_;
  std::string log_path_;
  std::string log_failure_;  // the first lost line's reason since it was last taken
};

}  // namespace ordalis
