#pragma once
// Helpers shared by `ordalis proxy` and `ordalis remote`: log levels by name, log lines printed
// in the log-file format and link parameters written as script literals.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "links/serial.h"
#include "option_table.h"
#include "ordalis/types.h"
#include "trace/trace_events_client.h"

namespace ordalis::cli {

// The link a proxy serves on or a remote peer drives, and how its traffic is keyed, as the
// command line gives them.
struct LinkOptions {
  std::string type;
  std::string parameters;
  std::string key;
  bool has_key = false;
  CipherMode cipher = CipherMode::kChaCha20Poly1305;
  LoggingLevel level = information;
};

// --key KEY and --cipher NAME with the help each command gives them; --log-level LEVEL.
Option KeyOption(const char* help);
Option CipherOption(const char* help);
Option LinkLogLevelOption();

// Reads --key, --cipher and --log-level into [link]. Returns what is wrong; empty when sound.
std::string ReadLinkOptions(const ParsedArguments& arguments, LinkOptions* link);
// Takes TYPE and PARAMETERS from [operands]. Returns what is wrong; empty when both are there.
std::string ReadLinkOperands(const std::vector<std::string>& operands, LinkOptions* link);

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
