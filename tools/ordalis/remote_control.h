#pragma once
// Helpers shared by `ordalis proxy` and `ordalis remote`: log levels by name, log lines printed
// in the log-file format and link parameters written as script literals.

#include <cstdint>
#include <mutex>
#include <string>

#include "links/serial.h"
#include "ordalis/types.h"
#include "trace/trace_events_client.h"

namespace ordalis::cli {

// "finest" ... "severe" (and the short forms info, config, warn); false for anything else.
bool ParseLogLevel(const std::string& text, LoggingLevel* level);

// Writes one log line to standard output in the log-file format when [level] is at least
// [lowest]. Safe from any thread.
void PrintLogLine(LoggingLevel lowest, std::int64_t time, double seconds, LoggingLevel level,
                  const std::string& variable_name, const std::string& message);

// Prints a script's log lines from [lowest] up.
class LogLinePrinter : public ITraceEventsClient {
 public:
  explicit LogLinePrinter(LoggingLevel lowest) : lowest_(lowest) {}
  void Log(std::int64_t time, double seconds, LoggingLevel level, const std::string& variable_name,
           const std::string& message) override {
    PrintLogLine(lowest_, time, seconds, level, variable_name, message);
  }
  void LogClear() override {}

 private:
  LoggingLevel lowest_;
};

// Link parameters written as script literals ("\"localhost\", 5025"); false when the text is
// not a list of literals. An empty text is no parameters.
bool ParseLinkParameterText(const std::string& text, LinkParameters* parameters);

}  // namespace ordalis::cli
