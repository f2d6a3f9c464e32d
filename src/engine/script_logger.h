#pragma once
// ScriptLogger: the Logger of one script object. Every line is tagged with the file name and
// line of the item being run and goes through the script's log (ScriptLog) to the in-process
// trace client, the connected _ITraceEvents sinks and the log file.
//
// Testers receive traces bound to it; a client may keep a tester, and so its trace, after the
// script is gone, so the logger is shared and traces hold it weakly. All operations are safe to
// call from any thread.

#include <memory>
#include <string>

#include "ordalis/interfaces.h"
#include "trace/logger.h"
#include "trace/script_log.h"
#include "trace/trace_events_client.h"

namespace ordalis {

class ScriptDocument;
class TraceSinks;

class ScriptLogger : public Logger, public std::enable_shared_from_this<ScriptLogger> {
 public:
  // Lines carry the place of [document]'s current item.
  explicit ScriptLogger(std::shared_ptr<const ScriptDocument> document);
  ~ScriptLogger() override;
  ScriptLogger(const ScriptLogger&) = delete;
  ScriptLogger& operator=(const ScriptLogger&) = delete;

  // The _ITraceEvents connection point.
  IConnectionPoint<ITraceEvents>& sinks();
  void SetTraceClient(std::shared_ptr<ITraceEventsClient> client, LoggingLevel lowest = finest) {
    log_.SetTraceClient(std::move(client), lowest);
  }
  // The log file goes to [directory]/Results/[file_name].log from now on.
  void SetLogFile(const std::string& directory, const std::string& file_name) {
    log_.SetLogFile(directory, file_name);
  }
  // The log file is [path] from now on (a run's working log).
  void SetLogPath(const std::string& path) { log_.SetLogPath(path); }
  // Why the log file lost lines since the last call, or empty.
  std::string TakeLogFileFailure() { return log_.TakeLogFileFailure(); }
  // Raises LogClear on the trace client and the sinks.
  void LogClear() { log_.LogClear(); }
  // Tells the trace client and the sinks of a line that the log file does not get.
  void RaiseEvent(LoggingLevel level, const std::string& variable_name, const std::string& message);

  // A trace that logs here under [variable_name] while this logger lives.
  std::shared_ptr<ITrace> MakeTrace(const std::string& variable_name);

  // Logger
  using Logger::Log;
  void Log(LoggingLevel level, const std::string& variable_name, const std::string& message) override;
  bool IsLogging(LoggingLevel level) const override { return log_.IsListening(level); }
  const ScriptLog& script_log() const { return log_; }

 private:
  std::shared_ptr<const ScriptDocument> document_;
  std::unique_ptr<TraceSinks> sinks_;
  ScriptLog log_;
};

}  // namespace ordalis
