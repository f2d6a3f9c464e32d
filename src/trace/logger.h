#pragma once
// Logger: the sink every log line of a script run goes through. A line is a level, the name of
// its source (a script variable for tester output, "script" for the engine) and a message.
// The batch queue runner and the script object each implement it for their own destination.

#include <cstdint>
#include <string>
#include <string_view>

#include "ordalis/types.h"

namespace ordalis {

// The six-character name of [level] ("Finest", "Info  ", …), or "Unknown n" for any other
// number. Safe to call from any thread.
std::string LevelName(std::int32_t level);

class Logger {
 public:
  // Longest message the formatting form delivers; longer output is cut to this many characters.
  static constexpr std::size_t kMaxMessage = 1023;

  virtual ~Logger() = default;

  // Delivers one line. Implementations must be safe to call from any thread.
  virtual void Log(LoggingLevel level, const std::string& variable_name,
                   const std::string& message) = 0;

  // Whether a line at [level] would reach anyone at all. The formatting form asks first, so a
  // fine-grained line with no observer costs one call and no formatting. Safe from any thread.
  virtual bool IsLogging(LoggingLevel /*level*/) const { return true; }

  // Formats printf-style and delivers the line through the virtual Log. Classes that override
  // Log bring this form back into scope with `using Logger::Log;`.
  void Log(LoggingLevel level, std::string_view variable_name, const char* format, ...)
      __attribute__((format(printf, 4, 5)));
};

}  // namespace ordalis
