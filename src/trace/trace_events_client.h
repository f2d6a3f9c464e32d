#pragma once
// ITraceEventsClient: an in-process observer of a script's log lines (the script proxy is
// one). It is called before the connected _ITraceEvents sinks, from whichever thread logged.

#include <cstdint>
#include <string>

#include "ordalis/types.h"

namespace ordalis {

class ITraceEventsClient {
 public:
  virtual ~ITraceEventsClient() = default;
  virtual void Log(std::int64_t time, double seconds, LoggingLevel level,
                   const std::string& variable_name, const std::string& message) = 0;
  virtual void LogClear() = 0;
};

}  // namespace ordalis
